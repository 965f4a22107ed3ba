#include "FakeKestranaServer.h"
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
#include <QtTest>

// Decoding of the server's records: the conversion rules for values of an unexpected type, and that
// what the server actually sends lands in the right fields.
class TestRecords : public QObject
{
    Q_OBJECT

private slots:
    void identifiers_data();
    void identifiers();
    void integers_data();
    void integers();
    void reals_data();
    void reals();
    void flags_data();
    void flags();
    void submitTimeFormats_data();
    void submitTimeFormats();
    void jobReadsEveryField();
    void jobsListKeepsOrderAndNonObjects();
    void emptyOrMissingArraysGiveEmptyLists();
    void userInfoTakesPrintTimeFromInnerObjectOnly();
    void recordsReadWhatTheServerSends();
};

static QJsonValue parse(const char* json)
{
    // Wrap so scalars parse as JSON too.
    return QJsonDocument::fromJson(QByteArray("{\"v\":") + json + "}").object().value(QLatin1String("v"));
}

void TestRecords::identifiers_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("expected");
    QTest::newRow("number") << QByteArray("57") << QStringLiteral("57");
    QTest::newRow("string") << QByteArray("\"57\"") << QStringLiteral("57");
    QTest::newRow("string kept as is") << QByteArray("\"P-07\"") << QStringLiteral("P-07");
    QTest::newRow("large number in full") << QByteArray("12345678901") << QStringLiteral("12345678901");
    QTest::newRow("fraction") << QByteArray("12.5") << QStringLiteral("12.5");
    QTest::newRow("boolean") << QByteArray("true") << QStringLiteral("0");
    QTest::newRow("null") << QByteArray("null") << QStringLiteral("0");
    QTest::newRow("missing") << QByteArray() << QStringLiteral("0");
}

void TestRecords::identifiers()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, expected);
    const QJsonObject object = json.isEmpty() ? QJsonObject() : QJsonObject { { QStringLiteral("x"), parse(json) } };
    auto with = [&](const char* key) {
        QJsonObject o;
        if (!json.isEmpty()) {
            o.insert(QLatin1String(key), parse(json));
        }
        return o;
    };

    QCOMPARE(KsJob::fromJson(with("JobID")).getJobID(), expected);
    QCOMPARE(KsJob::fromJson(with("DocTypeID")).getDocTypeID(), expected);
    QCOMPARE(KsProject::fromJson(with("ProjectID")).projectId, expected);
    QCOMPARE(KsScanJob::fromJson(with("JobID")).jobId, expected);
}

void TestRecords::integers_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<int>("expected");
    QTest::newRow("whole") << QByteArray("3") << 3;
    QTest::newRow("negative") << QByteArray("-2") << -2;
    QTest::newRow("fraction 2.5") << QByteArray("2.5") << 0;
    QTest::newRow("whole as real") << QByteArray("4.0") << 4;
    QTest::newRow("beyond 32 bits") << QByteArray("3000000000") << 0;
    QTest::newRow("string") << QByteArray("\"3\"") << 0;
    QTest::newRow("boolean") << QByteArray("true") << 0;
}

void TestRecords::integers()
{
    QFETCH(QByteArray, json);
    QFETCH(int, expected);
    const QJsonValue v = parse(json);

    const KsJob job = KsJob::fromJson({ { QStringLiteral("Copies"), v },
                                        { QStringLiteral("DocumentPages"), v },
                                        { QStringLiteral("StatusID"), v },
                                        { QStringLiteral("DuplexMode"), v } });
    QCOMPARE(job.getCopies(), expected);
    QCOMPARE(job.getDocumentPages(), expected);
    QCOMPARE(job.getStatusID(), expected);
    QCOMPARE(job.getDuplexMode(), expected);
    QCOMPARE(KsScanJob::fromJson({ { QStringLiteral("StatusID"), v } }).statusId, expected);
    QCOMPARE(KsUserBase::fromJson({ { QStringLiteral("AreaType"), v } }).areaType, expected);
    const QJsonObject inner { { QStringLiteral("PrintDateID"), v }, { QStringLiteral("PrintTimeID"), v } };
    const KsUserInfo info = KsUserInfo::fromJson({ { QStringLiteral("printTimeInfo"), inner } });
    QCOMPARE(info.printTimeInfo.printDateId, expected);
    QCOMPARE(info.printTimeInfo.printTimeId, expected);
}

void TestRecords::reals_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<double>("expected");
    QTest::newRow("number") << QByteArray("12.5") << 12.5;
    QTest::newRow("whole") << QByteArray("300") << 300.0;
    QTest::newRow("string 12.5") << QByteArray("\"12.5\"") << 0.0;
    QTest::newRow("boolean") << QByteArray("true") << 0.0;
}

void TestRecords::reals()
{
    QFETCH(QByteArray, json);
    QFETCH(double, expected);
    const QJsonValue v = parse(json);

    QCOMPARE(KsProject::fromJson({ { QStringLiteral("Balance"), v } }).balance, expected);
    const KsUserInfo info
        = KsUserInfo::fromJson({ { QStringLiteral("Balance"), v }, { QStringLiteral("HasSpent"), v } });
    QCOMPARE(info.balance, expected);
    QCOMPARE(info.hasSpent, expected);
    const KsJob job = KsJob::fromJson({ { QStringLiteral("PageWidth"), v }, { QStringLiteral("PageHeight"), v } });
    QCOMPARE(job.getPageWidth(), expected);
    QCOMPARE(job.getPageHeight(), expected);
}

void TestRecords::flags_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<bool>("expected");
    QTest::newRow("true") << QByteArray("true") << true;
    QTest::newRow("false") << QByteArray("false") << false;
    QTest::newRow("number 1") << QByteArray("1") << false;
    QTest::newRow("string true") << QByteArray("\"true\"") << false;
}

void TestRecords::flags()
{
    QFETCH(QByteArray, json);
    QFETCH(bool, expected);
    const QJsonValue v = parse(json);

    const KsPrinter printer
        = KsPrinter::fromJson({ { QStringLiteral("Available"), v }, { QStringLiteral("UseCardReader"), v } });
    QCOMPARE(printer.available, expected);
    QCOMPARE(printer.useCardReader, expected);
    const KsUserInfo info = KsUserInfo::fromJson({ { QStringLiteral("IsAllowPrint"), v },
                                                   { QStringLiteral("IsAllowPrintColor"), v },
                                                   { QStringLiteral("IsAllowSimple"), v } });
    QCOMPARE(info.isAllowPrint, expected);
    QCOMPARE(info.isAllowPrintColor, expected);
    QCOMPARE(info.isAllowSimple, expected);
    const KsJob job = KsJob::fromJson({ { QStringLiteral("IsColor"), v }, { QStringLiteral("IsLock"), v } });
    QCOMPARE(job.getIsColor(), expected);
    QCOMPARE(job.getIsLock(), expected);
}

void TestRecords::submitTimeFormats_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QDateTime>("expected");
    QTest::newRow("default text format") << QStringLiteral("Wed May 1 09:15:30 2024")
                                         << QDateTime(QDate(2024, 5, 1), QTime(9, 15, 30));
    QTest::newRow("ISO style is not read") << QStringLiteral("2024-05-01 09:15:30") << QDateTime();
    QTest::newRow("ISO with T is not read") << QStringLiteral("2024-05-01T09:15:30") << QDateTime();
}

void TestRecords::submitTimeFormats()
{
    QFETCH(QString, text);
    QFETCH(QDateTime, expected);
    const KsJob job
        = KsJob::fromJson({ { QStringLiteral("SubmitTime"), text }, { QStringLiteral("Str_SubmitTime"), text } });
    QCOMPARE(job.getSubmitTime().isValid(), expected.isValid());
    if (expected.isValid()) {
        QCOMPARE(job.getSubmitTime(), expected);
    }
    QCOMPARE(job.getSubmitTimeStr(), text);
}

void TestRecords::jobReadsEveryField()
{
    const QJsonObject json { { QStringLiteral("JobID"), 1001 },
                             { QStringLiteral("JobName"), QStringLiteral("Quarterly report.pdf") },
                             { QStringLiteral("Str_SubmitTime"), QStringLiteral("2024-05-01 09:15:30") },
                             { QStringLiteral("SubmitTime"), QStringLiteral("Wed May 1 09:15:30 2024") },
                             { QStringLiteral("StatusID"), 51 },
                             { QStringLiteral("Status"), QStringLiteral("Processing") },
                             { QStringLiteral("Comment"), QStringLiteral("urgent") },
                             { QStringLiteral("UserAccount"), QStringLiteral("alice") },
                             { QStringLiteral("DocTypeName"), QStringLiteral("PDF") },
                             { QStringLiteral("ProjectName"), QStringLiteral("Research") },
                             { QStringLiteral("DocTypeID"), QStringLiteral("3") },
                             { QStringLiteral("DocumentPages"), 12 },
                             { QStringLiteral("Copies"), 2 },
                             { QStringLiteral("DuplexMode"), 1 },
                             { QStringLiteral("IsColor"), true },
                             { QStringLiteral("IsLock"), true },
                             { QStringLiteral("PageHeight"), 297 },
                             { QStringLiteral("PageWidth"), 210 } };
    const KsJob job = KsJob::fromJson(json);
    QCOMPARE(job.getJobID(), QStringLiteral("1001"));
    QCOMPARE(job.getJobName(), QStringLiteral("Quarterly report.pdf"));
    QCOMPARE(job.getSubmitTimeStr(), QStringLiteral("2024-05-01 09:15:30"));
    QCOMPARE(job.getSubmitTime(), QDateTime(QDate(2024, 5, 1), QTime(9, 15, 30)));
    QCOMPARE(job.getStatusID(), 51);
    QCOMPARE(job.getStatus(), QStringLiteral("Processing"));
    QCOMPARE(job.getComment(), QStringLiteral("urgent"));
    QCOMPARE(job.getUserAccount(), QStringLiteral("alice"));
    QCOMPARE(job.getDocTypeName(), QStringLiteral("PDF"));
    QCOMPARE(job.getProjectName(), QStringLiteral("Research"));
    QCOMPARE(job.getDocTypeID(), QStringLiteral("3"));
    QCOMPARE(job.getDocumentPages(), 12);
    QCOMPARE(job.getCopies(), 2);
    QCOMPARE(job.getDuplexMode(), 1);
    QVERIFY(job.getIsColor());
    QVERIFY(job.getIsLock());
    QCOMPARE(job.getPageHeight(), 297.0);
    QCOMPARE(job.getPageWidth(), 210.0);
}

void TestRecords::jobsListKeepsOrderAndNonObjects()
{
    const QJsonObject answer { { QStringLiteral("data"),
                                 QJsonArray { QJsonObject { { QStringLiteral("JobID"), 1 } },
                                              QStringLiteral("not an object"),
                                              QJsonObject { { QStringLiteral("JobID"), QStringLiteral("3") } } } } };
    KsJobs jobs;
    jobs.read(answer);
    const QList<KsJob> list = jobs.getKsJobs();
    QCOMPARE(list.size(), 3);
    QCOMPARE(list.at(0).getJobID(), QStringLiteral("1"));
    QCOMPARE(list.at(1).getJobID(), QStringLiteral("0"));
    QCOMPARE(list.at(1).getJobName(), QString());
    QCOMPARE(list.at(2).getJobID(), QStringLiteral("3"));
}

void TestRecords::emptyOrMissingArraysGiveEmptyLists()
{
    for (const QJsonValue& v :
         { QJsonValue(QJsonArray()), QJsonValue(), QJsonValue(QJsonObject()), QJsonValue(QStringLiteral("[]")) }) {
        QVERIFY(KsJob::listFromJson(v).isEmpty());
        QVERIFY(KsPrinter::listFromJson(v).isEmpty());
        QVERIFY(KsProject::listFromJson(v).isEmpty());
        QVERIFY(KsScanJob::listFromJson(v).isEmpty());
        QVERIFY(Segments::listFromJson(v).isEmpty());
    }
    KsJobs jobs;
    jobs.read({ { QStringLiteral("data"), QJsonArray() } });
    QVERIFY(jobs.getKsJobs().isEmpty());
}

void TestRecords::userInfoTakesPrintTimeFromInnerObjectOnly()
{
    const KsUserInfo outer = KsUserInfo::fromJson({ { QStringLiteral("AllowPrintType"), true },
                                                    { QStringLiteral("PrintDateID"), 1 },
                                                    { QStringLiteral("PrintTimeID"), 2 } });
    QCOMPARE(outer.printTimeInfo.allowPrintType, false);
    QCOMPARE(outer.printTimeInfo.printDateId, 0);
    QCOMPARE(outer.printTimeInfo.printTimeId, 0);

    const QJsonObject inner { { QStringLiteral("AllowPrintType"), true },
                              { QStringLiteral("PrintDateID"), 1 },
                              { QStringLiteral("PrintTimeID"), 2 } };
    const KsUserInfo nested = KsUserInfo::fromJson({ { QStringLiteral("printTimeInfo"), inner } });
    QCOMPARE(nested.printTimeInfo.allowPrintType, true);
    QCOMPARE(nested.printTimeInfo.printDateId, 1);
    QCOMPARE(nested.printTimeInfo.printTimeId, 2);

    const QJsonArray forbidden { QStringLiteral("exe"), 7 };
    QCOMPARE(KsUserInfo::fromJson({ { QStringLiteral("ForbiddenDocTypeList"), forbidden } }).forbiddenDocTypeList,
             forbidden);
}

void TestRecords::recordsReadWhatTheServerSends()
{
    FakeKestranaState state = FakeKestranaState::sample();
    FakeKestranaState::Job job;
    job.account = QStringLiteral("alice");
    job.jobName = QStringLiteral("Annual report.pdf");
    job.submitTime = QDateTime(QDate(2024, 5, 1), QTime(9, 15, 30));
    job.statusId = 51;
    job.pages = 12;
    job.copies = 2;
    job.duplexMode = 2;
    job.color = true;
    job.pageWidth = 215.9;
    job.pageHeight = 279.4;
    job.docTypeId = QStringLiteral("4");
    const qint64 id = state.addJob(job);

    FakeKestranaServer server(state);
    QVERIFY(server.start());
    HttpExchange exchange;
    auto data = [&](const QString& pathAndQuery) {
        const HttpAnswer answer = exchange.get(server.httpUrl() + pathAndQuery);
        return answer.isObject() ? answer.object() : QJsonObject();
    };

    const QList<KsJob> jobs = KsJob::listFromJson(
        data(QStringLiteral("/Job/BAS_JobStausList?UserAccount=alice")).value(QLatin1String("data")));
    QCOMPARE(jobs.size(), 1);
    QCOMPARE(jobs.at(0).getJobID(), QString::number(id));
    QCOMPARE(jobs.at(0).getJobName(), QStringLiteral("Annual report.pdf"));
    QCOMPARE(jobs.at(0).getSubmitTime(), job.submitTime);
    QCOMPARE(jobs.at(0).getSubmitTimeStr(), QStringLiteral("2024-05-01 09:15:30"));
    QCOMPARE(jobs.at(0).getStatusID(), 51);
    QCOMPARE(jobs.at(0).getDocumentPages(), 12);
    QCOMPARE(jobs.at(0).getCopies(), 2);
    QCOMPARE(jobs.at(0).getDuplexMode(), 2);
    QCOMPARE(jobs.at(0).getIsColor(), true);
    QCOMPARE(jobs.at(0).getPageWidth(), 215.9);
    QCOMPARE(jobs.at(0).getDocTypeID(), QStringLiteral("4"));
    QCOMPARE(jobs.at(0).getUserAccount(), QStringLiteral("alice"));

    const QList<KsScanJob> scans = KsScanJob::listFromJson(
        data(QStringLiteral("/Job/BAS_ScanJobList?UserAccount=alice")).value(QLatin1String("data")));
    QCOMPARE(scans.size(), 2);
    QCOMPARE(scans.at(0).jobId, QStringLiteral("5001"));
    QCOMPARE(scans.at(0).jobName, QStringLiteral("scan-contract.pdf"));
    QCOMPARE(scans.at(0).submitTime, QStringLiteral("2024-05-01 09:15:00"));
    QCOMPARE(scans.at(0).statusId, 7);
    QCOMPARE(scans.at(0).deviceName, QStringLiteral("Floor 2 Colour"));

    const KsUserBase details
        = KsUserBase::fromJson(data(QStringLiteral("/PersonalInfo/ClientUserBaseInfo?UserAccount=alice"))
                                   .value(QLatin1String("data"))
                                   .toObject());
    QCOMPARE(details.userAccount, QStringLiteral("alice"));
    QCOMPARE(details.email, QStringLiteral("alice@example.org"));
    QCOMPARE(details.mobile, QStringLiteral("13800000001"));
    QCOMPARE(details.telNumber, QStringLiteral("010-5550101"));
    QCOMPARE(details.areaType, 1);

    server.stop();
}

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"
