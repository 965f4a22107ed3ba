#pragma once

#include "KsJobParam.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

class JobHost;
class PrintJob;

// Reads one job of the job folder (its trigger, its parameter file and its document, as the PrintJob holds them)
// into a KsJobParam. It only parses: the no-card choice, the checks and the removal of files are the admission's.
class JobParamReader
{
public:
    explicit JobParamReader(JobHost* host);

    // Between these the host's addresses are listed once: they cannot change within one pass over the folder.
    void beginPass();
    void endPass();

    // Whether the file exists and can be read.
    static bool checkParamFile(const QString& path);
    // Fills job->param; false (and the record invalid) when the trigger or the parameter file cannot be read.
    bool parseJobParamFileLinux(PrintJob* job);
    // The same for a trigger's full path, read for the host's user; fileName: its bare name (unused here).
    KsJobParam parseJobParamFileLinux(const QString& triggerPath, const QString& fileName);

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
    bool readParameters(PrintJob* job);
    QStringList hostAddresses();

    JobHost* m_host = nullptr;
    bool m_inPass = false;
    std::optional<QList<QHostAddress>> m_passAddresses;
};
