#pragma once

#include "TabPage.h"

class FileTransfer;

namespace Ui {
class MainWindow;
}

// The system tab: the installed and the newest client version, and the download of the update package.
class SystemTab : public TabPage
{
    Q_OBJECT
public:
    explicit SystemTab(QWidget* parent = nullptr);

    void setup(TabHost& host, Ui::MainWindow& form, const QString& installedVersion, FileTransfer& downloads);
    void load() override;

    // Asks the server for the newest version; the answer decides whether an update is offered.
    void checkClientUpdate();

private:
    void showNewestVersion(const QString& newest);
    void downloadUpdate();

    Ui::MainWindow* m_form = nullptr;
    FileTransfer* m_downloads = nullptr;
    QString m_installedVersion;
};
