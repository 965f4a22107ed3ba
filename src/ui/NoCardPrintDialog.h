#pragma once

#include "api/KsPrinter.h"
#include "api/KsProject.h"
#include "jobs/JobHost.h"

#include <QDialog>
#include <QList>
#include <QScopedPointer>

class QButtonGroup;
class QLabel;

namespace Ui {
class NoCardPrintDialog;
}

// Lets the user pick, for one job, a printer without card reader, a fee project and a security level.
class NoCardPrintDialog : public QDialog
{
    Q_OBJECT
public:
    // Offers the printers without card reader among printers, and the projects; security levels when
    // supportSecret.
    NoCardPrintDialog(const QList<KsPrinter>& printers, const QList<KsProject>& projects, bool supportSecret,
                      QWidget* parent = nullptr);
    ~NoCardPrintDialog() override;

    // Runs the dialog modally above every window on the choice's lists; true when the user confirmed, with the
    // choice filled in. The main window's no-card choice.
    static bool runChoice(NoCardChoice* choice);

    KsPrinter getKsPrinter() const { return m_printer; }
    KsProject getKsProject() const { return m_project; }
    QList<KsPrinter> getKsPrinters() const { return m_printers; }
    NoCardChoice choice() const;
    // Names the job the choice is for, above the choices.
    void setDocumentName(const QString& name);
    QString documentName() const;

protected:
    void closeEvent(QCloseEvent* event) override;

private slots:
    void on_pushButton_2_clicked();
    void onComboxPrinterChanged(const QString& text);
    void onComboxProjectChanged(const QString& text);
    void radioButton_clicked();

private:
    void InitData(const QList<KsPrinter>& printers, bool supportSecret);
    // The lists' descriptions: the chosen printer's position and status, the chosen project's balance.
    void describeChoices();

    const QScopedPointer<Ui::NoCardPrintDialog> m_ui;
    QButtonGroup* m_levels = nullptr;
    QLabel* m_document = nullptr;
    QList<KsPrinter> m_printers;
    QList<KsProject> m_projects;
    KsPrinter m_printer;
    KsProject m_project;
    int m_secretLevel = 0;
};
