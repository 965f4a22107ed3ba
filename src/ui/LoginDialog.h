#pragma once

#include <QDialog>
#include <QImage>
#include <QPixmap>
#include <QPoint>
#include <QScopedPointer>
#include <QString>

#include "api/KsAccount.h"
#include "api/KsKit.h"

#include <functional>

class ClickedLabel;
class KsKit;
class LoginInfo;
class OnlineState;
class QTimer;
class Session;

namespace Ui {
class LoginDialog;
}

// The frameless login window: account and password, the operating-system account, or a QR code scanned
// with the phone. Lives for the whole run; hidden after a login and shown again after a logout.
class LoginDialog : public QDialog
{
    Q_OBJECT
public:
    static constexpr int kQrPollIntervalMs = 2000;
    static constexpr int kQrValiditySeconds = 120;

    // The settings it shows and saves, the session it logs into, the API it logs in through.
    LoginDialog(LoginInfo& settings, Session& session, KsKit& api, QWidget* parent = nullptr);
    ~LoginDialog() override;

    // Tests: what closing the dialog does instead of ending the process; the local DNS domain to compare.
    static void setExitHandlerForTests(std::function<void(int)> handler);
    void setLocalDomainNameForTests(const QString& domain);

signals:
    void mainshow();
    void exitApp();

public slots:
    bool checkNetworkState(bool showError);
    void show_errormsg(const QString& text);
    void startTimer();
    void stopTimer();
    void show_loginwindow();

    void GenerateQRcode();
    void ScanLogin();
    void btnRefreshQr_Clicked();
    void onLabelClicked();

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
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Kept out of the slot list so the form's name-based connections do not look for an "autoLogin" object.
    void on_autoLogin();
    void onNewJobFile(const QString& path);
    void showBanner(QWidget* header, bool shown);
    // At the header's first paint after it was shown: its banner decoded at its size.
    void decodeBanner(QWidget* header);

    void Login(int kind);
    // Runs a login asked for while another was pending: a manual one first, else a confirmed QR scan.
    void runPendingLogin();
    // A certificate that differs from the one pinned for the server: the user may accept it.
    bool trustChangedCertificate();
    void initInfo();
    void checkLoginType();
    // The keyboard goes to the page on screen: the code on the QR page, else the first field to fill.
    void focusShownPage();
    void watchJobFolder();

    void qrRegistrationFinished(const KsKit::QrAnswer& answer, const QString& qrText);
    void qrPollFinished(const KsKit::QrAnswer& answer);
    void showQrImage(const QString& path);
    QString qrBaseUrl() const;
    QString localDomainName() const;
    bool dialogSystemUser() const;
    void setSystemUserControls(bool systemUser);

    LoginInfo* loginInfo() const { return m_info; }

    const QScopedPointer<Ui::LoginDialog> m_ui;
    LoginInfo* const m_info;
    Session* const m_session;
    KsKit* const m_api;
    OnlineState* m_online = nullptr;
    QTimer* m_qrTimer = nullptr;
    QTimer* m_autoLoginTimer = nullptr;
    ClickedLabel* m_qrLabel = nullptr;
    QWidget* m_bannerHeader = nullptr; // the shown page's header, which holds the banner below
    QPixmap m_banner; // the shown page's header image, decoded at the header's size

    KsAccount::Verify m_accountVerify = KsAccount::Verify::Unset;
    bool m_systemUser = true;
    QString m_osUser;
    QString m_jobPath;
    QString m_shownServer;
    QString m_password;
    int m_autoLoginElapsedMs = 0;
    bool m_networkReachable = true;
    bool m_serverReachable = true;
    bool m_pressed = false;
    QPoint m_lastPos;
    QString m_errorText;
    int m_qrRemaining = 0;
    bool m_loginBusy = false;
    bool m_autoAttempt = false; // an automatic login attempt is waiting for its answer
    bool m_manualLoginPending = false;
    bool m_qrLoginPending = false;
    bool m_hasDomainOverride = false;
    QString m_domainOverride;
};
