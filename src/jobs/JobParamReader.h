#pragma once

#include "KsJobParam.h"
#include "api/KsPrinter.h"
#include "api/KsProject.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class JobHost;
class KsKit;

// Reads one job of the job folder (the trigger file and its parameter file) into a KsJobParam, asking the
// host for the no-card choice when the user's printers or projects need one.
class JobParamReader
{
public:
    // Why the last read gave an invalid record: the trigger could not be read, the user declined the no-card
    // dialog, the server was gone after it, or a logout or quit came while it waited.
    enum class Failure { None, Unreadable, Declined, Unreachable, Interrupted };

    explicit JobParamReader(JobHost* host);

    // Checked after every wait; while it holds, nothing is removed and the read ends invalid.
    void setStopCheck(const std::function<bool()>& stopped) { m_stopped = stopped; }
    Failure lastFailure() const { return m_failure; }
    // Between these, the printers and projects of the no-card check are asked once per account: the server's
    // lists cannot change within one pass over the job folder; the host's addresses are listed once per pass too.
    void beginPass();
    void endPass();

    // Whether the file exists and can be read.
    static bool checkParamFile(const QString& path);
    // triggerPath: full path of the ".pdf" or ".xml" trigger; fileName: its bare name (unused here).
    KsJobParam parseJobParamFileLinux(const QString& triggerPath, const QString& fileName);
    // False when the job is to be dropped: the no-card dialog was declined, or the server went away.
    bool checkNoCardPrint(KsJobParam* param);

    // Page count of a PDF, 0 when it cannot be read.
    static int pageCount(const QString& pdfPath);
    // The reported address: the second IPv4 address of the list, the only one, or none.
    static QString pickComputerIp(const QStringList& ipv4Addresses);
    // The document-name rule: empty gives the trigger's file name; "--" + USER is replaced by the account;
    // anything else keeps its last "/"-separated part. The result is bounded (boundedName).
    static QString documentName(const QString& rawName, const QString& triggerFileName, const QString& userAccount,
                                const QString& osUser);
    // At most kMaxDocNameLength characters, a short extension kept: the name travels in requests and log lines.
    static QString boundedName(const QString& name);
    static constexpr int kMaxDocNameLength = 255;
    // PrintPara/DocName of a parameter file's text: the raw value up to the first NUL, as UTF-8, with the
    // INI escapes undone.
    static QString readDocName(const QByteArray& paramText);
    // Every other key of the key table, from the parameter file's text.
    static void readKeys(const QByteArray& paramText, KsJobParam* param);

private:
    struct ServerLists
    {
        QString account;
        QList<KsPrinter> printers;
        QList<KsProject> projects;
    };

    KsJobParam readParameters(const QString& triggerPath);
    bool checkNoCardPrint(KsJobParam* param, const ServerLists& lists);
    QStringList hostAddresses();

    bool stopped() const { return m_stopped && m_stopped(); }

    JobHost* m_host = nullptr;
    std::function<bool()> m_stopped;
    Failure m_failure = Failure::None;
    bool m_inPass = false;
    std::optional<ServerLists> m_passLists;
    std::optional<QList<QHostAddress>> m_passAddresses;
};
