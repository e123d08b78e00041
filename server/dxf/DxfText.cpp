#include "server/dxf/DxfText.h"

#include "server/drawing/Drawing.h"

namespace {

bool isAscii(QByteArrayView bytes)
{
    for (char c : bytes) {
        if (uchar(c) >= 0x80)
            return false;
    }
    return true;
}

int hexValue(QChar c)
{
    const ushort u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

int hexNumber(const QString &text, qsizetype at, int digits)
{
    if (at + digits > text.size())
        return -1;
    int value = 0;
    for (int i = 0; i < digits; ++i) {
        const int digit = hexValue(text.at(at + i));
        if (digit < 0)
            return -1;
        value = value * 16 + digit;
    }
    return value;
}

} // namespace

QString DxfText::encodingForCodePage(QByteArrayView codePage)
{
    const QByteArray name = codePage.toByteArray().trimmed().toUpper();
    if (name.isEmpty())
        return QString();
    if (name == "ANSI_932" || name == "DOS932")
        return QStringLiteral("windows-31j");
    if (name == "ANSI_936")
        return QStringLiteral("GBK");
    if (name == "ANSI_949")
        return QStringLiteral("windows-949");
    if (name == "ANSI_950")
        return QStringLiteral("Big5");
    if (name == "ANSI_1361")
        return QStringLiteral("johab");
    if (name == "UTF8" || name == "UTF-8")
        return QStringLiteral("UTF-8");
    if (name.startsWith("ANSI_"))
        return QStringLiteral("windows-") + QString::fromLatin1(name.mid(5));
    if (name.startsWith("DOS"))
        return QStringLiteral("IBM") + QString::fromLatin1(name.mid(3));
    if (name.startsWith("ISO8859-"))
        return QStringLiteral("ISO-8859-") + QString::fromLatin1(name.mid(8));
    return QString();
}

bool DxfText::isValidUtf8(QByteArrayView bytes)
{
    const auto *p = reinterpret_cast<const uchar *>(bytes.data());
    const auto *end = p + bytes.size();
    while (p < end) {
        const uchar c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int extra = 0;
        uint minimum = 0;
        uint value = 0;
        if ((c & 0xe0) == 0xc0) {
            extra = 1;
            minimum = 0x80;
            value = c & 0x1f;
        } else if ((c & 0xf0) == 0xe0) {
            extra = 2;
            minimum = 0x800;
            value = c & 0x0f;
        } else if ((c & 0xf8) == 0xf0) {
            extra = 3;
            minimum = 0x10000;
            value = c & 0x07;
        } else {
            return false;
        }
        if (end - p <= extra)
            return false;
        for (int i = 1; i <= extra; ++i) {
            if ((p[i] & 0xc0) != 0x80)
                return false;
            value = (value << 6) | (p[i] & 0x3f);
        }
        if (value < minimum || value > 0x10ffff || (value >= 0xd800 && value <= 0xdfff))
            return false;
        p += extra + 1;
    }
    return true;
}

bool DxfText::isValidShiftJis(QByteArrayView bytes)
{
    const auto *p = reinterpret_cast<const uchar *>(bytes.data());
    const auto *end = p + bytes.size();
    while (p < end) {
        const uchar c = *p++;
        if (c < 0x80 || (c >= 0xa1 && c <= 0xdf))
            continue;
        if (!((c >= 0x81 && c <= 0x9f) || (c >= 0xe0 && c <= 0xfc)) || p == end)
            return false;
        const uchar trail = *p++;
        if (trail < 0x40 || trail == 0x7f || trail > 0xfc)
            return false;
    }
    return true;
}

void DxfText::configure(QByteArrayView file, QByteArrayView version, QByteArrayView codePage)
{
    // R2007 (AC1021) and later store UTF-8 whatever the code page says; a file that is not
    // valid UTF-8 was written by a program that ignored that, so its code page is believed.
    const bool unicodeVersion = version.toByteArray().trimmed() >= QByteArray("AC1021");
    const QString named = encodingForCodePage(codePage);
    QString chosen;
    if (unicodeVersion && isValidUtf8(file))
        chosen = QStringLiteral("UTF-8");
    else if (!named.isEmpty() && QStringDecoder(named.toLatin1().constData()).isValid())
        chosen = named;
    else if (!isValidUtf8(file) && isValidShiftJis(file))
        chosen = QStringLiteral("windows-31j");
    else if (unicodeVersion || isValidUtf8(file))
        chosen = QStringLiteral("UTF-8");
    else
        chosen = QStringLiteral("windows-1252");
    m_encoding = chosen;
    m_decoder = QStringDecoder(chosen.toLatin1().constData(), QStringDecoder::Flag::Stateless);
}

QString DxfText::decode(QByteArrayView raw)
{
    QString text = isAscii(raw) ? QString::fromLatin1(raw) : m_decoder.decode(raw);
    if (!text.contains(QLatin1Char('\\')))
        return text;
    QString result;
    result.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\\') && i + 2 < text.size() && text.at(i + 2) == QLatin1Char('+')) {
            const QChar kind = text.at(i + 1).toUpper();
            if (kind == QLatin1Char('U')) {
                const int code = hexNumber(text, i + 3, 4);
                if (code >= 0) {
                    result.append(QChar(char16_t(code)));
                    i += 6;
                    continue;
                }
            } else if (kind == QLatin1Char('M') && i + 3 < text.size()
                       && text.at(i + 3) == QLatin1Char('1')) {
                // \M+1XXXX: a double-byte Shift-JIS character
                const int code = hexNumber(text, i + 4, 4);
                if (code >= 0) {
                    const char bytes[2] = {char(code >> 8), char(code & 0xff)};
                    result.append(m_shiftJis.decode(QByteArrayView(bytes, 2)));
                    i += 7;
                    continue;
                }
            }
        }
        result.append(c);
    }
    return result;
}

// Each character appended with the decoration in force; none kept when nothing was decorated.
class Decorated
{
public:
    Decorated(QString *text, QByteArray *decorations)
        : m_text(*text)
        , m_decorations(decorations)
    { }
    ~Decorated()
    {
        if (m_decorations && !m_any)
            m_decorations->clear();
    }
    void append(const QString &s)
    {
        m_text.append(s);
        if (m_decorations)
            m_decorations->append(s.size(), char(flags));
        m_any = m_any || flags;
    }
    void append(QChar c) { append(QString(c)); }

    char flags = 0;

private:
    QString &m_text;
    QByteArray *m_decorations;
    bool m_any = false;
};

QString DxfText::resolveSpecials(const QString &text, QByteArray *decorations)
{
    if (decorations)
        decorations->clear();
    if (!text.contains(QLatin1String("%%")))
        return text;
    QString plain;
    plain.reserve(text.size());
    Decorated result(&plain, decorations);
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) != QLatin1Char('%') || i + 2 >= text.size()
            || text.at(i + 1) != QLatin1Char('%')) {
            result.append(text.at(i));
            continue;
        }
        const QChar code = text.at(i + 2).toLower();
        if (code == QLatin1Char('c'))
            result.append(QChar(0x00d8));
        else if (code == QLatin1Char('d'))
            result.append(QChar(0x00b0));
        else if (code == QLatin1Char('p'))
            result.append(QChar(0x00b1));
        else if (code == QLatin1Char('%'))
            result.append(QLatin1Char('%'));
        else if (code == QLatin1Char('u'))
            result.flags ^= Drawing::Text::Underline;
        else if (code == QLatin1Char('o'))
            result.flags ^= Drawing::Text::Overline;
        else if (code == QLatin1Char('k'))
            result.flags ^= Drawing::Text::StrikeThrough;
        else if (code.isDigit()) {
            int value = 0;
            qsizetype j = i + 2;
            while (j < text.size() && j < i + 5 && text.at(j).isDigit())
                value = value * 10 + text.at(j++).digitValue();
            result.append(QChar(char16_t(value)));
            i = j - 3;
        } else {
            result.append(text.mid(i, 3));
        }
        i += 2;
    }
    return plain;
}

QString DxfText::plainMText(const QString &text, QByteArray *decorations)
{
    if (decorations)
        decorations->clear();
    QString plain;
    plain.reserve(text.size());
    Decorated result(&plain, decorations);
    // A group {…} keeps the decorations switched inside it to itself.
    QByteArray outer;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('{')) {
            if (outer.size() < 1024)
                outer.append(result.flags);
            continue;
        }
        if (c == QLatin1Char('}')) {
            if (!outer.isEmpty())
                result.flags = outer.back(), outer.chop(1);
            continue;
        }
        if (c != QLatin1Char('\\') || i + 1 >= text.size()) {
            result.append(c);
            continue;
        }
        const QChar code = text.at(++i);
        switch (code.unicode()) {
        case 'P':
            result.append(QLatin1Char('\n'));
            break;
        case '~':
            result.append(QLatin1Char(' '));
            break;
        case '\\':
        case '{':
        case '}':
            result.append(code);
            break;
        case 'L':
            result.flags |= Drawing::Text::Underline;
            break;
        case 'l':
            result.flags &= ~Drawing::Text::Underline;
            break;
        case 'O':
            result.flags |= Drawing::Text::Overline;
            break;
        case 'o':
            result.flags &= ~Drawing::Text::Overline;
            break;
        case 'K':
            result.flags |= Drawing::Text::StrikeThrough;
            break;
        case 'k':
            result.flags &= ~Drawing::Text::StrikeThrough;
            break;
        case 'X':
            break;
        case 'S': { // stacked text "a^b;" or "a/b;" or "a#b;"
            const qsizetype end = text.indexOf(QLatin1Char(';'), i + 1);
            QString stacked = text.mid(i + 1, end < 0 ? -1 : end - i - 1);
            stacked.replace(QLatin1Char('^'), QLatin1Char('/'))
                .replace(QLatin1Char('#'), QLatin1Char('/'));
            result.append(stacked);
            i = end < 0 ? text.size() : end;
            break;
        }
        case 'f':
        case 'F':
        case 'H':
        case 'W':
        case 'Q':
        case 'T':
        case 'A':
        case 'C':
        case 'c':
        case 'p': {
            const qsizetype end = text.indexOf(QLatin1Char(';'), i + 1);
            i = end < 0 ? text.size() : end;
            break;
        }
        default:
            result.append(QLatin1Char('\\'));
            result.append(code);
            break;
        }
    }
    return plain;
}
