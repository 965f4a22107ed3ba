#pragma once

#include "api/KsAccount.h"
#include "api/ServerTrust.h"

#include <QObject>
#include <QString>

#include <functional>

class KsKit;
class LoginInfo;
class QTimer;
class Session;

// What the login form holds when a login is asked for.
struct LoginForm
{
    QString server;
    QString userName;
    QString password;
    bool systemUser = false; // the "operating-system account" box
    bool autoLogin = false;
    bool savePassword = false;
};

// The login attempts of the login window without its widgets: one at a time, a typed or scanned login asked
// for meanwhile run after it, the automatic login with its retries, the answer read and the settings written.
// The view fills the form, answers the certificate question and shows what the signals report.
class LoginFlow : public QObject
{
    Q_OBJECT
public:
    enum class Kind { Typed, Scanned };

    LoginFlow(LoginInfo& settings, Session& session, KsKit& api, QObject* parent = nullptr);
    ~LoginFlow() override;

    void setFormSource(std::function<LoginForm()> form);
    void setOnlineCheck(std::function<bool()> online);
    // Asked when the server shows another certificate than the one pinned for it; true accepts it.
    void setCertificateQuestion(std::function<bool(const ServerTrust::Refusal&)> ask);
    void setLocalDomainNameForTests(const QString& domain);

    // The settings were loaded again: whose account the next login is.
    void reload();
    bool systemUser() const { return m_systemUser; }

    // The user's Login button: waits for an automatic attempt in flight to give up.
    void requestTypedLogin();
    void login(Kind kind);
    // The typed server, remembered, answers the reachability probe.
    bool serverReachable();
    void startAutoLogin();

    // The form's switches, written through to the settings file.
    void setSystemUser(bool on);
    void setAutoLogin(bool on);
    void setSavePassword(bool on);
    void setServerUrl(const QString& url);

signals:
    void busyChanged(bool busy);
    // A new login may be asked for.
    void attemptEnded();
    void serverAddressNormalised(const QString& url);
    void unreachable();
    void refused(const QString& message, bool passwordTyped);
    void domainRefused();
    // A failed login that used the phone or the system account: the code on screen is spent.
    void newQrCodeNeeded();
    void loggedIn();

private:
    void autoLoginTick();
    void runPendingLogin();
    bool trustChangedCertificate();
    QString localDomainName() const;
    LoginForm form() const;

    LoginInfo& m_info;
    Session& m_session;
    KsKit& m_api;
    QTimer* m_autoLoginTimer = nullptr;
    std::function<LoginForm()> m_form;
    std::function<bool()> m_online;
    std::function<bool(const ServerTrust::Refusal&)> m_askTrust;

    KsAccount::Verify m_accountVerify = KsAccount::Verify::Unset;
    bool m_systemUser = true;
    int m_autoLoginElapsedMs = 0;
    bool m_loginBusy = false;
    bool m_autoAttempt = false; // an automatic login attempt is waiting for its answer
    bool m_manualLoginPending = false;
    bool m_qrLoginPending = false;
    bool m_hasDomainOverride = false;
    QString m_domainOverride;
};
