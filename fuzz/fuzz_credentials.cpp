// The stored user name and password as read back from the settings file: hex text, AES-256-CBC, ISO padding.
#include "FuzzSupport.h"
#include "config/CredentialCipher.h"
#include "config/QAESEncryption.h"

#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    FuzzSupport::init(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) {
        return 0;
    }
    // The first byte picks what the rest is fed to; AES is costly, so each input takes one road only.
    const QByteArray input = FuzzSupport::bytes(data + 1, size - 1);
    switch (data[0] % 3) {
    case 0:
        // As the settings file hands it over: any text, not only hex digits.
        CredentialCipher::decryptValue(QString::fromUtf8(input));
        CredentialCipher::decryptValue(QString::fromLatin1(input.toHex()));
        break;
    case 1: {
        // Whatever is saved reads back unchanged (a text holds no NUL: the stored form ends at one).
        QString plain = QString::fromUtf8(input);
        plain.remove(QChar(0));
        if (CredentialCipher::decryptValue(QString::fromLatin1(CredentialCipher::encryptValue(plain))) != plain) {
            std::abort();
        }
        break;
    }
    default: {
        // The cipher itself on raw blocks, every level, mode and padding.
        const uint8_t choice = data[0] / 3;
        const auto level = QAESEncryption::Aes(choice % 3);
        const auto mode = QAESEncryption::Mode((choice / 3) % 4);
        const auto padding = QAESEncryption::Padding((choice / 12) % 3);
        QAESEncryption aes(level, mode, padding);
        aes.removePadding(aes.decode(input, input.left(32), input.left(16)));
        aes.encode(input, input.left(32), input.left(16));
        QAESEncryption::RemovePadding(input, padding);
        break;
    }
    }
    return 0;
}
