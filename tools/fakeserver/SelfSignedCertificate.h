#pragma once

#include <QByteArray>
#include <QString>

// A key pair and a self-signed certificate for 127.0.0.1/localhost, made in memory at run time, so
// HTTPS can be exercised without any file shipped in the tree.
class SelfSignedCertificate
{
public:
    // Generates a fresh P-256 key and a certificate valid from yesterday for one year.
    static SelfSignedCertificate generate(const QString& commonName = QStringLiteral("127.0.0.1"));
    // One certificate per process: key generation is cheap but there is no need to repeat it.
    static const SelfSignedCertificate& shared();

    bool isValid() const { return !m_certificatePem.isEmpty() && !m_privateKeyPem.isEmpty(); }
    QByteArray certificatePem() const { return m_certificatePem; }
    QByteArray privateKeyPem() const { return m_privateKeyPem; }

private:
    QByteArray m_certificatePem;
    QByteArray m_privateKeyPem;
};
