#include "CredentialCipher.h"

#include "QAESEncryption.h"

#include <QCryptographicHash>
#include <QTextCodec>

#include <cctype>

namespace {

// Key material for the stored credentials. Changing either text makes existing files unreadable.
const char* const kKeyText = "Kq7#Vm2!Tz9wR"; // 13 characters
const char* const kIvText = "p4Lx@8Nc3Hs6"; // 12 characters

QByteArray cipherKey()
{
    return QCryptographicHash::hash(QString::fromLatin1(kKeyText).toLocal8Bit(), QCryptographicHash::Sha256);
}

QByteArray cipherIv()
{
    return QCryptographicHash::hash(QString::fromLatin1(kIvText).toLocal8Bit(), QCryptographicHash::Md5);
}

bool isValidUtf8(const QByteArray& bytes)
{
    QTextCodec::ConverterState state;
    QTextCodec::codecForName("UTF-8")->toUnicode(bytes.constData(), bytes.size(), &state);
    return state.invalidChars == 0 && state.remainingChars == 0;
}

} // namespace

namespace CredentialCipher {

QByteArray encryptValue(const QString& plain)
{
    QAESEncryption aes(QAESEncryption::Aes256, QAESEncryption::ModeCbc, QAESEncryption::PaddingIso);
    return aes.encode(plain.toUtf8(), cipherKey(), cipherIv()).toHex();
}

QString decryptValue(const QString& stored)
{
    if (stored.isEmpty()) {
        return QString();
    }
    // Characters that are not hexadecimal digits are skipped.
    QByteArray digits;
    digits.reserve(stored.size());
    for (const QChar c : stored) {
        // isxdigit() is only defined for byte values.
        if (c.unicode() < 0x80 && isxdigit(c.unicode())) {
            digits.append(static_cast<char>(c.unicode()));
        }
    }
    // Whole blocks only: a cut or odd-length value cannot be ours, so it reads as empty rather than as a
    // decrypted fragment.
    const int digitsPerBlock = 2 * QAESEncryption::kBlockLen;
    if (digits.isEmpty() || digits.size() % digitsPerBlock != 0) {
        return QString();
    }
    QAESEncryption aes(QAESEncryption::Aes256, QAESEncryption::ModeCbc, QAESEncryption::PaddingIso);
    const QByteArray decoded = aes.decode(QByteArray::fromHex(digits), cipherKey(), cipherIv());
    QByteArray plain = aes.removePadding(decoded);
    // A text of whole blocks gets no padding, so its own last byte may be 0x80 (the tail of many CJK and
    // Cyrillic characters) and look like a pad marker. Only one reading of the two is valid UTF-8.
    if (plain.size() == decoded.size() - 1 && isValidUtf8(decoded) && !isValidUtf8(plain)) {
        plain = decoded;
    }
    const int zero = plain.indexOf('\0');
    if (zero >= 0) {
        plain.truncate(zero);
    }
    return QString::fromUtf8(plain);
}

} // namespace CredentialCipher
