#pragma once

#include <QList>
#include <QSqlDatabase>
#include <QString>

#include <memory>

struct StoredMessage
{
    qint64 msgId = 0;
    QString msgDate;
    QString message;
};

// The local notification log: "halcyraclient.db" in the data directory, table Message, a per-account cap on
// the number of rows. Every value reaches SQLite as a bound parameter.
class MessageStore
{
public:
    static constexpr int kDefaultCap = 50;

    // The main window uses the application's default connection; tests may use a named one.
    explicit MessageStore(const QString& connectionName = QLatin1String(QSqlDatabase::defaultConnection));
    ~MessageStore();
    MessageStore(const MessageStore&) = delete;
    MessageStore& operator=(const MessageStore&) = delete;

    // <home>/halcyraclient/halcyraclient.db
    static QString databasePath();

    // Opens or creates the database and its table; false when it cannot be opened.
    bool checkDb(const QString& path = databasePath());
    bool isOpen() const;

    // The server URL stored with each new row.
    void setServerUrl(const QString& url) { m_serverUrl = url; }
    // Rows kept per account (Message/UserNameEncrypt); below 1 means the default of 50.
    void setMaxPerAccount(int cap);

    // What an insertion did, for a view that keeps the account's rows without loading them again.
    struct Inserted
    {
        QString date; // the stored date text
        qint64 dropped = 0; // the oldest row dropped for the cap; 0: none
    };
    // Adds one row for the account (the title is not stored; an empty date means now, "yyyy-MM-dd hh:mm:ss"),
    // first dropping the account's oldest row when it already holds the cap. Returns the new row id, or -1.
    int insertMsgToDb(const QString& account, const QString& title, const QString& message, const QString& date,
                      Inserted* inserted = nullptr);

    // The account's rows, newest date first (the account compares without regard to case).
    QList<StoredMessage> loadMessages(const QString& account) const;
    int countMessages(const QString& account) const;
    // Deletes the given rows in one statement; statementForLog receives the statement with the ids filled in.
    bool deleteMessages(const QList<qint64>& ids, QString* statementForLog = nullptr);
    // Deletes every row of every account (clear button, logout, exit).
    bool clearAll();

    QSqlDatabase database() const;

private:
    bool createSchema();
    int insertRow(const QString& account, const QString& message, const QString& date, Inserted* inserted);

    // The insertion's statements, prepared once per opened database: every job's notice goes through them.
    struct Statements;
    Statements& statements() const;

    QString m_connectionName;
    QString m_serverUrl;
    int m_cap = kDefaultCap;
    mutable std::unique_ptr<Statements> m_statements;
};
