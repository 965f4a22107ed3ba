#include "NoCardPrintDialog.h"
#include "ui_NoCardPrintDialog.h"

#include "ScreenFit.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QIcon>
#include <QLabel>

NoCardPrintDialog::NoCardPrintDialog(const QList<KsPrinter>& printers, const QList<KsProject>& projects,
                                     bool supportSecret, QWidget* parent)
    : QDialog(parent)
    , m_ui(new Ui::NoCardPrintDialog())
    , m_levels(new QButtonGroup(this))
{
    m_ui->setupUi(this);
    setWindowIcon(QIcon(QCoreApplication::applicationDirPath() + QStringLiteral("/images/logo64.ico")));
    m_document = new QLabel(this);
    m_document->setObjectName(QStringLiteral("labelDocument"));
    m_document->setWordWrap(true);
    m_document->setTextFormat(Qt::PlainText);
    m_document->hide();
    m_ui->verticalLayout->insertWidget(0, m_document);
    resize(sizeHint().expandedTo(minimumSize()));
    ScreenFit::fit(this);
    m_levels->addButton(m_ui->radioButton, 1);
    m_levels->addButton(m_ui->radioButton_2, 2);
    m_levels->addButton(m_ui->radioButton_3, 3);
    m_levels->addButton(m_ui->radioButton_4, 4);

    m_projects = projects;
    InitData(printers, supportSecret);

    connect(m_ui->comboBoxPrinter, &QComboBox::currentTextChanged, this, &NoCardPrintDialog::onComboxPrinterChanged);
    connect(m_ui->comboBoxProject, &QComboBox::currentTextChanged, this, &NoCardPrintDialog::onComboxProjectChanged);
    for (QAbstractButton* button : m_levels->buttons()) {
        connect(button, &QAbstractButton::clicked, this, &NoCardPrintDialog::radioButton_clicked);
    }
}

NoCardPrintDialog::~NoCardPrintDialog() = default;

void NoCardPrintDialog::InitData(const QList<KsPrinter>& printers, bool supportSecret)
{
    if (!supportSecret) {
        m_ui->groupBoxSecretLevel->hide();
    } else {
        m_secretLevel = m_levels->checkedId();
    }

    for (const KsPrinter& printer : printers) {
        if (!printer.useCardReader) {
            m_ui->comboBoxPrinter->addItem(printer.deviceName);
            m_printers.append(printer);
        }
    }
    if (!m_printers.isEmpty()) {
        m_ui->labelLocation->setText(m_printers.first().location);
        m_ui->labelStatus->setText(m_printers.first().status);
        m_printer = m_printers.first();
    }

    for (const KsProject& project : qAsConst(m_projects)) {
        m_ui->comboBoxProject->addItem(project.projectName, project.projectId);
    }
    if (!m_projects.isEmpty()) {
        m_ui->labelBalance->setText(QString::number(m_projects.first().balance, 'f', 2));
        m_project = m_projects.first();
    }
    describeChoices();
}

void NoCardPrintDialog::describeChoices()
{
    // A screen reader on a list tells what the labels beside it show for the entry chosen.
    const auto pair = [](const QLabel* title, const QLabel* value) -> QString {
        return title->text() + QStringLiteral(": ") + value->text();
    };
    m_ui->comboBoxPrinter->setAccessibleDescription(pair(m_ui->labelPosition, m_ui->labelLocation)
                                                    + QStringLiteral(", ")
                                                    + pair(m_ui->labelStatusTitle, m_ui->labelStatus));
    m_ui->comboBoxProject->setAccessibleDescription(pair(m_ui->labelBalanceTitle, m_ui->labelBalance));
}

NoCardChoice NoCardPrintDialog::choice() const
{
    NoCardChoice choice;
    choice.controllerMac = m_printer.controllerMac;
    choice.securityLevel = m_secretLevel;
    choice.projectId = m_project.projectId;
    return choice;
}

void NoCardPrintDialog::setDocumentName(const QString& name)
{
    m_document->setText(tr("Document: %1").arg(name));
    m_document->setVisible(!name.isEmpty());
    ScreenFit::keepInside(this);
}

QString NoCardPrintDialog::documentName() const
{
    return m_document->isHidden() ? QString() : m_document->text();
}

bool NoCardPrintDialog::runChoice(NoCardChoice* choice)
{
    NoCardPrintDialog dialog(choice->printers, choice->projects, choice->supportSecret);
    dialog.setWindowFlags(Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowCloseButtonHint);
    dialog.setDocumentName(choice->documentName);
    if (dialog.exec() != QDialog::Accepted) {
        return false;
    }
    const NoCardChoice made = dialog.choice();
    choice->controllerMac = made.controllerMac;
    choice->securityLevel = made.securityLevel;
    choice->projectId = made.projectId;
    return true;
}

void NoCardPrintDialog::closeEvent(QCloseEvent* event)
{
    hide();
    event->ignore();
}

void NoCardPrintDialog::on_pushButton_2_clicked()
{
    accept();
}

void NoCardPrintDialog::onComboxPrinterChanged(const QString& text)
{
    for (const KsPrinter& printer : qAsConst(m_printers)) {
        if (printer.deviceName != text) {
            m_ui->labelStatus->clear();
            m_printer = KsPrinter();
            continue;
        }
        m_ui->labelLocation->setText(printer.location);
        m_ui->labelStatus->setText(printer.status);
        m_printer = printer;
        break;
    }
    describeChoices();
}

void NoCardPrintDialog::onComboxProjectChanged(const QString& text)
{
    for (const KsProject& project : qAsConst(m_projects)) {
        if (project.projectName != text) {
            m_ui->labelBalance->setText(QStringLiteral("0.00"));
            m_project = KsProject();
            continue;
        }
        m_ui->labelBalance->setText(QString::number(project.balance, 'f', 2));
        m_project = project;
        break;
    }
    describeChoices();
}

void NoCardPrintDialog::radioButton_clicked()
{
    m_secretLevel = m_levels->checkedId();
}
