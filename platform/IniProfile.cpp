#include "platform/IniProfile.h"

#include <QFile>
#include <QSaveFile>

#include <climits>

namespace {

// The Windows reader gives callers a 260-byte buffer including the terminator; integers are
// read from that much of their value.
constexpr qsizetype maxValueLength = 259;

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

QStringView trimBlanks(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return text.mid(begin, end - begin);
}

bool isQuote(QChar c)
{
    return c == u'"' || c == u'\'';
}

bool hasOuterQuotes(QStringView text)
{
    return text.size() >= 2 && isQuote(text.front()) && text.front() == text.back();
}

QStringView unquote(QStringView text)
{
    return hasOuterQuotes(text) ? text.mid(1, text.size() - 2) : text;
}

// A line break inside a name or value would end the line early and inject a foreign line into
// the file, so it is flattened to a space.
QString singleLine(const QString &text)
{
    QString result = text;
    result.replace(u'\r', u' ');
    result.replace(u'\n', u' ');
    return result;
}

// The reader trims blanks and strips one pair of outer quotes; quoting exactly those values that
// would otherwise change makes every written value read back unchanged.
QString encodeValue(const QString &value)
{
    if (value.isEmpty())
        return value;
    if (isBlank(value.front()) || isBlank(value.back()) || hasOuterQuotes(value))
        return u'"' + value + u'"';
    return value;
}

int digitValue(QChar c, int base)
{
    const char16_t u = c.unicode();
    int digit = -1;
    if (u >= u'0' && u <= u'9')
        digit = u - u'0';
    else if (u >= u'a' && u <= u'f')
        digit = u - u'a' + 10;
    else if (u >= u'A' && u <= u'F')
        digit = u - u'A' + 10;
    return digit < base ? digit : -1;
}

int parseProfileInt(QStringView text)
{
    const qsizetype size = text.size();
    qsizetype i = 0;
    while (i < size && isBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < size && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    int base = 10;
    if (i + 1 < size && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X')) {
        base = 16;
        i += 2;
    }
    // Unsigned arithmetic wraps without undefined behaviour, as the 32-bit Windows reader does.
    quint32 result = 0;
    for (; i < size; ++i) {
        const int digit = digitValue(text[i], base);
        if (digit < 0)
            break;
        result = result * quint32(base) + quint32(digit);
    }
    if (negative)
        result = 0u - result;
    const qint64 wide = result;
    return int(result > quint32(INT_MAX) ? wide - (qint64(1) << 32) : wide);
}

} // namespace

IniProfile::IniProfile(const QString &path)
    : m_path(path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    QByteArray data = file.readAll();
    if (data.startsWith("\xEF\xBB\xBF")) {
        m_hasBom = true;
        data.remove(0, 3);
    }
    const qsizetype firstBreak = data.indexOf('\n');
    if (firstBreak > 0 && data.at(firstBreak - 1) == '\r')
        m_lineBreak = "\r\n";

    qsizetype start = 0;
    while (start < data.size()) {
        qsizetype next = data.indexOf('\n', start);
        qsizetype textEnd = next;
        QByteArray lineBreak;
        if (next < 0) {
            next = textEnd = data.size();
        } else {
            lineBreak = "\n";
            if (textEnd > start && data.at(textEnd - 1) == '\r') {
                --textEnd;
                lineBreak = "\r\n";
            }
            ++next;
        }
        m_lines.push_back(parseLine(data.mid(start, textEnd - start), lineBreak));
        start = next;
    }
}

IniProfile::Line IniProfile::parseLine(const QByteArray &raw, const QByteArray &lineBreak)
{
    Line line;
    line.raw = raw;
    line.lineBreak = lineBreak;
    const QString text = QString::fromUtf8(raw);
    const QStringView trimmed = trimBlanks(text);
    if (trimmed.startsWith(u';'))
        return line;
    if (trimmed.startsWith(u'[')) {
        // An unclosed header neither starts a section nor is a key, so the keys below it stay
        // in the section before.
        const qsizetype close = trimmed.indexOf(u']');
        if (close >= 0) {
            line.kind = LineKind::Section;
            line.name = trimBlanks(trimmed.mid(1, close - 1)).toString();
        }
        return line;
    }
    const qsizetype equals = text.indexOf(u'=');
    if (equals < 0)
        return line;
    line.kind = LineKind::Key;
    line.name = trimBlanks(QStringView(text).left(equals)).toString();
    line.value = unquote(trimBlanks(QStringView(text).mid(equals + 1))).toString();
    return line;
}

int IniProfile::findSection(QStringView section) const
{
    for (size_t i = 0; i < m_lines.size(); ++i) {
        const Line &line = m_lines[i];
        if (line.kind == LineKind::Section
            && QStringView(line.name).compare(section, Qt::CaseInsensitive) == 0)
            return int(i);
    }
    return -1;
}

int IniProfile::findKey(int sectionLine, QStringView key) const
{
    for (size_t i = size_t(sectionLine) + 1; i < m_lines.size(); ++i) {
        const Line &line = m_lines[i];
        if (line.kind == LineKind::Section)
            break;
        if (line.kind == LineKind::Key
            && QStringView(line.name).compare(key, Qt::CaseInsensitive) == 0)
            return int(i);
    }
    return -1;
}

int IniProfile::readInt(const QString &section, const QString &key, int defaultValue) const
{
    const int sectionLine = findSection(trimBlanks(section));
    const int keyLine = sectionLine < 0 ? -1 : findKey(sectionLine, trimBlanks(key));
    if (keyLine < 0)
        return defaultValue;
    const QString &value = m_lines[size_t(keyLine)].value;
    return parseProfileInt(QStringView(value).left(maxValueLength));
}

QString IniProfile::readString(const QString &section, const QString &key,
                               const QString &defaultValue) const
{
    const int sectionLine = findSection(trimBlanks(section));
    const int keyLine = sectionLine < 0 ? -1 : findKey(sectionLine, trimBlanks(key));
    if (keyLine < 0)
        return defaultValue;
    // In full: folders of a few thousand characters are ordinary here, and a value cut short
    // would name another folder, or none.
    return m_lines[size_t(keyLine)].value;
}

void IniProfile::insertLine(int index, const QString &text)
{
    if (index > 0) {
        Line &previous = m_lines[size_t(index) - 1];
        if (previous.lineBreak.isEmpty())
            previous.lineBreak = m_lineBreak;
    }
    m_lines.insert(m_lines.begin() + index, parseLine(text.toUtf8(), m_lineBreak));
    m_modified = true;
}

void IniProfile::writeString(const QString &section, const QString &key, const QString &value)
{
    const QString sectionName = trimBlanks(singleLine(section)).toString();
    const QString keyName = trimBlanks(singleLine(key)).toString();
    const QString valueText = encodeValue(singleLine(value));

    const int sectionLine = findSection(sectionName);
    if (sectionLine < 0) {
        insertLine(int(m_lines.size()), u'[' + sectionName + u']');
        insertLine(int(m_lines.size()), keyName + u'=' + valueText);
        return;
    }

    const int keyLine = findKey(sectionLine, keyName);
    if (keyLine >= 0) {
        Line &line = m_lines[size_t(keyLine)];
        const QString oldText = QString::fromUtf8(line.raw);
        qsizetype indent = 0;
        while (indent < oldText.size() && isBlank(oldText.at(indent)))
            ++indent;
        const QByteArray raw = (oldText.left(indent) + line.name + u'=' + valueText).toUtf8();
        if (raw != line.raw) {
            line = parseLine(raw, line.lineBreak);
            m_modified = true;
        }
        return;
    }

    // After the last key rather than at the end of the section, so that blank lines and comments
    // that introduce the next section stay in front of it.
    int insertAt = sectionLine + 1;
    for (size_t i = size_t(sectionLine) + 1; i < m_lines.size(); ++i) {
        if (m_lines[i].kind == LineKind::Section)
            break;
        if (m_lines[i].kind == LineKind::Key)
            insertAt = int(i) + 1;
    }
    insertLine(insertAt, keyName + u'=' + valueText);
}

bool IniProfile::save()
{
    if (!m_modified)
        return true;
    QByteArray data;
    if (m_hasBom)
        data += "\xEF\xBB\xBF";
    for (const Line &line : m_lines)
        data += line.raw + line.lineBreak;

    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(data) != data.size()) {
        file.cancelWriting();
        return false;
    }
    if (!file.commit())
        return false;
    m_modified = false;
    return true;
}
