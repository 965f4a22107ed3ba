#pragma once

#include <QByteArray>
#include <QString>

// Files that hold the user's credentials and trust decisions: readable by the user alone, and replaced in
// one step so a failed write never leaves a half-written or missing file behind.
namespace PrivateFiles {

// Creates the folder (with missing parents) and gives it mode 0700, and each of the user's regular files
// directly inside it no access for group and others, repairing wider modes.
bool makePrivateDir(const QString& path);
// Makes a database file before SQLite opens it, mode 0600, and repairs the mode of an existing one and of its
// "-wal", "-shm" and "-journal" files: SQLite creates those with the mode of the database file.
bool makePrivateDatabase(const QString& path);
// Gives an existing file mode 0600; true when its mode had to be changed.
bool restrictFile(const QString& path);
// Writes bytes into a temporary file beside path (mode 0600) and renames it over path. On any failure
// path is left as it was and error (when given) says why.
bool replaceFile(const QString& path, const QByteArray& bytes, QString* error = nullptr);
// replaceFile() with the contents of source.
bool copyFile(const QString& source, const QString& path, QString* error = nullptr);

} // namespace PrivateFiles
