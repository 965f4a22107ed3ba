// The devices tab: the printers and their state.
#include "MainWindow.h"
#include "ui_MainWindow.h"

#include "EmptyTableHint.h"
#include "WindowRequest.h"
#include "api/KsKit.h"
#include "api/KsPrinter.h"

#include <QJsonArray>
#include <QStandardItemModel>

void MainWindow::initDeviceTabelView()
{
    m_devicesModel = new QStandardItemModel(this);
    setupTable(m_ui->tvDevices, m_devicesModel, { tr("DeviceName"), tr("Status"), tr("Location"), tr("ControllerMac") },
               { 200, 100, 150, 200 });
    EmptyTableHint::install(m_ui->tvDevices, tr("No devices"));
}

void MainWindow::loadDeviceData()
{
    if (!checkNetworkState(false)) {
        return;
    }
    sendGet(KsKit::devicesUrl(m_serverUrl, 0, m_account), QStringLiteral("[mainwindow.loadDeviceData] ex message:"),
            QStringLiteral("[mainwindow.loadDeviceData] fail message:"), [this](const WindowAnswer& answer) {
                if (answer.ok()) {
                    m_devicesModel->removeRows(0, m_devicesModel->rowCount());
                    const QList<KsPrinter> printers = KsPrinter::listFromJson(answer.data);
                    for (const KsPrinter& printer : printers) {
                        m_devicesModel->appendRow(
                            { new QStandardItem(printer.deviceName), new QStandardItem(printer.status),
                              new QStandardItem(printer.location), new QStandardItem(printer.controllerMac) });
                    }
                }
                fitColumns(m_ui->tvDevices);
                InitTabText(QStringLiteral("tabDevices"), QStringLiteral("Devices"), m_devicesModel->rowCount());
            });
}
