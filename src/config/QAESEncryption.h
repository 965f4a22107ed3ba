#pragma once

#include <QByteArray>
#include <QObject>

// AES (FIPS-197) with ECB, CBC, full-block CFB and OFB, and zero, PKCS#7 or ISO 7816-4 padding.
class QAESEncryption : public QObject
{
    Q_OBJECT
public:
    enum Aes { Aes128 = 0, Aes192 = 1, Aes256 = 2 };
    enum Mode { ModeEcb = 0, ModeCbc = 1, ModeCfb = 2, ModeOfb = 3 };
    enum Padding { PaddingZero = 0, PaddingPkcs7 = 1, PaddingIso = 2 };

    QAESEncryption(Aes level, Mode mode, Padding padding = PaddingIso);

    static QByteArray Crypt(Aes level, Mode mode, const QByteArray& rawText, const QByteArray& key,
                            const QByteArray& iv = QByteArray(), Padding padding = PaddingIso);
    static QByteArray Decrypt(Aes level, Mode mode, const QByteArray& rawText, const QByteArray& key,
                              const QByteArray& iv = QByteArray(), Padding padding = PaddingIso);
    static QByteArray ExpandKey(Aes level, Mode mode, const QByteArray& key);
    static QByteArray RemovePadding(const QByteArray& rawText, Padding padding = PaddingIso);

    // Pads, then encrypts. Empty when a chained mode gets an IV that is not 16 bytes, or the key is too short.
    QByteArray encode(const QByteArray& rawText, const QByteArray& key, const QByteArray& iv = QByteArray());
    // Decrypts; the padding stays in place. Only whole blocks are processed.
    QByteArray decode(const QByteArray& rawText, const QByteArray& key, const QByteArray& iv = QByteArray());
    QByteArray removePadding(const QByteArray& rawText);
    QByteArray expandKey(const QByteArray& key);

    static constexpr int kBlockLen = 16;

private:
    QByteArray getPadding(int currSize) const;
    void addRoundKey(int round, const QByteArray& expKey);
    void subBytes();
    void shiftRows();
    void mixColumns();
    void invSubBytes();
    void invShiftRows();
    void invMixColumns();
    QByteArray cipher(const QByteArray& expKey, const QByteArray& in);
    QByteArray invCipher(const QByteArray& expKey, const QByteArray& in);
    bool ivUsable(const QByteArray& iv) const;
    // Both directions of every mode; text is whole blocks (padded when encrypting).
    QByteArray crypt(const QByteArray& text, const QByteArray& key, const QByteArray& iv, bool encrypt);

    int m_nb = 4;
    int m_blocklen = kBlockLen;
    int m_level;
    Mode m_mode;
    Padding m_padding;
    int m_nk = 4;
    int m_keyLen = 16;
    int m_nr = 10;
    int m_expandedKey = 176;
    quint8 m_state[4][4] = {};
};
