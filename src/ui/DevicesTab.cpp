#include "DevicesTab.h"
#include "ui_MainWindow.h"

#include "EmptyTableHint.h"
#include "api/KsKit.h"
#include "api/KsPrinter.h"

#include <QStandardItemModel>

DevicesTab::DevicesTab(QWidget* parent)
    : TabPage(parent)
{ }

void DevicesTab::setup(TabHost& host, Ui::MainWindow& form)
{
    attach(host);
    m_form = &form;
    m_model = new QStandardItemModel(this);
    setupTable(form.tvDevices, m_model, { tr("DeviceName"), tr("Status"), tr("Location"), tr("ControllerMac") },
               { 200, 100, 150, 200 });
    EmptyTableHint::install(form.tvDevices, tr("No devices"));
    showContentAgeWhenOffline();
}

void DevicesTab::load()
{
    if (!host().checkNetworkState(false)) {
        return;
    }
    const ApiAnswer::Log log { QStringLiteral("[mainwindow.loadDeviceData] ex message:"),
                               QStringLiteral("[mainwindow.loadDeviceData] fail message:") };
    host().api().requestDevices(host().serverUrl(), host().userAccount(), log, this, [this](const ApiAnswer& answer) {
        noteAnswer(answer);
        if (answer.ok()) {
            m_model->removeRows(0, m_model->rowCount());
            const QList<KsPrinter> printers = KsPrinter::listFromJson(answer.data);
            for (const KsPrinter& printer : printers) {
                m_model->appendRow({ new QStandardItem(printer.deviceName), new QStandardItem(printer.status),
                                     new QStandardItem(printer.location), new QStandardItem(printer.controllerMac) });
            }
        }
        fitColumns(m_form->tvDevices);
        showCount("Devices", m_model->rowCount());
    });
}
