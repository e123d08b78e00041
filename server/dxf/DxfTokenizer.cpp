#include "server/dxf/DxfTokenizer.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace {

const char kBinarySentinel[] = "AutoCAD Binary DXF\r\n\x1a";
constexpr int kSentinelSize = 22; // the text above and its NUL

enum class Kind { String, Double, Int16, Int32, Int64, Bool, Binary };

Kind kindOf(int code)
{
    if (code < 10)
        return Kind::String;
    if (code < 60)
        return Kind::Double;
    if (code < 80)
        return Kind::Int16;
    if (code >= 90 && code < 100)
        return Kind::Int32;
    if (code >= 110 && code < 150)
        return Kind::Double;
    if (code >= 160 && code < 170)
        return Kind::Int64;
    if (code >= 170 && code < 180)
        return Kind::Int16;
    if (code >= 210 && code < 240)
        return Kind::Double;
    if (code >= 270 && code < 290)
        return Kind::Int16;
    if (code >= 290 && code < 300)
        return Kind::Bool;
    if (code >= 310 && code < 320)
        return Kind::Binary;
    if (code >= 370 && code < 390)
        return Kind::Int16;
    if (code >= 400 && code < 410)
        return Kind::Int16;
    if (code >= 420 && code < 430)
        return Kind::Int32;
    if (code >= 440 && code < 460)
        return Kind::Int32;
    if (code >= 460 && code < 470)
        return Kind::Double;
    if (code == 1004)
        return Kind::Binary;
    if (code >= 1010 && code < 1060)
        return Kind::Double;
    if (code >= 1060 && code < 1071)
        return Kind::Int16;
    if (code == 1071)
        return Kind::Int32;
    return Kind::String;
}

QByteArrayView trimmed(QByteArrayView text)
{
    while (!text.isEmpty() && (text.front() == ' ' || text.front() == '\t'))
        text = text.sliced(1);
    while (!text.isEmpty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.chop(1);
    return text;
}

bool parseDouble(QByteArrayView text, double &value)
{
    text = trimmed(text);
    if (!text.isEmpty() && text.front() == '+')
        text = text.sliced(1);
    const char *end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    return result.ec == std::errc() && result.ptr == end && std::isfinite(value);
}

bool parseInteger(QByteArrayView text, qint64 &value)
{
    text = trimmed(text);
    if (!text.isEmpty() && text.front() == '+')
        text = text.sliced(1);
    const char *end = text.data() + text.size();
    long long parsed = 0;
    const auto result = std::from_chars(text.data(), end, parsed);
    if (result.ec == std::errc() && result.ptr == end) {
        value = parsed;
        return true;
    }
    // Some writers put integers down as "1.0".
    double real = 0;
    if (!parseDouble(text, real) || std::fabs(real) > 9e18)
        return false;
    value = static_cast<qint64>(real);
    return true;
}

template<typename T>
T little(const char *p)
{
    T value;
    std::memcpy(&value, p, sizeof value);
    return value; // the platforms this server runs on are little-endian, as the format is
}

} // namespace

DxfTokenizer::DxfTokenizer(const QByteArray &bytes)
    : m_begin(bytes.constData())
    , m_pos(bytes.constData())
    , m_end(bytes.constData() + bytes.size())
{
    if (bytes.size() >= kSentinelSize
        && std::memcmp(m_begin, kBinarySentinel, kSentinelSize) == 0) {
        m_binary = true;
        m_pos += kSentinelSize;
        // Before R13 a group code is one byte; the first group is code 0, "SECTION".
        m_twoByteCodes = m_end - m_pos >= 2 && m_pos[0] == 0 && m_pos[1] == 0;
    } else if (std::memchr(m_begin, 0, size_t(bytes.size())) != nullptr) {
        fail(QStringLiteral("テキストの DXF に NUL 文字があります"));
        m_pos = m_end;
    }
}

bool DxfTokenizer::fail(const QString &reason)
{
    if (m_error.isEmpty())
        m_error = reason;
    m_pos = m_end;
    return false;
}

void DxfTokenizer::pushBack(const Group &group)
{
    m_pushed = group;
    m_hasPushed = true;
}

bool DxfTokenizer::next(Group &group)
{
    if (m_hasPushed) {
        m_hasPushed = false;
        group = m_pushed;
        return true;
    }
    if (m_pos >= m_end)
        return false;
    return m_binary ? nextBinary(group) : nextAscii(group);
}

bool DxfTokenizer::readLine(QByteArrayView &line)
{
    if (m_pos >= m_end)
        return false;
    const void *newline = std::memchr(m_pos, '\n', size_t(m_end - m_pos));
    const char *stop = newline ? static_cast<const char *>(newline) : m_end;
    line = QByteArrayView(m_pos, stop - m_pos);
    while (!line.isEmpty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
        line.chop(1);
    m_pos = newline ? stop + 1 : m_end;
    ++m_line;
    return true;
}

bool DxfTokenizer::nextAscii(Group &group)
{
    QByteArrayView codeLine;
    if (!readLine(codeLine))
        return false;
    if (trimmed(codeLine).isEmpty() && m_pos >= m_end)
        return false; // blank lines at the very end
    qint64 code = 0;
    if (!parseInteger(codeLine, code) || code < 0 || code > 1071)
        return fail(QStringLiteral("%1 行目がグループコードではありません").arg(m_line));
    QByteArrayView value;
    if (!readLine(value))
        return fail(QStringLiteral("ファイルが %1 行目で途切れています").arg(m_line));
    group.code = int(code);
    group.text = value;
    group.number = 0;
    group.integer = 0;
    switch (kindOf(group.code)) {
    case Kind::String:
    case Kind::Binary:
        break;
    case Kind::Double:
        if (!parseDouble(value, group.number))
            return fail(QStringLiteral("%1 行目の値が数値ではありません").arg(m_line));
        break;
    default:
        if (!parseInteger(value, group.integer))
            return fail(QStringLiteral("%1 行目の値が整数ではありません").arg(m_line));
        group.number = double(group.integer);
        break;
    }
    return true;
}

bool DxfTokenizer::nextBinary(Group &group)
{
    const auto need = [this](qint64 n) {
        return m_end - m_pos >= n;
    };
    const qint64 offset = m_pos - m_begin;
    const QString truncated = QStringLiteral("バイナリ DXF が %1 バイト目で途切れています");
    int code = 0;
    if (m_twoByteCodes) {
        if (!need(2))
            return fail(truncated.arg(offset));
        code = little<quint16>(m_pos);
        m_pos += 2;
    } else {
        code = quint8(*m_pos++);
        if (code == 255) {
            if (!need(2))
                return fail(truncated.arg(offset));
            code = little<quint16>(m_pos);
            m_pos += 2;
        }
    }
    if (code > 1071)
        return fail(QStringLiteral("%1 バイト目がグループコードではありません").arg(offset));
    group.code = code;
    group.text = QByteArrayView();
    group.number = 0;
    group.integer = 0;
    switch (kindOf(code)) {
    case Kind::String: {
        const void *nul = std::memchr(m_pos, 0, size_t(m_end - m_pos));
        if (!nul)
            return fail(truncated.arg(offset));
        group.text = QByteArrayView(m_pos, static_cast<const char *>(nul) - m_pos);
        // trailing blanks mean nothing in either form of the format
        while (!group.text.isEmpty() && (group.text.back() == ' ' || group.text.back() == '\t'))
            group.text.chop(1);
        m_pos = static_cast<const char *>(nul) + 1;
        return true;
    }
    case Kind::Binary: {
        if (!need(1) || !need(1 + quint8(*m_pos)))
            return fail(truncated.arg(offset));
        const int length = quint8(*m_pos);
        group.text = QByteArrayView(m_pos + 1, length);
        m_pos += 1 + length;
        return true;
    }
    case Kind::Double:
        if (!need(8))
            return fail(truncated.arg(offset));
        group.number = little<double>(m_pos);
        m_pos += 8;
        if (!std::isfinite(group.number))
            return fail(QStringLiteral("%1 バイト目の値が数値ではありません").arg(offset));
        return true;
    case Kind::Int16:
        if (!need(2))
            return fail(truncated.arg(offset));
        group.integer = little<qint16>(m_pos);
        m_pos += 2;
        break;
    case Kind::Int32:
        if (!need(4))
            return fail(truncated.arg(offset));
        group.integer = little<qint32>(m_pos);
        m_pos += 4;
        break;
    case Kind::Int64:
        if (!need(8))
            return fail(truncated.arg(offset));
        group.integer = little<qint64>(m_pos);
        m_pos += 8;
        break;
    case Kind::Bool:
        if (!need(1))
            return fail(truncated.arg(offset));
        group.integer = quint8(*m_pos++);
        break;
    }
    group.number = double(group.integer);
    return true;
}
