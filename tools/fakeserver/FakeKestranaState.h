#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

// Everything the fake Kestrana server knows. Plain data: the server guards it with a mutex, tests and
// the demo tool fill it. An empty state is a server with no users; sample() is the small fixed set the
// tests share.
class FakeKestranaState
{
public:
    struct User
    {
        QString account; // the server's form of the account, answered as UserAccount
        QString password;
        QString userName; // display name
        QString hostAddress; // DNS domain answered at login as HostAddress
        // Permissions
        bool allowPrint = true;
        bool allowPrintColor = true;
        bool allowSimple = true;
        QString groupName;
        QString cardNumber;
        double balance = 0;
        double hasSpent = 0;
        QJsonArray forbiddenDocTypes;
        bool allowPrintType = false;
        int printDateId = 0;
        int printTimeId = 0;
        // Personal details
        int areaType = 0;
        QString email;
        QString telNumber;
        QString mobile;
        QString userOnlineTime;
        // Release pin code
        QString pinCode;
        QString pinExpiry; // "yyyy-MM-ddThh:mm:ss"
        bool pinExpired = false;
    };

    struct Job
    {
        qint64 id = 0;
        QString account;
        QString jobName;
        QDateTime submitTime;
        int statusId = 0;
        QString status;
        QString comment;
        QString docTypeName;
        QString docTypeId;
        QString projectName;
        int pages = 0;
        int copies = 1;
        int duplexMode = 0;
        bool color = false;
        bool locked = false;
        double pageWidth = 0;
        double pageHeight = 0;
        // What the client sent
        QMap<QString, QString> announce; // decoded fields of the announce form
        qint64 declaredFileSize = -1;
        QString uploadFileName;
        QByteArray uploaded; // chunks appended in arrival order
        int chunks = 0;
        bool uploading = false; // announced by the client and not yet confirmed: not listed
        bool confirmed = false; // the client confirmed the upload
        bool cancelled = false;
        int statusQueries = 0;
    };

    struct ScanJob
    {
        QString id;
        QString account;
        QString jobName;
        QString submitTime; // display text
        int statusId = 0;
        QString deviceName;
        QByteArray content;
        bool deleted = false;
    };

    struct Device
    {
        QString deviceName;
        QString status;
        QString location;
        bool available = true;
        bool useCardReader = false;
        QString controllerMac;
    };

    struct Project
    {
        QString id; // answered as a number when it is all digits
        double balance = 0;
        QString name;
    };

    struct Site
    {
        QString siteUrl; // "{server}" stands for this server's own base URL
        QString startIp;
        QString endIp;
        QString siteName;
        QString location;
    };

    struct QrRegistration
    {
        QString clientId;
        QString scannedBy; // account confirmed by a phone, empty until then
        int polls = 0;
    };

    struct ConfigEntry
    {
        QString section;
        QString key;
        QString value;
        int isUpdate = 1;
    };

    struct Refusal
    {
        int code = 0; // 0 = no refusal
        QString message;
    };

    QList<User> users;
    QMap<qint64, Job> jobs;
    qint64 nextJobId = 1001;
    QList<ScanJob> scanJobs;
    QList<Device> devices;
    QList<Project> projects;
    QList<Site> sites;
    QMap<QString, QrRegistration> qrRegistrations;
    QList<ConfigEntry> configEntries;
    QStringList loggedOut; // accounts in logout order

    // Behaviour switches
    bool trustSystemAccounts = true; // AccountVerify 1/2: the account is enough, as for domain and QR logins
    Refusal loginRefusal;
    Refusal submitRefusal; // e.g. 221, no permission to print
    int uploadRefusalChunk = 0; // 1-based chunk that gets uploadRefusal; 0 = every chunk accepted
    Refusal uploadRefusal; // e.g. 220 system user, 826 address not authenticated
    Refusal completeRefusal;
    int statusAfterComplete = 51; // what a confirmed job reports first (51 = being processed)
    int statusQueriesUntilDone = 1; // status queries answered with statusAfterComplete before 5
    bool jobIdAsText = false; // announce answers the job id as a JSON string instead of a number
    int configCode = 0;
    QString latestClientVersion;
    QByteArray clientPackage;
    int qrExpiresIn = 300;
    QString signingSalt = QStringLiteral("4152063918270");

    User* findUser(const QString& account);
    const User* findUser(const QString& account) const;
    Job* findJob(qint64 id);
    ScanJob* findScanJob(const QString& id);
    qint64 addJob(Job job); // assigns the next id when job.id is 0

    // alice/secret (domain example.org), bob/hunter2; two devices, two projects, two sites (the first one is
    // this server), two scan jobs of alice,
    // version 1.2.0 with a small package, QR codes valid for 300 s.
    static FakeKestranaState sample();
};
