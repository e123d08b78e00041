#include "server/jww/JwwReader.h"

#include "server/sxf/SxfTables.h"

#include <QHash>
#include <QStringDecoder>
#include <QtEndian>

#include <cmath>
#include <cstring>

using namespace Drawing;

namespace {

const double pi = 3.14159265358979323846;
// Angles are radians. Those of arcs are taken within two turns and sweeps limited to two turns,
// so that a whole arc whose sweep is 2π rounded up stays whole; larger ones, which the file may
// give, would make sums that overflow.
const double turn = 2 * pi;

// Little-endian reads that never run past the end: a short read, or a number that is not finite,
// marks the stream failed and returns zero, and the caller checks once per record.
class Stream
{
public:
    explicit Stream(const QByteArray &bytes)
        : m_bytes(bytes)
    { }

    bool ok() const { return m_ok; }
    qsizetype pos() const { return m_pos; }
    // Where the first number that is not finite began, -1 when none did.
    qsizetype notFiniteAt() const { return m_notFiniteAt; }
    void seek(qsizetype pos)
    {
        m_pos = pos;
        m_ok = true;
        m_notFiniteAt = -1;
    }
    qsizetype left() const { return m_bytes.size() - m_pos; }

    bool take(void *out, qsizetype n)
    {
        if (!m_ok || n > left()) {
            m_ok = false;
            std::memset(out, 0, size_t(n));
            return false;
        }
        std::memcpy(out, m_bytes.constData() + m_pos, size_t(n));
        m_pos += n;
        return true;
    }
    quint8 u8()
    {
        quint8 v = 0;
        take(&v, 1);
        return v;
    }
    quint16 u16()
    {
        uchar b[2];
        take(b, 2);
        return qFromLittleEndian<quint16>(b);
    }
    quint32 u32()
    {
        uchar b[4];
        take(b, 4);
        return qFromLittleEndian<quint32>(b);
    }
    double f64()
    {
        uchar b[8];
        take(b, 8);
        const double v = qFromLittleEndian<double>(b);
        if (m_ok && !std::isfinite(v)) {
            m_notFiniteAt = m_pos - 8;
            m_ok = false;
            return 0;
        }
        return v;
    }
    void skip(qsizetype n)
    {
        if (!m_ok || n > left())
            m_ok = false;
        else
            m_pos += n;
    }
    // An MFC CString: a byte length, 0xff then a 16-bit length, 0xffff then a 32-bit one.
    QString string()
    {
        quint32 length = u8();
        bool wide = false;
        if (length == 0xff) {
            length = u16();
            if (length == 0xfffe) { // UTF-16 text follows with a length of its own
                wide = true;
                length = u8();
                if (length == 0xff) {
                    length = u16();
                    if (length == 0xffff)
                        length = u32();
                }
            } else if (length == 0xffff) {
                length = u32();
            }
        }
        const qsizetype bytes = qsizetype(length) * (wide ? 2 : 1);
        if (!m_ok || bytes > left()) {
            m_ok = false;
            return QString();
        }
        const QByteArray raw = m_bytes.mid(m_pos, bytes);
        m_pos += bytes;
        if (wide)
            return QString::fromUtf16(reinterpret_cast<const char16_t *>(raw.constData()),
                                      raw.size() / 2);
        if (std::all_of(raw.begin(), raw.end(), [](char c) { return c > 0; }))
            return QString::fromLatin1(raw);
        // Opening a converter costs more than decoding a string; each thread keeps one.
        thread_local QStringDecoder decoder("windows-31j", QStringConverter::Flag::Stateless);
        return decoder.decode(raw);
    }

private:
    const QByteArray &m_bytes;
    qsizetype m_pos = 0;
    bool m_ok = true;
    qsizetype m_notFiniteAt = -1;
};

QString numberedBlock(quint32 number);

// The common head of every shape record.
struct Head
{
    quint32 group = 0;
    quint8 penStyle = 0;
    quint16 penColor = 0;
    quint16 penWidth = 0;
    quint16 layer = 0;
    quint16 layerGroup = 0;
    quint16 flags = 0;
};

// The line colours of the program's default palette, by colour number.
const quint32 palette[10] = {0x000000, 0x00c0c0, 0x000000, 0x00a000, 0xc0c000,
                             0xff00ff, 0x0000ff, 0x000080, 0xff0000, 0x808080};

struct JwLinetype
{
    const char *name;
    double pattern[6];
    int count;
};

const JwLinetype linetypes[10] = {
    {"", {}, 0},
    {"CONTINUOUS", {}, 0},
    {"点線1", {1, -1}, 2},
    {"点線2", {3, -1}, 2},
    {"点線3", {6, -2}, 2},
    {"一点鎖1", {8, -1, 1, -1}, 4},
    {"一点鎖2", {16, -2, 2, -2}, 4},
    {"二点鎖1", {8, -1, 1, -1, 1, -1}, 6},
    {"二点鎖2", {16, -2, 2, -2, 2, -2}, 6},
    {"補助線種", {1, -2}, 2},
};

class Parser
{
public:
    Parser(const QByteArray &bytes, Model &model)
        : m_in(bytes)
        , m_model(model)
    { }

    bool parse(QString *error, int *version);

private:
    bool fail(const QString &reason)
    {
        if (m_error.isEmpty())
            m_error = reason;
        return false;
    }
    // Why the stream failed.
    bool unreadable()
    {
        if (m_in.notFiniteAt() >= 0)
            return fail(
                QStringLiteral("the number at byte %1 is not finite").arg(m_in.notFiniteAt()));
        return fail(QStringLiteral("it ends early (truncated) near byte %1").arg(m_in.pos()));
    }
    bool header();
    bool list(QVector<Entity> *out, int depth);
    bool object(QVector<Entity> *out, int depth);
    bool readHead(Head *head);
    Style style(const Head &head, bool lines);
    bool line(QVector<Entity> *out, bool keep = true, bool skipEmpty = false);
    bool text(QVector<Entity> *out, bool keep = true);
    bool point(QVector<Entity> *out, bool keep = true);
    bool blockDefinition(int depth);
    bool definitions();
    bool resolveBlocks();
    bool sheet();

    Stream m_in;
    Model &m_model;
    QString m_error;
    int m_version = 0;
    bool m_widthHundredths = false;
    quint32 m_paper = 0;
    double m_scales[16] = {}; // each layer group's scale denominator: 100 for 1:100
    int m_timeSize = 4;
    QString m_layerNames[16][16];
    bool m_layerOn[16][16];
    bool m_layerUsed[16][16] = {};
    QHash<int, quint32> m_extraColors; // colour numbers from 100 on
    QHash<int, QPair<QString, QVector<double>>> m_extraTypes; // line types from 30 on
    QVector<QString> m_classes; // the archive's map: class names, empty for objects
    QHash<QString, QString> m_blockNames; // numberedBlock() to model name
    QHash<QString, QVector<QString>> m_blockUses; // numberedBlock() to those it places
};

// Stands for a block definition's number until the definitions are read; U+FFFF is no character.
QString numberedBlock(quint32 number)
{
    return QChar(0xffff) + QString::number(number);
}

bool Parser::readHead(Head *h)
{
    h->group = m_in.u32();
    h->penStyle = m_in.u8();
    h->penColor = m_in.u16();
    if (m_version >= 351)
        h->penWidth = m_in.u16();
    h->layer = m_in.u16();
    h->layerGroup = m_in.u16();
    h->flags = m_in.u16();
    if (!m_in.ok())
        return unreadable();
    if (h->layer > 15 || h->layerGroup > 15)
        return fail(QStringLiteral("a shape names layer %1 of group %2 (0 to 15 each)")
                        .arg(h->layer)
                        .arg(h->layerGroup));
    m_layerUsed[h->layerGroup][h->layer] = true;
    return true;
}

QString layerName(int group, int layer, const QString &name)
{
    const QString code = QStringLiteral("%1-%2").arg(group, 0, 16).arg(layer, 0, 16).toUpper();
    return name.isEmpty() ? code : code + QLatin1Char(' ') + name;
}

Style Parser::style(const Head &h, bool lines)
{
    Style s;
    s.layer = layerName(h.layerGroup, h.layer, m_layerNames[h.layerGroup][h.layer]);
    const int c = h.penColor;
    if (c >= 1 && c <= 9) {
        s.color = Color::fromRgb(palette[c]);
    } else if (c > 100 && c <= 100 + SxfTables::predefinedColors) {
        s.color = Color::fromRgb(SxfTables::colorRgb(c - 100));
    } else if (m_extraColors.contains(c)) {
        const quint32 ref = m_extraColors.value(c); // 0x00BBGGRR
        s.color = Color::fromRgb((ref & 0xff) << 16 | (ref & 0xff00) | (ref >> 16 & 0xff));
    } else {
        s.color = Color::fromRgb(palette[2]);
    }
    if (!lines) {
        s.lineweight = -1;
        return s;
    }
    const int t = h.penStyle;
    QString name;
    QVector<double> pattern;
    if (t >= 1 && t <= 9) {
        name = QString::fromUtf8(linetypes[t].name);
        for (int i = 0; i < linetypes[t].count; ++i)
            pattern.append(linetypes[t].pattern[i]);
    } else if (t > 30 && t <= 30 + SxfTables::predefinedLinetypes) {
        name = SxfTables::linetypeName(t - 30);
        pattern = SxfTables::linetypePattern(t - 30);
    } else if (m_extraTypes.contains(t) && !m_extraTypes.value(t).first.isEmpty()) {
        name = m_extraTypes.value(t).first;
        pattern = m_extraTypes.value(t).second;
    } else {
        name = SxfTables::solidLinetype();
    }
    bool known = false;
    for (const Linetype &lt : m_model.linetypes)
        known = known || lt.name == name;
    if (!known)
        m_model.linetypes.append({name, QString(), pattern});
    s.linetype = name;
    s.lineweight = m_widthHundredths && h.penWidth > 0 ? h.penWidth / 100.0 : -1;
    return s;
}

bool Parser::header()
{
    char signature[8];
    if (!m_in.take(signature, 8) || std::memcmp(signature, "JwwData.", 8) != 0)
        return fail(QStringLiteral("it does not begin with the JWW signature"));
    const quint32 version = m_in.u32();
    if (!m_in.ok())
        return unreadable();
    if (version < 351 || version >= 1000)
        return fail(QStringLiteral("it is of format version %1; versions 3.51 to 8.x are read")
                        .arg(version));
    m_version = int(version);
    m_in.string(); // memo, read again by the caller
    m_paper = m_in.u32();
    m_in.u32(); // writing layer group
    for (int g = 0; g < 16; ++g) {
        const quint32 groupState = m_in.u32();
        m_in.u32(); // writing layer
        m_scales[g] = m_in.f64();
        m_in.u32(); // protection
        for (int l = 0; l < 16; ++l) {
            const quint32 layerState = m_in.u32();
            m_layerOn[g][l] = groupState != 0 && layerState != 0;
            m_in.u32();
        }
    }
    m_in.skip(14 * 4 + 5 * 4 + 4); // reserved, dimension settings, reserved
    const qint32 maxWidth = qint32(m_in.u32());
    m_widthHundredths = maxWidth <= -101;
    m_in.skip(8 * 3 + 4 + 4 + 8 * 5); // print origin, scale and setup, scale marks
    for (auto &group : m_layerNames) {
        for (QString &name : group)
            name = m_in.string();
    }
    for (int g = 0; g < 16; ++g)
        m_in.string(); // layer group names
    m_in.skip(8 * 2 + 4 + 8); // shadow calculation
    m_in.skip(8 * 2); // sky map
    m_in.skip(4 + 8 * 3 + 8 * 3); // 2.5D unit, view and range memory
    m_in.skip(8 * (8 * 3 + 4)); // mark jumps
    m_in.skip(8 * 3 + 4 + 8 * 3 + 4); // text drawing state
    m_in.skip(8 * 10 + 8); // parallel line spacing
    m_in.skip(10 * 8 + 10 * 16); // screen and printer pens
    m_in.skip(8 * 16 + 5 * 20 + 4 * 16); // line type patterns
    m_in.skip(12 * 4 + 4 + 3 * 4 + 5 * 8 + 8 + 2 * 8 + 8 + 2 * 4); // views, last values, solids
    if (m_version >= 420) {
        for (int n = 0; n <= 256; ++n) {
            const quint32 color = m_in.u32();
            m_in.u32();
            if (n > 0)
                m_extraColors.insert(100 + n, color);
        }
        for (int n = 0; n <= 256; ++n) {
            m_in.string();
            m_in.skip(4 + 4 + 8);
        }
        m_in.skip(33 * 16);
        for (int n = 0; n <= 32; ++n) {
            const QString name = m_in.string();
            const quint32 segments = m_in.u32();
            QVector<double> pattern;
            for (int j = 0; j < 10; ++j) {
                const double pitch = m_in.f64();
                if (quint32(j) < std::min<quint32>(segments, 10))
                    pattern.append(j % 2 ? -std::fabs(pitch) : std::fabs(pitch));
            }
            m_extraTypes.insert(30 + n, {name, pattern});
        }
    }
    m_in.skip(10 * 28 + 8 * 3 + 4 * 2 + 8 * 2 + 4 + 8 * 6); // text kinds and placement
    if (!m_in.ok())
        return unreadable();
    return true;
}

bool Parser::line(QVector<Entity> *out, bool keep, bool skipEmpty)
{
    Head h;
    if (!readHead(&h))
        return false;
    Line l;
    l.start = {m_in.f64(), m_in.f64()};
    l.end = {m_in.f64(), m_in.f64()};
    if (!m_in.ok())
        return unreadable();
    if (keep && !(skipEmpty && l.start == l.end))
        out->append({style(h, true), l});
    return true;
}

bool Parser::point(QVector<Entity> *out, bool keep)
{
    Head h;
    if (!readHead(&h))
        return false;
    Marker m {{m_in.f64(), m_in.f64()}};
    const bool temporary = m_in.u32() != 0;
    if (h.penStyle == 100)
        m_in.skip(4 + 8 + 8);
    if (!m_in.ok())
        return unreadable();
    // Temporary points guide drawing on screen and are never printed.
    if (keep && !temporary)
        out->append({style(h, false), m});
    return true;
}

bool Parser::text(QVector<Entity> *out, bool keep)
{
    Head h;
    if (!readHead(&h))
        return false;
    Text t;
    t.position = {m_in.f64(), m_in.f64()};
    m_in.f64();
    m_in.f64(); // end of the string, which follows from the rest
    const quint32 kind = m_in.u32();
    const double width = m_in.f64();
    t.height = m_in.f64();
    m_in.f64(); // spacing
    t.rotation = withinTurn(m_in.f64());
    t.font = m_in.string();
    t.text = m_in.string();
    if (!m_in.ok())
        return unreadable();
    t.widthFactor = t.height > 0 && width > 0 ? width / t.height : 1;
    t.valign = VAlign::Bottom;
    if (kind % 100000 >= 20000)
        t.oblique = 15; // italic
    // "^@BM" strings place pictures shipped beside the drawing; they are not text.
    if (keep && !t.text.startsWith(QLatin1String("^@BM")))
        out->append({style(h, false), t});
    return true;
}

bool Parser::object(QVector<Entity> *out, int depth)
{
    quint32 tag = m_in.u16();
    bool isClass = false, isNew = false;
    quint32 index = 0;
    if (tag == 0x7fff) {
        const quint32 big = m_in.u32();
        isClass = big & 0x80000000u;
        index = big & 0x7fffffffu;
    } else if (tag == 0xffff) {
        isNew = true;
    } else {
        isClass = tag & 0x8000;
        index = tag & 0x7fff;
    }
    if (!m_in.ok())
        return unreadable();
    QString name;
    if (isNew) {
        m_in.u16(); // schema
        const quint16 length = m_in.u16();
        if (length > 64 || length > m_in.left())
            return fail(
                QStringLiteral("a class name near byte %1 is not readable").arg(m_in.pos()));
        QByteArray raw(length, '\0');
        m_in.take(raw.data(), length);
        name = QString::fromLatin1(raw);
        m_classes.append(name);
    } else if (isClass && index >= 1 && index <= quint32(m_classes.size())
               && !m_classes[int(index) - 1].isEmpty()) {
        name = m_classes[int(index) - 1];
    } else {
        return fail(QStringLiteral("a record near byte %1 refers to something it has not defined")
                        .arg(m_in.pos()));
    }
    if (!m_in.ok())
        return unreadable();
    m_classes.append(QString()); // the object takes the next number of the archive's map

    if (name == QLatin1String("CDataSen"))
        return line(out);
    if (name == QLatin1String("CDataTen"))
        return point(out);
    if (name == QLatin1String("CDataMoji"))
        return text(out);
    Head h;
    if (name == QLatin1String("CDataList"))
        return depth == 0 ? blockDefinition(depth)
                          : fail(QStringLiteral("a block definition is nested in another"));
    if (!readHead(&h))
        return false;
    if (name == QLatin1String("CDataEnko")) {
        const Point c {m_in.f64(), m_in.f64()};
        const double radius = m_in.f64(), start = withinTurn(m_in.f64(), 2 * turn);
        const double sweep = std::clamp(m_in.f64(), -2 * turn, 2 * turn);
        const double tilt = withinTurn(m_in.f64(), 2 * turn), flat = m_in.f64();
        const bool full = m_in.u32() != 0;
        if (!m_in.ok())
            return unreadable();
        const Style s = style(h, true);
        if (radius <= 0 || flat <= 0)
            return fail(QStringLiteral("an arc near byte %1 has no size").arg(m_in.pos()));
        const double deg = 180 / pi;
        if (std::fabs(flat - 1) < 1e-12) {
            if (full)
                out->append({s, Circle {c, radius}});
            else
                out->append(
                    {s, Arc {c, radius, (start + tilt) * deg, (start + tilt + sweep) * deg}});
            return true;
        }
        Ellipse e;
        e.center = c;
        double major = radius, ratio = flat, rotation = tilt, shift = 0;
        if (flat > 1) {
            major = radius * flat;
            ratio = 1 / flat;
            rotation += pi / 2;
            shift = -pi / 2;
        }
        e.majorAxis = {major * std::cos(rotation), major * std::sin(rotation)};
        e.ratio = ratio;
        if (!full) {
            e.startParam = start + shift;
            e.endParam = start + sweep + shift;
        }
        out->append({s, e});
        return true;
    }
    if (name == QLatin1String("CDataSolid")) {
        Point p[4];
        p[0] = {m_in.f64(), m_in.f64()};
        p[3] = {m_in.f64(), m_in.f64()};
        p[1] = {m_in.f64(), m_in.f64()};
        p[2] = {m_in.f64(), m_in.f64()};
        quint32 rgb = 0;
        if (h.penColor == 10)
            rgb = m_in.u32();
        if (!m_in.ok())
            return unreadable();
        Style s = style(h, false);
        if (h.penColor == 10)
            s.color = Color::fromRgb((rgb & 0xff) << 16 | (rgb & 0xff00) | (rgb >> 16 & 0xff));
        if (h.penStyle <= 100) {
            Solid solid;
            std::copy(p, p + 4, solid.corners);
            out->append({s, solid});
            return true;
        }
        // Round solids: centre, radius and flatness, tilt and start, sweep and kind.
        const Point c = p[0];
        const double radius = p[3].x, flat = p[3].y;
        const double tilt = withinTurn(p[1].x, 2 * turn), start = withinTurn(p[1].y, 2 * turn);
        double sweep = std::clamp(p[2].x, -2 * turn, 2 * turn);
        const double kind = p[2].y;
        if (radius <= 0 || flat <= 0 || radius > 1e12)
            return fail(QStringLiteral("a round solid near byte %1 has no size").arg(m_in.pos()));
        auto ring = [&](double r, double from, double span) {
            QVector<Vertex> loop;
            const int steps = int(std::clamp(std::fabs(span) / (pi / 36), 4.0, 144.0));
            for (int i = 0; i <= steps; ++i) {
                const double a = from + span * i / steps;
                const double x = r * std::cos(a), y = r * flat * std::sin(a);
                loop.append(Vertex {{c.x + x * std::cos(tilt) - y * std::sin(tilt),
                                     c.y + x * std::sin(tilt) + y * std::cos(tilt)}});
            }
            return loop;
        };
        Hatch hatch;
        hatch.solid = true;
        const bool whole = kind == 100 || h.penStyle == 105 || h.penStyle == 106;
        if (whole)
            sweep = 2 * pi;
        QVector<Vertex> outer = ring(radius, start, sweep);
        if (whole)
            outer.removeLast();
        else if (kind == 0 && h.penStyle == 101)
            outer.append(Vertex {c}); // sector
        hatch.loops.append(outer);
        if (h.penStyle == 105 || h.penStyle == 106) {
            QVector<Vertex> inner = ring(kind, start, 2 * pi);
            inner.removeLast();
            if (kind > 0 && kind < radius)
                hatch.loops.append(inner);
        }
        out->append({s, hatch});
        return true;
    }
    if (name == QLatin1String("CDataBlock")) {
        Insert in;
        in.position = {m_in.f64(), m_in.f64()};
        in.scaleX = m_in.f64();
        in.scaleY = m_in.f64();
        in.rotation = withinTurn(m_in.f64(), turn) * 180 / pi;
        const quint32 number = m_in.u32();
        if (!m_in.ok())
            return unreadable();
        Style s = style(h, false);
        s.color = Color::byLayer();
        // Definitions follow the shapes; the number is named once they are read.
        in.block = numberedBlock(number);
        out->append({s, in});
        return true;
    }
    if (name == QLatin1String("CDataSunpou")) {
        if (!line(out) || !text(out))
            return false;
        if (m_version >= 420) {
            const quint16 sxfMode = m_in.u16();
            if (!line(out, sxfMode != 0, true) || !line(out, sxfMode != 0, true))
                return false;
            for (int i = 0; i < 4; ++i) {
                if (!point(out, false))
                    return false;
            }
        }
        return true;
    }
    return fail(QStringLiteral("it holds a %1 record, which is not read").arg(name));
}

bool Parser::list(QVector<Entity> *out, int depth)
{
    quint32 count = m_in.u16();
    if (count == 0xffff)
        count = m_in.u32();
    if (!m_in.ok())
        return unreadable();
    // Every record takes at least fifteen bytes; a larger count is a lie.
    if (qsizetype(count) > m_in.left() / 15)
        return fail(QStringLiteral("it claims %1 records near byte %2, more than it can hold")
                        .arg(count)
                        .arg(m_in.pos()));
    for (quint32 i = 0; i < count; ++i) {
        if (!object(out, depth))
            return false;
    }
    return true;
}

bool Parser::blockDefinition(int depth)
{
    Head h;
    if (!readHead(&h))
        return false;
    const quint32 number = m_in.u32();
    m_in.u32(); // referenced
    m_in.skip(m_timeSize); // creation time
    QString name = m_in.string();
    Block b;
    if (!m_in.ok())
        return unreadable();
    if (!list(&b.entities, depth + 1))
        return false;
    const int flag = name.indexOf(QLatin1String("@@SfigorgFlag@@"), 0, Qt::CaseInsensitive);
    if (flag >= 0)
        name.truncate(flag);
    if (name.isEmpty())
        name = QStringLiteral("BLOCK%1").arg(number);
    QString unique = name;
    for (int n = 2; m_model.block(unique); ++n)
        unique = QStringLiteral("%1~%2").arg(name).arg(n);
    b.name = unique;
    const QString key = numberedBlock(number);
    if (m_blockNames.contains(key))
        return fail(QStringLiteral("block number %1 is defined twice").arg(number));
    m_blockNames.insert(key, unique);
    for (const Entity &e : b.entities) {
        if (const auto *in = std::get_if<Insert>(&e.shape))
            m_blockUses[key].append(in->block);
    }
    m_model.blocks.append(b);
    return true;
}

// The block definitions: a count, then each definition with its shapes, then (from 7.00) the
// pictures shipped with the drawing. A definition's creation time takes four bytes in files of
// older builds and eight in newer ones; the reading that accounts for every byte is the right one.
bool Parser::definitions()
{
    const qsizetype start = m_in.pos();
    const int classes = int(m_classes.size());
    const QVector<Linetype> linetypes = m_model.linetypes;
    bool used[16][16];
    std::memcpy(used, m_layerUsed, sizeof used);
    QString firstError;
    for (int timeSize : {4, 8}) {
        // A reading that went wrong must leave no layers or line types behind.
        m_in.seek(start);
        m_classes.resize(classes);
        m_model.linetypes = linetypes;
        std::memcpy(m_layerUsed, used, sizeof used);
        m_model.blocks.clear();
        m_blockNames.clear();
        m_blockUses.clear();
        m_error.clear();
        m_timeSize = timeSize;
        quint32 count = m_in.u16();
        if (count == 0xffff)
            count = m_in.u32();
        if (!m_in.ok())
            return unreadable();
        if (qsizetype(count) > m_in.left() / 15)
            return fail(
                QStringLiteral("it claims %1 block definitions, more than it can hold").arg(count));
        bool ok = true;
        for (quint32 i = 0; ok && i < count; ++i) {
            QVector<Entity> none;
            ok = object(&none, 0);
        }
        if (ok && m_version >= 700) {
            const quint32 pictures = m_in.u32();
            ok = m_in.ok() && (pictures > 0 ? pictures < 10000 : m_in.left() == 0);
        } else if (ok) {
            ok = m_in.left() == 0;
        }
        if (ok)
            return true;
        // A real fault in either reading says more than bytes left over.
        if (firstError.isEmpty() && !m_error.isEmpty())
            firstError = m_error;
    }
    if (firstError.isEmpty())
        firstError = QStringLiteral("its block definitions do not end where the file does");
    m_error.clear();
    return fail(firstError);
}

bool Parser::resolveBlocks()
{
    // A block that places itself, directly or through others, would never finish drawing.
    QHash<QString, int> state;
    std::function<bool(const QString &, int)> visit = [&](const QString &key, int depth) {
        if (state.value(key) == 2)
            return true;
        if (state.value(key) == 1 || depth > 64)
            return fail(
                QStringLiteral("block \"%1\" includes itself").arg(m_blockNames.value(key)));
        state.insert(key, 1);
        for (const QString &inner : m_blockUses.value(key)) {
            if (!visit(inner, depth + 1))
                return false;
        }
        state.insert(key, 2);
        return true;
    };
    for (const QString &key : m_blockNames.keys()) {
        if (!visit(key, 0))
            return false;
    }
    auto rename = [&](QVector<Entity> &entities) {
        for (Entity &e : entities) {
            if (auto *in = std::get_if<Insert>(&e.shape)) {
                if (!m_blockNames.contains(in->block))
                    return fail(QStringLiteral("a block reference names definition %1, which "
                                               "the drawing lacks")
                                    .arg(in->block.mid(1)));
                in->block = m_blockNames.value(in->block);
            }
        }
        return true;
    };
    if (!rename(m_model.entities))
        return false;
    for (Block &b : m_model.blocks) {
        if (!rename(b.entities))
            return false;
    }
    return true;
}

// The paper, landscape as the drawing program prints it, by the header's size number; 0 × 0 for
// a number it does not know.
Point paperSize(quint32 code)
{
    static const Point sizes[]
        = {{1189, 841},  {841, 594},   {594, 420},    {420, 297},     {297, 210},
           {0, 0},       {0, 0},       {0, 0},        {1682, 1189},   {2378, 1682},
           {3364, 2378}, {4756, 3364}, {10000, 7071}, {50000, 35355}, {100000, 70711}};
    return code < std::size(sizes) ? sizes[code] : Point {};
}

// A shape of a layer group as the model holds it: JWW keeps shapes as they lie on the paper, the
// model at their real size, `factor` (the group's scale denominator) times larger. Pen widths,
// which are the pens' on paper, stay; texts grow with the rest so that they print the same. False
// when a number grows beyond what a double holds.
bool scaleShape(Entity &e, double factor)
{
    bool finite = true;
    const auto grow = [factor, &finite](double &v) {
        v *= factor;
        finite = finite && std::isfinite(v);
    };
    const auto at = [&grow](Point &p) {
        grow(p.x);
        grow(p.y);
    };
    Shape &shape = e.shape;
    if (auto *l = std::get_if<Line>(&shape)) {
        at(l->start);
        at(l->end);
    } else if (auto *c = std::get_if<Circle>(&shape)) {
        at(c->center);
        grow(c->radius);
    } else if (auto *a = std::get_if<Arc>(&shape)) {
        at(a->center);
        grow(a->radius);
    } else if (auto *el = std::get_if<Ellipse>(&shape)) {
        at(el->center);
        at(el->majorAxis);
    } else if (auto *m = std::get_if<Marker>(&shape)) {
        at(m->position);
    } else if (auto *so = std::get_if<Solid>(&shape)) {
        for (Point &p : so->corners)
            at(p);
    } else if (auto *t = std::get_if<Text>(&shape)) {
        at(t->position);
        at(t->secondPosition);
        grow(t->height);
    } else if (auto *in = std::get_if<Insert>(&shape)) {
        // The definition keeps its paper size; the placement enlarges it with the group.
        at(in->position);
        grow(in->scaleX);
        grow(in->scaleY);
        return finite;
    } else if (auto *h = std::get_if<Hatch>(&shape)) {
        for (QVector<Vertex> &loop : h->loops) {
            for (Vertex &v : loop)
                at(v.point);
        }
    }
    // Dashes are drawn on the paper too.
    e.style.linetypeScale *= factor;
    return finite;
}

// Each layer group's shapes at real size, and the paper they are printed on: one viewport per
// scale in use covers the whole sheet and shows the groups drawn at that scale. JWW's origin is
// the paper's centre, which each viewport shows at the model's origin.
bool Parser::sheet()
{
    for (int g = 0; g < 16; ++g) {
        const bool used
            = std::any_of(m_layerUsed[g], m_layerUsed[g] + 16, [](bool u) { return u; });
        // Drawings are made from 1:100000 to 1000:1; anything beyond is no scale but damage,
        // and would carry coordinates beyond what a double holds.
        if (used && !(m_scales[g] >= 1e-3 && m_scales[g] <= 1e5))
            return fail(QStringLiteral("layer group %1 is drawn at scale 1:%2")
                            .arg(g, 0, 16)
                            .arg(m_scales[g]));
    }
    // The layers model space draws on, named by group and layer number. Layers that only block
    // definitions use are frozen in no viewport: the block shows where its placement does.
    bool placed[16][16] = {};
    for (Entity &e : m_model.entities) {
        const int g = e.style.layer.left(1).toInt(nullptr, 16);
        placed[g][e.style.layer.mid(2, 1).toInt(nullptr, 16)] = true;
        if (m_scales[g] != 1 && !scaleShape(e, m_scales[g]))
            return fail(QStringLiteral("a shape of layer group %1 lies beyond any paper at "
                                       "scale 1:%2")
                            .arg(g, 0, 16)
                            .arg(m_scales[g]));
    }
    const Point paper = paperSize(m_paper);
    if (paper.x <= 0)
        return true;
    Sheet sheet;
    sheet.name = QStringLiteral("JWW");
    sheet.width = sheet.paperWidth = paper.x;
    sheet.height = sheet.paperHeight = paper.y;
    QVector<double> scales;
    for (int g = 0; g < 16; ++g) {
        const bool drawn = std::any_of(placed[g], placed[g] + 16, [](bool p) { return p; });
        if (drawn && !scales.contains(m_scales[g]))
            scales.append(m_scales[g]);
    }
    for (double scale : scales) {
        Viewport v;
        v.center = {paper.x / 2, paper.y / 2};
        v.width = paper.x;
        v.height = paper.y;
        v.scale = 1 / scale;
        for (int g = 0; g < 16; ++g) {
            for (int l = 0; l < 16; ++l) {
                if (placed[g][l] && m_scales[g] != scale)
                    v.frozenLayers.append(layerName(g, l, m_layerNames[g][l]));
            }
        }
        sheet.viewports.append(v);
    }
    m_model.sheets.append(sheet);
    m_model.currentSheet = 0;
    return true;
}

bool Parser::parse(QString *error, int *version)
{
    auto done = [&](bool ok) {
        if (!ok)
            *error = m_error;
        return ok;
    };
    if (!header())
        return done(false);
    *version = m_version;
    if (!list(&m_model.entities, 0))
        return done(false);
    if (!definitions() || !resolveBlocks() || !sheet())
        return done(false);
    for (int g = 0; g < 16; ++g) {
        for (int l = 0; l < 16; ++l) {
            if (!m_layerUsed[g][l])
                continue;
            Layer layer;
            layer.name = layerName(g, l, m_layerNames[g][l]);
            layer.on = m_layerOn[g][l];
            m_model.layers.append(layer);
        }
    }
    return done(true);
}

} // namespace

bool JwwReader::parse(const QByteArray &bytes, Model &model, QString *errorMessage)
{
    m_version = 0;
    m_memo.clear();
    Model result;
    Parser parser(bytes, result);
    QString reason;
    if (!parser.parse(&reason, &m_version)) {
        if (errorMessage)
            *errorMessage = reason;
        return false;
    }
    if (bytes.size() >= 16) {
        Stream memo(bytes);
        memo.skip(12);
        m_memo = memo.string();
    }
    model = std::move(result);
    return true;
}
