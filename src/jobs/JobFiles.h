#pragma once

#include <QString>
#include <QStringList>

// Naming rules of the job folder. A job is a trigger file (base + ".pdf", or base + ".xml" for a PCL job whose
// data file is base + ".pcl") and its parameter file (the base alone). JobFolder removes a job's files.
class JobFiles
{
public:
    static bool isTrigger(const QString& name);
    // The trigger name without its last four characters.
    static QString baseOf(const QString& triggerName);
    // Data file checked against the limits: the PDF itself, or base + ".pcl" for an ".xml" trigger.
    static QString dataFileOf(const QString& folder, const QString& triggerName);

    // Modification time in ms since the epoch, as QFileInfo::lastModified().toMSecsSinceEpoch() gives it but
    // without the local-time round trip (a time-zone file check per call); 0 when the file cannot be read.
    static qint64 modifiedMs(const QString& path);

    // File names in the folder (no directories, no dot entries), sorted by name.
    static QStringList listFiles(const QString& folder);
};
