#include "JobJournal.h"

#include "PrintJob.h"
#include "app/Logging.h"
#include "app/PrivateFiles.h"
#include "app/UserPaths.h"

#include <QDir>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

static Logger* logger = Logging::rootLogger();

namespace {
int g_instances = 0;
}

JobJournal::JobJournal(const QString& path)
    : m_connection(QStringLiteral("halcyra_jobjournal_%1").arg(++g_instances))
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    db.setDatabaseName(path);
    // The user's alone, with the files SQLite adds beside it.
    PrivateFiles::makePrivateDatabase(path);
    if (!db.open()) {
        logger->error(QStringLiteral("job journal %1 cannot be opened: %2").arg(path, db.lastError().text()));
        return;
    }
    QSqlQuery pragma(db);
    // A sync costs milliseconds on a busy disk: only the steps a restart acts on ask for one (exec).
    pragma.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
    pragma.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
    m_open = exec(QStringLiteral("CREATE TABLE IF NOT EXISTS jobs (trigger TEXT PRIMARY KEY, data_size INTEGER, "
                                 "data_time INTEGER, first_seen INTEGER, account TEXT, server_job_id TEXT, "
                                 "state INTEGER, confirmed INTEGER, told_kept INTEGER)"),
                  {});
}

JobJournal::~JobJournal()
{
    m_statements.clear();
    {
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_connection);
}

QString JobJournal::defaultPath()
{
    return UserPaths::dataPath() + QDir::separator() + QStringLiteral("jobjournal.db");
}

QSqlQuery* JobJournal::statement(const QString& sql)
{
    auto it = m_statements.find(sql);
    if (it == m_statements.end()) {
        QSqlQuery query(QSqlDatabase::database(m_connection, false));
        if (!query.prepare(sql)) {
            logger->error(QStringLiteral("job journal: %1").arg(query.lastError().text()));
            return nullptr;
        }
        it = m_statements.insert(sql, query);
    }
    return &it.value();
}

bool JobJournal::exec(const QString& sql, const QVariantList& values, Sync sync)
{
    if (sync != m_sync) {
        QSqlQuery* pragma = statement(sync == Sync::Now ? QStringLiteral("PRAGMA synchronous=FULL")
                                                        : QStringLiteral("PRAGMA synchronous=NORMAL"));
        if (!pragma) {
            return false;
        }
        const bool done = pragma->exec();
        pragma->finish();
        if (!done) {
            logger->error(QStringLiteral("job journal: %1").arg(pragma->lastError().text()));
            return false;
        }
        m_sync = sync;
    }
    QSqlQuery* query = statement(sql);
    if (!query) {
        return false;
    }
    for (int i = 0; i < values.size(); ++i) {
        query->bindValue(i, values.at(i));
    }
    const bool done = query->exec();
    query->finish();
    if (!done) {
        logger->error(QStringLiteral("job journal: %1").arg(query->lastError().text()));
        return false;
    }
    return true;
}

JobJournal::Entry JobJournal::find(const PrintJob& job)
{
    const QString& trigger = job.name;
    const qint64 dataSize = job.dataSize;
    const qint64 dataTime = job.dataTime;
    Entry entry;
    QSqlQuery* query = statement(QStringLiteral("SELECT data_size, data_time, first_seen, account, server_job_id, "
                                                "state, confirmed, told_kept FROM jobs WHERE trigger = ?"));
    if (!query) {
        return entry;
    }
    query->bindValue(0, trigger);
    if (!query->exec() || !query->next()) {
        query->finish();
        return entry;
    }
    entry.trigger = trigger;
    entry.dataSize = query->value(0).toLongLong();
    entry.dataTime = query->value(1).toLongLong();
    entry.firstSeenMs = query->value(2).toLongLong();
    entry.account = query->value(3).toString();
    entry.serverJobId = query->value(4).toString();
    entry.state = static_cast<UploadState>(query->value(5).toInt());
    entry.confirmed = query->value(6).toInt() != 0;
    entry.toldKept = query->value(7).toInt() != 0;
    query->finish(); // no read transaction left open: the log can be checkpointed
    entry.found = true;
    if (entry.dataSize != dataSize || entry.dataTime != dataTime) {
        // A new job under a name used before. An unconfirmed server job of the old one is still cancelled.
        if (entry.confirmed || entry.serverJobId.isEmpty()) {
            remove(trigger);
            return Entry();
        }
        entry.dataSize = dataSize;
        entry.dataTime = dataTime;
        entry.firstSeenMs = 0;
        entry.toldKept = false;
        entry.replaced = true;
    }
    return entry;
}

bool JobJournal::begin(PrintJob& job, qint64 nowMs)
{
    // A job seen before keeps its first-seen time; another data file under its name starts afresh.
    const bool done
        = exec(QStringLiteral("INSERT INTO jobs (trigger, data_size, data_time, first_seen, account, server_job_id, "
                              "state, confirmed, told_kept) VALUES (?, ?, ?, ?, ?, '', 0, 0, 0) "
                              "ON CONFLICT(trigger) DO UPDATE SET first_seen = CASE WHEN data_size = "
                              "excluded.data_size AND data_time = excluded.data_time THEN first_seen ELSE "
                              "excluded.first_seen END, data_size = excluded.data_size, "
                              "data_time = excluded.data_time"),
               { job.name, job.dataSize, job.dataTime, nowMs, job.account });
    if (done && !job.entry.found) {
        job.entry.found = true;
        job.entry.trigger = job.name;
        job.entry.firstSeenMs = nowMs;
        job.entry.account = job.account;
    }
    return done;
}

bool JobJournal::noteKept(PrintJob& job, qint64 nowMs)
{
    if (job.entry.found && job.entry.toldKept) {
        return true;
    }
    if (!job.entry.found) {
        if (!exec(QStringLiteral("INSERT INTO jobs (trigger, data_size, data_time, first_seen, account, "
                                 "server_job_id, state, confirmed, told_kept) VALUES (?, ?, ?, ?, ?, '', 0, 0, 0) "
                                 "ON CONFLICT(trigger) DO NOTHING"),
                  { job.name, job.dataSize, job.dataTime, nowMs, job.account })) {
            return false;
        }
        job.entry.found = true;
        job.entry.trigger = job.name;
        job.entry.dataSize = job.dataSize;
        job.entry.dataTime = job.dataTime;
        job.entry.firstSeenMs = nowMs;
        job.entry.account = job.account;
    }
    job.entry.toldKept = exec(QStringLiteral("UPDATE jobs SET told_kept = 1 WHERE trigger = ?"), { job.name });
    return job.entry.toldKept;
}

bool JobJournal::setAnnounced(PrintJob& job, const QString& serverJobId)
{
    const bool done = exec(QStringLiteral("UPDATE jobs SET server_job_id = ?, account = ?, state = 1, confirmed = 0 "
                                          "WHERE trigger = ?"),
                           { serverJobId, job.account, job.name }, Sync::Now);
    if (done) {
        job.entry.serverJobId = serverJobId;
        job.entry.state = UploadState::Announced;
    }
    return done;
}

bool JobJournal::setUploaded(PrintJob& job)
{
    const bool done = exec(QStringLiteral("UPDATE jobs SET state = 2 WHERE trigger = ?"), { job.name });
    if (done) {
        job.entry.state = UploadState::Uploaded;
    }
    return done;
}

bool JobJournal::setConfirmed(PrintJob& job)
{
    const bool done = exec(QStringLiteral("UPDATE jobs SET confirmed = 1 WHERE trigger = ?"), { job.name }, Sync::Now);
    job.entry.confirmed = job.entry.confirmed || done;
    return done;
}

bool JobJournal::clearServerJob(const QString& trigger)
{
    return exec(QStringLiteral("UPDATE jobs SET server_job_id = '', state = 0 WHERE trigger = ?"), { trigger });
}

bool JobJournal::remove(const QString& trigger)
{
    return exec(QStringLiteral("DELETE FROM jobs WHERE trigger = ?"), { trigger });
}

QList<JobJournal::Entry> JobJournal::prune(const QStringList& triggersPresent)
{
    QList<Entry> open;
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    if (!query.exec(QStringLiteral("SELECT trigger, server_job_id, confirmed, account FROM jobs"))) {
        return open;
    }
    QStringList gone;
    while (query.next()) {
        const QString trigger = query.value(0).toString();
        if (triggersPresent.contains(trigger)) {
            continue;
        }
        if (!query.value(1).toString().isEmpty() && query.value(2).toInt() == 0) {
            Entry entry;
            entry.found = true;
            entry.trigger = trigger;
            entry.serverJobId = query.value(1).toString();
            entry.account = query.value(3).toString();
            open << entry;
        } else {
            gone << trigger;
        }
    }
    for (const QString& trigger : gone) {
        remove(trigger);
    }
    return open;
}
