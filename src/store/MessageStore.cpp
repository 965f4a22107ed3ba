#include "MessageStore.h"

#include "app/Logging.h"
#include "app/PrivateFiles.h"
#include "app/UserPaths.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

static Logger* logger = Logging::rootLogger();

struct MessageStore::Statements
{
    explicit Statements(const QSqlDatabase& db)
        : count(db)
        , oldest(db)
        , drop(db)
        , insert(db)
    {
        count.prepare(QStringLiteral("SELECT COUNT (*) FROM Message where usrAccount = ?"));
        oldest.prepare(QStringLiteral("SELECT MIN (msgId) FROM Message where usrAccount = ?"));
        drop.prepare(QStringLiteral("DELETE FROM Message where msgId = ?"));
        insert.prepare(QStringLiteral("insert into Message(msgDate,message, usrAccount,ksServerUrl) values(?,?,?,?)"));
    }
    QSqlQuery count;
    QSqlQuery oldest;
    QSqlQuery drop;
    QSqlQuery insert;
};

MessageStore::MessageStore(const QString& connectionName)
    : m_connectionName(connectionName)
{ }

MessageStore::Statements& MessageStore::statements() const
{
    if (!m_statements) {
        m_statements.reset(new Statements(database()));
    }
    return *m_statements;
}

MessageStore::~MessageStore()
{
    m_statements.reset();
    if (QSqlDatabase::contains(m_connectionName)) {
        {
            QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(m_connectionName);
    }
}

QString MessageStore::databasePath()
{
    return UserPaths::dataPath() + QDir::separator() + QStringLiteral("halcyraclient.db");
}

QSqlDatabase MessageStore::database() const
{
    return QSqlDatabase::database(m_connectionName, false);
}

bool MessageStore::isOpen() const
{
    return QSqlDatabase::contains(m_connectionName) && database().isOpen();
}

void MessageStore::setMaxPerAccount(int cap)
{
    m_cap = cap < 1 ? kDefaultCap : cap;
}

bool MessageStore::checkDb(const QString& path)
{
    logger->info(QStringLiteral("halcyraclient.db exists, just open"));
    m_statements.reset();
    QSqlDatabase db = QSqlDatabase::contains(m_connectionName)
        ? QSqlDatabase::database(m_connectionName, false)
        : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
    db.setDatabaseName(path);
    // The user's alone, with the files SQLite adds beside it.
    PrivateFiles::makePrivateDatabase(path);
    if (!db.open()) {
        logger->error(QStringLiteral("open halcyraclient.db error"));
        return false;
    }
    // With the default rollback journal every insertion waits for four disk syncs, tens of milliseconds on
    // a slow disk. A write-ahead log synced only at checkpoints keeps it far below a millisecond; a power cut
    // can at worst lose the latest notices, never corrupt the file.
    QSqlQuery pragma(db);
    pragma.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
    pragma.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
    // A file left without its table (a run that stopped half-way) is completed rather than left useless.
    if (!db.tables().contains(QStringLiteral("Message"))) {
        return createSchema();
    }
    return true;
}

bool MessageStore::createSchema()
{
    QSqlQuery query(database());
    const bool ok = query.exec(QStringLiteral("CREATE TABLE Message(                    msgId integer PRIMARY KEY,"
                                              "                    usrAccount TEXT COLLATE NOCASE,"
                                              "                    ksServerUrl TEXT,"
                                              "                    msgDate TEXT ,"
                                              "                    message TEXT )"))
        && query.exec(QStringLiteral("CREATE INDEX idx_account ON Message (usrAccount COLLATE NOCASE)"));
    if (!ok) {
        logger->error(QStringLiteral("init halcyraclient.db failed: ") + query.lastError().text());
        return false;
    }
    logger->info(QStringLiteral("init halcyraclient.db"));
    return true;
}

int MessageStore::countMessages(const QString& account) const
{
    QSqlQuery& count = statements().count;
    count.addBindValue(account);
    const int rows = count.exec() && count.next() ? count.value(0).toInt() : 0;
    count.finish();
    return rows;
}

int MessageStore::insertMsgToDb(const QString& account, const QString& /*title*/, const QString& message,
                                const QString& date, Inserted* inserted)
{
    // Dropping the oldest row and adding the new one commit together.
    QSqlDatabase db = database();
    const bool inTransaction = db.transaction();
    Inserted done;
    const int id = insertRow(account, message, date, &done);
    if (inserted) {
        *inserted = id > 0 ? done : Inserted();
    }
    if (inTransaction && !(id > 0 ? db.commit() : db.rollback())) {
        logger->error(QStringLiteral("insert into Message failed: ") + db.lastError().text());
        return -1;
    }
    return id;
}

int MessageStore::insertRow(const QString& account, const QString& message, const QString& date, Inserted* inserted)
{
    Statements& st = statements();
    if (countMessages(account) >= m_cap) {
        st.oldest.addBindValue(account);
        if (st.oldest.exec() && st.oldest.next() && !st.oldest.value(0).isNull()) {
            const qint64 oldest = st.oldest.value(0).toLongLong();
            st.oldest.finish();
            st.drop.addBindValue(oldest);
            if (st.drop.exec() && st.drop.numRowsAffected() > 0) {
                inserted->dropped = oldest;
            }
        }
        st.oldest.finish();
    }

    const QString dateText
        = date.isEmpty() ? QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")) : date;
    inserted->date = dateText;
    st.insert.addBindValue(dateText);
    st.insert.addBindValue(message);
    st.insert.addBindValue(account);
    st.insert.addBindValue(m_serverUrl);
    if (!st.insert.exec()) {
        logger->error(QStringLiteral("insert into Message failed: ") + st.insert.lastError().text());
        return -1;
    }
    return st.insert.lastInsertId().toInt();
}

QList<StoredMessage> MessageStore::loadMessages(const QString& account) const
{
    QList<StoredMessage> rows;
    QSqlQuery query(database());
    // Rows with the same date text keep their insertion order, newest first.
    query.prepare(QStringLiteral(
        "SELECT msgId, msgDate, message FROM Message WHERE usrAccount = ? ORDER by msgDate DESC, msgId DESC;"));
    query.addBindValue(account);
    if (!query.exec()) {
        return rows;
    }
    while (query.next()) {
        StoredMessage row;
        row.msgId = query.value(0).toLongLong();
        row.msgDate = query.value(1).toString();
        row.message = query.value(2).toString();
        rows.append(row);
    }
    return rows;
}

bool MessageStore::deleteMessages(const QList<qint64>& ids, QString* statementForLog)
{
    if (ids.isEmpty()) {
        return true;
    }
    QStringList marks;
    QStringList shown;
    for (qint64 id : ids) {
        marks << QStringLiteral("?");
        shown << QString::number(id);
    }
    if (statementForLog) {
        *statementForLog = QStringLiteral("DELETE FROM Message WHERE msgId IN(") + shown.join(QLatin1Char(','))
            + QStringLiteral(");");
    }
    QSqlQuery query(database());
    query.prepare(QStringLiteral("DELETE FROM Message WHERE msgId IN(") + marks.join(QLatin1Char(','))
                  + QStringLiteral(");"));
    for (qint64 id : ids) {
        query.addBindValue(id);
    }
    return query.exec();
}

bool MessageStore::clearAll()
{
    QSqlQuery query(database());
    return query.exec(QStringLiteral("DELETE FROM Message"));
}
