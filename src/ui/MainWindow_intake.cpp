// The window as host of the job intake: real boxes, the no-card dialog, the progress display, and the
// operations the queue and the pipeline run through the window.
#include "MainWindow.h"
#include "ui_MainWindow.h"

#include "Prompts.h"

#include <QAbstractButton>
#include <QPointer>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>

namespace {
// Boxes raised by the job intake float above every window: the main window may well be hidden.
constexpr Qt::WindowFlags kJobPromptFlags = Qt::Tool | Qt::WindowTitleHint | Qt::CustomizeWindowHint
                                            | Qt::WindowStaysOnTopHint | Qt::BypassWindowManagerHint;

class DialogProgress : public JobProgress
{
public:
    explicit DialogProgress(QProgressDialog* dialog)
        : m_dialog(dialog)
    {
    }
    ~DialogProgress() override { delete m_dialog.data(); }
    void setValue(int value) override
    {
        if (m_dialog) {
            m_dialog->setValue(value);
        }
    }
    bool wasCanceled() const override { return !m_dialog || m_dialog->wasCanceled(); }
    void close() override
    {
        if (m_dialog) {
            m_dialog->close();
        }
    }

private:
    QPointer<QProgressDialog> m_dialog;
};
} // namespace

bool MainWindow::askConfirmation(const QString& text)
{
    return Prompts::question(nullptr, tr("Confirmation"), text, tr("Yes"), tr("No"));
}

void MainWindow::showWarning(const QString& text)
{
    Prompts::message(nullptr, QMessageBox::Warning, tr("Title"), text, tr("Yes"));
}

void MainWindow::showCritical(const QString& text)
{
    Prompts::message(nullptr, QMessageBox::Critical, tr("Error"), text, tr("Yes"));
}

JobHost::ExistingJobsChoice MainWindow::askExistingJobs(const QString& title)
{
    QMessageBox box;
    box.setWindowTitle(title);
    box.setText(tr("Existed jobs found"));
    box.setInformativeText(tr("Do you want to submit the jobs?"));
    box.setIcon(QMessageBox::Warning);
    box.addButton(tr("Discard"), QMessageBox::ActionRole);
    QPushButton* submit = box.addButton(tr("Submit"), QMessageBox::ActionRole);
    box.setWindowFlags(kJobPromptFlags);
    box.exec();
    return box.clickedButton() == submit ? ExistingJobsChoice::Submit : ExistingJobsChoice::Discard;
}

std::unique_ptr<JobProgress> MainWindow::createProgress(const QString& label, const QString& cancelText, int maximum,
                                                        const QString& title)
{
    auto* dialog = new QProgressDialog(label, cancelText, 0, maximum, this);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setWindowTitle(title);
    dialog->setMinimumWidth(300);
    dialog->setMinimumHeight(120);
    dialog->setMinimumDuration(0);
    dialog->setValue(0);
    return std::make_unique<DialogProgress>(dialog);
}

