#include "JobParamReader.h"

#include "HostAddresses.h"
#include "IniReader.h"
#include "JobHost.h"
#include "PrintJob.h"
#include "SafeJobFile.h"
#include "app/Logging.h"

#include <QtPdf/QPdfDocument>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostInfo>
#include <QNetworkInterface>
#include <QVector>

#include <algorithm>
#include <exception>

static Logger* logger = Logging::rootLogger();

namespace {
// An INI value read as text: a value holding commas is a list.
QString iniText(IniReader& ini, const QString& key, const QString& defaultValue)
{
    const QVariant value = ini.value(key, defaultValue);
    return value.type() == QVariant::StringList ? value.toStringList().join(QLatin1Char(',')) : value.toString();
}

int iniInt(IniReader& ini, const QString& key, const QString& defaultValue)
{
    return iniText(ini, key, defaultValue).trimmed().toInt();
}

double iniTenths(const QString& text)
{
    return text.trimmed().toDouble() / 10.0;
}

// Undoes the INI escapes as QSettings does (\n, \\, \", \x4e2d, \101, quotes toggling), but keeps commas and
// semicolons as the text they are. Plain runs are UTF-8; an escape gives one UTF-16 unit, as in QSettings.
QString iniUnescaped(const QByteArray& raw)
{
    QString result;
    QByteArray run;
    const auto flush = [&]() {
        result += QString::fromUtf8(run);
        run.clear();
    };
    const int size = raw.size();
    int i = 0;
    while (i < size) {
        const char c = raw.at(i++);
        if (c == '"') {
            continue;
        }
        if (c != '\\') {
            run += c;
            continue;
        }
        if (i >= size) {
            break;
        }
        flush();
        // Any other escaped character is dropped, as QSettings drops it.
        if (IniReader::unescapeOne(raw, &i, size, &result) == IniReader::Escape::None) {
            ++i;
        }
    }
    flush();
    return result;
}

// A value that is the rest of one line, with the key matched as QSettings would see it.
QByteArray rawDocNameValue(const QByteArray& paramText)
{
    // Read by hand: QSettings would split a name at commas and cut it at a semicolon.
    const QList<QByteArray> lines = paramText.split('\n');
    QByteArray section;
    QByteArray raw;
    bool found = false;
    for (QByteArray line : lines) {
        if (line.endsWith('\r')) {
            line.chop(1);
        }
        const QByteArray trimmed = line.trimmed();
        if (trimmed.startsWith('[') && trimmed.endsWith(']')) {
            section = trimmed.mid(1, trimmed.size() - 2).trimmed();
            continue;
        }
        const int eq = line.indexOf('=');
        if (section != "PrintPara" || eq < 0 || line.left(eq).trimmed() != "DocName") {
            continue;
        }
        raw = line.mid(eq + 1);
        found = true;
    }
    return found ? raw : QByteArray();
}
} // namespace

JobParamReader::JobParamReader(JobHost* host)
    : m_host(host)
{ }

bool JobParamReader::checkParamFile(const QString& path)
{
    QFile file;
    const SafeJobFile::Verdict verdict = SafeJobFile::open(path, &file);
    if (verdict != SafeJobFile::Verdict::Accepted) {
        logger->error(QStringLiteral("Can't open the job param file for %1").arg(path));
        return false;
    }
    // Reading the first block proves the file is readable; a large job need not be read through.
    char block[4096];
    file.read(block, sizeof block);
    file.close();
    return true;
}

int JobParamReader::pageCount(const QString& pdfPath)
{
    // Counted from the checked descriptor, never by name: the name could point elsewhere by now.
    QFile file;
    if (SafeJobFile::open(pdfPath, &file) != SafeJobFile::Verdict::Accepted) {
        return 0;
    }
    QPdfDocument document;
    document.load(&file);
    if (document.status() != QPdfDocument::Ready || document.error() != QPdfDocument::NoError) {
        return 0;
    }
    const int pages = document.pageCount();
    document.close();
    return pages;
}

QString JobParamReader::pickComputerIp(const QStringList& ipv4Addresses)
{
    if (ipv4Addresses.size() >= 2) {
        return ipv4Addresses.at(1);
    }
    return ipv4Addresses.value(0);
}

QString JobParamReader::documentName(const QString& rawName, const QString& triggerFileName, const QString& userAccount,
                                     const QString& osUser)
{
    if (rawName.isEmpty()) {
        return boundedName(triggerFileName);
    }
    // With USER empty or unset the prefix is "--" alone, and it is replaced all the same.
    const QString userPrefix = QStringLiteral("--") + osUser;
    if (rawName.startsWith(userPrefix)) {
        return boundedName(userAccount + rawName.mid(userPrefix.size()));
    }
    return boundedName(rawName.split(QLatin1Char('/')).last());
}

QString JobParamReader::boundedName(const QString& name)
{
    const QVector<uint> chars = name.toUcs4();
    if (chars.size() <= kMaxDocNameLength) {
        return name;
    }
    // The extension tells the server and the user what the document is; it is kept when it is a short one.
    int dot = chars.lastIndexOf(uint('.'));
    if (dot <= 0 || chars.size() - dot > 16) {
        dot = chars.size();
    }
    const int extension = chars.size() - dot;
    QVector<uint> kept = chars.mid(0, kMaxDocNameLength - extension);
    kept += chars.mid(dot);
    return QString::fromUcs4(kept.constData(), kept.size());
}

QString JobParamReader::readDocName(const QByteArray& paramText)
{
    QByteArray raw = rawDocNameValue(paramText);
    const int nul = raw.indexOf('\0');
    if (nul >= 0) {
        raw.truncate(nul);
    }
    QString value = iniUnescaped(raw.trimmed());
    const int cut = value.indexOf(QChar(0));
    return cut >= 0 ? value.left(cut) : value;
}

void JobParamReader::readKeys(const QByteArray& paramText, KsJobParam* param)
{
    // Parsed in memory by QSettings' rules, never written anywhere. The order of the lookups below matters: as
    // in QSettings, it decides which sections a lookup sees.
    IniReader ini(paramText);

    int color = iniInt(ini, QStringLiteral("AppPara/Color"), QStringLiteral("-1"));
    if (color == -1) {
        color = iniInt(ini, QStringLiteral("PrintPara/Color"), QStringLiteral("0"));
    }
    param->color = color == 1 ? QStringLiteral("true") : QStringLiteral("false");

    param->pageWidth = iniTenths(iniText(ini, QStringLiteral("AppPara/PageWidth"), QStringLiteral("-1")));
    if (param->pageWidth < 0) {
        QString text = iniText(ini, QStringLiteral("PrintPara/PageWidth"), QStringLiteral("2100"));
        if (text == QLatin1String("2104")) {
            text = QStringLiteral("2100");
        }
        param->pageWidth = iniTenths(text);
    }
    param->pageHeight = iniTenths(iniText(ini, QStringLiteral("AppPara/PageHeight"), QStringLiteral("-1")));
    if (param->pageHeight < 0) {
        QString text = iniText(ini, QStringLiteral("PrintPara/PageHeight"), QStringLiteral("2100"));
        if (text == QLatin1String("2975")) {
            text = QStringLiteral("2970");
        }
        param->pageHeight = iniTenths(text);
    }
    param->collate = iniInt(ini, QStringLiteral("AppPara/Collate"), QStringLiteral("-1"));
    if (param->collate == -1) {
        param->collate = iniInt(ini, QStringLiteral("PrintPara/Collate"), QStringLiteral("1"));
    }
    param->duplexMode = iniInt(ini, QStringLiteral("AppPara/DuplexType"), QStringLiteral("-1"));
    if (param->duplexMode == -1) {
        param->duplexMode = iniInt(ini, QStringLiteral("PrintPara/DuplexType"), QStringLiteral("1"));
    }
    param->copies = qMax(iniInt(ini, QStringLiteral("PrintPara/Copies"), QStringLiteral("1")),
                         iniInt(ini, QStringLiteral("AppPara/Copies"), QStringLiteral("1")));
    param->orientation = iniInt(ini, QStringLiteral("AppPara/Orientation"), QStringLiteral("1"));
    if (ini.refusedValues()) {
        logger->warn(QStringLiteral("[readKeys] a stored value of an unsupported type was ignored"));
    }
}

QStringList JobParamReader::hostAddresses()
{
    if (!m_inPass) {
        return HostAddresses::GetIp();
    }
    // Listed once per pass (a netlink dump of every interface), still logged for every job.
    if (!m_passAddresses) {
        m_passAddresses = QNetworkInterface::allAddresses();
    }
    return HostAddresses::GetIp(*m_passAddresses);
}

bool JobParamReader::parseJobParamFileLinux(PrintJob* job)
{
    job->param = KsJobParam();
    job->param.isValid = false;
    try {
        return readParameters(job);
    } catch (const std::exception& e) {
        logger->error(QStringLiteral("[parseJobParamFileLinux] ex = %1").arg(QString::fromLocal8Bit(e.what())));
    } catch (...) {
        logger->error(QStringLiteral("[parseJobParamFileLinux] An unknown error occurred."));
    }
    job->param = KsJobParam();
    job->param.isValid = false;
    return false;
}

KsJobParam JobParamReader::parseJobParamFileLinux(const QString& triggerPath, const QString& /*fileName*/)
{
    PrintJob job(triggerPath, m_host->userAccount());
    parseJobParamFileLinux(&job);
    return job.param;
}

bool JobParamReader::readParameters(PrintJob* job)
{
    KsJobParam& param = job->param;
    if (!job->triggerReadable) {
        return false;
    }
    param.userAccount = job->account;
    param.jobFilePath = job->triggerPath;

    // A missing parameter file gives the defaults; one that is not a small regular file of the user's own
    // (a link, a FIFO, a device, a huge file) is not read at all.
    if (job->paramVerdict != SafeJobFile::Verdict::Accepted && job->paramVerdict != SafeJobFile::Verdict::Missing) {
        logger->error(QStringLiteral("Can't read the job param file %1: %2")
                          .arg(job->paramPath, SafeJobFile::describe(job->paramVerdict)));
        return false;
    }
    param.docName = job->docName;

    KsJobParam keys;
    readKeys(job->paramText, &keys);
    param.color = keys.color;

    logger->error(QStringLiteral("parseJobParamFileLinux 222"));
    param.documentPages = job->pageCount();
    logger->error(QStringLiteral("pagecount %1").arg(param.documentPages));
    logger->error(QStringLiteral("parseJobParamFileLinux 333"));

    param.pageWidth = keys.pageWidth;
    param.pageHeight = keys.pageHeight;
    param.collate = keys.collate;
    param.duplexMode = keys.duplexMode;
    param.copies = keys.copies;

    param.computerName = QHostInfo::localHostName();
    param.computerIp = pickComputerIp(hostAddresses());

    logger->info(QStringLiteral("######## P 111333"));
    param.fileType = job->name.endsWith(QLatin1String(".xml")) ? QStringLiteral("pcl") : QStringLiteral("pdf");
    logger->info(QStringLiteral("######## P 111333-22"));
    param.orientation = keys.orientation;

    param.isValid = true;
    logger->info(QStringLiteral("######## P 111333-33"));
    return true;
}

void JobParamReader::beginPass()
{
    m_inPass = true;
    m_passAddresses.reset();
}

void JobParamReader::endPass()
{
    m_inPass = false;
    m_passAddresses.reset();
}
