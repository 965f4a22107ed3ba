#include "JobParamReader.h"

#include "JobFiles.h"
#include "JobHost.h"
#include "api/KsKit.h"
#include "app/Logging.h"

#include <QtPdf/QPdfDocument>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostInfo>
#include <QSettings>

#include <algorithm>
#include <exception>

static Logger* logger = Logging::rootLogger();

namespace {
// An INI value read as text: QSettings hands back a list for values holding commas.
QString iniText(const QSettings& ini, const QString& key, const QString& defaultValue)
{
    const QVariant value = ini.value(key, defaultValue);
    return value.type() == QVariant::StringList ? value.toStringList().join(QLatin1Char(',')) : value.toString();
}

int iniInt(const QSettings& ini, const QString& key, const QString& defaultValue)
{
    return iniText(ini, key, defaultValue).trimmed().toInt();
}

double iniTenths(const QString& text)
{
    return text.trimmed().toDouble() / 10.0;
}
} // namespace

JobParamReader::JobParamReader(JobHost* host)
    : m_host(host)
{ }

bool JobParamReader::checkParamFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
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
    QPdfDocument document;
    if (document.load(pdfPath) != QPdfDocument::NoError) {
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
        return triggerFileName;
    }
    const QString userPrefix = QStringLiteral("--") + osUser;
    if (!osUser.isEmpty() && rawName.startsWith(userPrefix)) {
        return userAccount + rawName.mid(userPrefix.size());
    }
    return rawName.split(QLatin1Char('/')).last();
}

QString JobParamReader::readDocName(const QString& paramPath)
{
    QFile file(paramPath);
    if (!file.open(QIODevice::ReadOnly)) {
        return QString();
    }
    // Read by hand: QSettings would split a name at commas and cut it at a semicolon.
    const QList<QByteArray> lines = file.readAll().split('\n');
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
    if (!found) {
        return QString();
    }
    const int nul = raw.indexOf('\0');
    if (nul >= 0) {
        raw.truncate(nul);
    }
    raw = raw.trimmed();
    if (raw.size() >= 2 && raw.startsWith('"') && raw.endsWith('"')) {
        // Written by QSettings with quoting: let it undo its own escapes.
        QSettings ini(paramPath, QSettings::IniFormat);
        ini.setIniCodec("UTF-8");
        QString value = iniText(ini, QStringLiteral("PrintPara/DocName"), QString());
        const int cut = value.indexOf(QChar(0));
        return cut >= 0 ? value.left(cut) : value;
    }
    return QString::fromUtf8(raw);
}

QStringList JobParamReader::hostAddresses()
{
    KsKit kit(nullptr);
    return kit.GetIp();
}

KsJobParam JobParamReader::parseJobParamFileLinux(const QString& triggerPath, const QString& /*fileName*/)
{
    m_failure = Failure::Unreadable;
    try {
        return readParameters(triggerPath);
    } catch (const std::exception& e) {
        logger->error(QStringLiteral("[parseJobParamFileLinux] ex = %1").arg(QString::fromLocal8Bit(e.what())));
    } catch (...) {
        logger->error(QStringLiteral("[parseJobParamFileLinux] An unknown error occurred."));
    }
    KsJobParam failed;
    failed.isValid = false;
    return failed;
}

KsJobParam JobParamReader::readParameters(const QString& triggerPath)
{
    KsJobParam param;
    param.isValid = false;
    const QString paramPath = triggerPath.left(triggerPath.size() - 4);
    if (!checkParamFile(triggerPath)) {
        return param;
    }
    param.userAccount = m_host->userAccount();
    param.jobFilePath = triggerPath;

    const QFileInfo trigger(triggerPath);
    if (!checkNoCardPrint(&param)) {
        if (m_failure != Failure::Declined) {
            return param; // the caller keeps the job or leaves it for the next session
        }
        const QString folder = trigger.absolutePath();
        for (const QString& name : JobFiles::ownFiles(folder, trigger.fileName())) {
            QFile::remove(folder + QDir::separator() + name);
        }
        return param;
    }

    QSettings ini(paramPath, QSettings::IniFormat);
    ini.setIniCodec("UTF-8");

    int color = iniInt(ini, QStringLiteral("AppPara/Color"), QStringLiteral("-1"));
    if (color == -1) {
        color = iniInt(ini, QStringLiteral("PrintPara/Color"), QStringLiteral("0"));
    }
    param.color = color == 1 ? QStringLiteral("true") : QStringLiteral("false");

    param.docName
        = documentName(readDocName(paramPath), trigger.fileName(), param.userAccount, qEnvironmentVariable("USER"));

    logger->error(QStringLiteral("parseJobParamFileLinux 222"));
    param.documentPages = pageCount(paramPath + QStringLiteral(".pdf"));
    logger->error(QStringLiteral("pagecount %1").arg(param.documentPages));
    logger->error(QStringLiteral("parseJobParamFileLinux 333"));

    param.pageWidth = iniTenths(iniText(ini, QStringLiteral("AppPara/PageWidth"), QStringLiteral("-1")));
    if (param.pageWidth < 0) {
        QString text = iniText(ini, QStringLiteral("PrintPara/PageWidth"), QStringLiteral("2100"));
        if (text == QLatin1String("2104")) {
            text = QStringLiteral("2100");
        }
        param.pageWidth = iniTenths(text);
    }
    param.pageHeight = iniTenths(iniText(ini, QStringLiteral("AppPara/PageHeight"), QStringLiteral("-1")));
    if (param.pageHeight < 0) {
        QString text = iniText(ini, QStringLiteral("PrintPara/PageHeight"), QStringLiteral("2100"));
        if (text == QLatin1String("2975")) {
            text = QStringLiteral("2970");
        }
        param.pageHeight = iniTenths(text);
    }
    param.collate = iniInt(ini, QStringLiteral("AppPara/Collate"), QStringLiteral("-1"));
    if (param.collate == -1) {
        param.collate = iniInt(ini, QStringLiteral("PrintPara/Collate"), QStringLiteral("1"));
    }
    param.duplexMode = iniInt(ini, QStringLiteral("AppPara/DuplexType"), QStringLiteral("-1"));
    if (param.duplexMode == -1) {
        param.duplexMode = iniInt(ini, QStringLiteral("PrintPara/DuplexType"), QStringLiteral("1"));
    }
    param.copies = qMax(iniInt(ini, QStringLiteral("PrintPara/Copies"), QStringLiteral("1")),
                        iniInt(ini, QStringLiteral("AppPara/Copies"), QStringLiteral("1")));

    param.computerName = QHostInfo::localHostName();
    param.computerIp = pickComputerIp(hostAddresses());

    logger->info(QStringLiteral("######## P 111333"));
    param.fileType = trigger.fileName().endsWith(QLatin1String(".xml")) ? QStringLiteral("pcl") : QStringLiteral("pdf");
    logger->info(QStringLiteral("######## P 111333-22"));
    param.orientation = iniInt(ini, QStringLiteral("AppPara/Orientation"), QStringLiteral("1"));

    param.isValid = true;
    m_failure = Failure::None;
    logger->info(QStringLiteral("######## P 111333-33"));
    return param;
}

bool JobParamReader::checkNoCardPrint(KsJobParam* param)
{
    KsKit kit(nullptr);
    const QList<KsPrinter> printers = kit.getPrinters(param->userAccount, 0);
    const QList<KsProject> projects = kit.getProjects(param->userAccount);
    if (stopped()) {
        m_failure = Failure::Interrupted;
        return false;
    }
    if (!m_host->jobOptions().supportSecret && projects.isEmpty()) {
        const bool anyWithoutReader = std::any_of(printers.cbegin(), printers.cend(),
                                                  [](const KsPrinter& printer) { return !printer.useCardReader; });
        if (!anyWithoutReader) {
            return true;
        }
    }
    NoCardChoice choice;
    const bool accepted = m_host->askNoCardChoice(&choice);
    if (stopped()) {
        m_failure = Failure::Interrupted;
        return false;
    }
    if (!accepted) {
        m_failure = Failure::Declined;
        return false;
    }
    const bool reachable = m_host->checkNetworkState(false);
    if (stopped()) {
        m_failure = Failure::Interrupted;
        return false;
    }
    if (!reachable) {
        // Written: dropped like a declined dialog; kept instead when unsent jobs are kept.
        m_failure = m_host->jobOptions().keepUnsentJobs ? Failure::Unreachable : Failure::Declined;
        return false;
    }
    param->controllerMac = choice.controllerMac;
    param->securityLevel = choice.securityLevel;
    logger->info(QStringLiteral("secretLevel:%1").arg(choice.securityLevel));
    param->projectId = choice.projectId;
    return true;
}
