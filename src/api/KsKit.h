#pragma once

#include "KsPrinter.h"
#include "KsProject.h"
#include "KsReqCommon.h"
#include "KsUserInfo.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QScopedPointer>
#include <QString>
#include <QStringList>

#include <functional>

class QNetworkAccessManager;
class QSettings;

// The client's server API object: login, reachability probe, host addresses and the queries the job
// checks and dialogs need. Every call reads the current user, password and server from LoginInfo and
// waits for its answer in a nested event loop (HttpExchange).
class KsKit : public QObject
{
    Q_OBJECT
public:
    static constexpr const char* kSigningSalt = "4152063918270";

    explicit KsKit(QObject* parent = nullptr);
    ~KsKit() override;

    // Logs the configured user in; on failure message may receive the reason.
    bool login(QString& message);
    // True when a GET of url completes within 5000 ms without a network error.
    bool CheckNetwork(QString url);
    // The host's IPv4 addresses in text form.
    QStringList GetIp();

    QList<KsPrinter> getPrinters(QString userAccount, int type);
    QList<KsProject> getProjects(QString userAccount);
    KsUserInfo getKsUserInfo(QString userAccount);
    // The newest client version known to the server; empty on any failure.
    QString CheckClientUpdate(QString userAccount);
    // Fills the timestamp and signature of a signed request for the current local time.
    static void GetRepCommonParam(KsReqCommon& common);
    static KsReqCommon repCommonParamAt(const QDateTime& localTime);

    // Seams for tests: the clock of GetRepCommonParam and the local DNS domain name; empty restores.
    static void setClockForTests(std::function<QDateTime()> clock);
    static void setLocalDomainNameForTests(std::function<QString()> domainName);

private:
    static QString localDomainName();

    QScopedPointer<QSettings> m_settings;
    QNetworkAccessManager* m_nam = nullptr;
    bool m_systemUser = true;
    QString m_accountVerify;
};
