#include "session/QrLogin.h"

#include "api/KsKit.h"
#include "app/Logging.h"
#include "config/LoginInfo.h"
#include "config/Session.h"

#include <QTimer>
#include <QUuid>

static Logger* logger = Logging::rootLogger();

QrLogin::QrLogin(LoginInfo& settings, Session& session, KsKit& api, QObject* parent)
    : QObject(parent)
    , m_info(settings)
    , m_session(session)
    , m_api(api)
    , m_timer(new QTimer(this))
{
    m_timer->setObjectName(QStringLiteral("qrPollTimer"));
    m_timer->setInterval(kPollIntervalMs);
    connect(m_timer, &QTimer::timeout, this, &QrLogin::poll);
}

QrLogin::~QrLogin() = default;

void QrLogin::setCodePainter(std::function<bool(const QString&)> paint)
{
    m_paint = std::move(paint);
}

void QrLogin::setServerTyped(std::function<bool()> typed)
{
    m_serverTyped = std::move(typed);
}

void QrLogin::choosePage(bool qr)
{
    m_info.setDefaultLoginType(qr ? 2 : 1);
    if (!qr) {
        m_timer->stop();
    }
}

void QrLogin::stop()
{
    m_timer->stop();
}

QString QrLogin::baseUrl() const
{
    const QString info = LoginInfo::fileValue(LoginInfo::Key::Info).toString();
    const int view = info.indexOf(QLatin1String("/View/"));
    return view < 0 ? info : info.left(view);
}

void QrLogin::generate()
{
    logger->info(QStringLiteral("###### GenerateQRcode"));
    // Without the QR page nobody can see the code, so it is neither registered nor polled.
    if (m_info.defaultLoginType() != 2 || !m_info.showQR()) {
        return;
    }
    if (LoginInfo::fileValue(LoginInfo::Key::Info).toString().isEmpty()) {
        logger->info(QStringLiteral("###### urlInfo is empty"));
        return;
    }
    QString guid = m_info.ksGUID();
    if (guid.isEmpty()) {
        guid = LoginInfo::fileValue(LoginInfo::Key::Guid).toString();
        m_info.setGUID(guid);
    }
    if (guid.isEmpty()) {
        logger->info(QStringLiteral("###### guid is empty"));
        guid = QUuid::createUuid().toString(QUuid::WithoutBraces);
        LoginInfo::writeFileValue(LoginInfo::Key::Guid, guid);
        m_info.setGUID(guid);
    }
    const QString qrText
        = LoginInfo::fileValue(LoginInfo::Key::Info).toString() + LoginInfo::fileValue(LoginInfo::Key::Guid).toString();

    KsAccount account = m_api.account();
    account.qrGuid = guid;
    m_api.setAccount(account);
    m_api.registerQr(baseUrl(), this, [this, qrText](const KsKit::QrAnswer& answer) {
        QrCredentials record;
        if (answer.ok) {
            record.account = answer.data.value(QStringLiteral("account")).toString();
            record.expiresIn = answer.data.value(QStringLiteral("expires_in")).toInt(0);
            record.clientId = answer.data.value(QStringLiteral("clientId")).toString();
        } else if (answer.isObject) {
            logger->error(QStringLiteral("###### get QRcode error message ") + answer.message);
        }
        registrationFinished(record, qrText);
    });
}

void QrLogin::registrationFinished(const QrCredentials& record, const QString& qrText)
{
    if (record.expiresIn != 300) {
        logger->info(QStringLiteral("###### 扫描二维码--获取过期时间失败"));
        m_timer->stop();
        return;
    }
    m_remaining = kValiditySeconds;
    if (qrText.isEmpty()) {
        return;
    }
    if (m_paint && m_paint(qrText)) {
        emit codeShown();
    }
    if (m_info.defaultLoginType() == 2) {
        m_timer->start();
    } else {
        m_timer->stop();
    }
    if (m_session.isLogin()) {
        m_timer->stop();
    }
}

void QrLogin::poll()
{
    m_remaining -= kPollIntervalMs / 1000;
    if (m_remaining <= 0) {
        m_timer->stop();
        emit expired();
        return;
    }
    const QString base = m_serverTyped && m_serverTyped() ? baseUrl() : QString();
    KsAccount account = m_api.account();
    account.qrGuid = m_info.ksGUID();
    m_api.setAccount(account);
    m_api.pollQr(base, this, [this](const KsKit::QrAnswer& answer) {
        QrCredentials record;
        if (answer.ok) {
            record.account = answer.data.value(QStringLiteral("account")).toVariant().toString();
            record.password = answer.data.value(QStringLiteral("password")).toVariant().toString();
            record.clientId = answer.data.value(QStringLiteral("clientId")).toVariant().toString();
            record.type = answer.data.value(QStringLiteral("type")).toVariant().toString();
        } else if (answer.isObject) {
            logger->error(QStringLiteral("###### ScanLogin ex message ") + answer.message);
        }
        if (record.account.isEmpty()) {
            logger->info(QStringLiteral("###### ScanLogin account or password is empty"));
            return;
        }
        // The code has been used: it cannot be scanned a second time.
        m_timer->stop();
        emit scanned(record);
    });
}
