// The jobs, scan-jobs, account and devices tabs against the fake server: what the tables show, what
// cancel and delete send and report, the two job pollers, and the scan-job download.
#include "ui_MainWindow.h"

#include "FakeKestranaServer.h"
#include "PdfMaker.h"
#include "ServerStates.h"
#include "TestHome.h"
#include "WindowFixture.h"
#include "api/HttpExchange.h"
#include "app/Logging.h"
#include "jobs/JobQueue.h"
#include "ui/FileTransfer.h"
#include "ui/MainWindow.h"
#include "ui/Prompts.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QItemSelectionModel>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

Q_DECLARE_METATYPE(FakeReply)

namespace {
QStringList storedMessages()
{
    QStringList texts;
    QSqlQuery query(QStringLiteral("SELECT message FROM Message ORDER BY msgId"));
    while (query.next()) {
        texts.append(query.value(0).toString());
    }
    return texts;
}

using WindowFixture::capturedContaining;

FakeKestranaState::Job makeJob(const QString& name, int status, int duplex = 0, bool color = false)
{
    FakeKestranaState::Job job;
    job.account = QStringLiteral("alice");
    job.jobName = name;
    job.statusId = status;
    job.duplexMode = duplex;
    job.color = color;
    job.copies = 2;
    job.pages = 3;
    job.pageWidth = 210;
    job.pageHeight = 297;
    job.submitTime = QDateTime(QDate(2024, 5, 1), QTime(9, 30));
    return job;
}

void selectRows(QTableView* view, const QList<int>& rows)
{
    view->clearSelection();
    for (int row : rows) {
        view->selectionModel()->select(view->model()->index(row, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
}

QList<int> firstRows(int count)
{
    QList<int> rows;
    for (int i = 0; i < count; ++i) {
        rows.append(i);
    }
    return rows;
}
} // namespace

class TestTabs : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void jobsTable();
    void jobsEmptyAnswerEmptiesTable();
    void jobsFailedAnswerKeepsRows_data();
    void jobsFailedAnswerKeepsRows();
    void cancelJobs_data();
    void cancelJobs();
    void cancelTakesTheRowsSelectedAtThePress();

    void pollBands_data();
    void pollBands();
    void statusPoll();
    void listPoll();
    void onePassOneListRefresh();

    void scanJobsTable();
    void deleteScanJobs_data();
    void deleteScanJobs();
    void downloadScanJob();
    void downloadScanJobFails_data();
    void downloadScanJobFails();
    void secondDownloadReplacesFirst();
    void tabsRefreshWhenServerReturns();

    void accountTab();
    void accountAnswersInEitherOrder();
    void devicesTab();

private:
    std::unique_ptr<MainWindow> makeWindow();

    TestHome m_home;
    std::unique_ptr<FakeKestranaServer> m_server;
};

void TestTabs::init()
{
    m_server = std::make_unique<FakeKestranaServer>(FakeKestranaState::sample());
    QVERIFY(m_server->start());
    WindowFixture::beginCase(m_home);
}

void TestTabs::cleanup()
{
    WindowFixture::endCase();
    m_server.reset();
}

std::unique_ptr<MainWindow> TestTabs::makeWindow()
{
    // Let the first loads land before the test changes anything.
    return WindowFixture::openWindow(m_server->httpUrl(), QVariantMap(), [](MainWindow& window) {
        return window.form()->tabDevices->model()->rowCount() == 2;
    });
}

void TestTabs::jobsTable()
{
    m_server->updateState([](FakeKestranaState& s) {
        s.addJob(makeJob(QStringLiteral("report.pdf"), 51, 1, true));
        FakeKestranaState::Job letter = makeJob(QStringLiteral("letter.pdf"), 1, 2);
        letter.pageWidth = 215.9;
        letter.pageHeight = 279.4;
        s.addJob(letter);
        s.addJob(makeJob(QStringLiteral("notes.pdf"), 53, 0));
    });
    auto window = makeWindow();
    QVERIFY(window);
    QStandardItemModel* model = window->form()->tabJobs->model();
    QTRY_COMPARE(model->rowCount(), 3);

    const QStringList headers { "docName", "submitTime", "status",     "copies",   "color", "pages",
                                "duplex",  "pageWidth",  "pageHeight", "statusid", "jobID" };
    for (int c = 0; c < headers.size(); ++c) {
        QCOMPARE(model->headerData(c, Qt::Horizontal).toString(), headers.at(c));
    }
    auto row = [&](int r) {
        QStringList cells;
        for (int c = 0; c < model->columnCount(); ++c) {
            cells << model->index(r, c).data().toString();
        }
        return cells;
    };
    QCOMPARE(row(0),
             (QStringList { "report.pdf", "2024-05-01 09:30:00", "WaterProcessing", "2", "true", "3", "LongEdge", "210",
                            "297", "51", "1001" }));
    QCOMPARE(row(1),
             (QStringList { "letter.pdf", "2024-05-01 09:30:00", "WaitPrint", "2", "false", "3", "ShortEdge", "215.9",
                            "279.4", "1", "1002" }));
    QCOMPARE(row(2).at(6), QStringLiteral("None"));

    QTableView* view = window->form()->tvJobs;
    // The set widths are the least; a date longer than its column widens it rather than being cut. A hidden
    // page measures once it is shown.
    QCOMPARE(view->columnWidth(1), 130);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QCOMPARE(view->columnWidth(0), 200);
    QVERIFY(view->columnWidth(6) >= 80);
    QVERIFY(view->columnWidth(1) >= 130);
    QVERIFY(view->columnWidth(1) >= view->fontMetrics().horizontalAdvance(QStringLiteral("2024-05-01 09:30:00")));
    QVERIFY(view->isColumnHidden(9));
    QVERIFY(view->isColumnHidden(10));
    QCOMPARE(view->selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(view->editTriggers(), QAbstractItemView::NoEditTriggers);
    QCOMPARE(window->form()->tabWidget->tabText(0), QStringLiteral("Jobs(3)"));
}

void TestTabs::jobsEmptyAnswerEmptiesTable()
{
    m_server->updateState([](FakeKestranaState& s) { s.addJob(makeJob(QStringLiteral("a.pdf"), 1)); });
    auto window = makeWindow();
    QVERIFY(window);
    QTRY_COMPARE(window->form()->tabJobs->model()->rowCount(), 1);
    auto* hint = window->form()->tvJobs->findChild<QLabel*>(QStringLiteral("emptyTableHintLabel"));
    QVERIFY(hint);
    QVERIFY(hint->isHidden());
    m_server->setOverride(QStringLiteral("/Job/BAS_JobStausList"), FakeReply::envelope(0, "success", QJsonArray()));
    window->form()->tabJobs->load();
    QTRY_COMPARE(window->form()->tabWidget->tabText(0), QStringLiteral("Jobs(0)"));
    QCOMPARE(window->form()->tabJobs->model()->rowCount(), 0);
    // An empty table says so.
    QVERIFY(!hint->isHidden());
    QCOMPARE(hint->text(), QStringLiteral("No print jobs"));
}

void TestTabs::jobsFailedAnswerKeepsRows_data()
{
    QTest::addColumn<FakeReply>("reply");
    QTest::addColumn<QString>("logged");
    QTest::addColumn<QString>("status"); // the network notice afterwards
    QTest::newRow("not JSON") << FakeReply::html500() << "[mainwindow.loadJobData]  ex message:"
                              << "online";
    QTest::newRow("refused") << FakeReply::envelope(7, "User not found here")
                             << "[mainwindow.loadJobData] fail message:User not found here"
                             << "online";
    // A server that takes the request and never answers: the load ends with the time-out, and the status says so.
    QTest::newRow("no answer") << FakeReply::neverAnswer()
                               << "[mainwindow.loadJobData]  ex message:the server did not answer in time"
                               << "offline: the server did not answer in time";
}

void TestTabs::jobsFailedAnswerKeepsRows()
{
    QFETCH(FakeReply, reply);
    QFETCH(QString, logged);
    QFETCH(QString, status);
    m_server->updateState([](FakeKestranaState& s) { s.addJob(makeJob(QStringLiteral("a.pdf"), 1)); });
    auto window = makeWindow();
    QVERIFY(window);
    QTRY_COMPARE(window->form()->tabJobs->model()->rowCount(), 1);
    window->form()->tabJobs->jobStatusTimer()->start(60000);
    m_server->setOverride(QStringLiteral("/Job/BAS_JobStausList"), reply);
    HttpExchange::setTransferTimeoutForTests(500);
    Logging::takeCaptured();

    window->form()->tabJobs->load();

    QTRY_VERIFY(!window->form()->tabJobs->jobStatusTimer()->isActive());
    QCOMPARE(window->form()->tabJobs->model()->rowCount(), 1);
    const QStringList lines = capturedContaining(QStringLiteral("[mainwindow.loadJobData]"));
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines.first().startsWith(logged), qPrintable(lines.first()));
    QCOMPARE(window->form()->labNetwork->text().section(QStringLiteral(" · "), 0, 0), status);
    HttpExchange::setTransferTimeoutForTests(0);
    m_server->releaseHeldConnections();
}

void TestTabs::cancelJobs_data()
{
    QTest::addColumn<int>("jobs");
    QTest::addColumn<QList<int>>("selected");
    QTest::addColumn<int>("answer"); // to "Do you want to cancel the selected jobs?"
    QTest::addColumn<bool>("refuse");
    QTest::addColumn<QStringList>("boxes"); // texts of the boxes shown, in order
    QTest::addColumn<bool>("sent");

    const QString question = QStringLiteral("Do you want to cancel the selected jobs?");
    QTest::newRow("30 in one request") << 30 << firstRows(30) << int(QMessageBox::Yes) << false
                                       << QStringList { question } << true;
    QTest::newRow("31 refused") << 31 << firstRows(31) << int(QMessageBox::Yes) << false
                                << QStringList { question, "Batch deletion (up to 30)" } << false;
    QTest::newRow("awaiting approval") << 3 << QList<int> { 0, 2 } << int(QMessageBox::Yes) << false
                                       << QStringList { question, "Cannot delete the job to be approved" } << false;
    QTest::newRow("nothing selected") << 2 << QList<int>() << int(QMessageBox::Yes) << false
                                      << QStringList { "Please select data" } << false;
    QTest::newRow("answered no") << 2 << QList<int> { 0 } << int(QMessageBox::No) << false << QStringList { question }
                                 << false;
    QTest::newRow("server refuses") << 2 << QList<int> { 0, 1 } << int(QMessageBox::Yes) << true
                                    << QStringList { question, "job [job0.pdf|job1.pdf] not deleted\nJob is locked" }
                                    << true;
}

void TestTabs::cancelJobs()
{
    QFETCH(int, jobs);
    QFETCH(QList<int>, selected);
    QFETCH(int, answer);
    QFETCH(bool, refuse);
    QFETCH(QStringList, boxes);
    QFETCH(bool, sent);

    m_server->updateState([&](FakeKestranaState& s) {
        for (int i = 0; i < jobs; ++i) {
            // The last job of the "awaiting approval" case waits for approval (status 53).
            s.addJob(makeJob(QStringLiteral("job%1.pdf").arg(i), (jobs == 3 && i == 2) ? 53 : 1));
        }
    });
    auto window = makeWindow();
    QVERIFY(window);
    QTRY_COMPARE(window->form()->tabJobs->model()->rowCount(), jobs);
    window->showSystemTrayIcon();
    if (refuse) {
        m_server->setOverride(QStringLiteral("/Job/BAS_CancelJob"), FakeReply::envelope(5, "Job is locked"));
    }
    selectRows(window->form()->tvJobs, selected);
    Prompts::takeCaptured();
    Prompts::setNextAnswer(QMessageBox::StandardButton(answer));
    m_server->clearRequests();

    QTest::mouseClick(window->form()->btnDelete, Qt::LeftButton);

    QStringList shown;
    for (const Prompts::Record& box : Prompts::takeCaptured()) {
        shown << box.text;
    }
    QCOMPARE(shown, boxes);
    const QList<FakeRequest> cancels = m_server->requestsTo(QStringLiteral("/Job/BAS_CancelJob"));
    QCOMPARE(cancels.size(), sent ? 1 : 0);
    if (!sent) {
        QVERIFY(storedMessages().isEmpty());
        return;
    }
    QByteArray expected = "UserAccount=alice&Type=0";
    QStringList names;
    for (int i = 0; i < selected.size(); ++i) {
        expected += "&JobID%5B" + QByteArray::number(i) + "%5D=" + QByteArray::number(1001 + selected.at(i));
        names << QStringLiteral("job%1.pdf").arg(selected.at(i));
    }
    QCOMPARE(cancels.first().query, expected);
    if (refuse) {
        QCOMPARE(storedMessages(), QStringList { QStringLiteral("job [%1] not deleted").arg(names.join('|')) });
        QCOMPARE(m_server->job(1001).cancelled, false);
    } else {
        QCOMPARE(storedMessages(), QStringList { QStringLiteral("job [%1] deleted").arg(names.join('|')) });
        QVERIFY(m_server->job(1001 + selected.last()).cancelled);
        // The table follows the server: the cancelled jobs are gone after the reload.
        QTRY_COMPARE(window->form()->tabJobs->model()->rowCount(), jobs - selected.size());
    }
}

void TestTabs::pollBands_data()
{
    QTest::addColumn<double>("size");
    QTest::addColumn<int>("interval");
    QTest::newRow("0") << 0.0 << 2000;
    QTest::newRow("1") << 1.0 << 2000;
    QTest::newRow("50") << 50.0 << 2000;
    QTest::newRow("51") << 51.0 << 5000;
    QTest::newRow("100") << 100.0 << 5000;
    QTest::newRow("101") << 101.0 << 15000;
    QTest::newRow("500") << 500.0 << 15000;
    QTest::newRow("501") << 501.0 << 30000;
    QTest::newRow("1 MiB") << 1048576.0 << 30000;
}

void TestTabs::pollBands()
{
    QFETCH(double, size);
    QFETCH(int, interval);
    QCOMPARE(JobsTab::pollInterval(size), interval);
}

void TestTabs::statusPoll()
{
    auto window = makeWindow();
    QVERIFY(window);
    QTimer* timer = window->form()->tabJobs->jobStatusTimer();
    window->form()->tabJobs->setCurrentJobId(QStringLiteral("1042"));
    const auto statusAnswer = [](int status, double size) {
        QJsonObject data { { "JobID", 1042 }, { "JobName", "thesis.pdf" }, { "Status", status }, { "FileSize", size } };
        return FakeReply::envelope(0, "success", data).times(1);
    };
    const QString path = QStringLiteral("/Job/BAS_GetJobStatusInfo");

    m_server->setOverride(path, statusAnswer(51, 80));
    window->form()->tabJobs->getJobStatusInfo();
    QTRY_VERIFY(timer->isActive());
    QCOMPARE(timer->interval(), 5000);
    QCOMPARE(m_server->lastRequest(path).query, QByteArray("jobId=1042"));

    // A second "being processed" keeps the running timer's interval.
    m_server->setOverride(path, statusAnswer(51, 900));
    window->form()->tabWidget->setTabText(0, QStringLiteral("answer pending"));
    window->form()->tabJobs->getJobStatusInfo();
    QTRY_COMPARE(window->form()->tabWidget->tabText(0), QStringLiteral("Jobs(0)")); // the answer was handled
    QVERIFY(timer->isActive());
    QCOMPARE(timer->interval(), 5000);

    // Done: stored, reported, and the poll stops.
    m_server->setOverride(path, statusAnswer(5, 900));
    window->form()->tabJobs->getJobStatusInfo();
    QTRY_VERIFY(!timer->isActive());
    QCOMPARE(storedMessages(), QStringList { QStringLiteral("job [thesis.pdf] submited success") });
    QTRY_COMPARE(window->form()->tabMessages->model()->rowCount(), 1);

    // A failed status answer also stops it.
    timer->start(2000);
    m_server->setOverride(path, FakeReply::envelope(9, "Job does not exist"));
    window->form()->tabJobs->getJobStatusInfo();
    QTRY_VERIFY(!timer->isActive());
}

void TestTabs::listPoll()
{
    auto window = makeWindow();
    QVERIFY(window);
    QTRY_COMPARE(window->form()->tabWidget->tabText(0), QStringLiteral("Jobs(0)"));
    QTimer* timer = window->form()->tabJobs->jobListTimer();
    // A submission of a 600-byte file starts from a table with 0 rows.
    window->form()->tabJobs->setRowCountBeforeSubmit(window->form()->tabJobs->model()->rowCount());
    window->form()->tabJobs->setUploadedFileSize(600);

    window->form()->tabJobs->RefreshJobInfo();
    QVERIFY(timer->isActive());
    QCOMPARE(timer->interval(), 30000);

    // The server lists the new job; once that answer is in, the next poll stops.
    m_server->updateState([](FakeKestranaState& s) { s.addJob(makeJob(QStringLiteral("new.pdf"), 1)); });
    window->form()->tabJobs->load();
    QTRY_COMPARE(window->form()->tabJobs->model()->rowCount(), 1);
    window->form()->tabJobs->RefreshJobInfo();
    QVERIFY(!timer->isActive());
}

void TestTabs::onePassOneListRefresh()
{
    m_server->updateState(ServerStates::removeNoCardNeeds);
    auto window = makeWindow();
    QVERIFY(window);
    QTRY_COMPARE(window->form()->tabWidget->tabText(0), QStringLiteral("Jobs(0)"));
    const QString folder = window->jobQueue()->jobPath();
    const QStringList names { QStringLiteral("one.pdf"), QStringLiteral("two.pdf"), QStringLiteral("three.pdf") };
    for (int i = 0; i < names.size(); ++i) {
        const QString base = folder + QStringLiteral("/job%1").arg(i + 1);
        QFile params(base);
        QVERIFY(params.open(QIODevice::WriteOnly));
        params.write("[PrintPara]\nDocName=" + names.at(i).toUtf8() + "\n");
        params.close();
        QVERIFY(PdfMaker::write(base + QStringLiteral(".pdf"), 1));
    }
    m_server->clearRequests();

    window->jobQueue()->timerCallback();

    QCOMPARE(m_server->requestCount(QStringLiteral("/Job/BAS_UploadComplete")), names.size());
    // The pass's jobs show after one list request, not one per job.
    QTRY_COMPARE(window->form()->tabJobs->model()->rowCount(), names.size());
    QCOMPARE(m_server->requestCount(QStringLiteral("/Job/BAS_JobStausList")), 1);
    // The pollers follow the pass's last job.
    const QList<FakeRequest> confirms = m_server->requestsTo(QStringLiteral("/Job/BAS_UploadComplete"));
    QCOMPARE(window->form()->tabJobs->currentJobId(), confirms.last().formField(QStringLiteral("JobID")));
    QVERIFY(window->form()->tabJobs->jobListTimer()->isActive());
}

void TestTabs::scanJobsTable()
{
    const QJsonArray list {
        QJsonObject {
            { "JobID", 5001 }, { "JobName", "a.pdf" }, { "SubmitTime", "2024-05-01 09:15:00" }, { "StatusID", 7 } },
        QJsonObject { { "JobID", "S-2" }, { "JobName", "b.jpg" }, { "SubmitTime", "x" }, { "StatusID", 14 } },
        QJsonObject { { "JobID", 77 }, { "JobName", "c.png" }, { "SubmitTime", "y" } }
    };
    m_server->setOverride(QStringLiteral("/Job/BAS_ScanJobList"), FakeReply::envelope(0, "success", list));
    auto window = makeWindow();
    QVERIFY(window);
    QStandardItemModel* model = window->form()->tabScanJobs->model();
    QTRY_COMPARE(model->rowCount(), 3);
    QCOMPARE(model->index(0, 0).data().toString(), QStringLiteral("5001"));
    QCOMPARE(model->index(1, 0).data().toString(), QStringLiteral("S-2"));
    QCOMPARE(model->index(0, 3).data().toString(), QStringLiteral("已打印"));
    QCOMPARE(model->index(1, 3).data().toString(), QStringLiteral("已下载"));
    QCOMPARE(model->index(2, 3).data().toString(), QStringLiteral("待下载"));
    QCOMPARE(model->headerData(1, Qt::Horizontal).toString(), QStringLiteral("JobName"));
    QCOMPARE(window->form()->tvScanJobs->columnWidth(1), 200);
    QVERIFY(window->form()->tvScanJobs->columnWidth(2) >= 150);
    QCOMPARE(window->form()->tabWidget->tabText(2), QStringLiteral("ScanJobs(3)"));
}

// A reload while the question is open moves the rows; the job cancelled is the one that was selected.
void TestTabs::cancelTakesTheRowsSelectedAtThePress()
{
    m_server->updateState([&](FakeKestranaState& s) {
        for (int i = 0; i < 3; ++i) {
            s.addJob(makeJob(QStringLiteral("job%1.pdf").arg(i), 1));
        }
    });
    auto window = makeWindow();
    QVERIFY(window);
    QTRY_COMPARE(window->form()->tabJobs->model()->rowCount(), 3);
    selectRows(window->form()->tvJobs, { 1 });
    Prompts::stopCapture(); // a real box, open while the table changes
    bool answered = false;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&]() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || answered) {
            return;
        }
        answered = true;
        // A reload in another order, the selection back on the second row: now another job.
        window->form()->tabJobs->model()->appendRow(window->form()->tabJobs->model()->takeRow(0));
        selectRows(window->form()->tvJobs, { 1 });
        for (QAbstractButton* button : box->buttons()) {
            if (button->text() == QLatin1String("Yes")) {
                button->click();
            }
        }
    });
    poll.start(20);
    m_server->clearRequests();
    QTest::mouseClick(window->form()->btnDelete, Qt::LeftButton);
    poll.stop();
    Prompts::startCapture();
    QVERIFY(answered);
    const QList<FakeRequest> cancels = m_server->requestsTo(QStringLiteral("/Job/BAS_CancelJob"));
    QCOMPARE(cancels.size(), 1);
    QCOMPARE(cancels.first().query, QByteArray("UserAccount=alice&Type=0&JobID%5B0%5D=1002"));
}

void TestTabs::deleteScanJobs_data()
{
    QTest::addColumn<QList<int>>("selected");
    QTest::addColumn<bool>("refuse");
    QTest::addColumn<QString>("stored");
    QTest::newRow("both") << QList<int> { 0, 1 } << false << "ScanJob [scan-contract.pdf|scan-receipt.jpg] deleted";
    QTest::newRow("refused") << QList<int> { 1 } << true << "ScanJob [scan-receipt.jpg] not deleted";
}

void TestTabs::deleteScanJobs()
{
    QFETCH(QList<int>, selected);
    QFETCH(bool, refuse);
    QFETCH(QString, stored);
    auto window = makeWindow();
    QVERIFY(window);
    QTRY_COMPARE(window->form()->tabScanJobs->model()->rowCount(), 2);
    if (refuse) {
        m_server->setOverride(QStringLiteral("/Job/BAS_DeleteScanJob"), FakeReply::html500());
    }
    selectRows(window->form()->tvScanJobs, selected);
    Prompts::takeCaptured();
    Prompts::setNextAnswer(QMessageBox::Yes);

    QTest::mouseClick(window->form()->btnDeleteScanJob, Qt::LeftButton);

    const auto boxes = Prompts::takeCaptured();
    QVERIFY(!boxes.isEmpty());
    QCOMPARE(boxes.first().text, QStringLiteral("Do you want to cancel the selected scan jobs?"));
    QByteArray expected = "UserAccount=alice";
    for (int i = 0; i < selected.size(); ++i) {
        expected += "&JobID%5B" + QByteArray::number(i) + "%5D=" + QByteArray::number(5001 + selected.at(i));
    }
    QCOMPARE(m_server->lastRequest(QStringLiteral("/Job/BAS_DeleteScanJob")).query, expected);
    QCOMPARE(storedMessages(), QStringList { stored });
    if (refuse) {
        QCOMPARE(boxes.size(), 2);
        QCOMPARE(boxes.at(1).icon, QMessageBox::Warning);
        QVERIFY(boxes.at(1).text.startsWith(stored));
        QTRY_COMPARE(window->form()->tabScanJobs->model()->rowCount(), 2);
    } else {
        QCOMPARE(boxes.size(), 1);
        QTRY_COMPARE(window->form()->tabScanJobs->model()->rowCount(), 0);
    }
}

void TestTabs::downloadScanJob()
{
    auto window = makeWindow();
    QVERIFY(window);
    QTRY_COMPARE(window->form()->tabScanJobs->model()->rowCount(), 2);
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("saved.pdf"));
    QFile stale(target);
    QVERIFY(stale.open(QIODevice::WriteOnly));
    stale.write(QByteArray(4096, 'x')); // an older, longer file at the same place is replaced
    stale.close();
    QString proposed;
    window->downloads()->setSaveFileChooser([&](const QString& name) {
        proposed = name;
        return target;
    });
    selectRows(window->form()->tvScanJobs, { 0 });
    Prompts::takeCaptured();
    Prompts::setNextAnswer(QMessageBox::No); // do not open the folder
    QSignalSpy finished(window->downloads(), &FileTransfer::finished);

    QTest::mouseClick(window->form()->btnDownloadSj, Qt::LeftButton);

    QCOMPARE(proposed, QStringLiteral("scan-contract.pdf"));
    QVERIFY(window->form()->progressBar->isVisibleTo(window.get()));
    QTRY_COMPARE(finished.count(), 1);
    QCOMPARE(finished.first().first().toBool(), true);
    QFile saved(target);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), QByteArray("%PDF-1.4\n% scanned contract\n"));
    QCOMPARE(m_server->lastRequest(QStringLiteral("/Job/BAS_DownloadScanJob")).query, QByteArray("JobID=5001"));
    const auto boxes = Prompts::takeCaptured();
    QCOMPARE(boxes.size(), 1);
    // The box names the file saved.
    QCOMPARE(boxes.first().text, QStringLiteral("Download Success!\nDo you want to open the file?\n\n") + target);
    QVERIFY(!window->form()->progressBar->isVisibleTo(window.get()));

    // The save dialog opens in the download folder, or in the home folder while there is none.
    const QString downloads = QDir::home().filePath(QStringLiteral("Downloads"));
    QDir(downloads).removeRecursively();
    QCOMPARE(FileTransfer::startFolder(), QDir::homePath());
    QVERIFY(QDir().mkpath(downloads));
    QCOMPARE(FileTransfer::startFolder(), downloads);
    QDir(downloads).removeRecursively();
}

void TestTabs::downloadScanJobFails_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("HTTP error") << 0;
    QTest::newRow("connection cut") << 1;
}

void TestTabs::downloadScanJobFails()
{
    QFETCH(int, kind);
    auto window = makeWindow();
    QVERIFY(window);
    QTRY_COMPARE(window->form()->tabScanJobs->model()->rowCount(), 2);
    m_server->setOverride(QStringLiteral("/Job/BAS_DownloadScanJob"),
                          kind == 0 ? FakeReply::html500() : FakeReply::closeMidBody(QByteArray(200000, 'z')));
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("saved.pdf"));
    window->downloads()->setSaveFileChooser([&](const QString&) { return target; });
    selectRows(window->form()->tvScanJobs, { 1 });
    Prompts::takeCaptured();
    QSignalSpy finished(window->downloads(), &FileTransfer::finished);

    QTest::mouseClick(window->form()->btnDownloadSj, Qt::LeftButton);

    QTRY_COMPARE(finished.count(), 1);
    QCOMPARE(finished.first().first().toBool(), false);
    QVERIFY(!QFile::exists(target));
    const auto boxes = Prompts::takeCaptured();
    QCOMPARE(boxes.size(), 1);
    QVERIFY(boxes.first().text.startsWith(QStringLiteral("Download failed!")));
}

void TestTabs::secondDownloadReplacesFirst()
{
    // The first download never gets its answer; the user starts another and agrees to replace it.
    m_server->setOverride(QStringLiteral("/Job/BAS_DownloadScanJob"), FakeReply::neverAnswer().times(1));
    auto window = makeWindow();
    QVERIFY(window);
    QTRY_COMPARE(window->form()->tabScanJobs->model()->rowCount(), 2);
    QTemporaryDir dir;
    const QString first = dir.filePath(QStringLiteral("first.pdf"));
    const QString second = dir.filePath(QStringLiteral("second.pdf"));
    QString target = first;
    window->downloads()->setSaveFileChooser([&](const QString&) { return target; });
    QSignalSpy finished(window->downloads(), &FileTransfer::finished);
    selectRows(window->form()->tvScanJobs, { 0 });
    QTest::mouseClick(window->form()->btnDownloadSj, Qt::LeftButton);
    QTRY_COMPARE(m_server->heldConnections(), 1);
    QVERIFY(QFile::exists(first));

    target = second;
    Prompts::takeCaptured();
    Prompts::setNextAnswer(QMessageBox::Yes); // replace the running download
    Prompts::setNextAnswer(QMessageBox::No); // do not open the folder
    QTest::mouseClick(window->form()->btnDownloadSj, Qt::LeftButton);

    QTRY_COMPARE(finished.count(), 2);
    QCOMPARE(finished.at(0).first().toBool(), false); // the replaced one
    QCOMPARE(finished.at(1).first().toBool(), true);
    QVERIFY(!QFile::exists(first));
    QFile saved(second);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), QByteArray("%PDF-1.4\n% scanned contract\n"));
    const auto boxes = Prompts::takeCaptured();
    QCOMPARE(boxes.size(), 2);
    QVERIFY(boxes.at(0).text.contains(first));
    QCOMPARE(boxes.at(1).text, QStringLiteral("Download Success!\nDo you want to open the file?\n\n") + second);

    // Refusing to replace keeps the running one and starts nothing.
    m_server->releaseHeldConnections();
    m_server->setOverride(QStringLiteral("/Job/BAS_DownloadScanJob"), FakeReply::neverAnswer().times(1));
    target = first;
    QTest::mouseClick(window->form()->btnDownloadSj, Qt::LeftButton);
    QTRY_COMPARE(m_server->heldConnections(), 1);
    target = dir.filePath(QStringLiteral("third.pdf"));
    Prompts::setNextAnswer(QMessageBox::No);
    QTest::mouseClick(window->form()->btnDownloadSj, Qt::LeftButton);
    QVERIFY(QFile::exists(first));
    QVERIFY(!QFile::exists(target));
    QCOMPARE(finished.count(), 2);
    m_server->releaseHeldConnections();
}

void TestTabs::tabsRefreshWhenServerReturns()
{
    FakeKestranaState::Job processing = makeJob(QStringLiteral("report.pdf"), 51, 1);
    qint64 id = 0;
    m_server->updateState([&](FakeKestranaState& s) { id = s.addJob(processing); });
    auto window = makeWindow();
    QVERIFY(window);
    QTRY_COMPARE(window->form()->tabJobs->model()->rowCount(), 1);
    QVERIFY(window->monitor().isOnline());
    // The status poll follows the job.
    window->form()->tabJobs->setCurrentJobId(QString::number(id));
    window->form()->tabJobs->getJobStatusInfo();
    QTRY_VERIFY(window->form()->tabJobs->jobStatusTimer()->isActive());

    // The server goes away: the next poll fails and stops, and the window says it is offline.
    m_server->setOverride(QStringLiteral("/"), FakeReply::html500());
    m_server->setOverride(QStringLiteral("/Job/BAS_GetJobStatusInfo"), FakeReply::html500());
    QTRY_VERIFY_WITH_TIMEOUT(!window->form()->tabJobs->jobStatusTimer()->isActive(), 40000);
    QVERIFY(!window->checkNetworkState(false));
    QVERIFY(!window->monitor().isOnline());
    QVERIFY(window->form()->labNetwork->text().startsWith(QStringLiteral("offline")));

    // Meanwhile another job arrives; then the server is back and the next check sees it.
    m_server->updateState([](FakeKestranaState& s) { s.addJob(makeJob(QStringLiteral("late.pdf"), 1)); });
    m_server->clearOverrides();
    const int polls = m_server->requestCount(QStringLiteral("/Job/BAS_GetJobStatusInfo"));
    QVERIFY(window->checkNetworkState(false));

    QTRY_COMPARE(window->form()->tabJobs->model()->rowCount(), 2);
    QCOMPARE(window->form()->labNetwork->text(), QStringLiteral("online"));
    QTRY_VERIFY(m_server->requestCount(QStringLiteral("/Job/BAS_GetJobStatusInfo")) > polls);
    QTRY_VERIFY(window->form()->tabJobs->jobStatusTimer()->isActive());
}

void TestTabs::accountTab()
{
    auto window = makeWindow();
    QVERIFY(window);
    Ui::MainWindow* ui = window->form();
    QTRY_COMPARE(ui->txtTelNumber->text(), QStringLiteral("13800000001")); // Mobile, not TelNumber
    QTRY_COMPARE(ui->txtUserGroup->text(), QStringLiteral("Staff"));
    QCOMPARE(ui->txtBalance->text(), QStringLiteral("42.5"));
    QCOMPARE(ui->txtCardNumber->text(), QStringLiteral("C-1001"));
    QCOMPARE(ui->txtSpend->text(), QStringLiteral("7.25"));
    QCOMPARE(ui->txtEmail->text(), QStringLiteral("alice@example.org"));
    QVERIFY(ui->chkIsAllowPrintColor->isChecked());
    QVERIFY(ui->chkPrintDateLimit->isChecked());
    QVERIFY(ui->chkPrintTimeLimit->isChecked());
    // Display-only: the values are read-only yet reachable and readable; the rules' boxes cannot be ticked.
    for (QLineEdit* w :
         { ui->txtBalance, ui->txtUserGroup, ui->txtCardNumber, ui->txtSpend, ui->txtEmail, ui->txtTelNumber }) {
        QVERIFY2(w->isEnabled() && w->isReadOnly(), qPrintable(w->objectName()));
    }
    for (QWidget* w :
         std::initializer_list<QWidget*> { ui->chkIsAllowPrintColor, ui->chkPrintDateLimit, ui->chkPrintTimeLimit }) {
        QVERIFY2(!w->isEnabled(), qPrintable(w->objectName()));
    }
    QCOMPARE(window->form()->tabUserInfo->userInfo().groupName, QStringLiteral("Staff"));
    QCOMPARE(ui->tabWidget->tabText(3), QStringLiteral("UserInfo"));

    // A date rule of 0 leaves its box unticked.
    m_server->updateState([](FakeKestranaState& s) { s.findUser(QStringLiteral("alice"))->printDateId = 0; });
    window->form()->tabUserInfo->load();
    QTRY_VERIFY(!ui->chkPrintDateLimit->isChecked());
    QVERIFY(ui->chkPrintTimeLimit->isChecked());
}

void TestTabs::accountAnswersInEitherOrder()
{
    auto window = makeWindow();
    QVERIFY(window);
    Ui::MainWindow* ui = window->form();
    QTRY_COMPARE(ui->txtUserGroup->text(), QStringLiteral("Staff"));
    m_server->updateState([](FakeKestranaState& s) {
        s.findUser(QStringLiteral("alice"))->groupName = QStringLiteral("Faculty");
        s.findUser(QStringLiteral("alice"))->email = QStringLiteral("a@b.c");
    });
    // The permission answer comes late; the details answer is handled first on its own.
    m_server->setOverride(QStringLiteral("/User/BAS_UserPermission"), FakeReply::delayed(400).times(1));
    m_server->setOverride(QStringLiteral("/PersonalInfo/ClientUserBaseInfo"), FakeReply::html500().times(1));
    Logging::takeCaptured();

    window->form()->tabUserInfo->load();

    QTRY_COMPARE(ui->txtUserGroup->text(), QStringLiteral("Faculty"));
    QCOMPARE(ui->txtEmail->text(), QStringLiteral("alice@example.org")); // the failed details answer changed nothing
    QCOMPARE(capturedContaining(QStringLiteral("[mainwindow.loadUserInfoData] ex-2 message:")).size(), 1);
}

void TestTabs::devicesTab()
{
    auto window = makeWindow();
    QVERIFY(window);
    QStandardItemModel* model = window->form()->tabDevices->model();
    QCOMPARE(model->rowCount(), 2);
    QCOMPARE(model->index(0, 0).data().toString(), QStringLiteral("Floor 2 Colour"));
    QCOMPARE(model->index(0, 1).data().toString(), QStringLiteral("Ready"));
    QCOMPARE(model->index(0, 2).data().toString(), QStringLiteral("Room 201"));
    QCOMPARE(model->index(0, 3).data().toString(), QStringLiteral("00:1A:2B:3C:4D:5E"));
    QCOMPARE(model->headerData(3, Qt::Horizontal).toString(), QStringLiteral("ControllerMac"));
    QCOMPARE(window->form()->tvDevices->columnWidth(2), 150);
    QCOMPARE(window->form()->tabWidget->tabText(1), QStringLiteral("Devices(2)"));
    QCOMPARE(m_server->lastRequest(QStringLiteral("/Device/BAS_DeviceStatusList")).query,
             QByteArray("Type=0&UserAccount=alice"));
}

QTEST_MAIN(TestTabs)
#include "tst_tabs.moc"
