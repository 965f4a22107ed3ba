#include "ui/LoginDialog.h"
#include "ui_LoginDialog.h"

#include "api/KsKit.h"
#include "app/Logging.h"
#include "config/LoginInfo.h"
#include "config/Session.h"
#include "session/LoginFlow.h"
#include "session/OnlineState.h"
#include "session/QrLogin.h"
#include "ui/LoginChrome.h"
#include "ui/Prompts.h"
#include "ui/QrPage.h"
#include "ui/ServerDialog.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QPixmap>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>
#include <QToolButton>

#include <cstdlib>

static Logger* logger = Logging::rootLogger();

namespace {
std::function<void(int)> s_exitHandler;

// The form (LoginDialog.ui) shows the first.
constexpr const char* kMoreIcon = ":/img32/images/more.png";
constexpr const char* kAccountIcon = ":/img32/images/account.png";
constexpr const char* kLockIcon = ":/img32/images/lock.png";
constexpr const char* kServerIcon = ":/img32/images/server_h.png";

// The field draws its action buttons as bare icons, without a focus frame: the icon gets one while its button
// has the keyboard focus.
class IconFocusMark : public QObject
{
public:
    IconFocusMark(QToolButton* button, QAction* action)
        : QObject(button)
        , m_action(action)
        , m_plain(action->icon())
    {
        QPixmap marked = m_plain.pixmap(32, 32);
        QPainter painter(&marked);
        painter.setPen(QPen(button->palette().color(QPalette::Highlight), 3));
        painter.drawRect(marked.rect().adjusted(1, 1, -2, -2));
        m_marked = QIcon(marked);
        button->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut) {
            m_action->setIcon(event->type() == QEvent::FocusIn ? m_marked : m_plain);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QAction* const m_action;
    const QIcon m_plain;
    QIcon m_marked;
};

// A switch the site settings file fixes is shown, not offered.
void showSiteFixed(QWidget* control, LoginInfo::Key key)
{
    if (LoginInfo::isFixed(key)) {
        control->setEnabled(false);
        control->setToolTip(LoginDialog::tr("Set by your site's administrator"));
    }
}
} // namespace

LoginDialog::LoginDialog(LoginInfo& settings, Session& session, KsKit& api, QWidget* parent)
    : QDialog(parent)
    , m_ui(new Ui::LoginDialog)
    , m_info(&settings)
    , m_session(&session)
    , m_api(&api)
    , m_flow(new LoginFlow(settings, session, api, this))
    , m_qr(new QrLogin(settings, session, api, this))
{
    // The dialog draws its own title bar. Set before the form exists: changing the flags later re-polishes
    // every child against the style sheet.
    setWindowFlags(Qt::FramelessWindowHint);
    m_ui->setupUi(this);
    m_online = new OnlineState(this);
    m_qrPage = new QrPage(m_ui->labQRCode, m_ui->labQrValidity, m_qr);
    setTabOrder(m_ui->btnDesktop, m_qrPage->codeLabel());

    initInfo();
    checkLoginType();

    // Through the pixmap cache: a QIcon made from a file name decodes it again.
    const auto icon = [](const char* name) { return QIcon(QPixmap(QLatin1String(name))); };
    QAction* more = m_ui->editKsServer->addAction(icon(kMoreIcon), QLineEdit::TrailingPosition);
    more->setObjectName(QStringLiteral("actionSiteMore"));
    // An action's text names the button the field draws for it, for the screen reader and as its tooltip.
    more->setText(tr("Choose a server"));
    m_ui->editLoginName->addAction(icon(kAccountIcon), QLineEdit::LeadingPosition)->setText(tr("Login name"));
    m_ui->editPassword->addAction(icon(kLockIcon), QLineEdit::LeadingPosition)->setText(tr("Password"));
    m_ui->editKsServer->addAction(icon(kServerIcon), QLineEdit::LeadingPosition)->setText(tr("Server"));
    // "…" is reached by Tab right after the server field, and Space opens the chooser.
    for (QWidget* widget : more->associatedWidgets()) {
        if (auto* moreButton = qobject_cast<QToolButton*>(widget)) {
            moreButton->setObjectName(QStringLiteral("btnSiteMore"));
            moreButton->setFocusPolicy(Qt::TabFocus);
            new IconFocusMark(moreButton, more);
            setTabOrder(m_ui->editKsServer, moreButton);
            setTabOrder(moreButton, m_ui->chkSavePassword);
        }
    }
    if (LoginInfo::isFixed(LoginInfo::Key::ServerUrl)) {
        // Read-only rather than disabled: the address stays readable and selectable.
        m_ui->editKsServer->setReadOnly(true);
        m_ui->editKsServer->setToolTip(tr("Set by your site's administrator"));
        more->setEnabled(false);
    }

    connect(m_ui->btnClose, &QPushButton::clicked, this, &QWidget::close);
    connect(m_ui->btnClose_2, &QPushButton::clicked, this, &QWidget::close);
    connect(m_ui->editLoginName, &QLineEdit::textChanged, this, &LoginDialog::textChanged);
    connect(m_ui->editPassword, &QLineEdit::textChanged, this, &LoginDialog::textChanged);
    connect(m_ui->btnLogin, &QPushButton::clicked, this, &LoginDialog::login_clicked);
    connect(m_ui->chkSysUser, &QCheckBox::stateChanged, this, &LoginDialog::onchkSysUserStateChanged);
    connect(m_ui->chkAutoLogin, &QCheckBox::stateChanged, this, &LoginDialog::onchkAutoLoginStateChanged);
    connect(m_ui->chkSavePassword, &QCheckBox::stateChanged, this, &LoginDialog::onchkSavePasswordStateChanged);
    connect(more, &QAction::triggered, this, &LoginDialog::siteMoreClicked);
    connect(m_online, &OnlineState::onlineStateChanged, this, &LoginDialog::onlineStateChangedSlot);
    connectFlow();
    new LoginChrome(this, m_ui->header_login, m_ui->header_qr);

    GenerateQRcode();
}

LoginDialog::~LoginDialog() = default;

void LoginDialog::connectFlow()
{
    m_flow->setFormSource([this]() {
        LoginForm form;
        form.server = m_ui->editKsServer->text();
        form.userName = m_ui->editLoginName->text();
        form.password = m_ui->editPassword->text();
        form.systemUser = m_ui->chkSysUser->isChecked();
        form.autoLogin = m_ui->chkAutoLogin->isChecked();
        form.savePassword = m_ui->chkSavePassword->isChecked();
        return form;
    });
    m_flow->setOnlineCheck([this]() { return m_online->isOnline(); });
    m_flow->setCertificateQuestion([this](const ServerTrust::Refusal& refusal) {
        return askTrustChangedCertificate(refusal.server, refusal.pinned, refusal.presented);
    });
    connect(m_flow, &LoginFlow::busyChanged, this, [](bool busy) {
        if (busy) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
        } else {
            QApplication::restoreOverrideCursor();
        }
    });
    connect(m_flow, &LoginFlow::attemptEnded, this, [this]() { m_ui->btnLogin->setEnabled(true); });
    connect(m_flow, &LoginFlow::serverAddressNormalised, m_ui->editKsServer, &QLineEdit::setText);
    connect(m_flow, &LoginFlow::newQrCodeNeeded, m_qr, &QrLogin::generate);
    connect(m_flow, &LoginFlow::unreachable, this, [this]() { Prompts::critical(this, tr("Unable to link server")); });
    connect(m_flow, &LoginFlow::refused, this, [this](const QString& message, bool passwordTyped) {
        Prompts::warning(this, message);
        if (passwordTyped && m_ui->editPassword->isEnabled()) {
            // Typing again replaces the refused password rather than adding to it.
            m_ui->editPassword->setFocus(Qt::OtherFocusReason);
            m_ui->editPassword->selectAll();
        }
    });
    connect(m_flow, &LoginFlow::domainRefused, this, [this]() { Prompts::warning(this, tr("Login failed")); });
    connect(m_flow, &LoginFlow::loggedIn, this, &LoginDialog::showLoggedIn);

    m_qr->setServerTyped([this]() { return !m_ui->editKsServer->text().isEmpty(); });
    connect(m_qr, &QrLogin::scanned, this, &LoginDialog::showScanned);
}

void LoginDialog::setExitHandlerForTests(std::function<void(int)> handler)
{
    s_exitHandler = std::move(handler);
}

void LoginDialog::setLocalDomainNameForTests(const QString& domain)
{
    m_flow->setLocalDomainNameForTests(domain);
}

bool LoginDialog::dialogSystemUser() const
{
    return LoginInfo::fileSwitch(LoginInfo::Key::SystemUser);
}

void LoginDialog::initInfo()
{
    LoginInfo* info = m_info;

    m_ui->lab_login_title->setText(info->title());
    m_ui->lab_qr_title->setText(info->title());
    setWindowIcon(QIcon(QCoreApplication::applicationDirPath() + QStringLiteral("/images/logo128.ico")));

    {
        // Filling the form from the stored values must not write those values back.
        const QSignalBlocker b1(m_ui->chkAutoLogin);
        const QSignalBlocker b2(m_ui->chkSavePassword);
        const QSignalBlocker b3(m_ui->chkSysUser);
        m_ui->chkAutoLogin->setChecked(info->isAutoLogin());
        m_ui->chkSavePassword->setChecked(info->isSavingPassword());
        m_ui->chkSysUser->setChecked(info->isSystemUser());
    }
    m_ui->editLoginName->setText(info->userName());
    // Without "Save Password" a password left from the previous session must not stay in the field.
    m_ui->editPassword->setText(info->isSavingPassword() ? info->password() : QString());
    m_ui->editKsServer->setText(info->ksServerUrl());

    static const QRegularExpression namePattern(
        QStringLiteral("^[一-龥A-Za-z0-9|!@#$%^&*()_=+-.,\"'<>?`~{}\\[\\] ]+$"));
    if (!m_ui->editLoginName->validator()) {
        m_ui->editLoginName->setValidator(new QRegularExpressionValidator(namePattern, m_ui->editLoginName));
    }

    m_ui->btnLogin->setFocus();
    m_ui->btnLogin->setShortcut(QKeySequence(Qt::Key_Return));

    m_flow->reload();
    m_osUser = QString::fromLocal8Bit(qgetenv("USER"));
    setSystemUserControls(m_flow->systemUser());
    // Fields filled with what they already held emit no change: the first start would keep the form's state.
    updateLoginButton();
}

void LoginDialog::setSystemUserControls(bool systemUser)
{
    if (systemUser) {
        m_ui->editLoginName->setText(m_osUser);
        m_ui->editLoginName->setEnabled(m_info->multiDomain());
        m_ui->editPassword->setEnabled(false);
        m_ui->chkSavePassword->setEnabled(false);
        m_ui->chkAutoLogin->setEnabled(false);
        m_ui->btnLogin->setEnabled(true);
    } else {
        m_ui->editLoginName->setEnabled(true);
        m_ui->editPassword->setEnabled(true);
        m_ui->chkSavePassword->setEnabled(true);
        m_ui->chkAutoLogin->setEnabled(true);
    }
    showSiteFixed(m_ui->chkSysUser, LoginInfo::Key::SystemUser);
    showSiteFixed(m_ui->chkSavePassword, LoginInfo::Key::SavePassword);
    showSiteFixed(m_ui->chkAutoLogin, LoginInfo::Key::AutoLogin);
}

void LoginDialog::checkLoginType()
{
    if (!m_info->showQR()) {
        m_ui->frame_qr->hide();
        m_ui->btnQr->hide();
        m_ui->frame_login->show();
        return;
    }
    m_ui->btnQr->show();
    if (m_info->defaultLoginType() == 2) {
        m_ui->frame_login->hide();
        m_ui->frame_qr->show();
    } else {
        m_ui->frame_login->show();
        m_ui->frame_qr->hide();
        m_qr->stop();
    }
    if (isVisible()) {
        focusShownPage();
    }
}

void LoginDialog::focusShownPage()
{
    // A hidden page keeps the focus it had when it was hidden: keys typed on the other page would go into it.
    QWidget* first = m_ui->btnLogin;
    if (!m_ui->frame_qr->isHidden()) {
        first = m_qrPage->codeLabel();
    } else if (m_ui->editLoginName->isEnabled() && m_ui->editLoginName->text().isEmpty()) {
        first = m_ui->editLoginName;
    } else if (m_ui->editPassword->isEnabled() && m_ui->editPassword->text().isEmpty()) {
        first = m_ui->editPassword;
    }
    first->setFocus(Qt::OtherFocusReason);
}

void LoginDialog::on_btnQr_clicked()
{
    m_qr->choosePage(true);
    m_ui->frame_login->hide();
    m_ui->frame_qr->show();
    focusShownPage();
    GenerateQRcode();
}

void LoginDialog::on_btnDesktop_clicked()
{
    m_qr->choosePage(false);
    m_ui->frame_qr->hide();
    m_ui->frame_login->show();
    focusShownPage();
}

void LoginDialog::textChanged(const QString&)
{
    updateLoginButton();
}

void LoginDialog::updateLoginButton()
{
    if (!m_ui->editLoginName->text().isEmpty() && !m_ui->editPassword->text().isEmpty()) {
        m_ui->btnLogin->setEnabled(true);
    } else {
        m_ui->btnLogin->setEnabled(dialogSystemUser());
    }
}

void LoginDialog::login_clicked()
{
    if (m_ui->editKsServer->text().isEmpty()) {
        Prompts::warning(this, tr("ks server path is not empty"));
        return;
    }
    if (m_ui->editLoginName->text().isEmpty()) {
        Prompts::warning(this, tr("login name is not empty"));
        return;
    }
    if (!m_flow->systemUser() && m_ui->editPassword->text().isEmpty()) {
        Prompts::warning(this, tr("password is not empty"));
        return;
    }
    m_ui->btnLogin->setEnabled(false);
    m_flow->requestTypedLogin();
}

bool LoginDialog::askTrustChangedCertificate(const QString& server, const QString& pinned, const QString& presented)
{
    const QString text = tr("The certificate of the server %1 has changed.\n\n"
                            "Trusted until now (SHA-256):\n%2\n\n"
                            "Presented now (SHA-256):\n%3\n\n"
                            "Accept the new certificate only if you know that the server's certificate was "
                            "replaced. Accept it?")
                             .arg(server, pinned, presented);
    return Prompts::question(this, text) == QMessageBox::Yes;
}

void LoginDialog::showLoggedIn()
{
    accept();
    m_qr->stop();
    emit mainshow();
}

bool LoginDialog::checkNetworkState(bool showError)
{
    if (!m_online->isOnline()) {
        return false;
    }
    if (m_flow->serverReachable()) {
        return true;
    }
    if (showError) {
        Prompts::error(this, tr("Unable to link server"));
    }
    return false;
}

void LoginDialog::show_errormsg(const QString& text)
{
    Prompts::warning(this, text);
}

void LoginDialog::startTimer()
{
    GenerateQRcode();
    m_flow->startAutoLogin();
}

void LoginDialog::stopTimer()
{
    m_qr->stop();
}

void LoginDialog::onchkSysUserStateChanged(int state)
{
    if (state == Qt::Checked) {
        m_ui->editPassword->clear();
        setSystemUserControls(true);
        m_ui->chkSavePassword->setChecked(true);
        m_ui->chkAutoLogin->setChecked(true);
        m_flow->setSystemUser(true);
    } else if (state == Qt::Unchecked) {
        setSystemUserControls(false);
        m_flow->setSystemUser(false);
    } else {
        m_ui->btnLogin->setEnabled(true);
    }
}

void LoginDialog::onchkAutoLoginStateChanged(int state)
{
    if (state == Qt::Checked) {
        m_ui->chkSavePassword->setChecked(true);
        m_flow->setAutoLogin(true);
    } else if (state == Qt::Unchecked) {
        m_flow->setAutoLogin(false);
    }
}

void LoginDialog::onchkSavePasswordStateChanged(int state)
{
    if (state == Qt::Checked) {
        m_flow->setSavePassword(true);
    } else if (state == Qt::Unchecked) {
        m_ui->chkAutoLogin->setChecked(false);
        m_flow->setSavePassword(false);
    }
}

void LoginDialog::onlineStateChangedSlot(bool online)
{
    logger->info(online ? QStringLiteral("###### LoginDialog network is true")
                        : QStringLiteral("###### LoginDialog network is false"));
}

void LoginDialog::siteMoreClicked()
{
    m_flow->setServerUrl(m_ui->editKsServer->text());
    ServerDialog chooser(*m_api, m_info->ksServerUrl(), this);
    chooser.setWindowFlags(Qt::Dialog | Qt::WindowCloseButtonHint);
    if (chooser.exec() == QDialog::Accepted && !chooser.siteUrl().isEmpty()) {
        m_ui->editKsServer->setText(chooser.siteUrl());
    }
}

void LoginDialog::show_loginwindow()
{
    logger->info(QStringLiteral("###### show_loginwindow"));
    GenerateQRcode();
    initInfo();
    emit loginWindowShown();
    m_ui->editKsServer->setText(m_info->ksServerUrl());
    show();
    checkLoginType();
}

void LoginDialog::onNewJobFile(const QString&)
{
    if (m_session->isLogin()) {
        return;
    }
    activateWindow();
    Prompts::notify(this, tr("Please log in to the print client"));
}

void LoginDialog::showEvent(QShowEvent* event)
{
    // Set here, not when the dialog is built: a CJK title loads a large font file, which a start with automatic
    // login, where the dialog is never shown, should not keep mapped.
    m_ui->lab_login_title->setFont(LoginChrome::titleFont(24, true, m_ui->lab_login_title->text()));
    m_ui->lab_qr_title->setFont(LoginChrome::titleFont(24, true, m_ui->lab_qr_title->text()));
    m_ui->label_scan->setFont(LoginChrome::titleFont(14, false, m_ui->label_scan->text()));
    QDialog::showEvent(event);
    // Typing starts where something is missing: the name, else the password; Return logs in from anywhere.
    focusShownPage();
}

void LoginDialog::closeEvent(QCloseEvent* event)
{
    event->accept();
    reject();
    if (s_exitHandler) {
        s_exitHandler(0);
        return;
    }
    std::exit(0);
}

void LoginDialog::keyPressEvent(QKeyEvent* event)
{
    // Escape would only hide the window and leave the client running without any visible window.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

// ---- QR-code login ----

void LoginDialog::GenerateQRcode()
{
    m_qr->generate();
}

void LoginDialog::ScanLogin()
{
    m_qr->poll();
}

void LoginDialog::showScanned(const QrCredentials& record)
{
    m_qrPage->showUsed();
    if (m_ui->chkSysUser->isChecked()) {
        setSystemUserControls(false);
        m_ui->chkSysUser->setChecked(false);
    }
    m_ui->editLoginName->setText(record.account);
    m_ui->editPassword->setText(record.password);
    m_ui->btnLogin->setEnabled(true);
    m_flow->login(LoginFlow::Kind::Scanned);
}
