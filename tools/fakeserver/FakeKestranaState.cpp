#include "FakeKestranaState.h"

FakeKestranaState::User* FakeKestranaState::findUser(const QString& account)
{
    for (User& user : users) {
        if (user.account.compare(account, Qt::CaseInsensitive) == 0) {
            return &user;
        }
    }
    return nullptr;
}

const FakeKestranaState::User* FakeKestranaState::findUser(const QString& account) const
{
    return const_cast<FakeKestranaState*>(this)->findUser(account);
}

FakeKestranaState::Job* FakeKestranaState::findJob(qint64 id)
{
    auto it = jobs.find(id);
    return it == jobs.end() ? nullptr : &it.value();
}

FakeKestranaState::ScanJob* FakeKestranaState::findScanJob(const QString& id)
{
    for (ScanJob& job : scanJobs) {
        if (job.id == id && !job.deleted) {
            return &job;
        }
    }
    return nullptr;
}

qint64 FakeKestranaState::addJob(Job job)
{
    if (job.id == 0) {
        job.id = nextJobId++;
    } else if (job.id >= nextJobId) {
        nextJobId = job.id + 1;
    }
    const qint64 id = job.id;
    jobs.insert(id, job);
    return id;
}

FakeKestranaState FakeKestranaState::sample()
{
    FakeKestranaState s;

    User alice;
    alice.account = QStringLiteral("alice");
    alice.password = QStringLiteral("secret");
    alice.userName = QStringLiteral("Alice Example");
    alice.hostAddress = QStringLiteral("example.org");
    alice.groupName = QStringLiteral("Staff");
    alice.cardNumber = QStringLiteral("C-1001");
    alice.balance = 42.5;
    alice.hasSpent = 7.25;
    alice.allowPrintType = true;
    alice.printDateId = 1;
    alice.printTimeId = 2;
    alice.areaType = 1;
    alice.email = QStringLiteral("alice@example.org");
    alice.telNumber = QStringLiteral("010-5550101");
    alice.mobile = QStringLiteral("13800000001");
    alice.userOnlineTime = QStringLiteral("2024-05-01 08:00:00");
    alice.pinCode = QStringLiteral("482913");
    alice.pinExpiry = QStringLiteral("2030-01-31T18:30:00");
    s.users.append(alice);

    User bob;
    bob.account = QStringLiteral("bob");
    bob.password = QStringLiteral("hunter2");
    bob.userName = QStringLiteral("Bob");
    bob.hostAddress = QStringLiteral("example.org");
    bob.allowPrintColor = false;
    bob.allowSimple = false;
    bob.groupName = QStringLiteral("Students");
    s.users.append(bob);

    Device d1;
    d1.deviceName = QStringLiteral("Floor 2 Colour");
    d1.status = QStringLiteral("Ready");
    d1.location = QStringLiteral("Room 201");
    d1.useCardReader = true;
    d1.controllerMac = QStringLiteral("00:1A:2B:3C:4D:5E");
    s.devices.append(d1);
    Device d2;
    d2.deviceName = QStringLiteral("Basement Mono");
    d2.status = QStringLiteral("Offline");
    d2.location = QStringLiteral("B1");
    d2.available = false;
    d2.controllerMac = QStringLiteral("00:1A:2B:3C:4D:5F");
    s.devices.append(d2);

    s.projects.append({ QStringLiteral("12"), 300.0, QStringLiteral("Research") });
    s.projects.append({ QStringLiteral("P-7"), 0.5, QStringLiteral("Teaching") });

    s.sites.append({ QStringLiteral("{server}"), QStringLiteral("10.0.0.1"), QStringLiteral("10.0.0.254"),
                     QStringLiteral("Head office"), QStringLiteral("Building A") });
    s.sites.append({ QStringLiteral("branch.example.org"), QStringLiteral("10.1.0.1"), QStringLiteral("10.1.0.254"),
                     QStringLiteral("Branch"), QStringLiteral("Building B") });

    ScanJob scan1;
    scan1.id = QStringLiteral("5001");
    scan1.account = QStringLiteral("alice");
    scan1.jobName = QStringLiteral("scan-contract.pdf");
    scan1.submitTime = QStringLiteral("2024-05-01 09:15:00");
    scan1.statusId = 7;
    scan1.deviceName = QStringLiteral("Floor 2 Colour");
    scan1.content = QByteArray("%PDF-1.4\n% scanned contract\n");
    s.scanJobs.append(scan1);
    ScanJob scan2;
    scan2.id = QStringLiteral("5002");
    scan2.account = QStringLiteral("alice");
    scan2.jobName = QStringLiteral("scan-receipt.jpg");
    scan2.submitTime = QStringLiteral("2024-05-02 10:00:00");
    scan2.statusId = 0;
    scan2.deviceName = QStringLiteral("Floor 2 Colour");
    scan2.content = QByteArray("\xff\xd8\xff\xe0 receipt", 13);
    s.scanJobs.append(scan2);

    s.latestClientVersion = QStringLiteral("1.2.0");
    s.clientPackage = QByteArray("!<arch>\ndebian-binary   fake package for tests\n");
    return s;
}
