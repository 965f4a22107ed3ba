#pragma once

#include "api/KsUserInfo.h"
#include "jobs/JobHost.h"
#include "jobs/KsJobParam.h"

#include <QFile>
#include <QMainWindow>
#include <QMessageBox>
#include <QModelIndex>
#include <QPointer>
#include <QScopedPointer>
#include <QStringList>
#include <QSystemTrayIcon>
#include <QUrl>

#include <functional>
#include <memory>

class JobQueue;
class KsKit;
class Session;
class MessageStore;
class LoginDialog;
class LoginInfo;
class SingleApplication;
class OnlineState;
class QAction;
class QLabel;
class QMenu;
class QNetworkAccessManager;
class QNetworkReply;
class QStandardItemModel;
class QTableView;
class QTimer;
struct WindowAnswer;

namespace Ui {
class MainWindow;
}

// The client's main window: the tabs, the status strip, the tray icon, the network check, logout, and
// the host of the job intake. Created once after the first login and kept until the process ends.
class MainWindow : public QMainWindow, public JobHost
{
    Q_OBJECT
public:
    // The settings it shows, the session it belongs to, the API shared with the login dialog.
    MainWindow(LoginInfo& settings, Session& session, KsKit& api, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Start-up after the first login: creates the window, wires it to the dialog and the application,
    // shows it and runs the event loop; the loop's result is returned.
    static int runAfterLogin(SingleApplication& app, LoginDialog& dialog, LoginInfo& settings, Session& session,
                             KsKit& api, bool automaticLogin);
    // The same without running the loop: the window is shown (unless hidden by setting) and initialised.
    static std::unique_ptr<MainWindow> startAfterLogin(SingleApplication& app, LoginDialog& dialog, LoginInfo& settings,
                                                       Session& session, KsKit& api, bool automaticLogin);
    // The four hand-over connections between the login dialog, this window and the application.
    void connectHandOver(LoginDialog* dialog, SingleApplication* app);

    // Start-up: tray icon (when asked) and the start-up pass over the job folder.
    void init(bool showTrayIcon);

    void showSystemMessage(const QString& title, const QString& text) override;
    bool checkNetworkState(bool showDialog) override;

    // The job intake's host: prompts, the no-card dialog, progress display and the pollers' state.
    QString serverUrl() const override { return m_serverUrl; }
    QString userAccount() const override { return m_account; }
    KsKit& api() override { return *m_ksKit; }
    JobOptions jobOptions() const override;
    bool askConfirmation(const QString& text) override;
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
    int jobsRowCount() const override;
    void setRowCountBeforeSubmit(int rows) override { m_rowsBeforeSubmit = rows; }
    void setCurrentJobId(const QString& id) override { m_currentJobId = id; }
    void setUploadedFileSize(qint64 bytes) override { m_lastUploadSize = bytes; }

    void loadData();
    void RefreshData();
    void InitTabText(const QString& tabName, const QString& caption, int count);
    void InitConfig();
    bool initJobControlOption();
    void initTableView();
    void showSystemTrayIcon();

    // The job intake: the start-up pass over the job folder and the queue that runs it.
    void initialCheck4JobPath();
    JobQueue* jobQueue() const { return m_jobQueue; }

    // Message store (the messages tab).
    void checkDb();
    int insertMsgToDb(const QString& account, const QString& title, const QString& message,
                      const QString& date) override;
    void loadMsgFromDb();

    // Pin code panel.
    void getPinCodeInfo();

    // Jobs and scan-jobs tabs.
    void loadJobData();
    void loadScanJobData();
    QString getStatusName(int statusId) const;
    QString getDuplexModeName(int duplexMode) const;
    static QString scanStatusName(int statusId);
    // Poll interval for a size (both job pollers).
    static int pollInterval(double size);
    // Screens this large get the enlarged window.
    static bool isLargeScreen(const QSize& screen);
    static constexpr int kHiddenTrayBalloonMs = 3000;

    // Account, devices and server tabs.
    void loadUserInfoData();
    void loadDeviceData();
    void loadServerData();
    void SetCtlToDisable(bool enabled);
    void changeServerUrl();

    // System tab and the file transfer.
    void initSystemInfo();
    void startRequest(const QUrl& url);

    QString jobPath() const { return m_jobPath; }
    QString currentJobId() const { return m_currentJobId; }

    // The status line's parts, in order: user, server, online state, jobs waiting to be sent. The status strip and the
    // tray tooltip show them; a further fact is one more part.
    QStringList statusParts() const;
    static QString composeStatus(const QStringList& parts);
    void updateStatus();
    bool serverOnline() const { return m_serverOnline; }
    static constexpr int kReconnectProbeMs = 15000;

    // Read-only views for tests and tools.
    QStandardItemModel* jobsModel() const { return m_jobsModel; }
    QStandardItemModel* scanJobsModel() const { return m_scanJobsModel; }
    QStandardItemModel* devicesModel() const { return m_devicesModel; }
    QStandardItemModel* serversModel() const { return m_serversModel; }
    QStandardItemModel* messagesModel() const { return m_msgModel; }
    QTimer* jobStatusTimer() const { return m_jobStatusTimer; }
    QTimer* jobListTimer() const { return m_jobListTimer; }
    QSystemTrayIcon* trayIcon() const { return m_trayIcon; }
    int networkFailureCount() const { return m_networkFailures; }
    // The job timer runs (between the start-up pass and logout).
    bool jobIntakeRunning() const;
    const KsUserInfo& userInfo() const { return m_userInfo; }
    QStringList tabNames() const { return m_tabNames; }
    Ui::MainWindow* form() const { return m_ui.data(); }

    // Tests: the path the save dialog would return (empty = cancelled); unset uses the real dialog.
    using SaveFileChooser = std::function<QString(const QString& proposedName)>;
    void setSaveFileChooser(SaveFileChooser chooser) { m_saveFileChooser = std::move(chooser); }

signals:
    void loginshow();
    void closeMain();
    void iniMain(QWidget* window);
    // A file transfer ended (true when the file holds the whole answer).
    void transferFinished(bool ok);

public slots:
    void show_mainwindow();
    void timerCallback();
    void loadTabData();
    void on_activatedSysTrayIcon(QSystemTrayIcon::ActivationReason reason);
    void on_showMainAction();
    void on_exitAppAction();
    void RefreshJobInfo() override;
    void jobsRefreshBtn_clicked();
    void jobsDelBtn_clicked();
    void scanJobDelBtn_clicked();
    void scanJobDownloadBtn_clicked();
    void msgDelBtn_clicked();
    void msgClearBtn_clicked();
    void logoutBtn_clicked();
    void httpFinished();
    void httpReadyRead();
    void updateDataReadProgress(qint64 bytesRead, qint64 totalBytes);
    void checkClientUpdate_clicked();
    void autoUpdate_clicked();
    void switchServerBtn_clicked();
    void ShowTooltip(const QModelIndex& index);
    void onlineStateChangedSlot(bool online);
    void getJobStatusInfo() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void initJobTabelView();
    void initScanJobTabelView();
    void initMsgabelView();
    void initDeviceTabelView();
    void initServerTabelView();
    void setIdentity();
    void showNetworkWarning(const QString& text);
    // Records whether the last check reached the server; the return after an outage reloads the tabs.
    void setServerOnline(bool online, const QString& reason = QString());
    void resumeAfterOutage();
    // Stops the job status poll after a failed answer, to be resumed when the server is back.
    void stopJobStatusPoll();
    void keepChosenServer(const QString& url);
    // Message boxes, through the Prompts facade so tests can answer them.
    void inform(QMessageBox::Icon icon, const QString& title, const QString& text,
                const QString& buttonText = QString());
    bool askYesNo(const QString& title, const QString& text);
    void sendLogoutRequest();
    // Cancels (jobs) or deletes (scan jobs) the selected rows; shared by the two delete buttons.
    void deleteSelectedJobs(bool scanJobs);
    bool prepareDownload(const QString& proposedName, const QString& url, bool isUpdate);
    struct Transfer;
    Transfer* transferOf(const QObject* reply);
    // Stops a transfer and removes its partial file.
    void dropTransfer(Transfer& transfer);
    bool transferRunning() const;
    void writeTransfer(Transfer& transfer);
    QString chooseSaveFile(const QString& proposedName);
    void sendGet(const QString& url, const QString& exPrefix, const QString& failPrefix,
                 const std::function<void(const WindowAnswer&)>& handler, bool siteList = false);
    void initJobIntake();
    void stopJobIntake();
    void clearAllMessages();
    static void setupTable(QTableView* view, QStandardItemModel* model, const QStringList& headers,
                           const QList<int>& widths);
    static void fitColumns(QTableView* view);
    static QString stripScheme(const QString& url);
    static const char* const kMinimumWidthsProperty;

    const QScopedPointer<Ui::MainWindow> m_ui;
    LoginInfo* const m_info;
    Session* const m_session;
    QNetworkAccessManager* m_nam = nullptr;
    KsKit* m_ksKit = nullptr;
    OnlineState* m_online = nullptr;

    QString m_account;
    QString m_serverUrl;
    QString m_currentJobId;
    int m_rowsBeforeSubmit = 0;
    int m_latestJobCount = 0;
    qint64 m_lastUploadSize = 0;
    int m_networkFailures = 0;
    int m_unsentJobs = 0;
    // The outage notice; closed once the server answers again, since it would then say something untrue.
    QPointer<QMessageBox> m_unreachableBox;
    QStringList m_tabNames;
    QString m_jobPath;
    QString m_loginMessage;
    KsUserInfo m_userInfo;
    std::unique_ptr<MessageStore> m_messageStore;
    JobQueue* m_jobQueue = nullptr;

    QStandardItemModel* m_jobsModel = nullptr;
    QStandardItemModel* m_devicesModel = nullptr;
    QStandardItemModel* m_scanJobsModel = nullptr;
    QStandardItemModel* m_serversModel = nullptr;
    QStandardItemModel* m_msgModel = nullptr;

    QTimer* m_jobStatusTimer = nullptr;
    QTimer* m_jobListTimer = nullptr;
    QTimer* m_trayHideTimer = nullptr;
    QTimer* m_reconnectTimer = nullptr;
    bool m_serverOnline = true;
    QString m_offlineReason;
    bool m_statusPollInterrupted = false;
    bool m_switchingServer = false;

    QSystemTrayIcon* m_trayIcon = nullptr;
    QMenu* m_trayMenu = nullptr;
    QAction* m_showMainAction = nullptr;
    QAction* m_exitAction = nullptr;

    // System tab and file transfer.
    QString m_installedVersion;
    QString m_newestVersion;
    // One transfer per kind: [0] scan job, [1] update package.
    struct Transfer
    {
        QUrl url;
        QPointer<QNetworkReply> reply;
        std::unique_ptr<QFile> file;
        QString path;
        qint64 written = 0;
        QString writeError;
    };
    Transfer m_transfers[2];
    bool m_isUpdateDownload = false;
    SaveFileChooser m_saveFileChooser;
};
