#pragma once

#include <QString>

// What a QR registration or scan answer tells the client.
struct QrCredentials
{
    QString clientId;
    QString account;
    QString password;
    QString type;
    int expiresIn = 0; // seconds; only the registration answer carries it
};
