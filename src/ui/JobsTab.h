#pragma once

#include "TabPage.h"

class LoginInfo;
class QStandardItemModel;
class QTimer;

namespace Ui {
class MainWindow;
}

// The jobs tab: the user's jobs waiting on the server, cancelling them, the two pollers that follow a job
// after it was submitted, and the pin-code panel above the table.
class JobsTab : public TabPage
{
    Q_OBJECT
public:
    explicit JobsTab(QWidget* parent = nullptr);

    void setup(TabHost& host, Ui::MainWindow& form);
    void load() override;

    // Poll interval for a size (both job pollers).
    static int pollInterval(double size);

    // What a submission leaves for the pollers.
    void setRowCountBeforeSubmit(int rows) { m_rowsBeforeSubmit = rows; }
    void setCurrentJobId(const QString& id) { m_currentJobId = id; }
    void setUploadedFileSize(qint64 bytes) { m_lastUploadSize = bytes; }
    QString currentJobId() const { return m_currentJobId; }
    // After a submission: the list is refreshed once the pass that submitted it ends (flushRefresh), once for
    // however many jobs the pass sent.
    void requestRefresh() { m_refreshPending = true; }
    void flushRefresh();
    // The list poll: reloads the list until it shows the submitted job.
    void RefreshJobInfo();
    // The status poll of the current job.
    void getJobStatusInfo();
    // The server answers again: a status poll that a failed answer ended starts again.
    void resumeStatusPoll();
    // Logout: the pollers end with the session, the list and the pin code are cleared.
    void clearForLogout();
    void getPinCodeInfo();

    QStandardItemModel* model() const { return m_model; }
    QTimer* jobStatusTimer() const { return m_jobStatusTimer; }
    QTimer* jobListTimer() const { return m_jobListTimer; }

signals:
    // A list or status answer was handled; it may have stored messages.
    void answered();

private:
    void cancelSelected();
    void stopJobStatusPoll();
    QString getStatusName(int statusId) const;
    QString getDuplexModeName(int duplexMode) const;

    Ui::MainWindow* m_form = nullptr;
    QStandardItemModel* m_model = nullptr;
    QTimer* m_jobStatusTimer = nullptr;
    QTimer* m_jobListTimer = nullptr;
    bool m_refreshPending = false;
    QString m_currentJobId;
    int m_rowsBeforeSubmit = 0;
    int m_latestJobCount = 0;
    qint64 m_lastUploadSize = 0;
    bool m_statusPollInterrupted = false;
};
