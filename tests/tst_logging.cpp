#include "app/Logging.h"

#include <QDate>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

// The log as a user or support engineer reads it: "hyc.log" with one backup at 64 KiB, no TRACE in the
// file, Qt's own messages with the same layout, and the start and stop banners.
class TestLogging : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void rotatesAt64KiBWithOneBackup();
    void appendsToExistingFile();
    void levelsInFileAndConsole_data();
    void levelsInFileAndConsole();
    void qtMessagesUseLayout_data();
    void qtMessagesUseLayout();
    void bannersAndShutdown();
    void credentialsAreMasked_data();
    void credentialsAreMasked();

private:
    QString logFile() const { return m_dir->path() + QStringLiteral("/logs/hyc.log"); }
    QStringList fileLines(const QString& path) const;
    // Message texts of the file's lines, without the layout.
    QStringList fileMessages() const;

    std::unique_ptr<QTemporaryDir> m_dir;
    bool m_shutDown = false;
};

static Logger* logger = Logging::rootLogger();

QStringList TestLogging::fileLines(const QString& path) const
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return QStringList();
    }
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList TestLogging::fileMessages() const
{
    QStringList messages;
    for (const QString& line : fileLines(logFile())) {
        const int at = line.indexOf(QLatin1String(" root - "));
        messages << (at < 0 ? line : line.mid(at + 8));
    }
    return messages;
}

void TestLogging::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
    m_shutDown = false;
    // The directory does not exist yet: setting up creates it with its parents.
    Logging::setupRootLogger(m_dir->path() + QStringLiteral("/logs"));
}

void TestLogging::cleanup()
{
    if (!m_shutDown) {
        Logging::shutdownRootLogger();
    }
    m_dir.reset();
}

void TestLogging::rotatesAt64KiBWithOneBackup()
{
    // About 150 KiB in numbered lines: two rotations.
    const int count = 1500;
    for (int i = 0; i < count; ++i) {
        logger->info(QStringLiteral("line %1 ").arg(i, 5, 10, QLatin1Char('0')) + QString(50, QLatin1Char('x')));
    }
    const QString backup = logFile() + QStringLiteral(".1");
    QVERIFY(QFile::exists(backup));
    QVERIFY(!QFile::exists(logFile() + QStringLiteral(".2")));
    const qint64 backupSize = QFileInfo(backup).size();
    QVERIFY2(backupSize <= 65536 && backupSize > 65536 - 200, QByteArray::number(backupSize).constData());
    QVERIFY(QFileInfo(logFile()).size() <= 65536);

    // Backup then current file hold one unbroken run of the newest lines; the oldest are gone.
    const QStringList lines = fileLines(backup) + fileLines(logFile());
    const QRegularExpression number(QStringLiteral(" - line (\\d{5}) "));
    int expected = -1;
    for (const QString& line : lines) {
        const QRegularExpressionMatch match = number.match(line);
        QVERIFY2(match.hasMatch(), qPrintable(line));
        const int n = match.captured(1).toInt();
        if (expected >= 0) {
            QCOMPARE(n, expected);
        }
        expected = n + 1;
    }
    QCOMPARE(expected, count);
    QVERIFY(!lines.first().contains(QStringLiteral("line 00000 ")));
}

void TestLogging::appendsToExistingFile()
{
    Logging::shutdownRootLogger();
    QFile file(logFile());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("earlier run\n");
    file.close();

    Logging::setupRootLogger(m_dir->path() + QStringLiteral("/logs"));
    logger->info(QStringLiteral("this run"));
    const QStringList lines = fileLines(logFile());
    QCOMPARE(lines.first(), QStringLiteral("earlier run"));
    QVERIFY(lines.last().endsWith(QStringLiteral(" root - this run")));
}

void TestLogging::levelsInFileAndConsole_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("inFile");

    QTest::newRow("trace") << int(Logger::Level::Trace) << "TRACE" << false;
    QTest::newRow("debug") << int(Logger::Level::Debug) << "DEBUG" << true;
    QTest::newRow("info") << int(Logger::Level::Info) << "INFO" << true;
    QTest::newRow("warn") << int(Logger::Level::Warn) << "WARN" << true;
    QTest::newRow("error") << int(Logger::Level::Error) << "ERROR" << true;
    QTest::newRow("fatal") << int(Logger::Level::Fatal) << "FATAL" << true;
}

void TestLogging::levelsInFileAndConsole()
{
    QFETCH(int, level);
    QFETCH(QString, name);
    QFETCH(bool, inFile);

    QTemporaryFile console;
    QVERIFY(console.open());
    std::fflush(stdout);
    const int savedStdout = ::dup(STDOUT_FILENO);
    ::dup2(console.handle(), STDOUT_FILENO);
    logger->log(static_cast<Logger::Level>(level), QStringLiteral("level check"));
    std::fflush(stdout);
    ::dup2(savedStdout, STDOUT_FILENO);
    ::close(savedStdout);

    const QString suffix = QStringLiteral("] ") + name + QStringLiteral(" root - level check");
    console.seek(0);
    const QString consoleText = QString::fromUtf8(console.readAll());
    QVERIFY2(consoleText.contains(suffix), qPrintable(consoleText));
    bool found = false;
    for (const QString& line : fileLines(logFile())) {
        found = found || line.endsWith(suffix);
    }
    QCOMPARE(found, inFile);
}

void TestLogging::qtMessagesUseLayout_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("name");

    QTest::newRow("debug") << int(QtDebugMsg) << "DEBUG";
    QTest::newRow("info") << int(QtInfoMsg) << "INFO";
    QTest::newRow("warning") << int(QtWarningMsg) << "WARN";
    QTest::newRow("critical") << int(QtCriticalMsg) << "ERROR";
}

void TestLogging::qtMessagesUseLayout()
{
    QFETCH(int, type);
    QFETCH(QString, name);

    const QString before = QDate::currentDate().toString(QStringLiteral("dd.MM.yyyy"));
    switch (type) {
    case QtDebugMsg:
        qDebug() << "width" << 3840 << " height" << 2160;
        break;
    case QtInfoMsg:
        qInfo() << "width" << 3840 << " height" << 2160;
        break;
    case QtWarningMsg:
        qWarning() << "width" << 3840 << " height" << 2160;
        break;
    default:
        qCritical() << "width" << 3840 << " height" << 2160;
        break;
    }
    const QString after = QDate::currentDate().toString(QStringLiteral("dd.MM.yyyy"));

    // Read at once: every line is on disk as soon as it is logged.
    const QStringList lines = fileLines(logFile());
    QVERIFY(!lines.isEmpty());
    const QRegularExpression layout(
        QStringLiteral("^(\\d\\d\\.\\d\\d\\.\\d{4}) \\d\\d:\\d\\d:\\d\\d\\.\\d{3} \\[[^\\]]+\\] ") + name
        + QStringLiteral(" root - width 3840  height 2160$"));
    const QRegularExpressionMatch match = layout.match(lines.last());
    QVERIFY2(match.hasMatch(), qPrintable(lines.last()));
    QVERIFY(match.captured(1) == before || match.captured(1) == after);
}

void TestLogging::bannersAndShutdown()
{
    Logging::logStartup();
    logger->info(QStringLiteral("working"));
    Logging::logShutdown();
    Logging::shutdownRootLogger();
    m_shutDown = true;
    // After the shutdown nothing reaches the file, Qt's messages included.
    logger->info(QStringLiteral("after shutdown"));
    qDebug() << "qt after shutdown";

    const QString rule(64, QLatin1Char('#'));
    const QStringList expected = {
        rule, QStringLiteral("#                          START                               #"),
        rule, QStringLiteral("working"),
        rule, QStringLiteral("#                          STOP                                #"),
        rule, QStringLiteral("Root logger was shutdown."),
    };
    QCOMPARE(fileMessages(), expected);
    for (const QString& line : expected) {
        QCOMPARE(line.size() == 64, line.startsWith(QLatin1Char('#')));
    }
}

void TestLogging::credentialsAreMasked_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("written");

    QTest::newRow("query, Base64 percent-encoded")
        << "###### http://h/Orvinaweb/BAS_ClientLoginNew/?Password=c2VjcmV0%3D&ClientVersion=L1&UserAccount=YWxpY2U%3D"
        << "###### http://h/Orvinaweb/BAS_ClientLoginNew/?Password=******&ClientVersion=L1&UserAccount=YWxpY2U%3D";
    QTest::newRow("form body, last field") << "body UserAccount=alice&password=736563726574"
                                           << "body UserAccount=alice&password=******";
    QTest::newRow("INI line, stored hex") << "Password=@ByteArray(0a1b2c3d) read"
                                          << "Password=****** read";
    QTest::newRow("JSON text and number") << R"({"account":"alice","password":"se\"cret","UserPwd":1234})"
                                          << R"({"account":"alice","password":"******","UserPwd":"******"})";
    QTest::newRow("other fields untouched") << "Passwordless printing: UserAccount=bob&Type=0"
                                            << "Passwordless printing: UserAccount=bob&Type=0";
}

void TestLogging::credentialsAreMasked()
{
    QFETCH(QString, message);
    QFETCH(QString, written);
    logger->error(message);
    QCOMPARE(fileMessages().constLast(), written);
}

QTEST_GUILESS_MAIN(TestLogging)
#include "tst_logging.moc"
