#pragma once

#include "TabPage.h"

class FileTransfer;
class QStandardItemModel;

namespace Ui {
class MainWindow;
}

// The scan-jobs tab: list, delete and download the user's scan jobs.
class ScanJobsTab : public TabPage
{
    Q_OBJECT
public:
    explicit ScanJobsTab(QWidget* parent = nullptr);

    void setup(TabHost& host, Ui::MainWindow& form, FileTransfer& downloads);
    void load() override;

    static QString scanStatusName(int statusId);
    QStandardItemModel* model() const { return m_model; }

private:
    void deleteSelected();
    void downloadSelected();

    Ui::MainWindow* m_form = nullptr;
    FileTransfer* m_downloads = nullptr;
    QStandardItemModel* m_model = nullptr;
};
