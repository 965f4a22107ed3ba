#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QVariant>

// An INI text read in memory by the rules of QSettings (IniFormat, UTF-8), so that a job's parameter file gives
// the values QSettings would give without a copy of it on disk: comments, quoted values and line continuations,
// sections (repeated ones joined, [General]), escapes in keys (%XX, %UXXXX, "\" for "/") and in values (\n,
// \x4e2d, \101, ...), lists at unquoted commas, the @-forms, a UTF-8 byte-order mark, the last of repeated
// keys. A stored QVariant of a type other than a number, text, bytes or date is not read: its key counts as
// absent. Sections are parsed when a lookup first needs one, in the way QSettings picks it, since that decides
// which sections a lookup sees.
class IniReader
{
public:
    explicit IniReader(const QByteArray& text);

    // What QSettings::value(key, defaultValue) gives for the same text and the same earlier lookups.
    QVariant value(const QString& key, const QVariant& defaultValue = QVariant());
    // One escape of a value as QSettings undoes it, data[*pos] being the character after the backslash: a named
    // one (\n, \", \\, ...) or a number (\x4e2d, \101) is appended to text and *pos moved past it; any other
    // character is left to the caller (None, *pos unchanged).
    enum class Escape { None, Named, Number };
    static Escape unescapeOne(const QByteArray& data, int* pos, int to, QString* text);

    // Whether a lookup so far met a stored value that was not read (see above).
    bool refusedValues() const { return m_refused; }

private:
    void parseSectionFor(const QString& key);
    void parseSection(const QString& section, const QByteArray& data);

    QMap<QString, QByteArray> m_unparsed; // section ("" or "Name/") -> its lines
    QMap<QString, QVariant> m_values;
    bool m_refused = false;
};
