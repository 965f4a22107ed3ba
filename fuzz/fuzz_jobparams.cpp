// The parameter file as the virtual printer (or anyone who can write the job folder) leaves it.
#include "FuzzSupport.h"
#include "jobs/JobParamReader.h"
#include "jobs/KsJobParam.h"

#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    FuzzSupport::init(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray text = FuzzSupport::bytes(data, size);
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
