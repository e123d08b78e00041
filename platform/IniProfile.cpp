#include "platform/IniProfile.h"

#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

bool isBlankByte(char c)
{
    return c == ' ' || c == '\t';
}

struct Span
{
    const char *begin;
    const char *end;

    qsizetype size() const { return end - begin; }
    QByteArray bytes() const { return QByteArray(begin, end - begin); }
};

Span trimBytes(Span span)
{
    while (span.begin < span.end && isBlankByte(*span.begin))
        ++span.begin;
    while (span.end > span.begin && isBlankByte(span.end[-1]))
        --span.end;
    return span;
}

const char *findByte(Span span, char c)
{
    return static_cast<const char *>(memchr(span.begin, c, size_t(span.size())));
}

enum class LineKind { Other, Section, Key };

LineKind classify(Span line)
{
    const Span trimmed = trimBytes(line);
    if (trimmed.size() > 0 && *trimmed.begin == ';')
        return LineKind::Other;
    if (trimmed.size() > 0 && *trimmed.begin == '[') {
        // An unclosed header neither starts a section nor is a key, so the keys below it stay
        // in the section before.
        return findByte(trimmed, ']') ? LineKind::Section : LineKind::Other;
    }
    return findByte(line, '=') ? LineKind::Key : LineKind::Other;
}

// A name to look for, prepared once per look-up: nearly every name in these files is ASCII, and
// comparing those bytes directly keeps a look-up over millions of foreign keys cheap.
// QString::fromUtf8() drops a leading U+FEFF; inside a file it is a character like any other, and
// a name or value that begins with one must read back as written.
QString decodeText(Span span)
{
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom);
    return decoder.decode(QByteArrayView(span.begin, span.size()));
}

char asciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

struct NameQuery
{
    explicit NameQuery(QStringView name)
        : text(name)
        , utf8(name.toUtf8())
        , ascii(isAscii(utf8))
    { }

    static bool isAscii(Span span)
    {
        for (const char *p = span.begin; p < span.end; ++p) {
            if (uchar(*p) >= 0x80)
                return false;
        }
        return true;
    }
    static bool isAscii(const QByteArray &bytes)
    {
        return isAscii(Span {bytes.constData(), bytes.constData() + bytes.size()});
    }

    bool matches(Span name) const
    {
        if (ascii && isAscii(name)) {
            if (name.size() != utf8.size())
                return false;
            // Byte by byte: names may hold a NUL, where the C string functions would stop.
            for (qsizetype i = 0; i < utf8.size(); ++i) {
                if (asciiLower(name.begin[i]) != asciiLower(utf8[i]))
                    return false;
            }
            return true;
        }
        return decodeText(name).compare(text, Qt::CaseInsensitive) == 0;
    }

    QStringView text;
    QByteArray utf8;
    bool ascii;
};

} // namespace

IniProfile::IniProfile(const QString &path)
    : m_path(path)
{
    // Opened without blocking and checked before the first read: a FIFO or a device of that
    // name counts as no file.
    const int fd
        = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return;
    }
    // Read to the real end even if the file grew since fstat().
    QByteArray data(qsizetype(st.st_size), Qt::Uninitialized);
    qsizetype filled = 0;
    for (;;) {
        if (filled == data.size())
            data.resize(data.size() + 4096);
        const ssize_t got = ::read(fd, data.data() + filled, size_t(data.size() - filled));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        filled += got;
    }
    ::close(fd);
    data.truncate(filled);
    data.squeeze();

    if (data.startsWith("\xEF\xBB\xBF")) {
        m_hasBom = true;
        data.remove(0, 3);
    }
    m_data = std::move(data);
    const qsizetype firstBreak = m_data.indexOf('\n');
    if (firstBreak > 0 && m_data.at(firstBreak - 1) == '\r')
        m_lineBreak = "\r\n";

    // Two passes, so that the index is allocated once at its final size.
    for (int pass = 0; pass < 2; ++pass) {
        size_t count = 0;
        for (qsizetype offset = 0; offset < m_data.size();) {
            const LineRef line = lineAt(offset);
            const LineKind kind
                = classify(Span {m_data.constData() + line.begin, m_data.constData() + line.end});
            if (kind != LineKind::Other) {
                if (pass == 1)
                    m_entries.push_back(Entry(offset) << 1 | (kind == LineKind::Section ? 1 : 0));
                ++count;
            }
            offset = line.next;
        }
        if (pass == 0)
            m_entries.reserve(count);
    }
}

IniProfile::LineRef IniProfile::lineAt(qsizetype offset) const
{
    const qsizetype size = m_data.size();
    const char *data = m_data.constData();
    const void *newline = memchr(data + offset, '\n', size_t(size - offset));
    LineRef line;
    line.begin = offset;
    if (!newline) {
        line.end = line.next = size;
        return line;
    }
    line.end = static_cast<const char *>(newline) - data;
    line.next = line.end + 1;
    if (line.end > offset && data[line.end - 1] == '\r')
        --line.end;
    return line;
}

QByteArray IniProfile::entryName(Entry entry) const
{
    const LineRef line = lineAt(qsizetype(entry >> 1));
    const Span span {m_data.constData() + line.begin, m_data.constData() + line.end};
    if (entry & 1) {
        const Span trimmed = trimBytes(span);
        return trimBytes(Span {trimmed.begin + 1, findByte(trimmed, ']')}).bytes();
    }
    return trimBytes(Span {span.begin, findByte(span, '=')}).bytes();
}

QString IniProfile::entryValue(Entry entry) const
{
    const LineRef line = lineAt(qsizetype(entry >> 1));
    const Span span {m_data.constData() + line.begin, m_data.constData() + line.end};
    const Span value = trimBytes(Span {findByte(span, '=') + 1, span.end});
    return unquote(decodeText(value)).toString();
}

int IniProfile::findSection(QStringView section) const
{
    if (m_nCachedSection != -2 && m_strCachedSection == section)
        return m_nCachedSection;
    const NameQuery query(section);
    const char *data = m_data.constData();
    int found = -1;
    for (size_t i = 0; i < m_entries.size() && found < 0; ++i) {
        if (!(m_entries[i] & 1))
            continue;
        // Compared in place, without a copy: a file may hold millions of headers.
        const LineRef line = lineAt(qsizetype(m_entries[i] >> 1));
        const Span trimmed = trimBytes(Span {data + line.begin, data + line.end});
        if (query.matches(trimBytes(Span {trimmed.begin + 1, findByte(trimmed, ']')})))
            found = int(i);
    }
    m_strCachedSection = section.toString();
    m_nCachedSection = found;
    return found;
}

int IniProfile::findKey(int sectionEntry, QStringView key) const
{
    const NameQuery query(key);
    const char *data = m_data.constData();
    for (size_t i = size_t(sectionEntry) + 1; i < m_entries.size(); ++i) {
        const Entry entry = m_entries[i];
        if (entry & 1)
            break;
        // The name is compared in place, without a copy: this loop may see millions of keys.
        const LineRef line = lineAt(qsizetype(entry >> 1));
        const Span span {data + line.begin, data + line.end};
        if (query.matches(trimBytes(Span {span.begin, findByte(span, '=')})))
            return int(i);
    }
    return -1;
}

bool IniProfile::lookUp(const QString &section, const QString &key, QString &value) const
{
    const int sectionEntry = findSection(trimBlanks(section));
    const int keyEntry = sectionEntry < 0 ? -1 : findKey(sectionEntry, trimBlanks(key));
    if (keyEntry < 0)
        return false;
    value = entryValue(m_entries[size_t(keyEntry)]);
    return true;
}

int IniProfile::readInt(const QString &section, const QString &key, int defaultValue) const
{
    QString value;
    if (!lookUp(section, key, value))
        return defaultValue;
    return parseProfileInt(QStringView(value).left(maxValueLength));
}

QString IniProfile::readString(const QString &section, const QString &key,
                               const QString &defaultValue) const
{
    QString value;
    if (!lookUp(section, key, value))
        return defaultValue;
    // In full: folders of a few thousand characters are ordinary here, and a value cut short
    // would name another folder, or none.
    return value;
}

void IniProfile::replaceBytes(qsizetype offset, qsizetype length, const QByteArray &bytes,
                              int firstShifted)
{
    m_data.replace(offset, length, bytes);
    const qint64 delta = bytes.size() - length;
    for (size_t i = size_t(firstShifted); i < m_entries.size(); ++i)
        m_entries[i] = Entry(qint64(m_entries[i]) + delta * 2);
    m_modified = true;
}

void IniProfile::insertLine(qsizetype offset, int entryIndex, const QString &text)
{
    QByteArray bytes;
    qsizetype lineStart = offset;
    // A last line without a break gets one before the new line follows it.
    if (offset > 0 && m_data.at(offset - 1) != '\n') {
        bytes = m_lineBreak;
        lineStart += m_lineBreak.size();
    }
    const QByteArray line = text.toUtf8();
    bytes += line;
    bytes += m_lineBreak;
    replaceBytes(offset, 0, bytes, entryIndex);
    const LineKind kind = classify(Span {line.constData(), line.constData() + line.size()});
    if (kind != LineKind::Other) {
        m_entries.insert(m_entries.begin() + entryIndex,
                         Entry(lineStart) << 1 | (kind == LineKind::Section ? 1 : 0));
    }
    // A new header may be the first of its name; a new key only moves the headers after it.
    if (kind == LineKind::Section)
        m_nCachedSection = -2;
    else if (kind == LineKind::Key && m_nCachedSection >= entryIndex)
        ++m_nCachedSection;
}

void IniProfile::writeString(const QString &section, const QString &key, const QString &value)
{
    const QString sectionName = trimBlanks(singleLine(section)).toString();
    const QString keyName = trimBlanks(singleLine(key)).toString();
    const QString valueText = encodeValue(singleLine(value));

    const int sectionEntry = findSection(sectionName);
    if (sectionEntry < 0) {
        insertLine(m_data.size(), int(m_entries.size()), u'[' + sectionName + u']');
        insertLine(m_data.size(), int(m_entries.size()), keyName + u'=' + valueText);
        return;
    }

    const int keyEntry = findKey(sectionEntry, keyName);
    if (keyEntry >= 0) {
        const LineRef line = lineAt(qsizetype(m_entries[size_t(keyEntry)] >> 1));
        qsizetype indent = line.begin;
        while (indent < line.end && isBlankByte(m_data.at(indent)))
            ++indent;
        const QByteArray raw = m_data.mid(line.begin, indent - line.begin)
            + entryName(m_entries[size_t(keyEntry)]) + '=' + valueText.toUtf8();
        if (raw != QByteArrayView(m_data).sliced(line.begin, line.end - line.begin))
            replaceBytes(line.begin, line.end - line.begin, raw, keyEntry + 1);
        return;
    }

    // After the last key rather than at the end of the section, so that blank lines and comments
    // that introduce the next section stay in front of it.
    int after = sectionEntry;
    for (size_t i = size_t(sectionEntry) + 1; i < m_entries.size() && !(m_entries[i] & 1); ++i)
        after = int(i);
    insertLine(lineAt(qsizetype(m_entries[size_t(after)] >> 1)).next, after + 1,
               keyName + u'=' + valueText);
}

bool IniProfile::save()
{
    if (!m_modified)
        return true;

    // Replacing a FIFO or a device by a regular file would break whoever made it; say why the
    // settings are not saved rather than fail without a trace.
    struct stat st;
    if (::stat(QFile::encodeName(m_path).constData(), &st) == 0 && !S_ISREG(st.st_mode)) {
        qWarning("Norvale: %s is not a regular file; the settings are not saved",
                 QFile::encodeName(m_path).constData());
        return false;
    }

    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // QSaveFile::write() may only fill a buffer, and commit() in Qt 6.4 renames the temporary
    // file over the old one even when flushing that buffer failed: on a full disk the settings
    // would become an empty file. So every write, the flush and the sync are checked here, and
    // any failure discards the temporary file.
    const auto writeAll = [&file](const char *data, qsizetype size) {
        return file.write(data, size) == size;
    };
    bool ok = !m_hasBom || writeAll("\xEF\xBB\xBF", 3);
    ok = ok && writeAll(m_data.constData(), m_data.size()) && file.flush();
    if (ok && ::fsync(file.handle()) != 0 && errno != EINVAL && errno != ENOTSUP)
        ok = false;
    if (!ok) {
        file.cancelWriting();
        return false;
    }
    if (!file.commit())
        return false;
    m_modified = false;
    return true;
}
