// The account tab: permissions and personal details, from two requests answered in either order.
#include "MainWindow.h"
#include "ui_MainWindow.h"

#include "WindowRequest.h"
#include "api/KsKit.h"
#include "api/KsUserBase.h"

void MainWindow::SetCtlToDisable(bool enabled)
{
    m_ui->txtBalance->setEnabled(enabled);
    m_ui->txtUserGroup->setEnabled(enabled);
    m_ui->txtCardNumber->setEnabled(enabled);
    m_ui->txtSpend->setEnabled(enabled);
    m_ui->txtEmail->setEnabled(enabled);
    m_ui->txtTelNumber->setEnabled(enabled);
    m_ui->chkIsAllowPrintColor->setEnabled(enabled);
    m_ui->chkPrintDateLimit->setEnabled(enabled);
    m_ui->chkPrintTimeLimit->setEnabled(enabled);
}

void MainWindow::loadUserInfoData()
{
    if (!checkNetworkState(false)) {
        return;
    }
    SetCtlToDisable(false);

    sendGet(KsKit::permissionsUrl(m_serverUrl, m_account), QStringLiteral("[mainwindow.loadUserInfoData] ex message:"),
            QStringLiteral("[mainwindow.loadUserInfoData] fail message:"), [this](const WindowAnswer& answer) {
                if (!answer.ok()) {
                    return;
                }
                m_userInfo = KsUserInfo::fromJson(answer.data.toObject());
                m_ui->chkPrintDateLimit->setChecked(m_userInfo.printTimeInfo.printDateId >= 1);
                m_ui->chkPrintTimeLimit->setChecked(m_userInfo.printTimeInfo.printTimeId >= 1);
                m_ui->txtUserGroup->setText(m_userInfo.groupName);
                m_ui->txtBalance->setText(QStringLiteral("%1").arg(QString::number(m_userInfo.balance, 'g', 6)));
                m_ui->txtCardNumber->setText(m_userInfo.cardNumber);
                m_ui->txtSpend->setText(QStringLiteral("%1").arg(QString::number(m_userInfo.hasSpent, 'g', 6)));
                m_ui->chkIsAllowPrintColor->setChecked(m_userInfo.isAllowPrintColor);
            });

    sendGet(KsKit::userDetailsUrl(m_serverUrl, m_account),
            QStringLiteral("[mainwindow.loadUserInfoData] ex-2 message:"),
            QStringLiteral("[mainwindow.loadUserInfoData] fail-2 message:"), [this](const WindowAnswer& answer) {
                if (!answer.ok()) {
                    return;
                }
                const KsUserBase details = KsUserBase::fromJson(answer.data.toObject());
                m_ui->txtEmail->setText(details.email);
                m_ui->txtTelNumber->setText(details.mobile);
            });
}
