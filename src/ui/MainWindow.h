#pragma once

#include "jobs/JobHost.h"
#include "jobs/KsJobParam.h"
#include "session/ServerMonitor.h"
#include "ui/TabPage.h"

#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QScopedPointer>
#include <QStringList>

#include <memory>

class FileTransfer;
class JobQueue;
class KsKit;
class MessageStore;
class Session;
class LoginInfo;
class QNetworkAccessManager;
class QSystemTrayIcon;
class TrayIcon;

namespace Ui {
class MainWindow;
}

// The client's main window: the frame around the tabs (each page its own class, promoted in the form), the
// status strip, logout, close and minimise, and the host of the job intake. It shows what its ServerMonitor finds
// and keeps a TrayIcon. Created once after the first login and kept until the process ends.
class MainWindow : public QMainWindow, public JobHost, public TabHost
{
    Q_OBJECT
public:
    // The settings it shows, the session it belongs to, the API shared with the login dialog.
    MainWindow(LoginInfo& settings, Session& session, KsKit& api, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Start-up: tray icon (when asked) and the start-up pass over the job folder.
    void init(bool showTrayIcon);

    void showSystemMessage(const QString& title, const QString& text) override;
    bool checkNetworkState(bool showDialog) override;

    // The job intake's host (and the tabs'): prompts, the no-card dialog, progress display and the pollers' state.
    // The API's account is the one owner of the server in use; a switch changes it only once logged in there.
    QString serverUrl() const override;
    QString userAccount() const override { return m_account; }
    KsKit& api() override { return *m_ksKit; }
    JobOptions jobOptions() const override;
    bool askConfirmation(const QString& text, const QString& documentName) override;
    void showWarning(const QString& text) override;
    void showCritical(const QString& text) override;
    ExistingJobsChoice askExistingJobs(const QString& title, int waiting) override;
    void reportServerUnreachable() override;
    void setUnsentJobCount(int count) override;
    int unsentJobCount() const { return m_unsentJobs; }
    // "%n job(s) waiting to be sent", empty when none wait; part of the status strip and the tray tooltip.
    QString unsentJobsText() const;
    // Quit: the job intake stops where it is and leaves every waiting job for the next start.
    void stopJobsForQuit();
    // After the event loop has ended: cancels a server job whose upload the quit broke off.
    void finishJobsAfterQuit();
    bool askNoCardChoice(NoCardChoice* choice) override;
    std::unique_ptr<JobProgress> createProgress(const QString& label, const QString& cancelText, int maximum,
                                                const QString& title) override;

    // Every tab loads again.
    void loadData();
    void showSystemTrayIcon();

    // The job intake's queue.
    JobQueue* jobQueue() const { return m_jobQueue; }

    int insertMsgToDb(const QString& account, const QString& title, const QString& message,
                      const QString& date) override;
    bool noticesShown() const override;
    void reportNoAnswer(const QString& reason) override;

    // The status line's parts, in order: user, server, online state, jobs waiting to be sent. The status strip and the
    // tray tooltip show them; a further fact is one more part.
    QStringList statusParts() const;
    static QString composeStatus(const QStringList& parts);
    void updateStatus();
    // Online or not, the re-check and the walk over the known sites.
    ServerMonitor& monitor() const { return *m_monitor; }

    // Read-only views for tests and tools; the pages are the form's (tabJobs, tabScanJobs, ...).
    QSystemTrayIcon* trayIcon() const;
    // The job timer runs (between the start-up pass and logout).
    bool jobIntakeRunning() const;
    Ui::MainWindow* form() const { return m_ui.data(); }
    FileTransfer* downloads() const { return m_downloads; }

signals:
    void loginshow();
    void closeMain();
    void iniMain(QWidget* window);

public slots:
    void show_mainwindow();
    void loadTabData();
    void on_showMainAction();
    void on_exitAppAction();
    void jobsRefreshBtn_clicked();
    void logoutBtn_clicked();

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QList<TabPage*> pages() const;
    // Reads where the job folder is and sets the queue up on it.
    void setUpJobFolder();
    // The job intake's notices go to the messages tab, its submissions' steps to the jobs tab.
    void connectJobIntake();
    void setupTabs();
    // Tab in reading order, arrows inside the tab bar and the tables.
    void setKeyboardOrder();
    // Ctrl+Tab and Ctrl+PgDn to the next tab, with Shift or PgUp to the one before.
    void addTabKeys();
    // Removes the tabs the settings hide.
    void InitConfig();
    void setIdentity();
    void showNetworkWarning(const QString& text);
    // The return after an outage reloads the tabs.
    void resumeAfterOutage();
    void keepChosenServer(const QString& url);
    void sendLogoutRequest();
    static QString stripScheme(const QString& url);

    const QScopedPointer<Ui::MainWindow> m_ui;
    LoginInfo* const m_info;
    Session* const m_session;
    KsKit* m_ksKit = nullptr;
    ServerMonitor* m_monitor = nullptr;
    TrayIcon* m_tray = nullptr;
    FileTransfer* m_downloads = nullptr;
    // The job logic's notices, written by the job logic and shown by the messages tab.
    std::unique_ptr<MessageStore> m_messageStore;

    QString m_account;
    int m_unsentJobs = 0;
    JobFolderSetting m_jobFolder; // as read when the job intake was last set up
    // The outage notice; closed once the server answers again, since it would then say something untrue.
    QPointer<QMessageBox> m_unreachableBox;
    JobQueue* m_jobQueue = nullptr;
};
