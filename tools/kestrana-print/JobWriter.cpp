#include "JobWriter.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSettings>

namespace {
const qint64 kCopyBlock = 1 << 20;

// Hidden names are skipped by every listing of the job folder, and they hold no job name.
QString hiddenTemplate(const QString& folder)
{
    return folder + QStringLiteral("/.kestrana-print-XXXXXX");
}

bool placeFile(const QString& folder, const QString& finalName, QIODevice& source, QString* error)
{
    const QString target = folder + QLatin1Char('/') + finalName;
    if (QFileInfo::exists(target)) {
        *error = QStringLiteral("%1 already exists").arg(target);
        return false;
    }
    QFile temp;
    // QTemporaryFile would pick the name; a fixed pattern keeps the name hidden and free of any job base.
    for (int attempt = 0; attempt < 16 && !temp.isOpen(); ++attempt) {
        QString name = hiddenTemplate(folder);
        name.replace(QStringLiteral("XXXXXX"), QString::number(QRandomGenerator::global()->generate(), 36));
        temp.setFileName(name);
        temp.open(QIODevice::WriteOnly | QIODevice::NewOnly);
    }
    if (!temp.isOpen()) {
        *error = QStringLiteral("cannot create a file in %1").arg(folder);
        return false;
    }
    temp.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    QByteArray block;
    bool ok = true;
    while (ok && !(block = source.read(kCopyBlock)).isEmpty()) {
        ok = temp.write(block) == block.size();
    }
    ok = ok && source.atEnd() && temp.flush();
    temp.close();
    if (ok && !temp.rename(target)) {
        ok = false;
    }
    if (!ok) {
        *error = QStringLiteral("cannot write %1: %2").arg(target, temp.errorString());
        temp.remove();
    }
    return ok;
}
} // namespace

bool JobWriter::paperSize(const QString& name, int* width, int* height)
{
    struct Paper
    {
        const char* name;
        int width;
        int height;
    };
    static const Paper papers[] = {
        { "a3", 2970, 4200 },     { "a4", 2100, 2970 },    { "a5", 1480, 2100 },
        { "letter", 2159, 2794 }, { "legal", 2159, 3556 },
    };
    for (const Paper& paper : papers) {
        if (name.compare(QLatin1String(paper.name), Qt::CaseInsensitive) == 0) {
            *width = paper.width;
            *height = paper.height;
            return true;
        }
    }
    return false;
}

QString JobWriter::defaultJobFolder()
{
    const QString dataDir = QDir::homePath() + QStringLiteral("/halcyraclient");
    QSettings settings(dataDir + QStringLiteral("/halcyraclient.ini"), QSettings::IniFormat);
    QString path = settings.value(QStringLiteral("Job/Path"), QStringLiteral("ksprinter")).toString();
    if (path.isEmpty()) {
        path = QStringLiteral("ksprinter");
    }
    return dataDir + QLatin1Char('/') + path;
}

QString JobWriter::newBaseName()
{
    return QStringLiteral("job-%1-%2-%3")
        .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmsszzz")))
        .arg(QCoreApplication::applicationPid())
        .arg(QRandomGenerator::global()->bounded(0x10000), 4, 16, QLatin1Char('0'));
}

QByteArray JobWriter::parameterText(const PrintJobOptions& printJob)
{
    QString docName = printJob.docName;
    docName.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
    const QString color = printJob.color ? QStringLiteral("1") : QStringLiteral("0");
    const QString common
        = QStringLiteral("Color=%1\nCopies=%2\nCollate=%3\nDuplexType=%4\nPageWidth=%5\nPageHeight=%6\n")
              .arg(color)
              .arg(printJob.copies)
              .arg(printJob.collate ? 1 : 0)
              .arg(printJob.duplexType)
              .arg(printJob.pageWidth)
              .arg(printJob.pageHeight);
    const QString text = QStringLiteral("[AppPara]\n") + common
        + QStringLiteral("Orientation=%1\n\n[PrintPara]\n").arg(printJob.orientation) + common + QStringLiteral("DocName=")
        + docName + QLatin1Char('\n');
    return text.toUtf8();
}

bool JobWriter::write(const PrintJobOptions& printJob, QString* error)
{
    QFile pdf(printJob.pdfPath);
    if (!pdf.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(printJob.pdfPath, pdf.errorString());
        return false;
    }
    if (!QDir().mkpath(printJob.folder)) {
        *error = QStringLiteral("cannot create the job folder %1").arg(printJob.folder);
        return false;
    }
    const QString pdfName = printJob.baseName + QStringLiteral(".pdf");
    if (QFileInfo::exists(printJob.folder + QLatin1Char('/') + pdfName)) {
        *error = QStringLiteral("a job named %1 is already waiting").arg(printJob.baseName);
        return false;
    }
    // The parameter file goes first: the client starts on a job when its PDF appears.
    QByteArray params = parameterText(printJob);
    QBuffer paramSource(&params);
    paramSource.open(QIODevice::ReadOnly);
    if (!placeFile(printJob.folder, printJob.baseName, paramSource, error)) {
        return false;
    }
    if (!placeFile(printJob.folder, pdfName, pdf, error)) {
        QFile::remove(printJob.folder + QLatin1Char('/') + printJob.baseName);
        return false;
    }
    return true;
}
