#pragma once

#include <QByteArray>
#include <QString>

class QFile;

// Access to the files of the job folder. Only the user's own regular files are ever opened: a symlink would
// hand over the file it points to, and a FIFO or a device would block the client or feed it without end.
class SafeJobFile
{
public:
    // What a parameter file may weigh; anything larger is not a parameter file.
    static constexpr qint64 kMaxParamFileSize = 64 * 1024;

    enum class Verdict { Accepted, Missing, Symlink, NotRegular, ForeignOwner, TooLarge, Unreadable };

    // What the entry is, by its own metadata (links are not followed); nothing is opened.
    static Verdict inspect(const QString& path);
    // Opens for reading without following a link and without blocking, then checks the opened file itself,
    // so the file checked is the file read. On success the file owns the descriptor.
    static Verdict open(const QString& path, QFile* file);
    // The whole file, when it is accepted and not larger than maxSize.
    static Verdict readAll(const QString& path, qint64 maxSize, QByteArray* data);
    // Short English reason for log lines.
    static QString describe(Verdict verdict);

    // Creates the folder owner-only, or repairs the mode of an existing one. False when the path is not a
    // directory of the user's own (a symlink, a file, another owner): such a folder is not used.
    static bool ensurePrivateFolder(const QString& path);
};
