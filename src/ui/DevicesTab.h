#pragma once

#include "TabPage.h"

class QStandardItemModel;

namespace Ui {
class MainWindow;
}

// The devices tab: the printers and their state.
class DevicesTab : public TabPage
{
    Q_OBJECT
public:
    explicit DevicesTab(QWidget* parent = nullptr);

    void setup(TabHost& host, Ui::MainWindow& form);
    void load() override;

    QStandardItemModel* model() const { return m_model; }

private:
    Ui::MainWindow* m_form = nullptr;
    QStandardItemModel* m_model = nullptr;
};
