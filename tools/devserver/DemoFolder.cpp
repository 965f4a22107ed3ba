#include "DemoFolder.h"

#include "DemoPdf.h"
#include "FakeKestranaServer.h"

#include <QDateTime>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace {

const QStringList kJobFolders = { QStringLiteral("processing"), QStringLiteral("waiting"), QStringLiteral("printed"),
                                  QStringLiteral("cancelled") };

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

} // namespace

DemoFolder::DemoFolder(FakeKestranaServer& server, const QString& dataDir, int processingMs, Log log)
    : m_server(server)
    , m_dir(dataDir)
    , m_processingMs(processingMs)
    , m_log(std::move(log))
{ }

bool DemoFolder::prepare(QString* error)
{
    const bool firstUse = !m_dir.exists(QStringLiteral("scans"));
    QStringList folders = { QStringLiteral("jobs/index"), QStringLiteral("scans") };
    for (const QString& f : kJobFolders) {
        folders.append(QStringLiteral("jobs/") + f);
    }
    for (const QString& f : qAsConst(folders)) {
        if (!m_dir.mkpath(f)) {
            *error = QStringLiteral("cannot create %1").arg(m_dir.filePath(f));
            return false;
        }
    }
    if (firstUse) {
        writeSampleScans();
    }
    loadStoredJobs();
    syncScans();
    return true;
}

void DemoFolder::sync()
{
    syncJobs();
    syncScans();
}

QString DemoFolder::safeFileName(const QString& name)
{
    QString safe;
    for (const QChar c : name) {
        safe.append(c.isLetterOrNumber() || c == QLatin1Char('.') || c == QLatin1Char('-') || c == QLatin1Char('_')
                            || c == QLatin1Char(' ')
                        ? c
                        : QLatin1Char('_'));
    }
    safe = safe.trimmed().left(120);
    while (safe.startsWith(QLatin1Char('.'))) {
        safe.remove(0, 1);
    }
    if (safe.isEmpty()) {
        safe = QStringLiteral("document");
    }
    if (!safe.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive)) {
        safe += QStringLiteral(".pdf");
    }
    return safe;
}

void DemoFolder::syncJobs()
{
    QList<FakeKestranaState::Job> fresh;
    QList<qint64> cancelled;
    m_server.updateState([&](FakeKestranaState& state) {
        for (const auto& job : qAsConst(state.jobs)) {
            if (!job.confirmed) {
                continue;
            }
            auto tracked = m_jobs.constFind(job.id);
            if (tracked == m_jobs.constEnd()) {
                if (!job.cancelled) {
                    fresh.append(job);
                }
            } else if (job.cancelled && tracked->folder != QLatin1String("cancelled")) {
                cancelled.append(job.id);
            }
        }
    });

    for (const auto& job : qAsConst(fresh)) {
        storeJob(job);
    }
    for (const qint64 id : qAsConst(cancelled)) {
        if (moveJob(id, m_jobs[id], QStringLiteral("cancelled"))) {
            m_log(QStringLiteral("job %1 cancelled by the client: %2")
                      .arg(id)
                      .arg(path(QStringLiteral("jobs/cancelled/") + m_jobs[id].fileName)));
        }
    }

    QList<qint64> toWaiting;
    QList<qint64> gone;
    for (auto it = m_jobs.begin(); it != m_jobs.end(); ++it) {
        TrackedJob& t = it.value();
        if (t.folder == QLatin1String("printed") || t.folder == QLatin1String("cancelled")) {
            continue;
        }
        const QString where = locateJob(t);
        if (where.isEmpty()) {
            m_log(QStringLiteral("job %1 removed: its file %2 is gone").arg(it.key()).arg(t.fileName));
            gone.append(it.key());
        } else if (where == QLatin1String("printed") || where == QLatin1String("cancelled")) {
            m_log(QStringLiteral("job %1 %2: %3")
                      .arg(it.key())
                      .arg(where == QLatin1String("printed") ? QStringLiteral("released and printed")
                                                             : QStringLiteral("cancelled"),
                           t.fileName));
            t.folder = where;
            gone.append(it.key());
        } else if (where == QLatin1String("processing") && nowMs() - t.sinceMs >= m_processingMs) {
            if (moveJob(it.key(), t, QStringLiteral("waiting"))) {
                toWaiting.append(it.key());
                m_log(QStringLiteral("job %1 processed, waiting for release: %2")
                          .arg(it.key())
                          .arg(path(QStringLiteral("jobs/waiting/") + t.fileName)));
            }
        } else {
            t.folder = where;
        }
    }
    for (const qint64 id : qAsConst(gone)) {
        if (m_jobs.value(id).folder != QLatin1String("printed")
            && m_jobs.value(id).folder != QLatin1String("cancelled")) {
            m_jobs.remove(id);
        }
    }
    if (toWaiting.isEmpty() && gone.isEmpty()) {
        return;
    }
    m_server.updateState([&](FakeKestranaState& state) {
        for (const qint64 id : qAsConst(toWaiting)) {
            if (FakeKestranaState::Job* job = state.findJob(id)) {
                job->statusId = 5;
            }
        }
        // Printed or removed jobs leave the server's list of waiting jobs.
        for (const qint64 id : qAsConst(gone)) {
            state.jobs.remove(id);
        }
    });
}

bool DemoFolder::storeJob(const FakeKestranaState::Job& job)
{
    TrackedJob t;
    t.fileName = QStringLiteral("%1-%2").arg(job.id).arg(safeFileName(job.jobName));
    t.folder = QStringLiteral("processing");
    t.sinceMs = nowMs();
    const QString file = path(QStringLiteral("jobs/processing/") + t.fileName);
    if (!writeFile(file, job.uploaded)) {
        m_log(QStringLiteral("job %1: cannot write %2").arg(job.id).arg(file));
        return false;
    }

    QJsonObject index;
    index.insert(QStringLiteral("JobID"), double(job.id));
    index.insert(QStringLiteral("UserAccount"), job.account);
    index.insert(QStringLiteral("JobName"), job.jobName);
    index.insert(QStringLiteral("File"), t.fileName);
    index.insert(QStringLiteral("SubmitTime"), job.submitTime.toString(Qt::ISODate));
    index.insert(QStringLiteral("DocumentPages"), job.pages);
    index.insert(QStringLiteral("Copies"), job.copies);
    index.insert(QStringLiteral("DuplexMode"), job.duplexMode);
    index.insert(QStringLiteral("IsColor"), job.color);
    index.insert(QStringLiteral("PageWidth"), job.pageWidth);
    index.insert(QStringLiteral("PageHeight"), job.pageHeight);
    index.insert(QStringLiteral("ProjectName"), job.projectName);
    QJsonObject announce;
    for (auto it = job.announce.constBegin(); it != job.announce.constEnd(); ++it) {
        announce.insert(it.key(), it.value());
    }
    index.insert(QStringLiteral("Announce"), announce);
    writeFile(path(QStringLiteral("jobs/index/%1.json").arg(job.id)), QJsonDocument(index).toJson());

    m_jobs.insert(job.id, t);
    m_log(QStringLiteral("job %1 '%2' of %3 stored (%4 bytes, %5 pages): %6")
              .arg(job.id)
              .arg(job.jobName, job.account)
              .arg(job.uploaded.size())
              .arg(job.pages)
              .arg(file));
    return true;
}

bool DemoFolder::moveJob(qint64 id, TrackedJob& tracked, const QString& folder)
{
    const QString from = locateJob(tracked);
    if (from.isEmpty()) {
        return false;
    }
    const QString source = path(QStringLiteral("jobs/%1/%2").arg(from, tracked.fileName));
    const QString target = path(QStringLiteral("jobs/%1/%2").arg(folder, tracked.fileName));
    QFile::remove(target);
    if (!QFile::rename(source, target)) {
        m_log(QStringLiteral("job %1: cannot move %2 to %3").arg(id).arg(source, target));
        return false;
    }
    tracked.folder = folder;
    tracked.sinceMs = nowMs();
    return true;
}

QString DemoFolder::locateJob(const TrackedJob& tracked) const
{
    if (QFileInfo::exists(path(QStringLiteral("jobs/%1/%2").arg(tracked.folder, tracked.fileName)))) {
        return tracked.folder;
    }
    for (const QString& f : kJobFolders) {
        if (QFileInfo::exists(path(QStringLiteral("jobs/%1/%2").arg(f, tracked.fileName)))) {
            return f;
        }
    }
    return QString();
}

void DemoFolder::loadStoredJobs()
{
    QList<FakeKestranaState::Job> jobs;
    qint64 highestId = 0;
    const QFileInfoList entries
        = QDir(path(QStringLiteral("jobs/index"))).entryInfoList({ QStringLiteral("*.json") }, QDir::Files, QDir::Name);
    for (const QFileInfo& entry : entries) {
        // New jobs never reuse the number of an earlier one, printed or not.
        highestId = qMax(highestId, entry.completeBaseName().toLongLong());
        QFile file(entry.filePath());
        if (!file.open(QIODevice::ReadOnly)) {
            continue;
        }
        const QJsonObject o = QJsonDocument::fromJson(file.readAll()).object();
        TrackedJob t;
        t.fileName = o.value(QStringLiteral("File")).toString();
        t.folder = QStringLiteral("processing");
        const QString where = t.fileName.isEmpty() ? QString() : locateJob(t);
        if (where != QLatin1String("processing") && where != QLatin1String("waiting")) {
            continue;
        }
        t.folder = where;
        t.sinceMs = 0; // processed long ago
        QFile data(path(QStringLiteral("jobs/%1/%2").arg(where, t.fileName)));
        if (!data.open(QIODevice::ReadOnly)) {
            continue;
        }
        FakeKestranaState::Job job;
        job.id = qint64(o.value(QStringLiteral("JobID")).toDouble());
        job.account = o.value(QStringLiteral("UserAccount")).toString();
        job.jobName = o.value(QStringLiteral("JobName")).toString();
        job.submitTime = QDateTime::fromString(o.value(QStringLiteral("SubmitTime")).toString(), Qt::ISODate);
        job.pages = o.value(QStringLiteral("DocumentPages")).toInt();
        job.copies = o.value(QStringLiteral("Copies")).toInt();
        job.duplexMode = o.value(QStringLiteral("DuplexMode")).toInt();
        job.color = o.value(QStringLiteral("IsColor")).toBool();
        job.pageWidth = o.value(QStringLiteral("PageWidth")).toDouble();
        job.pageHeight = o.value(QStringLiteral("PageHeight")).toDouble();
        job.projectName = o.value(QStringLiteral("ProjectName")).toString();
        job.uploaded = data.readAll();
        job.confirmed = true;
        job.statusId = where == QLatin1String("waiting") ? 5 : 51;
        if (job.id <= 0) {
            continue;
        }
        jobs.append(job);
        m_jobs.insert(job.id, t);
    }
    m_server.updateState([&](FakeKestranaState& state) {
        for (const auto& job : qAsConst(jobs)) {
            state.addJob(job);
        }
        state.nextJobId = qMax(state.nextJobId, highestId + 1);
    });
    if (jobs.isEmpty()) {
        return;
    }
    m_log(QStringLiteral("%1 job(s) from an earlier run loaded from %2")
              .arg(jobs.size())
              .arg(path(QStringLiteral("jobs"))));
}

void DemoFolder::writeSampleScans()
{
    struct Sample
    {
        const char* account;
        const char* name;
        const char* title;
    };
    const Sample samples[] = {
        { "alice", "Contract scan.pdf", "Service contract (scanned)" },
        { "alice", "Receipt 2024-05.pdf", "Receipt (scanned)" },
        { "bob", "Timetable.pdf", "Timetable (scanned)" },
    };
    for (const Sample& s : samples) {
        const QString account = QString::fromLatin1(s.account);
        m_dir.mkpath(QStringLiteral("scans/") + account);
        writeFile(path(QStringLiteral("scans/%1/%2").arg(account, QString::fromLatin1(s.name))),
                  DemoPdf::make(QString::fromLatin1(s.title),
                                { QStringLiteral("Scanned at the Lobby Colour MFP for %1.").arg(account),
                                  QStringLiteral("Kestrana demo server.") }));
    }
}

void DemoFolder::syncScans()
{
    // Files present now, per account folder.
    QMap<QString, QString> present; // path -> account
    const QFileInfoList accounts = QDir(path(QStringLiteral("scans"))).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QFileInfo& account : accounts) {
        const QFileInfoList files = QDir(account.filePath()).entryInfoList(QDir::Files, QDir::Name);
        for (const QFileInfo& f : files) {
            present.insert(f.filePath(), account.fileName());
        }
    }

    QList<FakeKestranaState::ScanJob> added;
    for (auto it = present.constBegin(); it != present.constEnd(); ++it) {
        if (m_scanFiles.contains(it.key())) {
            continue;
        }
        QFile file(it.key());
        if (!file.open(QIODevice::ReadOnly)) {
            continue;
        }
        FakeKestranaState::ScanJob scan;
        scan.id = QString::number(m_nextScanId++);
        scan.account = it.value();
        scan.jobName = QFileInfo(it.key()).fileName();
        scan.submitTime = QFileInfo(it.key()).lastModified().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        scan.deviceName = QStringLiteral("Lobby Colour MFP");
        scan.content = file.readAll();
        m_scanFiles.insert(it.key(), scan.id);
        added.append(scan);
        m_log(QStringLiteral("scan job %1 '%2' of %3: %4").arg(scan.id, scan.jobName, scan.account, it.key()));
    }

    QStringList vanished; // scan ids whose file was removed by hand
    for (auto it = m_scanFiles.constBegin(); it != m_scanFiles.constEnd(); ++it) {
        if (!present.contains(it.key())) {
            vanished.append(it.value());
        }
    }

    QStringList deletedByClient;
    m_server.updateState([&](FakeKestranaState& state) {
        state.scanJobs.append(added);
        for (auto& scan : state.scanJobs) {
            if (vanished.contains(scan.id)) {
                scan.deleted = true;
            } else if (scan.deleted) {
                deletedByClient.append(scan.id);
            }
        }
    });

    for (auto it = m_scanFiles.begin(); it != m_scanFiles.end();) {
        if (vanished.contains(it.value())) {
            m_log(QStringLiteral("scan job %1 removed: %2 is gone").arg(it.value(), it.key()));
            it = m_scanFiles.erase(it);
        } else if (deletedByClient.contains(it.value())) {
            QFile::remove(it.key());
            m_log(QStringLiteral("scan job %1 deleted by the client: %2 removed").arg(it.value(), it.key()));
            it = m_scanFiles.erase(it);
        } else {
            ++it;
        }
    }
}
