#include "TestHome.h"
#include "store/MessageStore.h"

#include <QFile>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QtTest>

#include <sys/stat.h>

static int modeOf(const QString& path)
{
    struct stat info;
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}

class TestMessageStore : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void createsDatabaseInDataDir();
    void existingDatabaseKeepsRows();
    void fileWithoutTableIsCompleted();
    void capDropsOldestOfThatAccountOnly_data();
    void capDropsOldestOfThatAccountOnly();
    void accountsDifferingInCaseShareRows();
    void textsAreStoredIntact_data();
    void textsAreStoredIntact();
    void dateTextAndOrder();
    void deleteSelectedAndClear();

private:
    QScopedPointer<TestHome> m_home;
    QScopedPointer<MessageStore> m_store;
};

void TestMessageStore::init()
{
    m_home.reset(new TestHome());
    QVERIFY(m_home->isValid());
    m_store.reset(new MessageStore(QStringLiteral("tst")));
    QVERIFY(m_store->checkDb());
    m_store->setServerUrl(QStringLiteral("http://127.0.0.1:1"));
}

void TestMessageStore::cleanup()
{
    m_store.reset();
    m_home.reset();
}

void TestMessageStore::createsDatabaseInDataDir()
{
    const QString path = m_home->dataPath() + QStringLiteral("/halcyraclient.db");
    QCOMPARE(MessageStore::databasePath(), path);
    QVERIFY(QFile::exists(path));
    QVERIFY(m_store->database().tables().contains(QStringLiteral("Message")));
    QVERIFY(m_store->insertMsgToDb(QStringLiteral("alice"), QString(), QStringLiteral("hello"), QString()) > 0);

    QSqlQuery q(m_store->database());
    QVERIFY(q.exec(QStringLiteral("SELECT usrAccount, ksServerUrl, message FROM Message")));
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toString(), QStringLiteral("alice"));
    QCOMPARE(q.value(1).toString(), QStringLiteral("http://127.0.0.1:1"));
    QCOMPARE(q.value(2).toString(), QStringLiteral("hello"));
    // The user's alone, with the write-ahead files beside it.
    for (const QString& suffix : { QString(), QStringLiteral("-wal"), QStringLiteral("-shm") }) {
        QCOMPARE(modeOf(path + suffix), 0600);
    }
}

void TestMessageStore::existingDatabaseKeepsRows()
{
    m_store->insertMsgToDb(QStringLiteral("alice"), QString(), QStringLiteral("kept"), QString());
    m_store.reset();
    // Files an earlier client left readable by others are made private when opened.
    const QString path = MessageStore::databasePath();
    for (const QString& suffix : { QString(), QStringLiteral("-wal"), QStringLiteral("-shm") }) {
        if (QFile::exists(path + suffix)) {
            QCOMPARE(::chmod(QFile::encodeName(path + suffix).constData(), 0644), 0);
        }
    }
    m_store.reset(new MessageStore(QStringLiteral("tst2")));
    QVERIFY(m_store->checkDb());
    for (const QString& suffix : { QString(), QStringLiteral("-wal"), QStringLiteral("-shm") }) {
        if (QFile::exists(path + suffix)) {
            QCOMPARE(modeOf(path + suffix), 0600);
        }
    }
    const QList<StoredMessage> rows = m_store->loadMessages(QStringLiteral("alice"));
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.first().message, QStringLiteral("kept"));
}

void TestMessageStore::fileWithoutTableIsCompleted()
{
    m_store.reset();
    QFile::remove(MessageStore::databasePath());
    QFile empty(MessageStore::databasePath());
    QVERIFY(empty.open(QIODevice::WriteOnly));
    empty.close();

    m_store.reset(new MessageStore(QStringLiteral("tst3")));
    QVERIFY(m_store->checkDb());
    QVERIFY(m_store->insertMsgToDb(QStringLiteral("alice"), QString(), QStringLiteral("m"), QString()) > 0);
    QCOMPARE(m_store->countMessages(QStringLiteral("alice")), 1);
}

void TestMessageStore::capDropsOldestOfThatAccountOnly_data()
{
    QTest::addColumn<int>("configured");
    QTest::addColumn<int>("cap");
    QTest::newRow("50") << 50 << 50;
    QTest::newRow("0 means 50") << 0 << 50;
    QTest::newRow("-3 means 50") << -3 << 50;
    QTest::newRow("5") << 5 << 5;
}

void TestMessageStore::capDropsOldestOfThatAccountOnly()
{
    QFETCH(int, configured);
    QFETCH(int, cap);
    m_store->setMaxPerAccount(configured);

    const QString alice = QStringLiteral("alice");
    const QString bob = QStringLiteral("bob");
    // Bob's rows are the oldest in the table: a cap on the wrong account would take them first.
    for (int i = 0; i < 3; ++i) {
        m_store->insertMsgToDb(bob, QString(), QStringLiteral("bob %1").arg(i), QStringLiteral("2020-01-01 00:00:00"));
    }
    for (int i = 0; i < cap + 1; ++i) {
        m_store->insertMsgToDb(alice, QString(), QStringLiteral("alice %1").arg(i), QString());
    }

    const QList<StoredMessage> rows = m_store->loadMessages(alice);
    QCOMPARE(rows.size(), cap);
    QStringList texts;
    for (const StoredMessage& row : rows) {
        texts << row.message;
    }
    QVERIFY(!texts.contains(QStringLiteral("alice 0")));
    QVERIFY(texts.contains(QStringLiteral("alice 1")));
    QVERIFY(texts.contains(QStringLiteral("alice %1").arg(cap)));
    QCOMPARE(m_store->countMessages(bob), 3);
}

void TestMessageStore::accountsDifferingInCaseShareRows()
{
    m_store->setMaxPerAccount(2);
    m_store->insertMsgToDb(QStringLiteral("Alice"), QString(), QStringLiteral("one"), QString());
    m_store->insertMsgToDb(QStringLiteral("ALICE"), QString(), QStringLiteral("two"), QString());
    m_store->insertMsgToDb(QStringLiteral("alice"), QString(), QStringLiteral("three"), QString());

    const QList<StoredMessage> rows = m_store->loadMessages(QStringLiteral("aLiCe"));
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows.at(0).message, QStringLiteral("three"));
    QCOMPARE(rows.at(1).message, QStringLiteral("two"));
}

void TestMessageStore::textsAreStoredIntact_data()
{
    QTest::addColumn<QString>("account");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("date");
    QTest::newRow("single quote") << "alice"
                                  << "job [O'Brien's report] submiited to KS"
                                  << "";
    QTest::newRow("statement text") << "alice"
                                    << "x'); DELETE FROM Message; --"
                                    << "";
    QTest::newRow("quote in account") << "o'neil"
                                      << "m"
                                      << "";
    QTest::newRow("quote in date") << "alice"
                                   << "m"
                                   << "2024-01-01 10:00:00'";
    QTest::newRow("non-ASCII") << "%E5%BC%A0" << QString::fromUtf8("打印 [café] %1 %%") << "";
}

void TestMessageStore::textsAreStoredIntact()
{
    QFETCH(QString, account);
    QFETCH(QString, text);
    QFETCH(QString, date);
    m_store->insertMsgToDb(QStringLiteral("other"), QString(), QStringLiteral("untouched"), QString());

    QVERIFY(m_store->insertMsgToDb(account, QStringLiteral("title"), text, date) > 0);
    const QList<StoredMessage> rows = m_store->loadMessages(account);
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.first().message, text);
    if (!date.isEmpty()) {
        QCOMPARE(rows.first().msgDate, date);
    }
    QCOMPARE(m_store->countMessages(QStringLiteral("other")), 1);
}

void TestMessageStore::dateTextAndOrder()
{
    const QString a = QStringLiteral("alice");
    m_store->insertMsgToDb(a, QString(), QStringLiteral("now"), QString());
    m_store->insertMsgToDb(a, QString(), QStringLiteral("future"), QStringLiteral("2999-01-01 00:00:00"));
    m_store->insertMsgToDb(a, QString(), QStringLiteral("past"), QStringLiteral("2000-01-01 00:00:00"));

    const QList<StoredMessage> rows = m_store->loadMessages(a);
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows.at(0).message, QStringLiteral("future"));
    QCOMPARE(rows.at(1).message, QStringLiteral("now"));
    QCOMPARE(rows.at(2).message, QStringLiteral("past"));
    QVERIFY(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$"))
                .match(rows.at(1).msgDate)
                .hasMatch());
}

void TestMessageStore::deleteSelectedAndClear()
{
    QList<qint64> ids;
    for (int i = 0; i < 4; ++i) {
        ids << m_store->insertMsgToDb(QStringLiteral("alice"), QString(), QStringLiteral("m%1").arg(i), QString());
    }
    m_store->insertMsgToDb(QStringLiteral("bob"), QString(), QStringLiteral("b"), QString());

    QString statement;
    QVERIFY(m_store->deleteMessages({ ids.at(0), ids.at(2), ids.at(3) }, &statement));
    QCOMPARE(
        statement,
        QStringLiteral("DELETE FROM Message WHERE msgId IN(%1,%2,%3);").arg(ids.at(0)).arg(ids.at(2)).arg(ids.at(3)));
    const QList<StoredMessage> rows = m_store->loadMessages(QStringLiteral("alice"));
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.first().message, QStringLiteral("m1"));

    QVERIFY(m_store->clearAll());
    QCOMPARE(m_store->countMessages(QStringLiteral("alice")), 0);
    QCOMPARE(m_store->countMessages(QStringLiteral("bob")), 0);
}

QTEST_GUILESS_MAIN(TestMessageStore)
#include "tst_messagestore.moc"
