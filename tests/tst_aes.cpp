#include "config/CredentialCipher.h"
#include "config/QAESEncryption.h"

#include <QtTest>

// Published vectors: FIPS-197 appendix C (one block, ECB) and NIST SP 800-38A (four blocks, ECB, CBC,
// CFB128, OFB), plus the client's own use of the cipher for stored credentials.
class TestAes : public QObject
{
    Q_OBJECT

private slots:
    void fips197_data();
    void fips197();
    void sp80038a_data();
    void sp80038a();
    void keyExpansion_data();
    void keyExpansion();
    void ivRequirements_data();
    void ivRequirements();
    void padding_data();
    void padding();
    void pkcs7FullBlockRemoved();
    void isoRemovalLeavesForeignData();

    void storedLength_data();
    void storedLength();
    void storedRoundTrip_data();
    void storedRoundTrip();
    void storedIsDeterministicLowerHex();
    void unreadableStoredValues_data();
    void unreadableStoredValues();
};

static QByteArray hex(const char* text)
{
    return QByteArray::fromHex(QByteArray(text));
}

void TestAes::fips197_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("cipher");

    QTest::newRow("C.1 AES-128") << int(QAESEncryption::Aes128) << hex("000102030405060708090a0b0c0d0e0f")
                                 << hex("69c4e0d86a7b0430d8cdb78070b4c55a");
    QTest::newRow("C.2 AES-192") << int(QAESEncryption::Aes192)
                                 << hex("000102030405060708090a0b0c0d0e0f1011121314151617")
                                 << hex("dda97ca4864cdfe06eaf70a0ec0d7191");
    QTest::newRow("C.3 AES-256") << int(QAESEncryption::Aes256)
                                 << hex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f")
                                 << hex("8ea2b7ca516745bfeafc49904b496089");
}

void TestAes::fips197()
{
    QFETCH(int, level);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, cipher);
    const QByteArray plain = hex("00112233445566778899aabbccddeeff");
    const auto aes = static_cast<QAESEncryption::Aes>(level);

    // A whole block gets no ISO padding, so the output is exactly the published block.
    QCOMPARE(QAESEncryption::Crypt(aes, QAESEncryption::ModeEcb, plain, key).toHex(), cipher.toHex());
    QCOMPARE(QAESEncryption::Decrypt(aes, QAESEncryption::ModeEcb, cipher, key).toHex(), plain.toHex());
}

void TestAes::sp80038a_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QByteArray>("cipher");

    const int ecb = QAESEncryption::ModeEcb, cbc = QAESEncryption::ModeCbc, cfb = QAESEncryption::ModeCfb,
              ofb = QAESEncryption::ModeOfb;
    const int a128 = QAESEncryption::Aes128, a192 = QAESEncryption::Aes192, a256 = QAESEncryption::Aes256;

    // clang-format off
    QTest::newRow("F.1.1 ECB-AES128") << a128 << ecb << hex("3ad77bb40d7a3660a89ecaf32466ef97f5d3d58503b9699de785895a96fdbaaf43b1cd7f598ece23881b00e3ed0306887b0c785e27e8ad3f8223207104725dd4");
    QTest::newRow("F.1.3 ECB-AES192") << a192 << ecb << hex("bd334f1d6e45f25ff712a214571fa5cc974104846d0ad3ad7734ecb3ecee4eefef7afd2270e2e60adce0ba2face6444e9a4b41ba738d6c72fb16691603c18e0e");
    QTest::newRow("F.1.5 ECB-AES256") << a256 << ecb << hex("f3eed1bdb5d2a03c064b5a7e3db181f8591ccb10d410ed26dc5ba74a31362870b6ed21b99ca6f4f9f153e7b1beafed1d23304b7a39f9f3ff067d8d8f9e24ecc7");
    QTest::newRow("F.2.1 CBC-AES128") << a128 << cbc << hex("7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b273bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7");
    QTest::newRow("F.2.3 CBC-AES192") << a192 << cbc << hex("4f021db243bc633d7178183a9fa071e8b4d9ada9ad7dedf4e5e738763f69145a571b242012fb7ae07fa9baac3df102e008b0e27988598881d920a9e64f5615cd");
    QTest::newRow("F.2.5 CBC-AES256") << a256 << cbc << hex("f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b");
    QTest::newRow("F.3.13 CFB128-AES128") << a128 << cfb << hex("3b3fd92eb72dad20333449f8e83cfb4ac8a64537a0b3a93fcde3cdad9f1ce58b26751f67a3cbb140b1808cf187a4f4dfc04b05357c5d1c0eeac4c66f9ff7f2e6");
    QTest::newRow("F.3.15 CFB128-AES192") << a192 << cfb << hex("cdc80d6fddf18cab34c25909c99a417467ce7f7f81173621961a2b70171d3d7a2e1e8a1dd59b88b1c8e60fed1efac4c9c05f9f9ca9834fa042ae8fba584b09ff");
    QTest::newRow("F.3.17 CFB128-AES256") << a256 << cfb << hex("dc7e84bfda79164b7ecd8486985d386039ffed143b28b1c832113c6331e5407bdf10132415e54b92a13ed0a8267ae2f975a385741ab9cef82031623d55b1e471");
    QTest::newRow("F.4.1 OFB-AES128") << a128 << ofb << hex("3b3fd92eb72dad20333449f8e83cfb4a7789508d16918f03f53c52dac54ed8259740051e9c5fecf64344f7a82260edcc304c6528f659c77866a510d9c1d6ae5e");
    QTest::newRow("F.4.3 OFB-AES192") << a192 << ofb << hex("cdc80d6fddf18cab34c25909c99a4174fcc28b8d4c63837c09e81700c11004018d9a9aeac0f6596f559c6d4daf59a5f26d9f200857ca6c3e9cac524bd9acc92a");
    QTest::newRow("F.4.5 OFB-AES256") << a256 << ofb << hex("dc7e84bfda79164b7ecd8486985d38604febdc6740d20b3ac88f6ad82a4fb08d71ab47a086e86eedf39d1c5bba97c4080126141d67f37be8538f5a8be740e484");
    // clang-format on
}

void TestAes::sp80038a()
{
    QFETCH(int, level);
    QFETCH(int, mode);
    QFETCH(QByteArray, cipher);

    const QByteArray plain = hex("6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
                                 "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
    const QByteArray iv = hex("000102030405060708090a0b0c0d0e0f");
    QByteArray key;
    switch (level) {
    case QAESEncryption::Aes128:
        key = hex("2b7e151628aed2a6abf7158809cf4f3c");
        break;
    case QAESEncryption::Aes192:
        key = hex("8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b");
        break;
    default:
        key = hex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
        break;
    }
    QAESEncryption aes(static_cast<QAESEncryption::Aes>(level), static_cast<QAESEncryption::Mode>(mode),
                       QAESEncryption::PaddingIso);
    QCOMPARE(aes.encode(plain, key, iv).toHex(), cipher.toHex());
    QCOMPARE(aes.decode(cipher, key, iv).toHex(), plain.toHex());
}

void TestAes::keyExpansion_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<int>("size");
    QTest::addColumn<QByteArray>("lastWord");

    // FIPS-197 appendix A: the last word of each expanded key.
    QTest::newRow("A.1") << int(QAESEncryption::Aes128) << hex("2b7e151628aed2a6abf7158809cf4f3c") << 176
                         << hex("b6630ca6");
    QTest::newRow("A.2") << int(QAESEncryption::Aes192) << hex("8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b")
                         << 208 << hex("01002202");
    QTest::newRow("A.3") << int(QAESEncryption::Aes256)
                         << hex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4") << 240
                         << hex("706c631e");
}

void TestAes::keyExpansion()
{
    QFETCH(int, level);
    QFETCH(QByteArray, key);
    QFETCH(int, size);
    QFETCH(QByteArray, lastWord);

    const QByteArray expanded
        = QAESEncryption::ExpandKey(static_cast<QAESEncryption::Aes>(level), QAESEncryption::ModeEcb, key);
    QCOMPARE(expanded.size(), size);
    QCOMPARE(expanded.left(key.size()).toHex(), key.toHex());
    QCOMPARE(expanded.right(4).toHex(), lastWord.toHex());
    // Extra key bytes beyond the level's length are ignored.
    QCOMPARE(QAESEncryption::ExpandKey(static_cast<QAESEncryption::Aes>(level), QAESEncryption::ModeEcb,
                                       key + QByteArray("extra"))
                 .toHex(),
             expanded.toHex());
}

void TestAes::ivRequirements_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QByteArray>("iv");
    QTest::addColumn<bool>("works");

    QTest::newRow("ECB without iv") << int(QAESEncryption::ModeEcb) << QByteArray() << true;
    QTest::newRow("CBC without iv") << int(QAESEncryption::ModeCbc) << QByteArray() << false;
    QTest::newRow("CBC 15-byte iv") << int(QAESEncryption::ModeCbc) << QByteArray(15, 'x') << false;
    QTest::newRow("CFB 17-byte iv") << int(QAESEncryption::ModeCfb) << QByteArray(17, 'x') << false;
    QTest::newRow("OFB 16-byte iv") << int(QAESEncryption::ModeOfb) << QByteArray(16, 'x') << true;
}

void TestAes::ivRequirements()
{
    QFETCH(int, mode);
    QFETCH(QByteArray, iv);
    QFETCH(bool, works);

    QAESEncryption aes(QAESEncryption::Aes128, static_cast<QAESEncryption::Mode>(mode), QAESEncryption::PaddingPkcs7);
    const QByteArray key(16, 'k');
    QCOMPARE(aes.encode("secret", key, iv).isEmpty(), !works);
    QCOMPARE(aes.decode(QByteArray(16, 'c'), key, iv).isEmpty(), !works);
}

void TestAes::padding_data()
{
    QTest::addColumn<int>("padding");
    QTest::addColumn<int>("length");
    QTest::addColumn<QByteArray>("tail");

    const int zero = QAESEncryption::PaddingZero, pkcs = QAESEncryption::PaddingPkcs7, iso = QAESEncryption::PaddingIso;
    // tail: what follows the text after decryption.
    QTest::newRow("zero 0") << zero << 0 << QByteArray();
    QTest::newRow("zero 15") << zero << 15 << hex("00");
    QTest::newRow("zero 16") << zero << 16 << QByteArray();
    QTest::newRow("zero 17") << zero << 17 << QByteArray(15, '\0');
    QTest::newRow("pkcs7 0") << pkcs << 0 << QByteArray(16, '\x10');
    QTest::newRow("pkcs7 15") << pkcs << 15 << hex("01");
    QTest::newRow("pkcs7 16") << pkcs << 16 << QByteArray(16, '\x10');
    QTest::newRow("pkcs7 17") << pkcs << 17 << QByteArray(15, '\x0f');
    QTest::newRow("iso 0") << iso << 0 << QByteArray();
    QTest::newRow("iso 15") << iso << 15 << hex("80");
    QTest::newRow("iso 16") << iso << 16 << QByteArray();
    QTest::newRow("iso 17") << iso << 17 << QByteArray(hex("80") + QByteArray(14, '\0'));
}

void TestAes::padding()
{
    QFETCH(int, padding);
    QFETCH(int, length);
    QFETCH(QByteArray, tail);

    QByteArray text;
    for (int i = 0; i < length; ++i) {
        text.append(static_cast<char>('A' + i % 26));
    }
    const auto pad = static_cast<QAESEncryption::Padding>(padding);
    const QByteArray key(32, '\x5a');
    const QByteArray iv(16, '\x11');
    QAESEncryption aes(QAESEncryption::Aes256, QAESEncryption::ModeCbc, pad);

    const QByteArray encrypted = aes.encode(text, key, iv);
    QCOMPARE(encrypted.size(), length + tail.size());
    const QByteArray decrypted = aes.decode(encrypted, key, iv);
    QCOMPARE(decrypted.toHex(), QByteArray(text + tail).toHex());
    QCOMPARE(aes.removePadding(decrypted), text);
    QCOMPARE(QAESEncryption::RemovePadding(decrypted, pad), text);
}

void TestAes::pkcs7FullBlockRemoved()
{
    const QByteArray block = QByteArray("0123456789abcdef") + QByteArray(16, '\x10');
    QCOMPARE(QAESEncryption::RemovePadding(block, QAESEncryption::PaddingPkcs7), QByteArray("0123456789abcdef"));
    QCOMPARE(QAESEncryption::RemovePadding(QByteArray(), QAESEncryption::PaddingPkcs7), QByteArray());
    // A count larger than the text never reads outside it.
    QCOMPARE(QAESEncryption::RemovePadding(QByteArray("ab\x7f"), QAESEncryption::PaddingPkcs7), QByteArray());
}

void TestAes::isoRemovalLeavesForeignData()
{
    // Only a 0x80 marker before the trailing zeros is padding; anything else stays as it is.
    QCOMPARE(QAESEncryption::RemovePadding(QByteArray("abc\x01\0\0", 6), QAESEncryption::PaddingIso),
             QByteArray("abc\x01\0\0", 6));
    QCOMPARE(QAESEncryption::RemovePadding(QByteArray("abc\x80\0\0", 6), QAESEncryption::PaddingIso),
             QByteArray("abc"));
    QCOMPARE(QAESEncryption::RemovePadding(QByteArray(3, '\0'), QAESEncryption::PaddingIso), QByteArray(3, '\0'));
}

void TestAes::storedLength_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("hexDigits");

    QTest::newRow("15 bytes") << QStringLiteral("abcdefghijklmno") << 32;
    QTest::newRow("16 bytes") << QStringLiteral("abcdefghijklmnop") << 32;
    QTest::newRow("17 bytes") << QStringLiteral("abcdefghijklmnopq") << 64;
    // Length counts UTF-8 bytes, not characters: 8 x "ü" is 16 bytes.
    QTest::newRow("16 UTF-8 bytes") << QString(8, QChar(0x00fc)) << 32;
}

void TestAes::storedLength()
{
    QFETCH(QString, password);
    QFETCH(int, hexDigits);
    QCOMPARE(CredentialCipher::encryptValue(password).size(), hexDigits);
}

void TestAes::storedRoundTrip_data()
{
    QTest::addColumn<QString>("plain");
    QTest::newRow("ascii") << QStringLiteral("s3cret!");
    QTest::newRow("block sized") << QStringLiteral("0123456789abcdef");
    QTest::newRow("two blocks") << QStringLiteral("0123456789abcdef0123456789abcdef");
    QTest::newRow("umlaut and cjk") << QStringLiteral("J\u00fcrgen \u6d4b\u8bd5");
    QTest::newRow("ends in 0x80 byte") << QStringLiteral("\u0100"); // UTF-8 c4 80
    // Whole blocks ending in 0x80 get no padding; the last byte is text, not a pad marker.
    QTest::newRow("16 bytes ending in 0x80") << QStringLiteral("abcdefghijklm\u4e00"); // e4 b8 80
    QTest::newRow("32 bytes ending in 0x80") << QString(16, QChar(0x0400)); // d0 80 each
}

void TestAes::storedRoundTrip()
{
    QFETCH(QString, plain);
    const QByteArray stored = CredentialCipher::encryptValue(plain);
    QVERIFY(!stored.contains(plain.toUtf8()));
    QCOMPARE(CredentialCipher::decryptValue(QString::fromLatin1(stored)), plain);
    // Upper-case digits and separators written by hand still read back.
    QCOMPARE(CredentialCipher::decryptValue(QString::fromLatin1(stored.toUpper())), plain);
    // Characters beyond ASCII (full-width "A", Arabic-Indic "3") are skipped, never taken for digits.
    QString wide = QString::fromLatin1(stored);
    wide.insert(8, QStringLiteral("\uff21\u0663"));
    QCOMPARE(CredentialCipher::decryptValue(wide), plain);
}

void TestAes::storedIsDeterministicLowerHex()
{
    const QByteArray first = CredentialCipher::encryptValue(QStringLiteral("password1"));
    QCOMPARE(CredentialCipher::encryptValue(QStringLiteral("password1")), first);
    QVERIFY(CredentialCipher::encryptValue(QStringLiteral("password2")) != first);
    QCOMPARE(first, first.toLower());
    QCOMPARE(QByteArray::fromHex(first).toHex(), first);
}

void TestAes::unreadableStoredValues_data()
{
    QTest::addColumn<QString>("stored");

    const QString good = QString::fromLatin1(CredentialCipher::encryptValue(QStringLiteral("abcdefghijklmnopq")));
    QTest::newRow("empty") << QString();
    QTest::newRow("cut to 31 digits") << good.left(31);
    QTest::newRow("cut to 48 digits") << good.left(48);
    QTest::newRow("one byte short") << good.left(62);
    QTest::newRow("not hex") << QStringLiteral("this is not hex at all");
}

void TestAes::unreadableStoredValues()
{
    QFETCH(QString, stored);
    QCOMPARE(CredentialCipher::decryptValue(stored), QString());
}

QTEST_GUILESS_MAIN(TestAes)
#include "tst_aes.moc"
