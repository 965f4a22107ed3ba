#pragma once

#include <QDialog>
#include <QScopedPointer>
#include <QString>

#include <functional>

class KsKit;
class LoginFlow;
class LoginInfo;
class OnlineState;
class QrLogin;
class QrPage;
class Session;
struct QrCredentials;

namespace Ui {
class LoginDialog;
}

// The frameless login window: account and password, the operating-system account, or a QR code scanned
// with the phone. Lives for the whole run; hidden after a login and shown again after a logout. The attempts
// are LoginFlow's, the code's life QrLogin's; the window shows their outcome.
class LoginDialog : public QDialog
{
    Q_OBJECT
public:
    // The settings it shows and saves, the session it logs into, the API it logs in through.
    LoginDialog(LoginInfo& settings, Session& session, KsKit& api, QWidget* parent = nullptr);
    ~LoginDialog() override;

    // Tests: what closing the dialog does instead of ending the process; the local DNS domain to compare.
    static void setExitHandlerForTests(std::function<void(int)> handler);
    void setLocalDomainNameForTests(const QString& domain);

signals:
    void mainshow();
    void exitApp();
    // Brought back for a login after a logout.
    void loginWindowShown();

public slots:
    bool checkNetworkState(bool showError);
    void show_errormsg(const QString& text);
    void startTimer();
    void stopTimer();
    void show_loginwindow();
    // A job file appeared in the watched job folder.
    void onNewJobFile(const QString& path);

    void GenerateQRcode();
    void ScanLogin();

private slots:
    void login_clicked();
    void textChanged(const QString& text);
    void onchkSysUserStateChanged(int state);
    void onchkAutoLoginStateChanged(int state);
    void onchkSavePasswordStateChanged(int state);
    void onlineStateChangedSlot(bool online);
    void siteMoreClicked();
    void on_btnQr_clicked();
    void on_btnDesktop_clicked();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void connectFlow();

    void initInfo();
    void checkLoginType();
    // The keyboard goes to the page on screen: the code on the QR page, else the first field to fill.
    void focusShownPage();
    // A certificate that differs from the one pinned for the server: the user may accept it.
    bool askTrustChangedCertificate(const QString& server, const QString& pinned, const QString& presented);
    void showLoggedIn();
    void showScanned(const QrCredentials& record);
    bool dialogSystemUser() const;
    void setSystemUserControls(bool systemUser);
    // Login is offered once both fields are filled, or at once for the system account.
    void updateLoginButton();

    const QScopedPointer<Ui::LoginDialog> m_ui;
    LoginInfo* const m_info;
    Session* const m_session;
    KsKit* const m_api;
    LoginFlow* m_flow = nullptr;
    QrLogin* m_qr = nullptr;
    OnlineState* m_online = nullptr;
    QrPage* m_qrPage = nullptr;

    QString m_osUser;
};
