// The parameter file as the virtual printer (or anyone who can write the job folder) leaves it. The client
// reads it in memory; every key it reads must give what QSettings gives for the same file.
#include "FuzzSupport.h"
#include "jobs/IniReader.h"
#include "jobs/JobParamReader.h"
#include "jobs/KsJobParam.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStringList>

#include <algorithm>
#include <cstdlib>

namespace {

const char* const kKeys[]
    = { "AppPara/Color",        "PrintPara/Color", "AppPara/PageWidth",  "PrintPara/PageWidth", "AppPara/PageHeight",
        "PrintPara/PageHeight", "AppPara/Collate", "PrintPara/Collate",  "AppPara/DuplexType",  "PrintPara/DuplexType",
        "PrintPara/Copies",     "AppPara/Copies",  "AppPara/Orientation" };

QString shown(const QVariant& value)
{
    return value.type() == QVariant::StringList ? value.toStringList().join(QLatin1Char(',')) : value.toString();
}

// Both readers asked for the keys in one order picked by the input: which sections a lookup sees depends on
// the lookups before it.
void compareWithQSettings(const QByteArray& text)
{
    static int serial = 0;
    const QString path = QDir::tempPath()
        + QStringLiteral("/fuzz_jobparams-%1-%2.ini").arg(QCoreApplication::applicationPid()).arg(++serial);
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size()) {
            return;
        }
    }
    QStringList keys;
    for (const char* key : kKeys) {
        keys.append(QString::fromLatin1(key));
    }
    uint seed = qHash(text);
    std::rotate(keys.begin(), keys.begin() + int(seed % uint(keys.size())), keys.end());
    if (seed & 0x100) {
        std::reverse(keys.begin(), keys.end());
    }
    {
        IniReader reader(text);
        const QString absent = QStringLiteral("absent");
        QList<QVariant> ours;
        for (const QString& key : keys) {
            ours.append(reader.value(key, absent));
        }
        // QSettings streams in whatever type a stored value names, which can abort or exhaust memory: where the
        // reader refused such a value there is nothing safe to compare with.
        if (reader.refusedValues()) {
            QFile::remove(path);
            return;
        }
        QSettings reference(path, QSettings::IniFormat);
        reference.setIniCodec("UTF-8");
        for (int i = 0; i < keys.size(); ++i) {
            const QVariant theirs = reference.value(keys.at(i), absent);
            if (ours.at(i).userType() != theirs.userType() || shown(ours.at(i)) != shown(theirs)) {
                std::abort();
            }
        }
    }
    QFile::remove(path);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    FuzzSupport::init(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray text = FuzzSupport::bytes(data, size);
    compareWithQSettings(text);
    KsJobParam param;
    JobParamReader::readKeys(text, &param);
    const QString raw = JobParamReader::readDocName(text);
    for (const QString& user : { QStringLiteral("tester"), QString() }) {
        const QString name
            = JobParamReader::documentName(raw, QStringLiteral("job1.pdf"), QStringLiteral("alice%40x"), user);
        // The name goes into requests and log lines: it must stay bounded whatever the file holds.
        if (name.toUcs4().size() > JobParamReader::kMaxDocNameLength) {
            std::abort();
        }
    }
    return 0;
}
