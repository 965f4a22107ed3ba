#include "FakeKestranaApi.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>

#include <functional>

namespace {

using State = FakeKestranaState;

const int kOk = 0;
const int kFail = 1;

QString fieldOf(const FakeRequest& request, const QString& key)
{
    // Forms arrive in the body of a POST, in the query of a GET.
    if (request.method == "POST" && request.hasFormField(key)) {
        return request.formField(key);
    }
    return request.queryItem(key);
}

QJsonValue idValue(const QString& id)
{
    bool numeric = false;
    const qint64 n = id.toLongLong(&numeric);
    return numeric ? QJsonValue(double(n)) : QJsonValue(id);
}

// Values of "JobID" or of "JobID[0]", "JobID[1]", ... in the query, in order.
QStringList jobIdList(const FakeRequest& request)
{
    QStringList ids;
    static const QRegularExpression indexed(QStringLiteral("^JobID\\[\\d+\\]$"));
    const auto fields = FakeRequest::splitFields(request.query);
    for (const auto& field : fields) {
        const QString key = QString::fromUtf8(FakeRequest::decodeFormValue(field.first));
        if (key == QLatin1String("JobID") || indexed.match(key).hasMatch()) {
            ids.append(QString::fromUtf8(FakeRequest::decodeFormValue(field.second)));
        }
    }
    return ids;
}

bool decodeBase64Field(const QString& text, QString* out)
{
    const auto result = QByteArray::fromBase64Encoding(text.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!result || text.isEmpty()) {
        return false;
    }
    *out = QString::fromUtf8(result.decoded);
    return true;
}

QJsonObject jobObject(const State::Job& job)
{
    QJsonObject o;
    o.insert(QStringLiteral("JobID"), double(job.id));
    o.insert(QStringLiteral("JobName"), job.jobName);
    o.insert(QStringLiteral("Str_SubmitTime"), job.submitTime.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
    o.insert(QStringLiteral("SubmitTime"), job.submitTime.toString(Qt::TextDate));
    o.insert(QStringLiteral("StatusID"), job.statusId);
    o.insert(QStringLiteral("Status"), job.status.isEmpty() ? FakeKestranaApi::statusText(job.statusId) : job.status);
    o.insert(QStringLiteral("Comment"), job.comment);
    o.insert(QStringLiteral("UserAccount"), job.account);
    o.insert(QStringLiteral("DocTypeName"), job.docTypeName);
    o.insert(QStringLiteral("ProjectName"), job.projectName);
    o.insert(QStringLiteral("DocTypeID"), idValue(job.docTypeId));
    o.insert(QStringLiteral("DocumentPages"), job.pages);
    o.insert(QStringLiteral("Copies"), job.copies);
    o.insert(QStringLiteral("DuplexMode"), job.duplexMode);
    o.insert(QStringLiteral("IsColor"), job.color);
    o.insert(QStringLiteral("IsLock"), job.locked);
    o.insert(QStringLiteral("PageHeight"), job.pageHeight);
    o.insert(QStringLiteral("PageWidth"), job.pageWidth);
    return o;
}

FakeReply userNotFound()
{
    return FakeReply::envelope(kFail, QStringLiteral("User does not exist"));
}

FakeReply refusal(const State::Refusal& r)
{
    return FakeReply::envelope(r.code, r.message.isEmpty() ? QStringLiteral("refused") : r.message);
}

// ---- login and session -------------------------------------------------------------------------

FakeReply login(const FakeRequest& req, State& state)
{
    QString account;
    QString password;
    if (!decodeBase64Field(fieldOf(req, QStringLiteral("UserAccount")), &account)) {
        return FakeReply::envelope(kFail, QStringLiteral("Invalid account"));
    }
    const QString verify = fieldOf(req, QStringLiteral("AccountVerify"));
    const bool systemAccount = verify == QLatin1String("1") || verify == QLatin1String("2");
    if (!decodeBase64Field(fieldOf(req, QStringLiteral("Password")), &password)) {
        return FakeReply::envelope(kFail, QStringLiteral("Invalid password"));
    }
    if (state.loginRefusal.code != 0) {
        return refusal(state.loginRefusal);
    }
    const State::User* user = state.findUser(account);
    if (!user) {
        return userNotFound();
    }
    if (!(systemAccount && state.trustSystemAccounts) && user->password != password) {
        return FakeReply::envelope(kFail, QStringLiteral("Incorrect user name or password"));
    }
    QJsonObject data;
    data.insert(QStringLiteral("UserAccount"), user->account);
    data.insert(QStringLiteral("UserName"), user->userName);
    data.insert(QStringLiteral("HostAddress"), user->hostAddress);
    return FakeReply::envelope(kOk, QStringLiteral("success"), data);
}

FakeReply logout(const FakeRequest& req, State& state)
{
    const QString account = fieldOf(req, QStringLiteral("UserAccount"));
    if (!state.findUser(account)) {
        return userNotFound();
    }
    state.loggedOut.append(account);
    return FakeReply::envelope(kOk, QStringLiteral("success"));
}

FakeReply clientConfig(const FakeRequest&, State& state)
{
    QJsonArray entries;
    for (const auto& e : qAsConst(state.configEntries)) {
        QJsonObject o;
        o.insert(QStringLiteral("Section"), e.section);
        o.insert(QStringLiteral("Key"), e.key);
        o.insert(QStringLiteral("Value"), e.value);
        o.insert(QStringLiteral("IsUpdate"), e.isUpdate);
        entries.append(o);
    }
    return FakeReply::envelope(state.configCode,
                               state.configCode == 0 ? QStringLiteral("success") : QStringLiteral("no configuration"),
                               entries);
}

FakeReply checkUpdate(const FakeRequest& req, State& state)
{
    if (!state.findUser(req.queryItem(QStringLiteral("UserAccount")))) {
        return userNotFound();
    }
    if (req.queryItem(QStringLiteral("type")) != QLatin1String("3")
        || req.queryItem(QStringLiteral("SysType")) != QLatin1String("amd")) {
        return FakeReply::envelope(kFail, QStringLiteral("Unknown client type"));
    }
    return FakeReply::envelope(kOk, QStringLiteral("success"), state.latestClientVersion);
}

FakeReply downloadPackage(const FakeRequest& req, State& state)
{
    if (req.queryItem(QStringLiteral("type")) != QLatin1String("3")
        || req.queryItem(QStringLiteral("SysType")) != QLatin1String("amd") || state.clientPackage.isEmpty()) {
        return FakeReply::notFound();
    }
    return FakeReply::bytes(state.clientPackage, "application/vnd.debian.binary-package");
}

// ---- user ---------------------------------------------------------------------------------------

FakeReply permissions(const FakeRequest& req, State& state)
{
    const State::User* u = state.findUser(req.queryItem(QStringLiteral("UserAccount")));
    if (!u) {
        return userNotFound();
    }
    QJsonObject printTime;
    printTime.insert(QStringLiteral("AllowPrintType"), u->allowPrintType);
    printTime.insert(QStringLiteral("PrintDateID"), u->printDateId);
    printTime.insert(QStringLiteral("PrintTimeID"), u->printTimeId);
    QJsonObject data;
    data.insert(QStringLiteral("IsAllowPrint"), u->allowPrint);
    data.insert(QStringLiteral("IsAllowPrintColor"), u->allowPrintColor);
    data.insert(QStringLiteral("IsAllowSimple"), u->allowSimple);
    data.insert(QStringLiteral("GroupName"), u->groupName);
    data.insert(QStringLiteral("CardNumber"), u->cardNumber);
    data.insert(QStringLiteral("UserName"), u->userName);
    data.insert(QStringLiteral("Balance"), u->balance);
    data.insert(QStringLiteral("HasSpent"), u->hasSpent);
    data.insert(QStringLiteral("ForbiddenDocTypeList"), u->forbiddenDocTypes);
    data.insert(QStringLiteral("printTimeInfo"), printTime);
    return FakeReply::envelope(kOk, QStringLiteral("success"), data);
}

FakeReply userDetails(const FakeRequest& req, State& state)
{
    const State::User* u = state.findUser(req.queryItem(QStringLiteral("UserAccount")));
    if (!u) {
        return userNotFound();
    }
    QJsonObject data;
    data.insert(QStringLiteral("AreaType"), u->areaType);
    data.insert(QStringLiteral("UserAccount"), u->account);
    data.insert(QStringLiteral("UserName"), u->userName);
    data.insert(QStringLiteral("Password"), u->password);
    data.insert(QStringLiteral("Email"), u->email);
    data.insert(QStringLiteral("TelNumber"), u->telNumber);
    data.insert(QStringLiteral("CardNumber"), u->cardNumber);
    data.insert(QStringLiteral("UserOnlineTime"), u->userOnlineTime);
    data.insert(QStringLiteral("Mobile"), u->mobile);
    return FakeReply::envelope(kOk, QStringLiteral("success"), data);
}

FakeReply pinCode(const FakeRequest& req, State& state)
{
    const State::User* u = state.findUser(req.queryItem(QStringLiteral("UserAccount")));
    if (!u) {
        return userNotFound();
    }
    if (u->pinCode.isEmpty()) {
        return FakeReply::envelope(kFail, QStringLiteral("No pin code"));
    }
    QJsonObject data;
    data.insert(QStringLiteral("PinCode"), u->pinCode);
    data.insert(QStringLiteral("ExpiryTime"), u->pinExpiry);
    data.insert(QStringLiteral("IsExpired"), u->pinExpired);
    return FakeReply::envelope(kOk, QStringLiteral("success"), data);
}

FakeReply projects(const FakeRequest& req, State& state)
{
    if (!state.findUser(req.queryItem(QStringLiteral("strUserAccount")))) {
        return userNotFound();
    }
    QJsonArray list;
    for (const auto& p : qAsConst(state.projects)) {
        QJsonObject o;
        o.insert(QStringLiteral("ProjectID"), idValue(p.id));
        o.insert(QStringLiteral("Balance"), p.balance);
        o.insert(QStringLiteral("ProjectName"), p.name);
        list.append(o);
    }
    return FakeReply::envelope(kOk, QStringLiteral("success"), list);
}

FakeReply devices(const FakeRequest& req, State& state)
{
    if (!state.findUser(req.queryItem(QStringLiteral("UserAccount")))) {
        return userNotFound();
    }
    if (!req.hasQueryItem(QStringLiteral("Type"))) {
        return FakeReply::envelope(kFail, QStringLiteral("Type is required"));
    }
    QJsonArray list;
    for (const auto& d : qAsConst(state.devices)) {
        QJsonObject o;
        o.insert(QStringLiteral("DeviceName"), d.deviceName);
        o.insert(QStringLiteral("Status"), d.status);
        o.insert(QStringLiteral("Location"), d.location);
        o.insert(QStringLiteral("Available"), d.available);
        o.insert(QStringLiteral("UseCardReader"), d.useCardReader);
        o.insert(QStringLiteral("ControllerMac"), d.controllerMac);
        list.append(o);
    }
    return FakeReply::envelope(kOk, QStringLiteral("success"), list);
}

FakeReply sites(const FakeRequest& req, State& state, const QString& serverBase)
{
    const QByteArray timestamp = req.queryItem(QStringLiteral("Timestamp")).toLatin1();
    const QByteArray signature = req.queryItem(QStringLiteral("Signature")).toLatin1();
    QJsonObject o;
    if (timestamp.isEmpty() || signature != FakeKestranaApi::signature(timestamp, state.signingSalt)) {
        o.insert(QStringLiteral("Status"), 0);
        o.insert(QStringLiteral("message"), QStringLiteral("Signature verification failed"));
        return FakeReply::json(o);
    }
    QJsonArray list;
    for (const auto& s : qAsConst(state.sites)) {
        QString url = s.siteUrl;
        url.replace(QLatin1String("{server}"), serverBase);
        QJsonObject e;
        e.insert(QStringLiteral("SiteUrl"), url);
        e.insert(QStringLiteral("StartIP"), s.startIp);
        e.insert(QStringLiteral("EndIP"), s.endIp);
        e.insert(QStringLiteral("SiteName"), s.siteName);
        e.insert(QStringLiteral("Location"), s.location);
        list.append(e);
    }
    o.insert(QStringLiteral("Status"), 1);
    o.insert(QStringLiteral("message"), QStringLiteral("success"));
    o.insert(QStringLiteral("SegmentList"), list);
    return FakeReply::json(o);
}

// ---- print jobs ---------------------------------------------------------------------------------

FakeReply submitJob(const FakeRequest& req, State& state)
{
    const State::User* user = state.findUser(req.formField(QStringLiteral("UserAccount")));
    if (!user) {
        return userNotFound();
    }
    if (state.submitRefusal.code != 0) {
        return refusal(state.submitRefusal);
    }
    if (!user->allowPrint) {
        return FakeReply::envelope(221, QStringLiteral("No permission to print"));
    }
    State::Job job;
    const auto fields = FakeRequest::splitFields(req.body);
    for (const auto& f : fields) {
        job.announce.insert(QString::fromUtf8(FakeRequest::decodeFormValue(f.first)),
                            QString::fromUtf8(FakeRequest::decodeFormValue(f.second)));
    }
    job.account = user->account;
    job.uploading = true;
    job.jobName = job.announce.value(QStringLiteral("FileName"));
    job.submitTime = QDateTime::currentDateTime();
    job.pages = job.announce.value(QStringLiteral("DocumentPages")).toInt();
    job.copies = job.announce.value(QStringLiteral("Copies")).toInt();
    job.duplexMode = job.announce.value(QStringLiteral("DuplexMode")).toInt();
    const QString color = job.announce.value(QStringLiteral("Color"));
    job.color = color == QLatin1String("1") || color.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
    job.pageWidth = job.announce.value(QStringLiteral("PageWidth")).toDouble();
    job.pageHeight = job.announce.value(QStringLiteral("PageHeight")).toDouble();
    const QString projectId = job.announce.value(QStringLiteral("ProjectID"));
    for (const auto& p : qAsConst(state.projects)) {
        if (p.id == projectId) {
            job.projectName = p.name;
        }
    }
    const qint64 id = state.addJob(job);
    const QJsonValue idJson = state.jobIdAsText ? QJsonValue(QString::number(id)) : QJsonValue(double(id));
    return FakeReply::envelope(kOk, QStringLiteral("success"), idJson);
}

FakeReply uploadChunk(const FakeRequest& req, State& state)
{
    State::Job* job = state.findJob(req.queryItem(QStringLiteral("JobID")).toLongLong());
    if (!job || job->cancelled) {
        return FakeReply::envelope(kFail, QStringLiteral("Job does not exist"));
    }
    if (job->account.compare(req.queryItem(QStringLiteral("UserAccount")), Qt::CaseInsensitive) != 0) {
        return FakeReply::envelope(kFail, QStringLiteral("Job belongs to another user"));
    }
    const int chunk = job->chunks + 1;
    job->chunks = chunk;
    job->declaredFileSize = req.queryItem(QStringLiteral("FileSize")).toLongLong();
    job->uploadFileName = req.queryItem(QStringLiteral("FileName"));
    if (state.uploadRefusal.code != 0 && (state.uploadRefusalChunk == 0 || state.uploadRefusalChunk == chunk)) {
        return refusal(state.uploadRefusal);
    }
    job->uploaded.append(req.body);
    return FakeReply::envelope(kOk, QStringLiteral("success"));
}

FakeReply completeJob(const FakeRequest& req, State& state)
{
    State::Job* job = state.findJob(req.formField(QStringLiteral("JobID")).toLongLong());
    if (!job || job->cancelled) {
        return FakeReply::envelope(kFail, QStringLiteral("Job does not exist"));
    }
    if (state.completeRefusal.code != 0) {
        return refusal(state.completeRefusal);
    }
    job->uploading = false;
    job->confirmed = true;
    job->statusId = state.statusAfterComplete;
    return FakeReply::envelope(kOk, QStringLiteral("success"));
}

FakeReply cancelJobs(const FakeRequest& req, State& state)
{
    const QString account = req.queryItem(QStringLiteral("UserAccount"));
    const QStringList ids = jobIdList(req);
    if (!state.findUser(account)) {
        return userNotFound();
    }
    if (ids.isEmpty()) {
        return FakeReply::envelope(kFail, QStringLiteral("No job given"));
    }
    for (const QString& id : ids) {
        State::Job* job = state.findJob(id.toLongLong());
        if (job && job->account.compare(account, Qt::CaseInsensitive) == 0) {
            job->cancelled = true;
        }
    }
    return FakeReply::envelope(kOk, QStringLiteral("success"));
}

FakeReply jobList(const FakeRequest& req, State& state)
{
    const QString account = req.queryItem(QStringLiteral("UserAccount"));
    if (!state.findUser(account)) {
        return userNotFound();
    }
    QJsonArray list;
    for (const auto& job : qAsConst(state.jobs)) {
        if (!job.cancelled && !job.uploading && job.account.compare(account, Qt::CaseInsensitive) == 0) {
            list.append(jobObject(job));
        }
    }
    return FakeReply::envelope(kOk, QStringLiteral("success"), list);
}

FakeReply jobStatus(const FakeRequest& req, State& state)
{
    State::Job* job = state.findJob(req.queryItem(QStringLiteral("jobId")).toLongLong());
    if (!job) {
        return FakeReply::envelope(kFail, QStringLiteral("Job does not exist"));
    }
    if (job->confirmed && job->statusId == state.statusAfterComplete) {
        ++job->statusQueries;
        if (job->statusQueries > state.statusQueriesUntilDone) {
            job->statusId = 5;
        }
    }
    QJsonObject data;
    data.insert(QStringLiteral("JobID"), double(job->id));
    data.insert(QStringLiteral("JobName"), job->jobName);
    data.insert(QStringLiteral("Status"), job->statusId);
    data.insert(QStringLiteral("FileSize"), double(job->uploaded.size()));
    return FakeReply::envelope(kOk, QStringLiteral("success"), data);
}

// ---- scan jobs ----------------------------------------------------------------------------------

FakeReply scanJobList(const FakeRequest& req, State& state)
{
    const QString account = req.queryItem(QStringLiteral("UserAccount"));
    if (!state.findUser(account)) {
        return userNotFound();
    }
    QJsonArray list;
    for (const auto& s : qAsConst(state.scanJobs)) {
        if (s.deleted || s.account.compare(account, Qt::CaseInsensitive) != 0) {
            continue;
        }
        QJsonObject o;
        o.insert(QStringLiteral("JobID"), idValue(s.id));
        o.insert(QStringLiteral("JobName"), s.jobName);
        o.insert(QStringLiteral("SubmitTime"), s.submitTime);
        o.insert(QStringLiteral("StatusID"), s.statusId);
        o.insert(QStringLiteral("DeviceName"), s.deviceName);
        list.append(o);
    }
    return FakeReply::envelope(kOk, QStringLiteral("success"), list);
}

FakeReply deleteScanJobs(const FakeRequest& req, State& state)
{
    const QString account = req.queryItem(QStringLiteral("UserAccount"));
    if (!state.findUser(account)) {
        return userNotFound();
    }
    const QStringList ids = jobIdList(req);
    if (ids.isEmpty()) {
        return FakeReply::envelope(kFail, QStringLiteral("No job given"));
    }
    for (const QString& id : ids) {
        State::ScanJob* s = state.findScanJob(id);
        if (s && s->account.compare(account, Qt::CaseInsensitive) == 0) {
            s->deleted = true;
        }
    }
    return FakeReply::envelope(kOk, QStringLiteral("success"));
}

FakeReply downloadScanJob(const FakeRequest& req, State& state)
{
    const State::ScanJob* s = state.findScanJob(req.queryItem(QStringLiteral("JobID")));
    if (!s) {
        return FakeReply::notFound();
    }
    return FakeReply::bytes(s->content);
}

// ---- QR login -----------------------------------------------------------------------------------

FakeReply qrInvoke(const FakeRequest& req, State& state)
{
    const QString clientId = req.queryItem(QStringLiteral("clientId"));
    if (clientId.isEmpty()) {
        return FakeReply::envelope(400, QStringLiteral("clientId is required"));
    }
    State::QrRegistration reg;
    reg.clientId = clientId;
    state.qrRegistrations.insert(clientId, reg);
    QJsonObject data;
    data.insert(QStringLiteral("clientId"), clientId);
    data.insert(QStringLiteral("account"), QString());
    data.insert(QStringLiteral("expires_in"), state.qrExpiresIn);
    return FakeReply::envelope(200, QStringLiteral("success"), data);
}

FakeReply qrAccount(const FakeRequest& req, State& state)
{
    const QString clientId = req.queryItem(QStringLiteral("clientId"));
    auto it = state.qrRegistrations.find(clientId);
    if (it == state.qrRegistrations.end()) {
        return FakeReply::envelope(404, QStringLiteral("Client is not registered"));
    }
    ++it->polls;
    QJsonObject data;
    data.insert(QStringLiteral("clientId"), clientId);
    const State::User* user = it->scannedBy.isEmpty() ? nullptr : state.findUser(it->scannedBy);
    data.insert(QStringLiteral("account"), user ? user->account : QString());
    data.insert(QStringLiteral("password"), user ? user->password : QString());
    data.insert(QStringLiteral("type"), user ? QStringLiteral("2") : QString());
    return FakeReply::envelope(200, QStringLiteral("success"), data);
}

// The phone app's confirmation of a scanned code: the client that shows it logs in as this account.
FakeReply qrScan(const FakeRequest& req, State& state)
{
    const QString clientId = fieldOf(req, QStringLiteral("clientId"));
    auto it = state.qrRegistrations.find(clientId);
    if (clientId.isEmpty() || it == state.qrRegistrations.end()) {
        return FakeReply::envelope(404, QStringLiteral("Client is not registered"));
    }
    const State::User* user = state.findUser(fieldOf(req, QStringLiteral("account")));
    if (!user) {
        return FakeReply::envelope(404, QStringLiteral("User does not exist"));
    }
    it->scannedBy = user->account;
    return FakeReply::envelope(200, QStringLiteral("success"));
}

// ---- routing ------------------------------------------------------------------------------------

struct Route
{
    const char* path;
    const char* methods; // space-separated
    std::function<FakeReply(const FakeRequest&, State&, const QString&)> handler;
};

template <typename F> std::function<FakeReply(const FakeRequest&, State&, const QString&)> plain(F f)
{
    return [f](const FakeRequest& r, State& s, const QString&) { return f(r, s); };
}

const QList<Route>& routes()
{
    static const QList<Route> table = {
        { "/", "GET HEAD",
          [](const FakeRequest&, State&, const QString&) {
              return FakeReply::html(200, "<!DOCTYPE html>\n<html><body><h1>Kestrana</h1></body></html>\n");
          } },
        { "/Orvinaweb/GetClientConfigInfo", "GET", plain(clientConfig) },
        { "/Orvinaweb/BAS_ClientLoginNew", "GET POST", plain(login) },
        { "/Orvinaweb/BAS_ClientLoginNew/", "GET POST", plain(login) },
        { "/Orvinaweb/BAS_ClientLogOutNew", "POST", plain(logout) },
        { "/Orvinaweb/BAS_CheckClientUpdate_New", "GET", plain(checkUpdate) },
        { "/MyJob/ResponseDownLoad", "GET", plain(downloadPackage) },
        { "/User/BAS_UserPermission", "GET", plain(permissions) },
        { "/User/BAS_ProjectList", "GET", plain(projects) },
        { "/User/BAS_GetPinCodeByAccount", "GET", plain(pinCode) },
        { "/PersonalInfo/ClientUserBaseInfo", "GET", plain(userDetails) },
        { "/Device/BAS_DeviceStatusList", "GET", plain(devices) },
        { "/KSS/GetIPSegment", "GET", sites },
        { "/Job/BAS_SubmitPrintJob", "POST", plain(submitJob) },
        { "/Job/BAS_UploadJobFile", "POST", plain(uploadChunk) },
        { "/Job/BAS_UploadComplete", "POST", plain(completeJob) },
        { "/Job/BAS_CancelJob", "GET", plain(cancelJobs) },
        { "/Job/BAS_JobStausList", "GET", plain(jobList) },
        { "/Job/BAS_GetJobStatusInfo", "GET", plain(jobStatus) },
        { "/Job/BAS_ScanJobList", "GET", plain(scanJobList) },
        { "/Job/BAS_DeleteScanJob", "GET", plain(deleteScanJobs) },
        { "/Job/BAS_DownloadScanJob", "GET", plain(downloadScanJob) },
        { "/api/client/invoke", "GET", plain(qrInvoke) },
        { "/api/client/account", "GET", plain(qrAccount) },
        { "/api/client/scan", "POST", plain(qrScan) },
    };
    return table;
}

} // namespace

FakeReply FakeKestranaApi::handle(const FakeRequest& request, FakeKestranaState& state, const QString& serverBase)
{
    if (request.path.startsWith(QLatin1String("/View/"))) {
        return FakeReply::html(200,
                               "<!DOCTYPE html>\n<html><body>Open this page with the Kestrana app.</body></html>\n");
    }
    for (const Route& route : routes()) {
        if (request.path != QLatin1String(route.path)) {
            continue;
        }
        const QList<QByteArray> methods = QByteArray(route.methods).split(' ');
        if (!methods.contains(request.method)) {
            return FakeReply::html(405,
                                   "<!DOCTYPE html>\n<html><body><h1>405 - Method not allowed</h1></body></html>\n");
        }
        return route.handler(request, state, serverBase);
    }
    return FakeReply::notFound();
}

QByteArray FakeKestranaApi::signature(const QByteArray& timestamp, const QString& salt)
{
    return QCryptographicHash::hash(timestamp + salt.toLatin1(), QCryptographicHash::Md5).toHex().toUpper();
}

QString FakeKestranaApi::statusText(int statusId)
{
    switch (statusId) {
    case 0:
        return QStringLiteral("Uploading");
    case 5:
        return QStringLiteral("Waiting for release");
    case 51:
        return QStringLiteral("Processing");
    case 53:
        return QStringLiteral("Waiting for approval");
    default:
        return QStringLiteral("Unknown");
    }
}
