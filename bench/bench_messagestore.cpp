// bench_messagestore DIR [INSERTS [ACCOUNTS [CAP]]]
// Inserts messages round-robin across the accounts through MessageStore (cap per account), and loads one
// account's rows every 100 insertions. The reference does the same statements straight through SQLite's C
// interface on a second database file in the same directory, interleaved with the store so both meet the
// same disk. Prints one JSON object with the medians in microseconds.
#include "store/MessageStore.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlQuery>
#include <QVariant>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

const char* const kCreateTable = "CREATE TABLE Message(                    msgId integer PRIMARY KEY,"
                                 "                    usrAccount TEXT COLLATE NOCASE,"
                                 "                    ksServerUrl TEXT,"
                                 "                    msgDate TEXT ,"
                                 "                    message TEXT )";
const char* const kCreateIndex = "CREATE INDEX idx_account ON Message (usrAccount COLLATE NOCASE)";

double medianUs(std::vector<qint64> ns, size_t from = 0, size_t to = size_t(-1))
{
    to = std::min(to, ns.size());
    if (from >= to) {
        return 0;
    }
    std::vector<qint64> part(ns.begin() + long(from), ns.begin() + long(to));
    std::nth_element(part.begin(), part.begin() + long(part.size() / 2), part.end());
    return double(part[part.size() / 2]) / 1000.0;
}

// The store's statements, prepared once, on a plain SQLite handle.
class ReferenceStore
{
public:
    // journalSettings: the store's own PRAGMA statements, so both sides wait for the same disk syncs.
    bool open(const QString& path, int cap, const QByteArray& journalSettings)
    {
        m_cap = cap;
        if (sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                            nullptr)
            != SQLITE_OK) {
            return false;
        }
        return sqlite3_exec(m_db, journalSettings.constData(), nullptr, nullptr, nullptr) == SQLITE_OK
            && sqlite3_exec(m_db, kCreateTable, nullptr, nullptr, nullptr) == SQLITE_OK
            && sqlite3_exec(m_db, kCreateIndex, nullptr, nullptr, nullptr) == SQLITE_OK && prepare("BEGIN", &m_begin)
            && prepare("COMMIT", &m_commit) && prepare("SELECT COUNT (*) FROM Message where usrAccount = ?", &m_count)
            && prepare("SELECT MIN (msgId) FROM Message where usrAccount = ?", &m_min)
            && prepare("DELETE FROM Message where msgId = ?", &m_delete)
            && prepare("insert into Message(msgDate,message, usrAccount,ksServerUrl) values(?,?,?,?)", &m_insert)
            && prepare("SELECT msgId, msgDate, message FROM Message WHERE usrAccount = ? "
                       "ORDER by msgDate DESC, msgId DESC;",
                       &m_load);
    }

    ~ReferenceStore()
    {
        for (sqlite3_stmt* s : { m_begin, m_commit, m_count, m_min, m_delete, m_insert, m_load }) {
            sqlite3_finalize(s);
        }
        sqlite3_close(m_db);
    }

    // One transaction: the cap's deletion and the insertion commit together.
    qint64 insert(const QString& account, const QString& message, const QString& serverUrl)
    {
        sqlite3_step(m_begin);
        sqlite3_reset(m_begin);
        const QByteArray acc = account.toUtf8();
        bindText(m_count, 1, acc);
        int count = 0;
        if (sqlite3_step(m_count) == SQLITE_ROW) {
            count = sqlite3_column_int(m_count, 0);
        }
        sqlite3_reset(m_count);
        if (count >= m_cap) {
            bindText(m_min, 1, acc);
            if (sqlite3_step(m_min) == SQLITE_ROW && sqlite3_column_type(m_min, 0) != SQLITE_NULL) {
                sqlite3_bind_int64(m_delete, 1, sqlite3_column_int64(m_min, 0));
                sqlite3_step(m_delete);
                sqlite3_reset(m_delete);
            }
            sqlite3_reset(m_min);
        }
        const QByteArray date = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")).toUtf8();
        const QByteArray msg = message.toUtf8();
        const QByteArray url = serverUrl.toUtf8();
        bindText(m_insert, 1, date);
        bindText(m_insert, 2, msg);
        bindText(m_insert, 3, acc);
        bindText(m_insert, 4, url);
        const bool ok = sqlite3_step(m_insert) == SQLITE_DONE;
        sqlite3_reset(m_insert);
        const qint64 id = sqlite3_last_insert_rowid(m_db);
        const bool committed = sqlite3_step(m_commit) == SQLITE_DONE;
        sqlite3_reset(m_commit);
        return ok && committed ? id : -1;
    }

    QList<StoredMessage> load(const QString& account)
    {
        QList<StoredMessage> rows;
        const QByteArray acc = account.toUtf8();
        bindText(m_load, 1, acc);
        while (sqlite3_step(m_load) == SQLITE_ROW) {
            StoredMessage row;
            row.msgId = sqlite3_column_int64(m_load, 0);
            row.msgDate = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(m_load, 1)));
            row.message = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(m_load, 2)));
            rows.append(row);
        }
        sqlite3_reset(m_load);
        return rows;
    }

private:
    bool prepare(const char* sql, sqlite3_stmt** stmt)
    {
        return sqlite3_prepare_v2(m_db, sql, -1, stmt, nullptr) == SQLITE_OK;
    }
    static void bindText(sqlite3_stmt* stmt, int index, const QByteArray& value)
    {
        sqlite3_bind_text(stmt, index, value.constData(), value.size(), SQLITE_TRANSIENT);
    }

    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_begin = nullptr;
    sqlite3_stmt* m_commit = nullptr;
    sqlite3_stmt* m_count = nullptr;
    sqlite3_stmt* m_min = nullptr;
    sqlite3_stmt* m_delete = nullptr;
    sqlite3_stmt* m_insert = nullptr;
    sqlite3_stmt* m_load = nullptr;
    int m_cap = MessageStore::kDefaultCap;
};

void removeDatabase(const QString& path)
{
    for (const char* suffix : { "", "-journal", "-wal", "-shm" }) {
        QFile::remove(path + QLatin1String(suffix));
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: bench_messagestore DIR [INSERTS [ACCOUNTS [CAP]]]\n");
        return 2;
    }
    const QString dir = args.at(1);
    const int inserts = args.value(2, QStringLiteral("10000")).toInt();
    const int accounts = args.value(3, QStringLiteral("100")).toInt();
    const int cap = args.value(4, QStringLiteral("50")).toInt();
    const int loadEvery = 100;
    QDir().mkpath(dir);
    const QString storePath = dir + QStringLiteral("/halcyraclient.db");
    const QString referencePath = dir + QStringLiteral("/reference.db");
    removeDatabase(storePath);
    removeDatabase(referencePath);

    const QString serverUrl = QStringLiteral("http://127.0.0.1:8080");
    MessageStore store;
    if (!store.checkDb(storePath)) {
        std::fprintf(stderr, "bench_messagestore: cannot open %s\n", qPrintable(storePath));
        return 1;
    }
    store.setMaxPerAccount(cap);
    store.setServerUrl(serverUrl);
    QSqlQuery pragma(store.database());
    const QString journalMode
        = pragma.exec(QStringLiteral("PRAGMA journal_mode")) && pragma.next() ? pragma.value(0).toString() : QString();
    const int synchronous
        = pragma.exec(QStringLiteral("PRAGMA synchronous")) && pragma.next() ? pragma.value(0).toInt() : 2;
    pragma.finish();
    const QByteArray journalSettings
        = QStringLiteral("PRAGMA journal_mode=%1; PRAGMA synchronous=%2;").arg(journalMode).arg(synchronous).toUtf8();
    ReferenceStore reference;
    if (!reference.open(referencePath, cap, journalSettings)) {
        std::fprintf(stderr, "bench_messagestore: cannot open %s\n", qPrintable(referencePath));
        return 1;
    }

    std::vector<qint64> insertNs, referenceInsertNs, loadNs, referenceLoadNs;
    insertNs.reserve(size_t(inserts));
    referenceInsertNs.reserve(size_t(inserts));
    int loadedRows = 0;
    int referenceLoadedRows = 0;
    bool idsOk = true;
    QElapsedTimer timer;
    for (int i = 0; i < inserts; ++i) {
        const QString account = QStringLiteral("user%1%40example.org").arg(i % accounts);
        const QString message = QStringLiteral("job [quarterly-report-%1.pdf] submiited to KS").arg(i);
        // Alternate which side goes first so neither always meets a freshly synced disk.
        for (int side = 0; side < 2; ++side) {
            const bool ours = (side == 0) == (i % 2 == 0);
            timer.start();
            const qint64 id = ours ? store.insertMsgToDb(account, QStringLiteral("title"), message, QString())
                                   : reference.insert(account, message, serverUrl);
            (ours ? insertNs : referenceInsertNs).push_back(timer.nsecsElapsed());
            idsOk = idsOk && id > 0;
        }
        if ((i + 1) % loadEvery == 0) {
            const QString shown = QStringLiteral("user%1%40example.org").arg((i / loadEvery) % accounts);
            for (int side = 0; side < 2; ++side) {
                const bool ours = (side == 0) == ((i / loadEvery) % 2 == 0);
                timer.start();
                const int rows = ours ? store.loadMessages(shown).size() : reference.load(shown).size();
                (ours ? loadNs : referenceLoadNs).push_back(timer.nsecsElapsed());
                (ours ? loadedRows : referenceLoadedRows) = rows;
            }
        }
    }

    // The cap must hold: every account ends with exactly min(cap, its insertions) rows.
    bool capOk = idsOk && loadedRows == referenceLoadedRows;
    for (int a = 0; a < accounts && capOk; ++a) {
        const int expected = std::min(cap, inserts / accounts + (a < inserts % accounts ? 1 : 0));
        capOk = store.countMessages(QStringLiteral("user%1%40example.org").arg(a)) == expected;
    }

    const size_t tenth = insertNs.size() / 10;
    const size_t loadTenth = std::max<size_t>(1, loadNs.size() / 10);
    QJsonObject out;
    out.insert(QStringLiteral("inserts"), inserts);
    out.insert(QStringLiteral("accounts"), accounts);
    out.insert(QStringLiteral("cap"), cap);
    out.insert(QStringLiteral("insert_us"), medianUs(insertNs));
    out.insert(QStringLiteral("insert_ref_us"), medianUs(referenceInsertNs));
    out.insert(QStringLiteral("insert_first_us"), medianUs(insertNs, 0, tenth));
    out.insert(QStringLiteral("insert_last_us"), medianUs(insertNs, insertNs.size() - tenth));
    out.insert(QStringLiteral("insert_ref_first_us"), medianUs(referenceInsertNs, 0, tenth));
    out.insert(QStringLiteral("insert_ref_last_us"), medianUs(referenceInsertNs, referenceInsertNs.size() - tenth));
    out.insert(QStringLiteral("load_us"), medianUs(loadNs));
    out.insert(QStringLiteral("load_ref_us"), medianUs(referenceLoadNs));
    out.insert(QStringLiteral("load_first_us"), medianUs(loadNs, 0, loadTenth));
    out.insert(QStringLiteral("load_last_us"), medianUs(loadNs, loadNs.size() - loadTenth));
    out.insert(QStringLiteral("loaded_rows"), loadedRows);
    out.insert(QStringLiteral("cap_ok"), capOk);
    out.insert(QStringLiteral("journal"), QString::fromUtf8(journalSettings));
    std::printf("%s\n", QJsonDocument(out).toJson(QJsonDocument::Compact).constData());
    return capOk ? 0 : 1;
}
