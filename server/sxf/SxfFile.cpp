#include "server/sxf/SxfFile.h"

#include <QStringDecoder>

#include <cmath>

namespace {

// Lists nest at most two deep in any feature (hatch patterns inside the parameter list); deeper
// nesting only comes from hostile input, which must not exhaust the stack.
const int maxDepth = 8;

bool isLeadByte(uchar c)
{
    return (c >= 0x81 && c <= 0x9f) || (c >= 0xe0 && c <= 0xfc);
}

bool isKeywordChar(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_'
        || c == '-';
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

QString SxfFile::decodeString(const QByteArray &raw)
{
    // Most strings are numbers and names in ASCII: no converter needed.
    if (std::all_of(raw.begin(), raw.end(), [](char c) { return c > 0 && c != '\\'; }))
        return QString::fromLatin1(raw);
    QString result;
    QByteArray pending; // Shift-JIS bytes not yet decoded
    auto flush = [&] {
        if (!pending.isEmpty()) {
            // Opening a converter costs more than decoding a line; each thread keeps one.
            thread_local QStringDecoder decoder("windows-31j", QStringConverter::Flag::Stateless);
            result += decoder.decode(pending);
            pending.clear();
        }
    };
    const qsizetype n = raw.size();
    for (qsizetype i = 0; i < n;) {
        const uchar c = uchar(raw[i]);
        if (isLeadByte(c) && i + 1 < n) {
            pending += raw.mid(i, 2);
            i += 2;
            continue;
        }
        if (c == '\\') {
            if (raw.mid(i, 4) == "\\X2\\" || raw.mid(i, 4) == "\\X4\\") {
                const int digits = raw[i + 2] == '2' ? 4 : 8;
                qsizetype j = i + 4;
                flush();
                while (j + digits <= n && raw[j] != '\\') {
                    uint code = 0;
                    bool ok = true;
                    for (int k = 0; k < digits; ++k) {
                        const int h = hexValue(raw[j + k]);
                        ok = ok && h >= 0;
                        code = code * 16 + uint(std::max(h, 0));
                    }
                    if (!ok)
                        break;
                    if (digits == 4)
                        result += QChar(char16_t(code));
                    else
                        result += QString::fromUcs4(reinterpret_cast<const char32_t *>(&code), 1);
                    j += digits;
                }
                if (raw.mid(j, 4) == "\\X0\\") {
                    i = j + 4;
                    continue;
                }
            } else if (raw.mid(i, 3) == "\\X\\" && i + 4 < n && hexValue(raw[i + 3]) >= 0
                       && hexValue(raw[i + 4]) >= 0) {
                flush();
                result += QChar(hexValue(raw[i + 3]) * 16 + hexValue(raw[i + 4]));
                i += 5;
                continue;
            } else if (raw.mid(i, 3) == "\\S\\" && i + 3 < n) {
                flush();
                result += QChar(uchar(raw[i + 3]) | 0x80);
                i += 4;
                continue;
            } else if (i + 1 < n && raw[i + 1] == '\\') {
                pending += '\\';
                i += 2;
                continue;
            }
        }
        pending += char(c);
        ++i;
    }
    flush();
    return result;
}

bool SxfFile::fail(const QString &reason)
{
    if (m_error)
        *m_error = reason;
    return false;
}

int SxfFile::lineAt(qsizetype offset) const
{
    return int(std::count(m_bytes->constData(), m_bytes->constData() + offset, '\n')) + 1;
}

bool SxfFile::startsWith(const char *literal) const
{
    const qsizetype length = qsizetype(qstrlen(literal));
    return m_pos + length <= m_bytes->size()
        && qstrnicmp(m_bytes->constData() + m_pos, literal, length) == 0;
}

void SxfFile::skipSpace()
{
    const QByteArray &b = *m_bytes;
    while (m_pos < b.size()
           && (b[m_pos] == ' ' || b[m_pos] == '\t' || b[m_pos] == '\r' || b[m_pos] == '\n'
               || b[m_pos] == '\f'))
        ++m_pos;
}

bool SxfFile::skipComment()
{
    const qsizetype end = m_bytes->indexOf("*/", m_pos + 2);
    if (end < 0)
        return fail(QStringLiteral("a comment at line %1 never ends").arg(lineAt(m_pos)));
    m_pos = end + 2;
    return true;
}

bool SxfFile::readKeyword(QByteArray *keyword)
{
    const qsizetype start = m_pos;
    while (m_pos < m_bytes->size() && isKeywordChar((*m_bytes)[m_pos]))
        ++m_pos;
    *keyword = m_bytes->mid(start, m_pos - start).toLower();
    return !keyword->isEmpty();
}

bool SxfFile::readString(QByteArray *raw)
{
    const QByteArray &b = *m_bytes;
    const qsizetype start = m_pos++;
    while (m_pos < b.size()) {
        const uchar c = uchar(b[m_pos]);
        if (c == '\'') {
            if (m_pos + 1 < b.size() && b[m_pos + 1] == '\'') {
                *raw += '\'';
                m_pos += 2;
                continue;
            }
            ++m_pos;
            return true;
        }
        if (isLeadByte(c) && m_pos + 1 < b.size()) {
            *raw += b.mid(m_pos, 2);
            m_pos += 2;
            continue;
        }
        *raw += char(c);
        ++m_pos;
    }
    return fail(QStringLiteral("a string at line %1 never ends").arg(lineAt(start)));
}

bool SxfFile::readValue(Value *value, int depth)
{
    const QByteArray &b = *m_bytes;
    skipSpace();
    if (m_pos >= b.size())
        return fail(QStringLiteral("the file ends inside a parameter list"));
    const char c = b[m_pos];
    if (c == '\'') {
        if (!readString(&value->token))
            return false;
        value->kind = Value::Kind::String;
        return true;
    }
    if (c == '(') {
        value->kind = Value::Kind::List;
        return readList(&value->items, depth + 1);
    }
    if (c == '$' || c == '*') {
        ++m_pos;
        value->kind = Value::Kind::Omitted;
        return true;
    }
    const qsizetype start = m_pos;
    while (m_pos < b.size() && b[m_pos] != ',' && b[m_pos] != ')' && b[m_pos] != '('
           && b[m_pos] != '\'' && b[m_pos] != ' ' && b[m_pos] != '\n' && b[m_pos] != '\r'
           && b[m_pos] != '\t')
        ++m_pos;
    if (m_pos == start)
        return fail(QStringLiteral("an empty parameter at line %1").arg(lineAt(start)));
    value->kind = Value::Kind::Token;
    value->token = b.mid(start, m_pos - start);
    // A typed parameter such as LENGTH_MEASURE(2.5) keeps its inner value.
    if (m_pos < b.size() && b[m_pos] == '(') {
        QVector<Value> inner;
        if (!readList(&inner, depth + 1))
            return false;
        if (inner.size() == 1)
            *value = inner.first();
    }
    return true;
}

bool SxfFile::readList(QVector<Value> *values, int depth)
{
    if (depth > maxDepth)
        return fail(QStringLiteral("parameter lists nest too deep at line %1").arg(lineAt(m_pos)));
    const QByteArray &b = *m_bytes;
    if (m_pos >= b.size() || b[m_pos] != '(')
        return fail(QStringLiteral("a parameter list is missing at line %1").arg(lineAt(m_pos)));
    ++m_pos;
    skipSpace();
    if (m_pos < b.size() && b[m_pos] == ')') {
        ++m_pos;
        return true;
    }
    values->reserve(depth == 0 ? 16 : 4);
    while (true) {
        Value value;
        if (!readValue(&value, depth))
            return false;
        values->append(std::move(value));
        skipSpace();
        if (m_pos >= b.size())
            return fail(QStringLiteral("the file ends inside a parameter list"));
        if (b[m_pos] == ')') {
            ++m_pos;
            return true;
        }
        if (b[m_pos] != ',')
            return fail(
                QStringLiteral("a parameter list is malformed at line %1").arg(lineAt(m_pos)));
        ++m_pos;
    }
}

bool SxfFile::readRecord(Record *record)
{
    record->offset = m_pos;
    if (!readKeyword(&record->keyword))
        return fail(QStringLiteral("a record name is missing at line %1").arg(lineAt(m_pos)));
    skipSpace();
    if (!readList(&record->params, 0))
        return false;
    return true;
}

bool SxfFile::readFeature()
{
    const qsizetype start = m_pos;
    m_pos += 2; // "/*"
    auto malformed = [this, start] {
        return fail(
            QStringLiteral("the feature comment at line %1 is malformed").arg(lineAt(start)));
    };
    m_pos += 3; // "SXF"
    if (startsWith("3.1"))
        m_pos += 3;
    else if (startsWith("3"))
        m_pos += 1;
    skipSpace();
    if (m_pos >= m_bytes->size() || (*m_bytes)[m_pos] != '#')
        return malformed();
    ++m_pos;
    while (m_pos < m_bytes->size() && std::isdigit(uchar((*m_bytes)[m_pos])))
        ++m_pos;
    skipSpace();
    if (m_pos >= m_bytes->size() || (*m_bytes)[m_pos] != '=')
        return malformed();
    ++m_pos;
    skipSpace();
    Record record;
    if (!readRecord(&record))
        return false;
    record.offset = start;
    skipSpace();
    if (m_pos < m_bytes->size() && (*m_bytes)[m_pos] == ';')
        ++m_pos;
    skipSpace();
    if (!startsWith("SXF"))
        return malformed();
    const qsizetype end = m_bytes->indexOf("*/", m_pos);
    if (end < 0 || end - m_pos > 6)
        return malformed();
    m_pos = end + 2;
    m_features.append(std::move(record));
    return true;
}

bool SxfFile::skipInstance()
{
    const QByteArray &b = *m_bytes;
    const qsizetype start = m_pos;
    while (m_pos < b.size()) {
        const char c = b[m_pos];
        if (c == '\'') {
            QByteArray ignored;
            if (!readString(&ignored))
                return false;
            continue;
        }
        ++m_pos;
        if (c == ';') {
            ++m_entityInstances;
            return true;
        }
    }
    return fail(QStringLiteral("the entity instance at line %1 never ends").arg(lineAt(start)));
}

bool SxfFile::parse(const QByteArray &bytes, QString *errorMessage)
{
    m_bytes = &bytes;
    m_pos = 0;
    m_error = errorMessage;
    m_header.clear();
    m_features.clear();
    m_entityInstances = 0;

    if (bytes.startsWith("\xef\xbb\xbf"))
        m_pos = 3;
    skipSpace();
    if (!startsWith("ISO-10303-21;"))
        return fail(QStringLiteral("it is not an ISO 10303-21 exchange structure"));
    m_pos += 13;

    // HEADER: records until ENDSEC.
    skipSpace();
    if (!startsWith("HEADER;"))
        return fail(QStringLiteral("the HEADER section is missing"));
    m_pos += 7;
    while (true) {
        skipSpace();
        if (m_pos >= bytes.size())
            return fail(QStringLiteral("the file ends inside the HEADER section"));
        if (startsWith("/*")) {
            if (!skipComment())
                return false;
            continue;
        }
        if (startsWith("ENDSEC;")) {
            m_pos += 7;
            break;
        }
        Record record;
        if (!readRecord(&record))
            return false;
        skipSpace();
        if (m_pos >= bytes.size() || bytes[m_pos] != ';')
            return fail(QStringLiteral("a header record at line %1 does not end with ';'")
                            .arg(lineAt(record.offset)));
        ++m_pos;
        m_header.append(std::move(record));
    }

    skipSpace();
    if (!startsWith("DATA;"))
        return fail(QStringLiteral("the DATA section is missing"));
    m_pos += 5;
    while (true) {
        skipSpace();
        if (m_pos >= bytes.size())
            return fail(QStringLiteral("the file ends inside the DATA section (truncated)"));
        if (startsWith("/*SXF")) {
            if (!readFeature())
                return false;
        } else if (startsWith("/*")) {
            if (!skipComment())
                return false;
        } else if (startsWith("ENDSEC;")) {
            m_pos += 7;
            break;
        } else if (bytes[m_pos] == '#') {
            if (!skipInstance())
                return false;
        } else {
            return fail(QStringLiteral("unexpected text at line %1 of the DATA section")
                            .arg(lineAt(m_pos)));
        }
    }
    skipSpace();
    if (!startsWith("END-ISO-10303-21;"))
        return fail(QStringLiteral("the closing END-ISO-10303-21 is missing (truncated)"));
    return true;
}

const SxfFile::Record *SxfFile::headerRecord(const char *keyword) const
{
    for (const Record &record : m_header) {
        if (record.keyword == QByteArray(keyword).toLower())
            return &record;
    }
    return nullptr;
}

bool SxfFile::toNumber(const Value &value, double *number)
{
    bool ok = false;
    if (value.kind == Value::Kind::Token || value.kind == Value::Kind::String)
        *number = value.token.toDouble(&ok);
    return ok && std::isfinite(*number);
}

bool SxfFile::toInteger(const Value &value, int *number)
{
    double d = 0;
    if (!toNumber(value, &d) || d != std::floor(d) || std::fabs(d) > 1e9)
        return false;
    *number = int(d);
    return true;
}

bool SxfFile::toNumbers(const Value &value, QVector<double> *numbers)
{
    numbers->clear();
    if (value.kind == Value::Kind::List) {
        for (const Value &item : value.items) {
            double d = 0;
            if (!toNumber(item, &d))
                return false;
            numbers->append(d);
        }
        return true;
    }
    if (value.kind != Value::Kind::String)
        return false;
    const QByteArray text = value.token.trimmed();
    if (!text.startsWith('(') || !text.endsWith(')'))
        return false;
    const QByteArray inner = text.mid(1, text.size() - 2);
    if (inner.trimmed().isEmpty())
        return true;
    for (const QByteArray &part : inner.split(',')) {
        bool ok = false;
        const double d = part.toDouble(&ok);
        if (!ok || !std::isfinite(d))
            return false;
        numbers->append(d);
    }
    return true;
}

QString SxfFile::toText(const Value &value)
{
    if (value.kind == Value::Kind::String)
        return decodeString(value.token);
    if (value.kind == Value::Kind::Token)
        return QString::fromLatin1(value.token);
    return QString();
}
