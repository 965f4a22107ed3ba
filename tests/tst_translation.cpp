// The Simplified Chinese translation as a user under LANG=zh_CN gets it: every entry of the .ts source carries a
// real translation that keeps the message's placeholders, and the compiled files beside the executable, loaded
// the way the client loads them, give those translations.
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <QTranslator>

#include "app/Translations.h"
#include <QXmlStreamReader>
#include <QtTest>

namespace {

struct TsMessage
{
    QString context;
    QString source;
    QString comment;
    QString translation;
    QString type; // "unfinished", "vanished", "obsolete" or empty
    bool numerus = false;
};

QString tsPath()
{
    return QDir::cleanPath(QStringLiteral(HALCYRA_TEST_DATA)
                           + QStringLiteral("/../../resources/translations/HalcyraClient_zh_CN.ts"));
}

QList<TsMessage> readTs(const QString& path, QString* error)
{
    QList<TsMessage> messages;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return messages;
    }
    QXmlStreamReader xml(&file);
    QString context;
    TsMessage current;
    bool inMessage = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            const auto name = xml.name();
            if (name == QLatin1String("name") && !inMessage) {
                context = xml.readElementText();
            } else if (name == QLatin1String("message")) {
                current = TsMessage();
                current.context = context;
                current.numerus = xml.attributes().value(QLatin1String("numerus")) == QLatin1String("yes");
                inMessage = true;
            } else if (inMessage && name == QLatin1String("source")) {
                current.source = xml.readElementText();
            } else if (inMessage && name == QLatin1String("comment")) {
                current.comment = xml.readElementText();
            } else if (inMessage && name == QLatin1String("translation")) {
                current.type = xml.attributes().value(QLatin1String("type")).toString();
                if (!current.numerus) {
                    current.translation = xml.readElementText();
                }
            } else if (inMessage && name == QLatin1String("numerusform") && current.translation.isEmpty()) {
                current.translation = xml.readElementText();
            }
        } else if (xml.isEndElement() && xml.name() == QLatin1String("message")) {
            messages.append(current);
            inMessage = false;
        }
    }
    if (xml.hasError()) {
        *error = xml.errorString();
    }
    return messages;
}

// The distinct placeholders of a text, sorted: a translation must fill in the same arguments.
QStringList placeholders(const QString& text)
{
    static const QRegularExpression re(QStringLiteral("%L?\\d+|%n"));
    QStringList found;
    auto it = re.globalMatch(text);
    while (it.hasNext()) {
        found.append(it.next().captured());
    }
    found.removeDuplicates();
    found.sort();
    return found;
}

bool hasHan(const QString& text)
{
    for (const QChar c : text) {
        if (c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF) {
            return true;
        }
    }
    return false;
}

bool hasLatinLetter(const QString& text)
{
    static const QRegularExpression re(QStringLiteral("[A-Za-z]{2,}"));
    return re.match(text).hasMatch();
}

} // namespace

class TestTranslation : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void entry_data();
    void entry();
    void clientFileFollowsLocaleName_data();
    void clientFileFollowsLocaleName();
    void widgetTexts_data();
    void widgetTexts();
    void qtTextsFollowTheClientsLanguage_data();
    void qtTextsFollowTheClientsLanguage();

private:
    QList<TsMessage> m_messages;
    QTranslator m_client;
};

void TestTranslation::initTestCase()
{
    QString error;
    m_messages = readTs(tsPath(), &error);
    QVERIFY2(error.isEmpty(), qPrintable(tsPath() + QStringLiteral(": ") + error));
    QVERIFY2(!m_messages.isEmpty(), "the translation source holds no texts");
    // Loaded exactly as the client does at start: base name plus the locale's name, from the executable's directory.
    const QString name = QStringLiteral("HalcyraClient_") + QLocale(QLocale::Chinese, QLocale::China).name();
    QVERIFY2(m_client.load(name, QStringLiteral(HALCYRA_BIN_DIR)), "HalcyraClient_zh_CN.qm missing beside the client");
}

void TestTranslation::entry_data()
{
    QTest::addColumn<int>("index");
    for (int i = 0; i < m_messages.size(); ++i) {
        const TsMessage& m = m_messages.at(i);
        QTest::newRow(qPrintable(m.context + QStringLiteral(": ") + m.source.left(60))) << i;
    }
}

void TestTranslation::entry()
{
    QFETCH(int, index);
    const TsMessage& m = m_messages.at(index);

    QVERIFY2(m.type.isEmpty(), qPrintable(QStringLiteral("translation marked ") + m.type));
    QVERIFY2(!m.translation.trimmed().isEmpty(), "no translation");
    QCOMPARE(placeholders(m.translation), placeholders(m.source));
    if (hasLatinLetter(m.source)) {
        QVERIFY2(hasHan(m.translation), qPrintable(QStringLiteral("not Chinese: ") + m.translation));
    }

    const QByteArray context = m.context.toUtf8();
    const QByteArray source = m.source.toUtf8();
    const QByteArray comment = m.comment.toUtf8();
    const QString compiled = m_client.translate(context.constData(), source.constData(),
                                                comment.isEmpty() ? nullptr : comment.constData(), m.numerus ? 1 : -1);
    QCOMPARE(compiled, m.translation);
}

void TestTranslation::clientFileFollowsLocaleName_data()
{
    QTest::addColumn<QString>("localeName");
    QTest::addColumn<bool>("found");
    QTest::newRow("zh_CN") << QStringLiteral("zh_CN") << true;
    // Other locales keep the English texts: no file for them.
    QTest::newRow("en_US") << QStringLiteral("en_US") << false;
    QTest::newRow("de_DE") << QStringLiteral("de_DE") << false;
}

void TestTranslation::clientFileFollowsLocaleName()
{
    QFETCH(QString, localeName);
    QFETCH(bool, found);
    QTranslator translator;
    QCOMPARE(
        translator.load(QStringLiteral("HalcyraClient_") + QLocale(localeName).name(), QStringLiteral(HALCYRA_BIN_DIR)),
        found);
}

void TestTranslation::widgetTexts_data()
{
    QTest::addColumn<QString>("context");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("expected");
    // Standard buttons of message boxes and the file dialog's buttons (scan-job and update downloads).
    QTest::newRow("OK") << QStringLiteral("QPlatformTheme") << QStringLiteral("OK") << QStringLiteral("确定");
    QTest::newRow("Cancel") << QStringLiteral("QPlatformTheme") << QStringLiteral("Cancel") << QStringLiteral("取消");
    QTest::newRow("Save") << QStringLiteral("QPlatformTheme") << QStringLiteral("Save") << QStringLiteral("保存");
    QTest::newRow("file dialog") << QStringLiteral("QFileDialog") << QStringLiteral("&Save")
                                 << QStringLiteral("保存(&S)");
}

void TestTranslation::widgetTexts()
{
    QFETCH(QString, context);
    QFETCH(QString, source);
    QFETCH(QString, expected);
    QTranslator widgets;
    QVERIFY2(widgets.load(QStringLiteral("widgets.qm"), QStringLiteral(HALCYRA_BIN_DIR)),
             "widgets.qm missing beside the client");
    QCOMPARE(widgets.translate(context.toLatin1().constData(), source.toUtf8().constData()), expected);
}

void TestTranslation::qtTextsFollowTheClientsLanguage_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("save");
    QTest::newRow("Chinese desktop") << QStringLiteral("zh_CN") << QStringLiteral("保存(&S)");
    QTest::newRow("English desktop") << QStringLiteral("en_US") << QStringLiteral("&Save");
    QTest::newRow("German desktop") << QStringLiteral("de_DE") << QStringLiteral("&Save");
}

void TestTranslation::qtTextsFollowTheClientsLanguage()
{
    QFETCH(QString, locale);
    QFETCH(QString, save);
    QTranslator widgets;
    QTranslator client;
    const InstalledTranslations installed
        = installTranslations(widgets, client, QStringLiteral(HALCYRA_BIN_DIR), locale);
    QCOMPARE(installed.client, installed.widgets);
    QCOMPARE(QCoreApplication::translate("QFileDialog", "&Save"), save);
    QCoreApplication::removeTranslator(&client);
    QCoreApplication::removeTranslator(&widgets);
}

QTEST_GUILESS_MAIN(TestTranslation)
#include "tst_translation.moc"
