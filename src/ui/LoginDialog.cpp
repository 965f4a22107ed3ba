#include "ui/LoginDialog.h"
#include "ui_LoginDialog.h"

#include "api/HttpExchange.h"
#include "api/KsKit.h"
#include "api/ServerTrust.h"
#include "app/Logging.h"
#include "app/ServerUrl.h"
#include "app/Singleton.h"
#include "app/UserPaths.h"
#include "config/LoginInfo.h"
#include "config/Session.h"
#include "jobs/CMyFileWatcher.h"
#include "jobs/SafeJobFile.h"
#include "session/OnlineState.h"
#include "ui/ClickedLabel.h"
#include "ui/Prompts.h"
#include "ui/QRCodeHelper.h"
#include "ui/QrCredentials.h"
#include "ui/ServerDialog.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QHostInfo>
#include <QImageReader>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QKeyEvent>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>
#include <QTime>
#include <QTimer>
#include <QUuid>

#include <cstdlib>

static Logger* logger = Logging::rootLogger();

namespace {
std::function<void(int)> s_exitHandler;

// The form (LoginDialog.ui) shows the first two.
constexpr const char* kNoQrCode = ":/img32/images/NOQR.bmp";
constexpr const char* kMoreIcon = ":/img32/images/more.png";
constexpr const char* kAccountIcon = ":/img32/images/account.png";
constexpr const char* kLockIcon = ":/img32/images/lock.png";
constexpr const char* kServerIcon = ":/img32/images/server_h.png";

// Restores the cursor on every way out of a login attempt, or earlier so a message box is not shown busy.
class BusyCursor
{
public:
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { release(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
    void release()
    {
        if (m_active) {
            m_active = false;
            QApplication::restoreOverrideCursor();
        }
    }

private:
    bool m_active = true;
};

bool hasCjk(const QString& text)
{
    for (const uint c : text.toUcs4()) {
        switch (QChar::script(c)) {
        case QChar::Script_Han:
        case QChar::Script_Hiragana:
        case QChar::Script_Katakana:
        case QChar::Script_Hangul:
        case QChar::Script_Bopomofo:
            return true;
        default:
            break;
        }
    }
    return false;
}

QFont titleFont(int pixelSize, bool bold, const QString& text)
{
    QFont font(QStringLiteral("Microsoft YaHei UI"));
    // The first family is rarely installed on Linux desktops. A CJK text falls back to a CJK sans font, whose
    // Latin letters match its own; any other to DejaVu Sans like the rest of the dialog, sparing the first paint
    // the loading of the large CJK font file.
    QStringList families { QStringLiteral("Microsoft YaHei UI") };
    if (hasCjk(text)) {
        families << QStringLiteral("Noto Sans CJK SC");
    }
    families << QStringLiteral("DejaVu Sans");
    font.setFamilies(families);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}
} // namespace

LoginDialog::LoginDialog(LoginInfo& settings, Session& session, KsKit& api, QWidget* parent)
    : QDialog(parent)
    , m_ui(new Ui::LoginDialog)
    , m_info(&settings)
    , m_session(&session)
    , m_api(&api)
{
    // The dialog draws its own title bar. Set before the form exists: changing the flags later re-polishes
    // every child against the style sheet.
    setWindowFlags(Qt::FramelessWindowHint);
    m_ui->setupUi(this);
    m_online = new OnlineState(this);

    m_qrTimer = new QTimer(this);
    m_qrTimer->setObjectName(QStringLiteral("qrPollTimer"));
    m_qrTimer->setInterval(kQrPollIntervalMs);
    connect(m_qrTimer, &QTimer::timeout, this, &LoginDialog::ScanLogin);

    m_autoLoginTimer = new QTimer(this);
    m_autoLoginTimer->setObjectName(QStringLiteral("autoLoginTimer"));
    connect(m_autoLoginTimer, &QTimer::timeout, this, &LoginDialog::on_autoLogin);

    initInfo();
    checkLoginType();

    // Through the pixmap cache: a QIcon made from a file name decodes it again.
    const auto icon = [](const char* name) { return QIcon(QPixmap(QLatin1String(name))); };
    QAction* more = m_ui->editKsServer->addAction(icon(kMoreIcon), QLineEdit::TrailingPosition);
    more->setObjectName(QStringLiteral("actionSiteMore"));
    more->setToolTip(tr("Choose a server"));
    m_ui->editLoginName->addAction(icon(kAccountIcon), QLineEdit::LeadingPosition);
    m_ui->editPassword->addAction(icon(kLockIcon), QLineEdit::LeadingPosition);
    m_ui->editKsServer->addAction(icon(kServerIcon), QLineEdit::LeadingPosition);

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
    connect(m_qrLabel, &ClickedLabel::clicked, this, &LoginDialog::onLabelClicked);
    connect(CMyFileWatcher::instance(), &CMyFileWatcher::signalNewFile, this, &LoginDialog::onNewJobFile,
            Qt::QueuedConnection);
    m_ui->labQRCode->installEventFilter(this);
    m_ui->header_login->installEventFilter(this);
    m_ui->header_qr->installEventFilter(this);

    GenerateQRcode();
}

LoginDialog::~LoginDialog() = default;

void LoginDialog::setExitHandlerForTests(std::function<void(int)> handler)
{
    s_exitHandler = std::move(handler);
}

void LoginDialog::setLocalDomainNameForTests(const QString& domain)
{
    m_hasDomainOverride = true;
    m_domainOverride = domain;
}

QString LoginDialog::localDomainName() const
{
    return m_hasDomainOverride ? m_domainOverride : QHostInfo::localDomainName();
}

bool LoginDialog::dialogSystemUser() const
{
    return LoginInfo::fileSwitch(LoginInfo::Key::SystemUser);
}

void LoginDialog::initInfo()
{
    LoginInfo* info = loginInfo();

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
    m_shownServer = info->ksServerUrl();

    static const QRegularExpression namePattern(
        QStringLiteral("^[一-龥A-Za-z0-9|!@#$%^&*()_=+-.,\"'<>?`~{}\\[\\] ]+$"));
    if (!m_ui->editLoginName->validator()) {
        m_ui->editLoginName->setValidator(new QRegularExpressionValidator(namePattern, m_ui->editLoginName));
    }

    if (!m_qrLabel) {
        m_qrLabel = new ClickedLabel(m_ui->labQRCode);
        m_qrLabel->setObjectName(QStringLiteral("qrImageLabel"));
        m_qrLabel->setMinimumSize(QRCodeHelper::kImageSize, QRCodeHelper::kImageSize);
        m_qrLabel->setScaledContents(true);
        m_qrLabel->setCursor(Qt::PointingHandCursor);
        m_qrLabel->setToolTip(tr("Click to refresh the code"));
        m_qrLabel->setPixmap(QPixmap(QLatin1String(kNoQrCode)));
        // Space or Return on the code asks for a new one, as a click does; Tab leads on to the page switch.
        m_qrLabel->setFocusPolicy(Qt::StrongFocus);
        m_qrLabel->installEventFilter(this);
        auto* overlay = new QHBoxLayout(m_ui->labQRCode);
        overlay->setContentsMargins(0, 0, 0, 0);
        overlay->addWidget(m_qrLabel);
        setTabOrder(m_qrLabel, m_ui->btnDesktop);
    }
    m_ui->btnLogin->setFocus();
    m_ui->btnLogin->setShortcut(QKeySequence(Qt::Key_Return));

    m_systemUser = dialogSystemUser();
    m_osUser = QString::fromLocal8Bit(qgetenv("USER"));
    setSystemUserControls(m_systemUser);

    watchJobFolder();
}

void LoginDialog::setSystemUserControls(bool systemUser)
{
    if (systemUser) {
        m_accountVerify = KsAccount::Verify::System;
        m_ui->editLoginName->setText(m_osUser);
        m_ui->editLoginName->setEnabled(loginInfo()->multiDomain());
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
}

void LoginDialog::watchJobFolder()
{
    const QString folder = LoginInfo::jobFolderInFile();
    m_jobPath = UserPaths::dataPath() + QLatin1Char('/') + folder;
    logger->info(QStringLiteral("###### CMyFileWatcher job path ") + m_jobPath);
    // The virtual printer writes here even before the first login; watching needs the folder to exist.
    SafeJobFile::ensurePrivateFolder(m_jobPath);
    CMyFileWatcher::instance()->addWatchPath(m_jobPath);
}

void LoginDialog::checkLoginType()
{
    LoginInfo* info = loginInfo();
    if (!info->showQR()) {
        m_ui->frame_qr->hide();
        m_ui->btnQr->hide();
        m_ui->frame_login->show();
        return;
    }
    m_ui->btnQr->show();
    if (info->defaultLoginType() == 2) {
        m_ui->frame_login->hide();
        m_ui->frame_qr->show();
    } else {
        m_ui->frame_login->show();
        m_ui->frame_qr->hide();
        m_qrTimer->stop();
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
        first = m_qrLabel;
    } else if (m_ui->editLoginName->isEnabled() && m_ui->editLoginName->text().isEmpty()) {
        first = m_ui->editLoginName;
    } else if (m_ui->editPassword->isEnabled() && m_ui->editPassword->text().isEmpty()) {
        first = m_ui->editPassword;
    }
    first->setFocus(Qt::OtherFocusReason);
}

void LoginDialog::on_btnQr_clicked()
{
    loginInfo()->setDefaultLoginType(2);
    m_ui->frame_login->hide();
    m_ui->frame_qr->show();
    focusShownPage();
    GenerateQRcode();
}

void LoginDialog::on_btnDesktop_clicked()
{
    loginInfo()->setDefaultLoginType(1);
    m_ui->frame_qr->hide();
    m_ui->frame_login->show();
    focusShownPage();
    m_qrTimer->stop();
}

void LoginDialog::textChanged(const QString&)
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
    if (!m_systemUser && m_ui->editPassword->text().isEmpty()) {
        Prompts::warning(this, tr("password is not empty"));
        return;
    }
    logger->info(QStringLiteral("###### login begin"));
    m_ui->btnLogin->setEnabled(false);
    if (m_autoAttempt) {
        // The user's own login wins over a pending automatic attempt: stop that one; this one runs as soon as
        // the attempt has returned.
        logger->info(QStringLiteral("###### automatic login attempt cancelled by a manual login"));
        m_manualLoginPending = true;
        m_api->abortLogin();
        return;
    }
    Login(0);
}

void LoginDialog::Login(int kind)
{
    if (m_loginBusy || m_autoAttempt) {
        // A login asked for while another is pending is acted on when that one has ended.
        if (kind == 2) {
            m_qrLoginPending = true;
        } else {
            m_manualLoginPending = true;
        }
        return;
    }
    m_loginBusy = true;
    BusyCursor busy;
    LoginInfo* info = loginInfo();

    if (kind == 2) {
        m_accountVerify = m_systemUser ? KsAccount::Verify::System : KsAccount::Verify::Qr;
    } else if (!m_ui->chkSysUser->isChecked()) {
        m_accountVerify = KsAccount::Verify::Password;
    }

    KsAccount account = m_api->account();
    account.setServerUrl(m_ui->editKsServer->text());
    if (account.serverUrl != m_ui->editKsServer->text()) {
        m_ui->editKsServer->setText(account.serverUrl);
    }
    account.userName = m_ui->editLoginName->text();
    account.password = m_ui->editPassword->text();
    account.verify = m_accountVerify;
    if (QFile::exists(UserPaths::iniFilePath())) {
        info->setVersion(LoginInfo::fileValue(LoginInfo::Key::Version).toString());
    }
    account.clientVersion = info->ksVersion();

    ServerTrust::clearRefusal();
    HttpAnswer answer = m_api->login(account, KsKit::LoginVia::GetQuery);
    busy.release();
    if (!answer.isObject() && trustChangedCertificate()) {
        answer = m_api->login(account, KsKit::LoginVia::GetQuery);
    }
    logger->info(QString::fromUtf8(answer.body));

    const bool qrLogin = KsAccount::verifyText(m_accountVerify) == QLatin1String("2");
    if (!answer.isObject()) {
        QJsonParseError parseError;
        QJsonDocument::fromJson(answer.body, &parseError);
        if (qrLogin) {
            GenerateQRcode();
        }
        Prompts::critical(this, tr("Unable to link server"));
        logger->error(QStringLiteral("###### login fail:%1").arg(int(parseError.error)));
    } else if (answer.code() != 0) {
        if (qrLogin) {
            GenerateQRcode();
        }
        Prompts::warning(this, answer.message());
        if (!qrLogin && m_ui->editPassword->isEnabled()) {
            // Typing again replaces the refused password rather than adding to it.
            m_ui->editPassword->setFocus(Qt::OtherFocusReason);
            m_ui->editPassword->selectAll();
        }
        logger->info(
            QStringLiteral("###### login result: message %1 code %2").arg(answer.message()).arg(answer.code()));
    } else {
        logger->info(QStringLiteral("###### login success"));
        const QJsonValue data = answer.data();
        if (m_systemUser && KsKit::hostDomainRefused(data, localDomainName())) {
            Prompts::warning(this, tr("Login failed"));
            m_ui->btnLogin->setEnabled(true);
            m_loginBusy = false;
            runPendingLogin();
            return;
        }

        m_password = m_ui->editPassword->text();
        info->setKsServerUrl(m_ui->editKsServer->text());
        info->setUserName(m_ui->editLoginName->text());
        info->setPasword(m_password);
        info->setIsAutoLogin(m_ui->chkAutoLogin->isChecked());
        info->setIsSavingPassword(m_ui->chkSavePassword->isChecked());
        info->setIsSystemUser(m_ui->chkSysUser->isChecked());
        info->setIsBingoLastTime(true);
        info->saveToFile();
        m_api->setAccount(account);
        accept();
        m_session->setIsLogin(true);
        m_qrTimer->stop();
        // A retry still pending from a failed automatic login would log in a second time.
        m_autoLoginTimer->stop();
        m_autoLoginElapsedMs = 0;
        CMyFileWatcher::instance()->removeWatchPath(m_jobPath);
        emit mainshow();
        logger->info(
            QStringLiteral("###### login result: message %1 code %2").arg(answer.message()).arg(answer.code()));
    }
    m_ui->btnLogin->setEnabled(true);
    m_loginBusy = false;
    runPendingLogin();
}

void LoginDialog::runPendingLogin()
{
    if (m_loginBusy || m_autoAttempt) {
        return;
    }
    const bool manual = m_manualLoginPending;
    const bool qr = m_qrLoginPending;
    m_manualLoginPending = false;
    m_qrLoginPending = false;
    if (m_session->isLogin()) {
        m_ui->btnLogin->setEnabled(true);
        return;
    }
    if (manual) {
        m_qrLoginPending = qr;
        Login(0);
    } else if (qr) {
        Login(2);
    }
}

bool LoginDialog::trustChangedCertificate()
{
    const ServerTrust::Refusal refusal = ServerTrust::takeRefusal();
    if (!refusal.isValid() || refusal.pinned.isEmpty()) {
        return false;
    }
    const QString text = tr("The certificate of the server %1 has changed.\n\n"
                            "Trusted until now (SHA-256):\n%2\n\n"
                            "Presented now (SHA-256):\n%3\n\n"
                            "Accept the new certificate only if you know that the server's certificate was "
                            "replaced. Accept it?")
                             .arg(refusal.server, refusal.pinned, refusal.presented);
    if (Prompts::question(this, text) != QMessageBox::Yes) {
        logger->info(QStringLiteral("[ServerTrust] new certificate of %1 declined").arg(refusal.server));
        return false;
    }
    ServerTrust::pin(refusal.server, refusal.presented);
    logger->info(QStringLiteral("[ServerTrust] new certificate of %1 accepted by the user: SHA-256 %2")
                     .arg(refusal.server, refusal.presented));
    return true;
}

bool LoginDialog::checkNetworkState(bool showError)
{
    if (!m_online->isOnline()) {
        m_networkReachable = false;
        return false;
    }
    const QString typed = m_ui->editKsServer->text();
    loginInfo()->setKsServerUrl(typed);
    const QString address = typed.isEmpty() ? typed : ServerUrl::withScheme(typed);
    if (m_api->CheckNetwork(address)) {
        m_networkReachable = true;
        m_serverReachable = true;
        return true;
    }
    if (showError) {
        Prompts::error(this, tr("Unable to link server"));
    }
    m_networkReachable = false;
    m_serverReachable = false;
    return false;
}

void LoginDialog::show_errormsg(const QString& text)
{
    Prompts::warning(this, text);
}

void LoginDialog::startTimer()
{
    GenerateQRcode();
    LoginInfo* info = loginInfo();
    if (info->isAutoLogin() && !m_session->isLogin()) {
        m_autoLoginTimer->start(qMax(1, info->autoLoginInterval()) * 1000);
        logger->info(QStringLiteral("###### timer on_autoLogin start..."));
    }
}

void LoginDialog::stopTimer()
{
    m_qrTimer->stop();
}

void LoginDialog::on_autoLogin()
{
    LoginInfo* info = loginInfo();
    const int interval = qMax(1, info->autoLoginInterval());
    m_autoLoginElapsedMs += interval;
    if (m_autoLoginElapsedMs >= info->autoLoginTime()) {
        m_autoLoginTimer->stop();
        logger->info(QStringLiteral("###### timer on_autoLogin stop."));
        m_autoLoginElapsedMs = 0;
        return;
    }
    // A typed login is waiting for its answer, or one already succeeded.
    if (m_loginBusy || m_autoAttempt || m_session->isLogin()) {
        return;
    }
    if (!checkNetworkState(false)) {
        return;
    }
    // The check waits for its answer, and the user may have logged in meanwhile.
    if (m_loginBusy || m_autoAttempt || m_session->isLogin()) {
        return;
    }
    logger->info(QStringLiteral("###### on_autoLogin _ksKit->login()"));
    // The stored login, on the server the check above just reached, as the file now says whose it is.
    KsAccount account = KsAccount::fromSettings(*info);
    account.verify = dialogSystemUser() ? KsAccount::Verify::System : KsAccount::Verify::Unset;
    m_api->setAccount(account);
    m_autoAttempt = true;
    const bool ok = m_api->login(m_errorText) && !m_manualLoginPending;
    m_autoAttempt = false;
    if (m_manualLoginPending) {
        // Cancelled by the user's own login, which now goes ahead; this attempt counts for nothing.
        m_session->setIsLogin(false);
        runPendingLogin();
        return;
    }
    if (ok) {
        m_qrLoginPending = false;
        m_ui->btnLogin->setEnabled(true);
        accept();
        m_qrTimer->stop();
        m_autoLoginTimer->stop();
        m_autoLoginElapsedMs = 0;
        CMyFileWatcher::instance()->removeWatchPath(m_jobPath);
        emit mainshow();
    } else {
        if (m_autoLoginElapsedMs >= info->autoLoginCount() * interval) {
            m_autoLoginTimer->stop();
        }
        runPendingLogin();
    }
}

void LoginDialog::onchkSysUserStateChanged(int state)
{
    if (state == Qt::Checked) {
        m_ui->editPassword->clear();
        setSystemUserControls(true);
        m_ui->chkSavePassword->setChecked(true);
        m_ui->chkAutoLogin->setChecked(true);
        LoginInfo::writeFileValue(LoginInfo::Key::SystemUser, true);
        m_systemUser = true;
    } else if (state == Qt::Unchecked) {
        m_accountVerify = KsAccount::Verify::Password;
        setSystemUserControls(false);
        LoginInfo::writeFileValue(LoginInfo::Key::SystemUser, false);
        m_systemUser = false;
    } else {
        m_ui->btnLogin->setEnabled(true);
    }
}

void LoginDialog::onchkAutoLoginStateChanged(int state)
{
    if (state == Qt::Checked) {
        m_ui->chkSavePassword->setChecked(true);
        LoginInfo::writeFileValue(LoginInfo::Key::AutoLogin, true);
        loginInfo()->setIsAutoLogin(true);
    } else if (state == Qt::Unchecked) {
        LoginInfo::writeFileValue(LoginInfo::Key::AutoLogin, false);
        loginInfo()->setIsAutoLogin(false);
        m_autoLoginTimer->stop();
        logger->info(QStringLiteral("###### timer on_autoLogin stop."));
    }
}

void LoginDialog::onchkSavePasswordStateChanged(int state)
{
    if (state == Qt::Checked) {
        LoginInfo::writeFileValue(LoginInfo::Key::SavePassword, true);
    } else if (state == Qt::Unchecked) {
        m_ui->chkAutoLogin->setChecked(false);
        LoginInfo::writeFileValue(LoginInfo::Key::SavePassword, false);
    }
}

void LoginDialog::onlineStateChangedSlot(bool online)
{
    logger->info(online ? QStringLiteral("###### LoginDialog network is true")
                        : QStringLiteral("###### LoginDialog network is false"));
}

void LoginDialog::siteMoreClicked()
{
    loginInfo()->setKsServerUrl(m_ui->editKsServer->text());
    ServerDialog chooser(*m_api, loginInfo()->ksServerUrl(), this);
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
    m_ui->editKsServer->setText(loginInfo()->ksServerUrl());
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
    m_ui->lab_login_title->setFont(titleFont(24, true, m_ui->lab_login_title->text()));
    m_ui->lab_qr_title->setFont(titleFont(24, true, m_ui->lab_qr_title->text()));
    m_ui->label_scan->setFont(titleFont(14, false, m_ui->label_scan->text()));
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

void LoginDialog::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        m_pressed = true;
        m_lastPos = event->globalPos();
    }
    QDialog::mousePressEvent(event);
}

void LoginDialog::mouseMoveEvent(QMouseEvent* event)
{
    if (m_pressed) {
        const QPoint now = event->globalPos();
        move(pos() + (now - m_lastPos));
        m_lastPos = now;
    }
    QDialog::mouseMoveEvent(event);
}

void LoginDialog::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        m_pressed = false;
    }
    QDialog::mouseReleaseEvent(event);
}

bool LoginDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_qrLabel && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter) {
            const BusyCursor busy;
            GenerateQRcode();
            return true;
        }
    }
    if (watched == m_ui->labQRCode && event->type() == QEvent::MouseButtonRelease) {
        const BusyCursor busy;
        GenerateQRcode();
        return true;
    }
    if (watched == m_ui->header_login || watched == m_ui->header_qr) {
        auto* header = static_cast<QWidget*>(watched);
        switch (event->type()) {
        case QEvent::Show:
        case QEvent::Hide:
            showBanner(header, event->type() == QEvent::Show);
            break;
        case QEvent::Paint:
            decodeBanner(header);
            if (header == m_bannerHeader && !m_banner.isNull()) {
                QPainter painter(header);
                painter.setRenderHint(QPainter::SmoothPixmapTransform);
                painter.drawPixmap(header->rect(), m_banner);
            }
            break;
        default:
            break;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void LoginDialog::showBanner(QWidget* header, bool shown)
{
    // Each banner is a large image: only the page on screen holds one, and none while hidden. Pages switch in
    // either order (the new one shown before or after the old one is hidden), so each header drops only its own.
    if (!shown) {
        if (header == m_bannerHeader) {
            m_banner = QPixmap();
            m_bannerHeader = nullptr;
        }
        header->setProperty("banner", QVariant());
        return;
    }
    if (m_bannerHeader && m_bannerHeader != header) {
        m_bannerHeader->setProperty("banner", QVariant());
    }
    m_bannerHeader = header;
    const QString image = header == m_ui->header_login ? QStringLiteral(":/img32/images/1.jpg")
                                                       : QStringLiteral(":/img32/images/11.jpg");
    m_banner = QPixmap();
    header->setProperty("banner", image);
    header->update();
}

void LoginDialog::decodeBanner(QWidget* header)
{
    if (header != m_bannerHeader || !m_banner.isNull()) {
        return;
    }
    // Told the format, the reader asks no image plugin but the JPEG one; decoding at the header's size lets the
    // JPEG decoder scale down as it decodes.
    QImageReader reader(header->property("banner").toString(), "jpeg");
    reader.setAutoDetectImageFormat(false);
    const QSize target = header->size() * header->devicePixelRatioF();
    if (target.isValid() && !target.isEmpty()) {
        reader.setScaledSize(target); // stretched to the header
    }
    const QImage image = reader.read();
    if (image.isNull()) {
        logger->warn(QStringLiteral("banner image ") + header->property("banner").toString() + QStringLiteral(": ")
                     + reader.errorString());
        return;
    }
    m_banner = QPixmap::fromImage(image);
    m_banner.setDevicePixelRatio(header->devicePixelRatioF());
}

// ---- QR-code login ----

QString LoginDialog::qrBaseUrl() const
{
    const QString info = LoginInfo::fileValue(LoginInfo::Key::Info).toString();
    const int view = info.indexOf(QLatin1String("/View/"));
    return view < 0 ? info : info.left(view);
}

void LoginDialog::btnRefreshQr_Clicked()
{
    GenerateQRcode();
}

void LoginDialog::onLabelClicked()
{
    GenerateQRcode();
}

void LoginDialog::showQrImage(const QString& path)
{
    m_qrLabel->setPixmap(QPixmap(path));
}

void LoginDialog::GenerateQRcode()
{
    logger->info(QStringLiteral("###### GenerateQRcode"));
    LoginInfo* info = loginInfo();
    // Without the QR page nobody can see the code, so it is neither registered nor polled.
    if (info->defaultLoginType() != 2 || !info->showQR()) {
        return;
    }
    if (LoginInfo::fileValue(LoginInfo::Key::Info).toString().isEmpty()) {
        logger->info(QStringLiteral("###### urlInfo is empty"));
        return;
    }
    QString guid = info->ksGUID();
    if (guid.isEmpty()) {
        guid = LoginInfo::fileValue(LoginInfo::Key::Guid).toString();
        info->setGUID(guid);
    }
    if (guid.isEmpty()) {
        logger->info(QStringLiteral("###### guid is empty"));
        guid = QUuid::createUuid().toString(QUuid::WithoutBraces);
        LoginInfo::writeFileValue(LoginInfo::Key::Guid, guid);
        info->setGUID(guid);
    }
    const QString qrText
        = LoginInfo::fileValue(LoginInfo::Key::Info).toString() + LoginInfo::fileValue(LoginInfo::Key::Guid).toString();

    KsAccount account = m_api->account();
    account.qrGuid = guid;
    m_api->setAccount(account);
    m_api->registerQr(qrBaseUrl(), this,
                      [this, qrText](const KsKit::QrAnswer& answer) { qrRegistrationFinished(answer, qrText); });
}

void LoginDialog::qrRegistrationFinished(const KsKit::QrAnswer& answer, const QString& qrText)
{
    QrCredentials record;
    if (answer.ok) {
        record.account = answer.data.value(QStringLiteral("account")).toString();
        record.expiresIn = answer.data.value(QStringLiteral("expires_in")).toInt(0);
        record.clientId = answer.data.value(QStringLiteral("clientId")).toString();
    } else if (answer.isObject) {
        logger->error(QStringLiteral("###### get QRcode error message ") + answer.message);
    }

    LoginInfo* info = loginInfo();
    if (record.expiresIn != 300) {
        logger->info(QStringLiteral("###### 扫描二维码--获取过期时间失败"));
        m_qrTimer->stop();
        return;
    }
    m_qrRemaining = kQrValiditySeconds;
    if (qrText.isEmpty()) {
        return;
    }
    if (Singleton<QRCodeHelper>::getInstance()->CreateRcode(qrText)) {
        showQrImage(QRCodeHelper::imagePath());
        m_session->setQRValid(true);
        const QTime until = QTime::currentTime().addSecs(kQrValiditySeconds);
        m_ui->labQrValidity->setText(tr("Valid for %1 minutes, until %2.")
                                         .arg(kQrValiditySeconds / 60)
                                         .arg(QLocale().toString(until, QLocale::ShortFormat)));
    }
    if (info->defaultLoginType() == 2) {
        m_qrTimer->start();
    } else {
        m_qrTimer->stop();
    }
    if (m_session->isLogin()) {
        m_qrTimer->stop();
    }
}

void LoginDialog::ScanLogin()
{
    m_qrRemaining -= 2;
    if (m_qrRemaining <= 0) {
        showQrImage(QCoreApplication::applicationDirPath() + QStringLiteral("/images/qrrefresh.bmp"));
        m_ui->labQrValidity->setText(tr("The code has expired: click it or press Space for a new one."));
        m_session->setQRValid(false);
        m_qrTimer->stop();
        return;
    }
    const QString base = m_ui->editKsServer->text().isEmpty() ? QString() : qrBaseUrl();
    KsAccount account = m_api->account();
    account.qrGuid = loginInfo()->ksGUID();
    m_api->setAccount(account);
    m_api->pollQr(base, this, [this](const KsKit::QrAnswer& answer) { qrPollFinished(answer); });
}

void LoginDialog::qrPollFinished(const KsKit::QrAnswer& answer)
{
    QrCredentials record;
    if (answer.ok) {
        record.account = answer.data.value(QStringLiteral("account")).toVariant().toString();
        record.password = answer.data.value(QStringLiteral("password")).toVariant().toString();
        record.clientId = answer.data.value(QStringLiteral("clientId")).toVariant().toString();
        record.type = answer.data.value(QStringLiteral("type")).toVariant().toString();
    } else if (answer.isObject) {
        logger->error(QStringLiteral("###### ScanLogin ex message ") + answer.message);
    }
    if (record.account.isEmpty()) {
        logger->info(QStringLiteral("###### ScanLogin account or password is empty"));
        return;
    }
    // The code has been used: it cannot be scanned a second time.
    showQrImage(QCoreApplication::applicationDirPath() + QStringLiteral("/images/qrrefresh.bmp"));
    m_ui->labQrValidity->clear();
    m_session->setQRValid(false);
    if (m_ui->chkSysUser->isChecked()) {
        setSystemUserControls(false);
        m_ui->chkSysUser->setChecked(false);
    }
    m_ui->editLoginName->setText(record.account);
    m_ui->editPassword->setText(record.password);
    m_ui->btnLogin->setEnabled(true);
    m_qrTimer->stop();
    Login(2);
}
