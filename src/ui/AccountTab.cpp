#include "AccountTab.h"
#include "ui_MainWindow.h"

#include "api/KsKit.h"
#include "api/KsUserBase.h"

AccountTab::AccountTab(QWidget* parent)
    : TabPage(parent)
{ }

void AccountTab::setup(TabHost& host, Ui::MainWindow& form, bool showCost)
{
    attach(host);
    m_form = &form;
    if (!showCost) {
        form.labBalance->hide();
        form.txtBalance->hide();
        form.labSpend->hide();
        form.txtSpend->hide();
    }
}

void AccountTab::SetCtlToDisable(bool enabled)
{
    // The text fields are display-only by being read-only, not disabled: a disabled field is greyed below a
    // readable contrast and skipped by Tab, so neither a reader nor the keyboard could reach the values.
    for (QLineEdit* field : { m_form->txtBalance, m_form->txtUserGroup, m_form->txtCardNumber, m_form->txtSpend,
                              m_form->txtEmail, m_form->txtTelNumber }) {
        field->setEnabled(true);
        field->setReadOnly(!enabled);
    }
    m_form->chkIsAllowPrintColor->setEnabled(enabled);
    m_form->chkPrintDateLimit->setEnabled(enabled);
    m_form->chkPrintTimeLimit->setEnabled(enabled);
}

void AccountTab::load()
{
    if (!host().checkNetworkState(false)) {
        return;
    }
    SetCtlToDisable(false);

    const ApiAnswer::Log log { QStringLiteral("[mainwindow.loadUserInfoData] ex message:"),
                               QStringLiteral("[mainwindow.loadUserInfoData] fail message:") };
    host().api().requestPermissions(
        host().serverUrl(), host().userAccount(), log, this, [this](const ApiAnswer& answer) {
            noteAnswer(answer);
            if (!answer.ok()) {
                return;
            }
            m_userInfo = KsUserInfo::fromJson(answer.data.toObject());
            m_form->chkPrintDateLimit->setChecked(m_userInfo.printTimeInfo.printDateId >= 1);
            m_form->chkPrintTimeLimit->setChecked(m_userInfo.printTimeInfo.printTimeId >= 1);
            m_form->txtUserGroup->setText(m_userInfo.groupName);
            m_form->txtBalance->setText(QStringLiteral("%1").arg(QString::number(m_userInfo.balance, 'g', 6)));
            m_form->txtCardNumber->setText(m_userInfo.cardNumber);
            m_form->txtSpend->setText(QStringLiteral("%1").arg(QString::number(m_userInfo.hasSpent, 'g', 6)));
            m_form->chkIsAllowPrintColor->setChecked(m_userInfo.isAllowPrintColor);
        });

    const ApiAnswer::Log detailsLog { QStringLiteral("[mainwindow.loadUserInfoData] ex-2 message:"),
                                      QStringLiteral("[mainwindow.loadUserInfoData] fail-2 message:") };
    host().api().requestUserDetails(host().serverUrl(), host().userAccount(), detailsLog, this,
                                    [this](const ApiAnswer& answer) {
                                        noteAnswer(answer);
                                        if (!answer.ok()) {
                                            return;
                                        }
                                        const KsUserBase details = KsUserBase::fromJson(answer.data.toObject());
                                        m_form->txtEmail->setText(details.email);
                                        m_form->txtTelNumber->setText(details.mobile);
                                    });
}
