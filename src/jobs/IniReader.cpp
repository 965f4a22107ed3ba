#include "IniReader.h"

#include <QDataStream>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QStringList>
#include <QTextCodec>

namespace {

// A stored value the reader will not turn into one: QVariant's stream format can name any type, and some (images,
// containers of claimed sizes) make Qt allocate without bound or abort. The key then counts as absent.
struct RefusedValue
{
};

} // namespace

Q_DECLARE_METATYPE(RefusedValue)

namespace {

// Types whose stream form holds no size to trust or needs no GUI: numbers, texts, bytes, dates.
bool safeStreamedType(quint32 type)
{
    switch (type) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
    case QMetaType::QChar:
    case QMetaType::QString:
    case QMetaType::QByteArray:
    case QMetaType::QDate:
    case QMetaType::QTime:
    case QMetaType::QDateTime:
        return true;
    default:
        return false;
    }
}

bool isRefused(const QVariant& value)
{
    return value.userType() == qMetaTypeId<RefusedValue>();
}

enum CharTrait : unsigned { Blank = 1, Special = 2 };

unsigned traits(char c)
{
    switch (c) {
    case '\t':
    case ' ':
        return Blank;
    case '\n':
    case '\r':
        return Blank | Special;
    case '"':
    case ';':
    case '=':
    case '\\':
        return Special;
    default:
        return 0;
    }
}

struct Line
{
    int start = 0;
    int length = 0;
    int equals = -1; // first "=" outside quotes
};

// The next logical line from *pos: comment lines are skipped, an unquoted ";" ends the line, and quoted
// newlines and backslash-newlines continue it.
bool nextLine(const QByteArray& data, int* pos, Line* line)
{
    const int size = data.size();
    bool inQuotes = false;
    int equals = -1;
    int start = *pos;
    while (start < size && (traits(data.at(start)) & Blank)) {
        ++start;
    }
    int i = start;
    while (i < size) {
        const char c = data.at(i++);
        if (!(traits(c) & Special)) {
            continue;
        }
        if (c == '=') {
            if (!inQuotes && equals == -1) {
                equals = i - 1;
            }
        } else if (c == '\n' || c == '\r') {
            if (i == start + 1) {
                ++start;
            } else if (!inQuotes) {
                --i;
                break;
            }
        } else if (c == '\\') {
            if (i < size) {
                const char next = data.at(i++);
                if (i < size) {
                    const char after = data.at(i);
                    if ((next == '\n' && after == '\r') || (next == '\r' && after == '\n')) {
                        ++i;
                    }
                }
            }
        } else if (c == '"') {
            inQuotes = !inQuotes;
        } else if (i == start + 1) { // ';' opening a comment line
            while (i < size && data.at(i) != '\n' && data.at(i) != '\r') {
                ++i;
            }
            while (i < size && (traits(data.at(i)) & Blank)) {
                ++i;
            }
            start = i;
        } else if (!inQuotes) { // ';' ending the line
            --i;
            break;
        }
    }
    *pos = i;
    line->start = start;
    line->length = i - start;
    line->equals = equals;
    return line->length > 0;
}

// Key and section names: bytes as Latin-1, "\" as "/", %XX and %UXXXX as the character.
void appendUnescapedKey(const QByteArray& key, int from, int to, QString* result)
{
    int i = from;
    while (i < to) {
        const char c = key.at(i);
        if (c == '\\') {
            *result += QLatin1Char('/');
            ++i;
            continue;
        }
        if (c != '%' || i == to - 1) {
            *result += QLatin1Char(c);
            ++i;
            continue;
        }
        int digits = 2;
        int first = i + 1;
        if (key.at(first) == 'U') {
            ++first;
            digits = 4;
        }
        bool ok = false;
        const ushort value = first + digits > to ? 0 : key.mid(first, digits).toUShort(&ok, 16);
        if (!ok) {
            *result += QLatin1Char('%');
            ++i;
            continue;
        }
        *result += QChar(value);
        i = first + digits;
    }
}

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int hexValue(char c)
{
    return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
}

bool isOctalDigit(char c)
{
    return c >= '0' && c <= '7';
}

void chopTrailingBlanks(QString* text, int limit)
{
    int n = text->size() - 1;
    while (n >= limit && (text->at(n) == QLatin1Char(' ') || text->at(n) == QLatin1Char('\t'))) {
        text->truncate(n--);
    }
}

// "@Rect(1 2 3 4)" and the like: the words between the parentheses.
QStringList splitArgs(const QString& s, int open)
{
    QStringList result;
    QString item;
    for (int i = open + 1; i < s.size(); ++i) {
        const QChar c = s.at(i);
        if (c == QLatin1Char(')')) {
            result.append(item);
        } else if (c == QLatin1Char(' ')) {
            result.append(item);
            item.clear();
        } else {
            item.append(c);
        }
    }
    return result;
}

// A stored text as QSettings turns it into a value: plain text, or one of the @-forms it writes itself.
QVariant fromStoredText(const QString& s)
{
    if (!s.startsWith(QLatin1Char('@'))) {
        return s;
    }
    if (s.endsWith(QLatin1Char(')'))) {
        if (s.startsWith(QLatin1String("@ByteArray("))) {
            return s.midRef(11, s.size() - 12).toLatin1();
        }
        if (s.startsWith(QLatin1String("@String("))) {
            return s.midRef(8, s.size() - 9).toString();
        }
        if (s.startsWith(QLatin1String("@Variant(")) || s.startsWith(QLatin1String("@DateTime("))) {
            const bool dateTime = s.at(1) == QLatin1Char('D');
            QByteArray bytes = s.midRef(dateTime ? 10 : 9).toLatin1();
            if (!dateTime) {
                QDataStream peek(bytes);
                quint32 type = 0;
                peek >> type;
                if (peek.status() != QDataStream::Ok || !safeStreamedType(type)) {
                    return QVariant::fromValue(RefusedValue());
                }
            }
            QDataStream stream(&bytes, QIODevice::ReadOnly);
            stream.setVersion(dateTime ? QDataStream::Qt_5_6 : QDataStream::Qt_4_0);
            QVariant result;
            stream >> result;
            return result;
        }
        if (s.startsWith(QLatin1String("@Rect("))) {
            const QStringList args = splitArgs(s, 5);
            if (args.size() == 4) {
                return QRect(args[0].toInt(), args[1].toInt(), args[2].toInt(), args[3].toInt());
            }
        } else if (s.startsWith(QLatin1String("@Size("))) {
            const QStringList args = splitArgs(s, 5);
            if (args.size() == 2) {
                return QSize(args[0].toInt(), args[1].toInt());
            }
        } else if (s.startsWith(QLatin1String("@Point("))) {
            const QStringList args = splitArgs(s, 6);
            if (args.size() == 2) {
                return QPoint(args[0].toInt(), args[1].toInt());
            }
        } else if (s == QLatin1String("@Invalid()")) {
            return QVariant();
        }
    }
    if (s.startsWith(QLatin1String("@@"))) {
        return s.mid(1);
    }
    return s;
}

QVariant fromStoredList(const QStringList& list)
{
    QStringList texts = list;
    for (int i = 0; i < texts.size(); ++i) {
        if (!texts.at(i).startsWith(QLatin1Char('@'))) {
            continue;
        }
        if (texts.at(i).size() >= 2 && texts.at(i).at(1) == QLatin1Char('@')) {
            texts[i].remove(0, 1);
            continue;
        }
        QVariantList values;
        for (const QString& text : list) {
            values.append(fromStoredText(text));
            if (isRefused(values.last())) {
                return values.last();
            }
        }
        return values;
    }
    return texts;
}

// The value part of a line: blanks around it dropped unless quoted, quotes removed, escapes undone, unquoted
// commas making a list. Plain runs are UTF-8 decoded one run at a time, as QSettings decodes them.
QVariant parseValue(const QByteArray& data, int from, int to)
{
    static QTextCodec* const utf8 = QTextCodec::codecForName("UTF-8");

    QString text;
    QStringList list;
    bool isList = false;
    bool inQuotes = false;
    bool quoted = false;
    int i = from;
    const auto skipBlanks = [&] {
        while (i < to && (data.at(i) == ' ' || data.at(i) == '\t')) {
            ++i;
        }
    };
    skipBlanks();
    int chopLimit = 0; // blanks before it came from an escape or a quote and stay
    bool cutShort = false; // the text ended inside an escape: its trailing blanks stay too
    while (i < to) {
        const char c = data.at(i);
        if (c == '\\') {
            if (++i >= to) {
                cutShort = true;
                break;
            }
            const IniReader::Escape kind = IniReader::unescapeOne(data, &i, to, &text);
            if (kind == IniReader::Escape::Number && i >= to) {
                cutShort = true;
                break;
            }
            if (kind == IniReader::Escape::None) {
                const char e = data.at(i++);
                if (e == 'x' && i >= to) {
                    cutShort = true;
                    break;
                }
                if ((e == '\n' || e == '\r') && i < to) {
                    const char next = data.at(i);
                    if ((next == '\n' || next == '\r') && next != e) {
                        ++i;
                    }
                }
            }
            // Any other escaped character is dropped.
            chopLimit = text.size();
            continue;
        }
        if (c == '"') {
            ++i;
            quoted = true;
            inQuotes = !inQuotes;
            if (!inQuotes) {
                skipBlanks();
                chopLimit = text.size();
            }
            continue;
        }
        if (c == ',' && !inQuotes) {
            if (!quoted) {
                chopTrailingBlanks(&text, chopLimit);
            }
            isList = true;
            list.append(text);
            text.clear();
            quoted = false;
            ++i;
            skipBlanks();
            chopLimit = 0;
            continue;
        }
        int j = i + 1;
        while (j < to && data.at(j) != '\\' && data.at(j) != '"' && data.at(j) != ',') {
            ++j;
        }
        text += utf8->toUnicode(data.constData() + i, j - i);
        i = j;
    }
    if (!cutShort && !quoted) {
        chopTrailingBlanks(&text, chopLimit);
    }
    if (isList) {
        list.append(text);
        return fromStoredList(list);
    }
    return fromStoredText(text);
}

// "a//b/" as QSettings looks it up: "a/b".
QString normalizedKey(const QString& key)
{
    return key.split(QLatin1Char('/'), Qt::SkipEmptyParts).join(QLatin1Char('/'));
}

} // namespace

IniReader::Escape IniReader::unescapeOne(const QByteArray& data, int* pos, int to, QString* text)
{
    static const char kNamed[][2]
        = { { 'a', '\a' }, { 'b', '\b' }, { 'f', '\f' }, { 'n', '\n' },  { 'r', '\r' }, { 't', '\t' },
            { 'v', '\v' }, { '"', '"' },  { '?', '?' },  { '\'', '\'' }, { '\\', '\\' } };
    int i = *pos;
    const char e = data.at(i++);
    for (const auto& pair : kNamed) {
        if (e == pair[0]) {
            *text += QLatin1Char(pair[1]);
            *pos = i;
            return Escape::Named;
        }
    }
    const bool hex = e == 'x';
    if (!(hex && i < to && isHexDigit(data.at(i))) && !isOctalDigit(e)) {
        return Escape::None;
    }
    // Every following digit counts; only the low 16 bits survive, as in QSettings' QChar.
    char16_t value = hex ? 0 : char16_t(e - '0');
    while (i < to && (hex ? isHexDigit(data.at(i)) : isOctalDigit(data.at(i)))) {
        value = char16_t(hex ? (value << 4) + hexValue(data.at(i)) : (value << 3) + (data.at(i) - '0'));
        ++i;
    }
    *text += QChar(value);
    *pos = i;
    return Escape::Number;
}

IniReader::IniReader(const QByteArray& text)
{
    int pos = text.startsWith("\xef\xbb\xbf") ? 3 : 0;
    QString section;
    int sectionStart = 0;
    const auto flush = [&](int end) {
        QByteArray& lines = m_unparsed[section];
        if (!lines.isEmpty()) {
            lines += '\n';
        }
        lines += text.mid(sectionStart, end - sectionStart);
    };
    Line line;
    while (nextLine(text, &pos, &line)) {
        if (text.at(line.start) != '[') {
            continue;
        }
        flush(line.start);
        const int close = text.indexOf(']', line.start);
        const QByteArray name = (close == -1 || close >= line.start + line.length)
            ? text.mid(line.start + 1, line.length - 1).trimmed()
            : text.mid(line.start + 1, close - line.start - 1).trimmed();
        // Compared as C strings: a NUL ends the name here, as it does in QSettings.
        section.clear();
        if (qstricmp(name.constData(), "general") != 0) {
            if (qstricmp(name.constData(), "%general") == 0) {
                section = QLatin1String(name.constData() + 1);
            } else {
                appendUnescapedKey(name, 0, name.size(), &section);
            }
            section += QLatin1Char('/');
        }
        sectionStart = pos;
    }
    flush(text.size());
}

QVariant IniReader::value(const QString& key, const QVariant& defaultValue)
{
    const QString normalized = normalizedKey(key);
    parseSectionFor(normalized);
    const auto found = m_values.constFind(normalized);
    return found == m_values.constEnd() ? defaultValue : found.value();
}

void IniReader::parseSectionFor(const QString& key)
{
    // QSettings parses at most one section per lookup: for "Group/Name" the last section (in sorted order) not
    // after the key, and only if the key lies inside it; for a key without a group, the only section.
    if (m_unparsed.isEmpty()) {
        return;
    }
    QMap<QString, QByteArray>::iterator section;
    if (key.contains(QLatin1Char('/'))) {
        section = m_unparsed.upperBound(key);
        if (section == m_unparsed.begin()) {
            return;
        }
        --section;
        if (section.key().isEmpty() || !key.startsWith(section.key())) {
            return;
        }
    } else {
        section = m_unparsed.begin();
        if (m_unparsed.size() > 1 || !section.key().isEmpty()) {
            return;
        }
    }
    parseSection(section.key(), section.value());
    m_unparsed.erase(section);
}

void IniReader::parseSection(const QString& section, const QByteArray& data)
{
    int pos = 0;
    Line line;
    while (nextLine(data, &pos, &line)) {
        if (line.equals == -1) {
            continue;
        }
        int keyEnd = line.equals;
        while (keyEnd > line.start && (data.at(keyEnd - 1) == ' ' || data.at(keyEnd - 1) == '\t')) {
            --keyEnd;
        }
        QString key = section;
        appendUnescapedKey(data, line.start, keyEnd, &key);
        const QVariant value = parseValue(data, line.equals + 1, line.start + line.length);
        if (isRefused(value)) {
            m_refused = true;
            m_values.remove(key);
        } else {
            m_values.insert(key, value);
        }
    }
}
