#pragma once

#include "api/KsKit.h"
#include "config/Session.h"

#include <QNetworkAccessManager>

class LoginInfo;

// What main.cpp makes for the windows, made for a test: the session, the one network manager and the API
// on the account the settings describe, recording its logins in both.
class ClientParts
{
public:
    // The settings singleton when none is given.
    explicit ClientParts(LoginInfo* settings = nullptr);
    ClientParts(const ClientParts&) = delete;
    ClientParts& operator=(const ClientParts&) = delete;

    // The account taken afresh from the settings, after a test changed them.
    void refreshAccount();

    // One set on the settings singleton for a whole test binary, as the client has one: windows made by a
    // case may outlive it. Never destroyed, so its manager cannot outlive the application object's end.
    static ClientParts& shared();
    // Start of a case: nobody logged in, no site list, no valid QR code, the account from the settings.
    static void beginCase();

    LoginInfo& settings;
    Session session;
    QNetworkAccessManager network;
    KsKit api;
};
