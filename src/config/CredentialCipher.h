#pragma once

#include <QByteArray>
#include <QString>

// Encryption of the credentials kept in the settings file (AES-256-CBC, ISO padding, lower-case hex).
namespace CredentialCipher {

QByteArray encryptValue(const QString& plain);
// Empty for anything that is not a value encryptValue() wrote.
QString decryptValue(const QString& stored);

} // namespace CredentialCipher
