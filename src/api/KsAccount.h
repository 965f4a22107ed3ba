#pragma once

#include <QString>

class LoginInfo;

// Who the API speaks for and where: what every login and query of KsKit is built from.
struct KsAccount
{
    // How the login asks the server to check the account (the form's AccountVerify).
    enum class Verify {
        Unset, // ""
        System, // "2": the operating-system account; a login checks the host's DNS domain
        Qr, // "2": confirmed on the phone by a scanned QR code
        Password, // "4": name and password as typed
    };

    // The base address with its scheme (ServerUrl); set through setServerUrl.
    QString serverUrl;
    QString userName;
    QString password;
    Verify verify = Verify::Unset;
    // The settings template's version; the login form sends it with an "L" in front.
    QString clientVersion;
    // The client's id at the QR service.
    QString qrGuid;

    void setServerUrl(const QString& url);
    // The user name as every "UserAccount" of a query carries it: UTF-8, percent-encoded.
    QString encodedAccount() const;
    static QString verifyText(Verify verify);

    // The account the settings describe: the stored server, user, password and version; System when the
    // operating-system account is used, else Unset.
    static KsAccount fromSettings(const LoginInfo& settings);
};
