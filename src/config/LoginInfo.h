#pragma once

#include "CertificateRule.h"

#include <QList>
#include <QObject>
#include <QPair>
#include <QScopedPointer>
#include <QSettings>
#include <QString>
#include <QStringList>

// The per-user INI file and nothing else: its keys, load and save (the stored credentials encrypted by
// CredentialCipher, the file installed from SettingsTemplate). The composition root owns the one instance
// (Singleton<LoginInfo>); run-time state lives in Session.
class LoginInfo : public QObject
{
    Q_OBJECT
public:
    // Every key of the file; LoginInfo.cpp spells each one once, with its default.
    enum class Key {
        ServerUrl,
        OldServerUrl,
        ServerName,
        LoginName,
        Password,
        DefaultLoginType,
        AutoLogin,
        SavePassword,
        SystemUser,
        BingoLastTime,
        Version,
        IsOld,
        Title,
        Info,
        Guid,
        IsInstallFirst,
        SupportScan,
        ShowUser,
        ShowSystem,
        ShowServer,
        ShowDevice,
        ShowCost,
        SupportSecret,
        MultiDomain,
        HidTask,
        HiddMainDlg,
        FileLimit,
        ShowQR,
        UserNameEncrypt,
        JobFileZip,
        AutoLoginTime,
        AutoLoginInterval,
        AutoLoginCount,
        DateTime,
        IsShowProgress,
        ShowProgressFileSizeLimit,
        IsLocalization,
        ServerCertificate,
        KeepJobFiles,
        MaxMessageCount,
        SysTrayMsgTimeoutSecs,
        JobPath,
        UploadFileSegmentSizeKbs,
        MinJobFileSizeBytes,
        MaxParamFileDelayMin,
        KeepUnsentJobs,
        KeepUnsentHours,
    };
    // "Group/Name" as the file spells it, and the value an absent key stands for.
    static QString keyName(Key key);
    static QVariant keyDefault(Key key);

    explicit LoginInfo(QObject* parent = nullptr);
    ~LoginInfo() override;

    // openFile() and readValues() in one, for a start that takes no settings from the server.
    int loadFromFile();
    // The user file checked against the template (SettingsTemplate) and opened, the server's address and the
    // certificate rule read: what the fetch of the server's settings needs. 0 on success, 2 when the template
    // check failed.
    int openFile();
    // Every other value of the opened file, read after the server's settings were applied so that they count.
    void readValues();
    // Writes the login keys back (server, name, password, switches).
    void saveToFile();
    // The server's form of the account after a login: the user name, and the stored name written the way
    // the next start reads it back (encrypted where names are kept encrypted).
    void rememberServerAccount(const QString& account);
    // Section/key and value of each setting the server pushes.
    using ServerSettings = QList<QPair<QString, QString>>;
    // Writes settings pushed by the server (at the stored server URL) into the user file, except the keys
    // the site settings file fixes and what would weaken trust in the server: its address (Login/KsServerUrl,
    // Login/KsServerurl, Login/KsServerName) unless certificateChecked (the answer came over https with the
    // server's certificate checked), and a setting/ServerCertificate no stricter than the file's. Each change of
    // these keys, and each one refused, is logged.
    void applyServerSettings(const ServerSettings& settings, bool certificateChecked);

    // Checked reads shared by every reader of the settings file. A switch is 1/true or 0/false and a number
    // lies within [min, max]; anything else gives the key's default and a log line, as does an absent key.
    static bool readSwitch(const QSettings& settings, Key key);
    static int readNumber(const QSettings& settings, Key key, int min, int max);
    // The job folder is one folder name inside the data folder: any other value of Job/Path (empty, ".",
    // "..", a path) gives "ksprinter" and a log line.
    static QString checkedJobFolder(const QString& value);
    // The checked job folder as the settings file holds it now.
    static QString jobFolderInFile();
    // One key as the settings file holds it now, and a write that reaches the file at once; for the few
    // keys the windows keep outside the loaded values.
    static QVariant fileValue(Key key);
    static bool fileSwitch(Key key);
    // Not written when the site settings file fixes the key.
    static void writeFileValue(Key key, const QVariant& value);
    // The site settings file fixes the key for this run: nothing the client does changes it.
    static bool isFixed(Key key);

    QString ksServerUrl() const { return m_ksServerUrl; }
    void setKsServerUrl(const QString& v) { m_ksServerUrl = v; }
    QString ksServerName() const { return m_ksServerName; }
    void setKsServerName(const QString& v) { m_ksServerName = v; }
    QString userName() const { return m_userName; }
    void setUserName(const QString& v) { m_userName = v; }
    QString password() const { return m_password; }
    void setPasword(const QString& v) { m_password = v; }
    QString ksVersion() const { return m_version; }
    void setVersion(const QString& v) { m_version = v; }
    QString ksGUID() const { return m_guid; }
    void setGUID(const QString& v) { m_guid = v; }
    bool isAutoLogin() const { return m_autoLogin; }
    void setIsAutoLogin(bool v) { m_autoLogin = v; }
    bool isSavingPassword() const { return m_savePassword; }
    void setIsSavingPassword(bool v) { m_savePassword = v; }
    bool isSystemUser() const { return m_systemUser; }
    void setIsSystemUser(bool v) { m_systemUser = v; }
    bool isBingoLastTime() const { return m_bingoLastTime; }
    void setIsBingoLastTime(bool v) { m_bingoLastTime = v; }
    bool isDebugKeepJobFiles() const { return m_keepJobFiles; }

    int defaultLoginType() const { return m_defaultLoginType; }
    void setDefaultLoginType(int v) { m_defaultLoginType = v; }
    QString title() const { return m_title; }
    bool supportScan() const { return m_supportScan; }
    bool showUser() const { return m_showUser; }
    bool showSystem() const { return m_showSystem; }
    bool showServer() const { return m_showServer; }
    bool showDevice() const { return m_showDevice; }
    bool showCost() const { return m_showCost; }
    bool supportSecret() const { return m_supportSecret; }
    bool multiDomain() const { return m_multiDomain; }
    bool hidTask() const { return m_hidTask; }
    bool hiddMainDlg() const { return m_hiddMainDlg; }
    bool fileLimit() const { return m_fileLimit; }
    bool showQR() const { return m_showQR; }
    bool jobFileZip() const { return m_jobFileZip; }
    int autoLoginTime() const { return m_autoLoginTime; }
    int autoLoginInterval() const { return m_autoLoginInterval; }
    int autoLoginCount() const { return m_autoLoginCount; }
    QString dateTime() const { return m_dateTime; }
    void setDateTime(const QString& v) { m_dateTime = v; }
    bool isShowProgress() const { return m_isShowProgress; }
    int showProgressFileSizeLimit() const { return m_showProgressFileSizeLimit; }
    bool isLocalization() const { return m_isLocalization; }
    int maxMessageCount() const { return m_maxMessageCount; }
    int sysTrayMsgTimeoutMs() const { return m_sysTrayMsgTimeoutMs; }
    int uploadFileSegmentSize() const { return m_uploadFileSegmentSize; }
    int minJobFileSizeBytes() const { return m_minJobFileSizeBytes; }
    int maxParamFileDelayMin() const { return m_maxParamFileDelayMin; }
    QString jobFolder() const { return m_jobFolder; }
    // setting/ServerCertificate, which ServerTrust applies.
    CertificateRule certificateRule() const { return m_certificateRule; }
    // Jobs the server could not take stay in the job folder and are sent later.
    bool keepUnsentJobs() const { return m_keepUnsentJobs; }
    int keepUnsentHours() const { return m_keepUnsentHours; }

    double maxJobFileSize() const { return m_maxJobFileSize; }
    int maxPageCount() const { return m_maxPageCount; }

    // The settings object on the user file, valid after loadFromFile().
    QSettings* settings() const { return m_settings.data(); }

signals:
    // The values were loaded, saved, or the server's settings were written into the file.
    void changed();

private:
    // complain: log an unusable value (the first read, before the server's settings, stays quiet).
    void readServerCertificate(bool complain);

    QScopedPointer<QSettings> m_settings;

    QString m_ksServerUrl;
    QString m_ksServerName;
    QString m_userName;
    QString m_password;
    int m_defaultLoginType = 0;
    QString m_version;
    QString m_title;
    QString m_guid;
    bool m_supportScan = false;
    bool m_showUser = false;
    bool m_showSystem = false;
    bool m_showServer = false;
    bool m_showDevice = false;
    bool m_showCost = false;
    bool m_supportSecret = false;
    bool m_multiDomain = false;
    bool m_hidTask = false;
    bool m_hiddMainDlg = false;
    bool m_fileLimit = false;
    bool m_showQR = false;
    bool m_userNameEncrypt = false;
    bool m_jobFileZip = false;
    int m_autoLoginTime = 900;
    int m_autoLoginInterval = 5;
    int m_autoLoginCount = 5;
    QString m_dateTime;
    bool m_isShowProgress = false;
    int m_showProgressFileSizeLimit = 50;
    bool m_isLocalization = false;
    bool m_autoLogin = false;
    bool m_savePassword = false;
    bool m_systemUser = false;
    bool m_bingoLastTime = false;
    bool m_keepJobFiles = false;
    int m_maxMessageCount = 50;
    int m_sysTrayMsgTimeoutMs = 1000;
    int m_uploadFileSegmentSize = 4194304;
    int m_minJobFileSizeBytes = 512;
    int m_maxParamFileDelayMin = 60;
    QString m_jobFolder = QStringLiteral("ksprinter");
    CertificateRule m_certificateRule = CertificateRule::Pin;
    bool m_keepUnsentJobs = true;
    int m_keepUnsentHours = 24;

    const double m_maxJobFileSize = 1073741824.0;
    const int m_maxPageCount = 1000;
};
