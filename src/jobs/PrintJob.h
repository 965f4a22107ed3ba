#pragma once

#include "JobJournal.h"
#include "KsJobParam.h"
#include "RetrySchedule.h"
#include "SafeJobFile.h"

#include <QByteArray>
#include <QString>

// One job of the job folder, resolved once when its turn starts: its files with the size and time that tell it
// from a later job of the same name, its parameter file as read, its document's page count (parsed once, when
// first asked), its parameters once read, its journal entry and its retry state. The steps of its turn read and
// change this value; none of them goes back to the folder by the job's name.
class PrintJob
{
public:
    // Looks at the trigger, the data file and the parameter file of trigger name in folder, once.
    PrintJob(const QString& folder, const QString& name, const QString& userAccount);
    // The same from a trigger's full path.
    PrintJob(const QString& triggerPath, const QString& userAccount);

    QString name; // the trigger's file name
    QString folder;
    QString triggerPath;
    QString paramPath; // the trigger's path without its last four characters
    QString dataPath; // the PDF, or base + ".pcl" for an ".xml" trigger
    QString account; // percent-encoded user name the job is read for
    bool triggerExists = false;
    qint64 triggerTime = 0; // ms since the epoch
    bool triggerReadable = false;
    bool dataIsFile = false;
    qint64 dataSize = 0; // bytes, 0 without a data file
    qint64 dataTime = 0; // ms since the epoch
    SafeJobFile::Verdict paramVerdict = SafeJobFile::Verdict::Missing;
    QByteArray paramText; // empty unless paramVerdict is Accepted
    QString docName; // by the document-name rule, from the parameter file or the trigger's name

    KsJobParam param; // filled in by the reader
    JobJournal::Entry entry; // the journal's, asked once per turn
    RetrySchedule::Retry retry; // handed back to the schedule at the end of the turn

    bool hasData() const { return dataIsFile && dataSize > 0; }
    // The page count of base + ".pdf", 0 when it cannot be read; parsed at the first call only.
    int pageCount();

private:
    void resolve();

    int m_pages = -1;
};
