#include "NoCardPrintDialog.h"
#include "ui_NoCardPrintDialog.h"

#include "api/HttpExchange.h"
#include "api/KsKit.h"
#include "app/Singleton.h"
#include "config/LoginInfo.h"
#include "ui/ScreenFit.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QIcon>
#include <QLabel>

NoCardPrintDialog::NoCardPrintDialog(QWidget* parent)
    : QDialog(parent)
    , m_ui(new Ui::NoCardPrintDialog())
    , m_kit(new KsKit(this))
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

    InitData();

    connect(m_ui->comboBoxPrinter, &QComboBox::currentTextChanged, this, &NoCardPrintDialog::onComboxPrinterChanged);
    connect(m_ui->comboBoxProject, &QComboBox::currentTextChanged, this, &NoCardPrintDialog::onComboxProjectChanged);
    for (QAbstractButton* button : m_levels->buttons()) {
        connect(button, &QAbstractButton::clicked, this, &NoCardPrintDialog::radioButton_clicked);
    }
}

NoCardPrintDialog::~NoCardPrintDialog() = default;

void NoCardPrintDialog::InitData()
{
    const LoginInfo* info = Singleton<LoginInfo>::getInstance();
    if (!info->supportSecret()) {
        m_ui->groupBoxSecretLevel->hide();
    } else {
        m_secretLevel = m_levels->checkedId();
    }
    const QString account = QString::fromLatin1(HttpExchange::percentEncode(info->userName()));

    for (const KsPrinter& printer : m_kit->getPrinters(account, 0)) {
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

    m_projects = m_kit->getProjects(account);
    for (const KsProject& project : qAsConst(m_projects)) {
        m_ui->comboBoxProject->addItem(project.projectName, project.projectId);
    }
    if (!m_projects.isEmpty()) {
        m_ui->labelBalance->setText(QString::number(m_projects.first().balance, 'f', 2));
        m_project = m_projects.first();
    }
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
    NoCardPrintDialog dialog;
    dialog.setWindowFlags(Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowCloseButtonHint);
    dialog.setDocumentName(choice->documentName);
    if (dialog.exec() != QDialog::Accepted) {
        return false;
    }
    const QString document = choice->documentName;
    *choice = dialog.choice();
    choice->documentName = document;
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
}

void NoCardPrintDialog::radioButton_clicked()
{
    m_secretLevel = m_levels->checkedId();
}
