// Every JSON record decoder on whatever a server may answer; the first byte picks the decoder.
#include "FuzzSupport.h"
#include "api/HttpExchange.h"
#include "api/KsJob.h"
#include "api/KsJobs.h"
#include "api/KsPrinter.h"
#include "api/KsProject.h"
#include "api/KsScanJob.h"
#include "api/KsUserBase.h"
#include "api/KsUserInfo.h"
#include "api/Segments.h"

#include <QJsonArray>
#include <QJsonDocument>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    FuzzSupport::init(argc, argv);
    return 0;
}

namespace {
void decode(int which, const QJsonObject& object, const QJsonValue& value)
{
    switch (which) {
    case 0:
        KsJob::fromJson(object);
        KsJob::listFromJson(value);
        break;
    case 1: {
        KsJobs jobs;
        jobs.read(object);
        break;
    }
    case 2:
        KsPrinter::fromJson(object);
        KsPrinter::listFromJson(value);
        break;
    case 3:
        KsProject::fromJson(object);
        KsProject::listFromJson(value);
        break;
    case 4:
        KsScanJob::fromJson(object);
        KsScanJob::listFromJson(value);
        break;
    case 5:
        KsUserBase::fromJson(object);
        break;
    case 6:
        KsUserInfo::fromJson(object);
        break;
    default:
        Segments::fromJson(object);
        Segments::listFromJson(value);
        break;
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) {
        return 0;
    }
    const int which = data[0] % 8;
    HttpAnswer answer;
    answer.body = FuzzSupport::bytes(data + 1, size - 1);
    QJsonParseError error;
    answer.document = QJsonDocument::fromJson(answer.body, &error);
    answer.parseOk = !answer.document.isNull() && error.error == QJsonParseError::NoError;
    // The answer envelope first, then the record on the object itself and on its "data", as the callers do.
    answer.code();
    answer.message();
    const QJsonValue payload = answer.data();
    const QJsonObject object = answer.document.object();
    const QJsonValue whole = answer.document.isArray() ? QJsonValue(answer.document.array()) : QJsonValue(object);
    decode(which, object, whole);
    decode(which, payload.toObject(), payload);
    return 0;
}
