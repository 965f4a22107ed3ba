// The pin-code panel: the user's current release code, filled at every login.
#include "MainWindow.h"
#include "ui_MainWindow.h"

#include "api/HttpExchange.h"
#include "api/KsKit.h"
#include "app/Logging.h"
#include "app/Singleton.h"
#include "config/LoginInfo.h"

#include <QJsonObject>

static Logger* logger = Logging::rootLogger();

void MainWindow::getPinCodeInfo()
{
    const HttpAnswer answer = KsKit::pinCode(m_nam, m_serverUrl, m_account, m_info->ksServerUrl());
    if (!answer.isJson()) {
        logger->error(QStringLiteral("###### [getPinCodeInfo] userAccount [%1] request fail").arg(m_account));
        return;
    }
    if (answer.code() != 0) {
        logger->error(
            QStringLiteral("###### [getPinCodeInfo] userAccount [%1] fail errMsg %2").arg(m_account, answer.message()));
        return;
    }
    const QJsonObject data = answer.data().toObject();
    m_ui->labPinCode->setText(data.value(QStringLiteral("PinCode")).toString());
    QString expiry = data.value(QStringLiteral("ExpiryTime")).toString();
    expiry.replace(QLatin1Char('T'), QLatin1Char(' '));
    m_ui->labExpTime->setText(expiry);
    m_ui->labPinCodeState->setText(data.value(QStringLiteral("IsExpired")).toBool() ? tr("Expired") : QString());
}
