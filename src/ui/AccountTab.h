#pragma once

#include "TabPage.h"
#include "api/KsUserInfo.h"

namespace Ui {
class MainWindow;
}

// The account tab: permissions and personal details, from two requests answered in either order.
class AccountTab : public TabPage
{
    Q_OBJECT
public:
    explicit AccountTab(QWidget* parent = nullptr);

    // showCost: the balance and the amount spent are shown.
    void setup(TabHost& host, Ui::MainWindow& form, bool showCost);
    void load() override;

    const KsUserInfo& userInfo() const { return m_userInfo; }

private:
    void SetCtlToDisable(bool enabled);

    Ui::MainWindow* m_form = nullptr;
    KsUserInfo m_userInfo;
};
