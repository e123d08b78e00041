#include "server/dxf/DxfWriter.h"

#include "server/drawing/HatchShapes.h"
#include "server/dxf/DxfColors.h"
#include "server/dxf/DxfLayouts.h"
#include "server/dxf/DxfLimits.h"

#include "server/drawing/CompositeShapes.h"

#include <QSet>
#include <QStringEncoder>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <utility>

using namespace Drawing;

namespace {

constexpr double kPi = 3.14159265358979323846;

// Handles of the fixed objects; everything else is numbered from kFirstHandle on.
enum : quint64 {
    kRootDictionary = 0xC,
    kGroupDictionary = 0xD,
    kFirstHandle = 0x20,
};

// Groups as the version asks: R12 has no handles, subclass markers, line weights or true colours,
// and text before R2007 is in the code page rather than UTF-8.
class Emitter
{
public:
    explicit Emitter(DxfVersion version)
        : m_r12(version == DxfVersion::R12)
        , m_utf8(version >= DxfVersion::R2007)
    {
        m_out.reserve(1 << 16);
    }

    QByteArray &bytes() { return m_out; }
    // A point was written beyond what any DXF reader of ours takes, or a number that is none:
    // computed ones (an ellipse drawn as a polyline, a multiline's offset lines, a pattern's
    // total) may lie farther out than the drawing's own.
    bool outOfRange() const { return m_outOfRange; }

    void raw(int code, QByteArrayView value)
    {
        char buffer[16];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, code);
        m_out.append(buffer, result.ptr - buffer);
        m_out.append('\n');
        m_out.append(value.data(), value.size());
        m_out.append('\n');
    }
    void text(int code, const QString &value) { raw(code, encode(value)); }
    // Groups whose values never change, in the order given.
    void raws(std::initializer_list<std::pair<int, const char *>> groups)
    {
        for (const auto &[code, value] : groups)
            raw(code, value);
    }
    void number(int code, double value)
    {
        // No reader takes "inf" or "nan" for a number, and ours takes no length or position
        // beyond the coordinate limit: a sum that overflowed, or a page or view worked out
        // from a scale near zero, is refused rather than written.
        if (!(std::fabs(value) <= DxfLimits::kMaxCoordinate))
            m_outOfRange = true;
        char buffer[32];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
        raw(code, QByteArrayView(buffer, result.ptr - buffer));
    }
    void integer(int code, qint64 value)
    {
        char buffer[32];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
        raw(code, QByteArrayView(buffer, result.ptr - buffer));
    }
    void handle(int code, quint64 value)
    {
        if (!m_r12)
            raw(code, QByteArray::number(value, 16).toUpper());
    }
    void subclass(const char *name)
    {
        if (!m_r12)
            raw(100, name);
    }
    // Millimetres; negative values are by layer (-1), by block (-2) and the default (-3).
    void lineweight(double weight)
    {
        if (!m_r12)
            integer(370, weight < 0 ? qint64(weight) : qint64(std::lround(weight * 100)));
    }
    // A colour by its index: the one it came with when that names the very colour; 7 for black
    // and white, which a CAD program draws in the colour that stands out from its background, as
    // a drawing means them; otherwise the nearest, with the true colour beside it for the
    // readers that know true colours. A layer that is off has its index negative.
    void color(const Color &color, bool off = false)
    {
        const bool indexed
            = color.index > 0 && color.index < 256 && DxfColors::rgb(color.index) == color.rgb;
        const bool blackOrWhite = color.rgb == 0 || color.rgb == 0xffffff;
        const int index = indexed ? color.index
            : blackOrWhite        ? 7
                                  : DxfColors::nearestIndex(color.rgb);
        integer(62, off ? -index : index);
        if (!indexed && !blackOrWhite && !m_r12)
            integer(420, color.rgb);
    }
    void point(int code, const Point &p)
    {
        if (std::fabs(p.x) > DxfLimits::kMaxCoordinate
            || std::fabs(p.y) > DxfLimits::kMaxCoordinate)
            m_outOfRange = true;
        number(code, p.x);
        number(code + 10, p.y);
        number(code + 20, 0);
    }

    // UTF-8 from R2007 on; before, Shift-JIS where it can and \U+XXXX for the rest. Control
    // characters are always escaped: they would break the line structure.
    QByteArray encode(const QString &value)
    {
        QByteArray result;
        result.reserve(value.size() * 2);
        for (qsizetype i = 0; i < value.size(); ++i) {
            const QChar c = value.at(i);
            const char16_t u = c.unicode();
            if (u >= 0x20 && u < 0x80) {
                result.append(char(u));
                continue;
            }
            if (m_utf8 && u >= 0x80) {
                const bool pair = c.isHighSurrogate() && i + 1 < value.size()
                    && value.at(i + 1).isLowSurrogate();
                if (pair || !c.isSurrogate()) {
                    result.append(QStringView(value).mid(i, pair ? 2 : 1).toUtf8());
                    i += pair ? 1 : 0;
                    continue;
                }
            } else if (u >= 0x80 && !c.isSurrogate()) {
                const QByteArray encoded = m_shiftJis.encode(QStringView(&c, 1));
                if (!m_shiftJis.hasError() && !encoded.isEmpty() && encoded != "?") {
                    result.append(encoded);
                    continue;
                }
                // resetState() leaves an ICU converter's error standing, which would escape
                // every character after this one: a fresh converter forgets it.
                m_shiftJis = QStringEncoder("windows-31j", QStringEncoder::Flag::Stateless);
            }
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\U+%04X", unsigned(u));
            result.append(escape, 7);
        }
        return result;
    }

private:
    bool m_r12;
    bool m_utf8;
    bool m_outOfRange = false;
    QByteArray m_out;
    QStringEncoder m_shiftJis {"windows-31j", QStringEncoder::Flag::Stateless};
};

QString escapedSpecials(const QString &text)
{
    // "%%" starts a special code; a percent sign that a second one follows is written "%%%".
    if (!text.contains(QLatin1String("%%")))
        return text;
    QString result;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('%') && i + 1 < text.size()
            && text.at(i + 1) == QLatin1Char('%'))
            result.append(QLatin1String("%%%"));
        else
            result.append(text.at(i));
    }
    return result;
}

// The codes that switch the decorations from `from` to `to`: %%u, %%o and %%k toggle them in
// single-line text, \L and \l (\O \o, \K \k) switch them on and off in multi-line text.
QString decorationCodes(char from, char to, bool multiline)
{
    QString codes;
    const char *const names[] = {"uLl", "oOo", "kKk"};
    for (int bit = 0; bit < 3; ++bit) {
        const char mask = char(1 << bit);
        if ((from & mask) == (to & mask))
            continue;
        if (!multiline)
            codes += QLatin1String("%%") + QLatin1Char(names[bit][0]);
        else
            codes += QString(QLatin1Char('\\')) + QLatin1Char(names[bit][(to & mask) ? 1 : 2]);
    }
    return codes;
}

// Single-line text with its decorations; a percent sign beside a code is written as its
// number, so that it never joins the code.
QString textCodes(const Text &t)
{
    if (t.decorations.size() != t.text.size())
        return escapedSpecials(t.text);
    QString result;
    char flags = 0;
    for (qsizetype i = 0; i < t.text.size(); ++i) {
        result += decorationCodes(flags, t.decorations[i], false);
        flags = t.decorations[i];
        result
            += t.text.at(i) == QLatin1Char('%') ? QStringLiteral("%%037") : QString(t.text.at(i));
    }
    return result;
}

QString mtextCodes(const Text &t)
{
    const QString &text = t.text;
    const bool decorated = t.decorations.size() == text.size();
    QString result;
    result.reserve(text.size() + 8);
    char flags = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (decorated) {
            result += decorationCodes(flags, t.decorations[i], true);
            flags = t.decorations[i];
        }
        if (c == QLatin1Char('\\') || c == QLatin1Char('{') || c == QLatin1Char('}'))
            result.append(QLatin1Char('\\')).append(c);
        else if (c == QLatin1Char('\n'))
            result.append(QLatin1String("\\P"));
        else
            result.append(c);
    }
    return result;
}

// A full ellipse (or its arc) as the polyline R12 draws instead: 96 chords a turn stay within
// half a thousandth of the major radius.
Polyline flattened(const Ellipse &ellipse)
{
    // By remainder, as the renderer takes the sweep: adding turns to a sweep of any size may
    // never make it positive.
    double sweep = ellipse.endParam - ellipse.startParam;
    if (sweep <= 0)
        sweep = std::fmod(sweep, 2 * kPi) + 2 * kPi;
    if (!(sweep <= 2 * kPi))
        sweep = 2 * kPi;
    Polyline polyline;
    polyline.closed = sweep > 2 * kPi - 1e-9;
    const int steps = std::max(4, int(std::ceil(sweep / (2 * kPi) * 96)));
    const Point &a = ellipse.majorAxis;
    const Point b {-a.y * ellipse.ratio, a.x * ellipse.ratio};
    for (int i = 0; i <= steps - (polyline.closed ? 1 : 0); ++i) {
        const double t = ellipse.startParam + sweep * i / steps;
        const double c = std::cos(t), s = std::sin(t);
        polyline.vertices.append(
            Vertex {{ellipse.center.x + a.x * c + b.x * s, ellipse.center.y + a.y * c + b.y * s}});
    }
    return polyline;
}

class Writer
{
public:
    Writer(const Model &model, const SaveInfo &info, DxfVersion version)
        : m_model(model)
        , m_info(info)
        , m_version(version)
        , m_e(version)
    { }

    QByteArray run();
    bool outOfRange() const { return m_e.outOfRange(); }

private:
    bool r12() const { return m_version == DxfVersion::R12; }
    quint64 next() { return m_handle++; }
    QByteArray header() const;
    void tables();
    quint64 table(const char *name, int count);
    quint64 tableRecord(const char *type, const char *subclass, quint64 table, int handleCode = 5);
    void blocks();
    void entities(const QVector<Entity> &list, quint64 owner);
    void entity(const Entity &entity, quint64 owner);
    void common(const char *type, const Style &style, quint64 handle, quint64 owner);
    void point(const Point &position, const Style &style, quint64 owner);
    void solid(const Solid &solid, const Style &style, quint64 owner);
    void polyline(const Polyline &polyline, const Style &style, quint64 owner);
    void ellipse(const Ellipse &ellipse, const Style &style, quint64 owner);
    void text(const Text &text, const Style &style, quint64 owner, bool attribute, int number);
    void multilineText(const Text &text, const Style &style, quint64 owner);
    void hatch(const Hatch &hatch, const Style &style, quint64 owner);
    void leader(const Leader &leader, const Style &style, quint64 owner);
    void multiline(const Multiline &m, const Style &style, quint64 owner);
    void multilineStyles();
    void dictionary(quint64 handle, quint64 owner);
    static int colorIndex(const Color &color);
    void collectNames(const QVector<Entity> &list);
    void paperSpace(const Sheet &sheet, quint64 record, qsizetype index);
    quint64 viewport(const Viewport &viewport, int id, quint64 owner, quint64 clip);
    void layouts();
    void layout(const QString &name, qsizetype index);
    QString paperSpaceName(qsizetype index) const;

    const Model &m_model;
    const SaveInfo &m_info;
    const DxfVersion m_version;
    Emitter m_e;
    HatchShapes m_hatchShapes; // what R12 draws for hatches, within one budget for the drawing
    quint64 m_handle = kFirstHandle;
    quint64 m_modelSpace = 0;
    quint64 m_paperSpace = 0;
    // The sheets' layouts: the current sheet's (or else the first's) is *Paper_Space, whose
    // entities sit in ENTITIES, the others' are blocks of their own.
    qsizetype m_activeSheet = -1;
    bool m_paper = false; // entities written now belong to paper space
    quint64 m_layoutDictionary = 0;
    quint64 m_modelLayout = 0;
    QVector<quint64> m_layouts; // per sheet
    QVector<quint64> m_sheetRecords;
    QVector<quint64> m_overallViewports;
    QHash<QString, quint64> m_layerHandles; // case-folded name
    QHash<QString, quint64> m_blockRecords; // block name to its record's handle
    QStringList m_layerNames; // every layer written, the model's first
    QStringList m_linetypeNames;
    QStringList m_styleNames;
    // Multiline styles by name, each as its first multiline gives it, with its object's handle.
    QVector<const Multiline *> m_multilineStyles;
    QHash<QString, quint64> m_multilineStyleHandles; // case-folded name
    quint64 m_multilineStyleDictionary = 0;
};

void Writer::collectNames(const QVector<Entity> &list)
{
    QSet<QString> layers;
    for (const QString &name : std::as_const(m_layerNames))
        layers.insert(name.toCaseFolded());
    QSet<QString> linetypes;
    for (const QString &name : std::as_const(m_linetypeNames))
        linetypes.insert(name.toCaseFolded());
    QSet<QString> styles;
    for (const QString &name : std::as_const(m_styleNames))
        styles.insert(name.toCaseFolded());
    const auto add = [](QStringList &names, QSet<QString> &seen, const QString &name) {
        if (!name.isEmpty() && !seen.contains(name.toCaseFolded())) {
            seen.insert(name.toCaseFolded());
            names.append(name);
        }
    };
    for (const Entity &entity : list) {
        add(m_layerNames, layers, entity.style.layer);
        add(m_linetypeNames, linetypes, entity.style.linetype);
        if (const auto *t = std::get_if<Text>(&entity.shape))
            add(m_styleNames, styles, t->font);
        if (const auto *m = std::get_if<Multiline>(&entity.shape)) {
            for (const MultilineElement &element : m->elements)
                add(m_linetypeNames, linetypes, element.linetype);
            if (!m_multilineStyleHandles.contains(m->style.toCaseFolded())) {
                m_multilineStyleHandles.insert(m->style.toCaseFolded(), 0);
                m_multilineStyles.append(m);
            }
        }
        if (const auto *leader = std::get_if<MultiLeader>(&entity.shape)) {
            for (const Text &text : leader->text)
                add(m_styleNames, styles, text.font);
        }
    }
}

QByteArray Writer::run()
{
    m_styleNames.append(QStringLiteral("Standard"));
    m_linetypeNames
        = {QStringLiteral("ByBlock"), QStringLiteral("ByLayer"), QStringLiteral("Continuous")};
    for (const Linetype &linetype : m_model.linetypes)
        m_linetypeNames.append(linetype.name);
    m_layerNames.append(QStringLiteral("0"));
    for (const Layer &layer : m_model.layers) {
        if (layer.name != QLatin1String("0"))
            m_layerNames.append(layer.name);
    }
    for (const Layer &layer : m_model.layers) {
        if (!m_linetypeNames.contains(layer.linetype, Qt::CaseInsensitive))
            m_linetypeNames.append(layer.linetype);
    }
    collectNames(m_model.entities);
    for (const Block &block : m_model.blocks)
        collectNames(block.entities);
    for (const Sheet &sheet : m_model.sheets) {
        collectNames(sheet.entities);
        for (const Viewport &viewport : sheet.viewports) {
            for (const QString &layer : viewport.frozenLayers) {
                if (!m_layerNames.contains(layer, Qt::CaseInsensitive))
                    m_layerNames.append(layer);
            }
        }
    }
    if (!m_model.sheets.isEmpty()) {
        const bool current
            = m_model.currentSheet >= 0 && m_model.currentSheet < m_model.sheets.size();
        m_activeSheet = current ? m_model.currentSheet : 0;
    }
    // R12 holds one paper space and no layouts.
    if (!r12() && m_activeSheet >= 0) {
        m_layoutDictionary = next();
        m_modelLayout = next();
        for (qsizetype i = 0; i < m_model.sheets.size(); ++i)
            m_layouts.append(next());
        m_overallViewports.fill(0, m_model.sheets.size());
    }

    // R12 has no objects to keep multiline styles in: its multilines are written as their lines.
    if (r12())
        m_multilineStyles.clear();
    if (!m_multilineStyles.isEmpty())
        m_multilineStyleDictionary = next();
    for (const Multiline *m : std::as_const(m_multilineStyles))
        m_multilineStyleHandles.insert(m->style.toCaseFolded(), next());

    // The body first: the header has to name the next free handle. R12 has neither classes nor
    // objects.
    if (!r12()) {
        m_e.raw(0, "SECTION");
        m_e.raw(2, "CLASSES");
        m_e.raw(0, "ENDSEC");
    }
    tables();
    blocks();
    m_e.raw(0, "SECTION");
    m_e.raw(2, "ENTITIES");
    entities(m_model.entities, m_modelSpace);
    if (m_activeSheet >= 0)
        paperSpace(m_model.sheets[m_activeSheet], m_paperSpace, m_activeSheet);
    m_e.raw(0, "ENDSEC");
    if (!r12()) {
        m_e.raw(0, "SECTION");
        m_e.raw(2, "OBJECTS");
        dictionary(kRootDictionary, 0);
        m_e.raw(3, "ACAD_GROUP");
        m_e.handle(350, kGroupDictionary);
        if (m_layoutDictionary) {
            m_e.raw(3, "ACAD_LAYOUT");
            m_e.handle(350, m_layoutDictionary);
        }
        if (m_multilineStyleDictionary) {
            m_e.raw(3, "ACAD_MLINESTYLE");
            m_e.handle(350, m_multilineStyleDictionary);
        }
        dictionary(kGroupDictionary, kRootDictionary);
        multilineStyles();
        layouts();
        m_e.raw(0, "ENDSEC");
    }
    m_e.raw(0, "EOF");
    return header() + m_e.bytes();
}

QByteArray Writer::header() const
{
    Emitter header(m_version);
    header.raw(0, "SECTION");
    header.raw(2, "HEADER");
    header.raw(9, "$ACADVER");
    header.raw(1, DxfVersions::acadVer(m_version));
    // The maintenance versions CAD programs of each release write; R2018's alone is a long.
    static const char *const maintenance[] = {nullptr, "6", "0", "25", "6", "105", "4"};
    if (!r12()) {
        header.raw(9, "$ACADMAINTVER");
        header.raw(m_version == DxfVersion::R2018 ? 90 : 70, maintenance[int(m_version)]);
    }
    // From R2007 on the code page no longer decides how text reads; ANSI_1252 is what
    // programs write there.
    header.raw(9, "$DWGCODEPAGE");
    header.raw(3, m_version >= DxfVersion::R2007 ? "ANSI_1252" : "ANSI_932");
    header.raw(9, "$INSBASE");
    header.point(10, {});
    header.raw(9, "$LTSCALE");
    header.number(40, m_model.linetypeScale);
    header.raw(9, "$TILEMODE");
    const bool current = m_model.currentSheet >= 0 && m_model.currentSheet < m_model.sheets.size();
    header.raw(70, current ? "0" : "1");
    if (m_activeSheet >= 0) {
        // R12's one paper space is printed on its limits, which give other programs the paper.
        const Sheet &sheet = m_model.sheets[m_activeSheet];
        const double scale = sheet.scale > 0 ? sheet.scale : 1;
        header.raw(9, "$PLIMMIN");
        header.number(10, -sheet.offset.x / scale);
        header.number(20, -sheet.offset.y / scale);
        header.raw(9, "$PLIMMAX");
        header.number(10, (sheet.width - sheet.offset.x) / scale);
        header.number(20, (sheet.height - sheet.offset.y) / scale);
    }
    if (r12()) {
        // Units, handles and the author data came after R12; its readers take what they find.
        header.raw(0, "ENDSEC");
        return header.bytes();
    }
    header.raw(9, "$INSUNITS");
    header.raw(70, "4");
    header.raw(9, "$MEASUREMENT");
    header.raw(70, "1");
    header.raw(9, "$HANDSEED");
    header.handle(5, m_handle);
    if (!m_info.authorName.isEmpty()) {
        header.raw(9, "$LASTSAVEDBY");
        header.text(1, m_info.authorName);
    }
    if (!m_info.affiliation.isEmpty()) {
        header.raw(9, "$CUSTOMPROPERTYTAG");
        header.raw(1, "Affiliation");
        header.raw(9, "$CUSTOMPROPERTY");
        header.text(1, m_info.affiliation);
    }
    header.raw(0, "ENDSEC");
    return header.bytes();
}

// Opens a table; its records name the handle returned as their owner.
quint64 Writer::table(const char *name, int count)
{
    const quint64 handle = next();
    m_e.raw(0, "TABLE");
    m_e.raw(2, name);
    m_e.handle(5, handle);
    m_e.handle(330, 0);
    m_e.subclass("AcDbSymbolTable");
    m_e.integer(70, count);
    return handle;
}

// The head every record of a table starts with; DIMSTYLE alone gives its handle the code 105.
quint64 Writer::tableRecord(const char *type, const char *subclass, quint64 table, int handleCode)
{
    const quint64 handle = next();
    m_e.raw(0, type);
    m_e.handle(handleCode, handle);
    m_e.handle(330, table);
    m_e.subclass("AcDbSymbolTableRecord");
    m_e.subclass(subclass);
    return handle;
}

void Writer::tables()
{
    m_e.raw(0, "SECTION");
    m_e.raw(2, "TABLES");

    quint64 table = this->table("VPORT", 1);
    tableRecord("VPORT", "AcDbViewportTableRecord", table);
    m_e.raw(2, "*Active");
    m_e.raw(70, "0");
    m_e.raw(10, "0");
    m_e.raw(20, "0");
    m_e.raw(11, "1");
    m_e.raw(21, "1");
    m_e.raw(12, "0");
    m_e.raw(22, "0");
    m_e.raw(40, "100");
    m_e.raw(41, "1.5");
    m_e.raw(0, "ENDTAB");

    table = this->table("LTYPE", int(m_linetypeNames.size()));
    QHash<QString, const Linetype *> linetypes;
    for (const Linetype &linetype : m_model.linetypes)
        linetypes.insert(linetype.name, &linetype);
    for (const QString &name : std::as_const(m_linetypeNames)) {
        const Linetype *linetype = linetypes.value(name);
        tableRecord("LTYPE", "AcDbLinetypeTableRecord", table);
        m_e.text(2, name);
        m_e.raw(70, "0");
        m_e.text(3, linetype ? linetype->description : QString());
        m_e.raw(72, "65");
        const QVector<double> pattern = linetype ? linetype->pattern : QVector<double>();
        m_e.integer(73, pattern.size());
        double total = 0;
        for (double dash : pattern)
            total += std::fabs(dash);
        m_e.number(40, total);
        for (double dash : pattern) {
            m_e.number(49, dash);
            if (!r12()) // the kind of element, which complex line types brought
                m_e.raw(74, "0");
        }
    }
    m_e.raw(0, "ENDTAB");

    table = this->table("LAYER", int(m_layerNames.size()));
    QHash<QString, const Layer *> layers;
    for (const Layer &layer : m_model.layers)
        layers.insert(layer.name, &layer);
    for (const QString &name : std::as_const(m_layerNames)) {
        Layer layer;
        layer.name = name;
        if (const Layer *known = layers.value(name))
            layer = *known;
        m_layerHandles.insert(layer.name.toCaseFolded(),
                              tableRecord("LAYER", "AcDbLayerTableRecord", table));
        m_e.text(2, layer.name);
        m_e.integer(70, layer.frozen ? 1 : 0);
        m_e.color(layer.color.kind == Color::Kind::Rgb ? layer.color : Color::fromRgb(0xffffff, 7),
                  !layer.on);
        m_e.text(6, layer.linetype.isEmpty() ? QStringLiteral("Continuous") : layer.linetype);
        m_e.lineweight(layer.lineweight);
        if (!layer.plot && !r12()) // the plot flag came with R2000
            m_e.raw(290, "0");
    }
    m_e.raw(0, "ENDTAB");

    table = this->table("STYLE", int(m_styleNames.size()));
    for (const QString &name : std::as_const(m_styleNames)) {
        tableRecord("STYLE", "AcDbTextStyleTableRecord", table);
        m_e.text(2, name);
        m_e.raw(70, "0");
        m_e.raw(40, "0");
        m_e.raw(41, "1");
        m_e.raw(50, "0");
        m_e.raw(71, "0");
        m_e.raw(42, "2.5");
        m_e.raw(3, "txt");
        m_e.raw(4, "");
    }
    m_e.raw(0, "ENDTAB");

    this->table("VIEW", 0);
    m_e.raw(0, "ENDTAB");
    this->table("UCS", 0);
    m_e.raw(0, "ENDTAB");

    table = this->table("APPID", 1);
    tableRecord("APPID", "AcDbRegAppTableRecord", table);
    m_e.raw(2, "ACAD");
    m_e.raw(70, "0");
    m_e.raw(0, "ENDTAB");

    table = this->table("DIMSTYLE", 1);
    m_e.subclass("AcDbDimStyleTable");
    tableRecord("DIMSTYLE", "AcDbDimStyleTableRecord", table, 105);
    m_e.raw(2, "Standard");
    m_e.raw(70, "0");
    m_e.raw(0, "ENDTAB");

    if (!r12()) { // R12 knows blocks by name alone
        const int papers = int(std::max<qsizetype>(m_model.sheets.size(), 1));
        table = this->table("BLOCK_RECORD", int(m_model.blocks.size()) + 1 + papers);
        const auto record = [&](const QString &name, quint64 layout = 0) {
            const quint64 handle = tableRecord("BLOCK_RECORD", "AcDbBlockTableRecord", table);
            m_e.text(2, name);
            if (layout)
                m_e.handle(340, layout);
            return handle;
        };
        m_modelSpace = record(QStringLiteral("*Model_Space"), m_modelLayout);
        m_paperSpace = record(QStringLiteral("*Paper_Space"),
                              m_activeSheet >= 0 ? m_layouts[m_activeSheet] : 0);
        for (qsizetype i = 0; i < m_layouts.size(); ++i)
            m_sheetRecords.append(i == m_activeSheet ? m_paperSpace
                                                     : record(paperSpaceName(i), m_layouts[i]));
        for (const Block &block : m_model.blocks)
            m_blockRecords.insert(block.name, record(block.name));
        m_e.raw(0, "ENDTAB");
    }
    m_e.raw(0, "ENDSEC");
}

void Writer::blocks()
{
    m_e.raw(0, "SECTION");
    m_e.raw(2, "BLOCKS");
    const auto block = [&](const QString &name, quint64 record, const Point &base,
                           const QVector<Entity> *list, bool paper, qsizetype sheet = -1) {
        m_e.raw(0, "BLOCK");
        m_e.handle(5, next());
        m_e.handle(330, record);
        m_e.subclass("AcDbEntity");
        if (paper)
            m_e.raw(67, "1");
        m_e.raw(8, "0");
        m_e.subclass("AcDbBlockBegin");
        m_e.text(2, name);
        m_e.raw(70, list && name.startsWith(QLatin1Char('*')) ? "1" : "0"); // anonymous
        m_e.point(10, base);
        m_e.text(3, name);
        m_e.raw(1, "");
        if (list)
            entities(*list, record);
        if (sheet >= 0)
            paperSpace(m_model.sheets[sheet], record, sheet);
        m_e.raw(0, "ENDBLK");
        m_e.handle(5, next());
        m_e.handle(330, record);
        m_e.subclass("AcDbEntity");
        if (paper)
            m_e.raw(67, "1");
        m_e.raw(8, "0");
        m_e.subclass("AcDbBlockEnd");
    };
    // R12 has no layouts: model and paper space are no blocks there.
    if (!r12()) {
        block(QStringLiteral("*Model_Space"), m_modelSpace, {}, nullptr, false);
        block(QStringLiteral("*Paper_Space"), m_paperSpace, {}, nullptr, true);
        for (qsizetype i = 0; i < m_sheetRecords.size(); ++i) {
            if (i != m_activeSheet)
                block(paperSpaceName(i), m_sheetRecords[i], {}, nullptr, true, i);
        }
    }
    for (const Block &b : m_model.blocks)
        block(b.name, m_blockRecords.value(b.name), b.base, &b.entities, false);
    m_e.raw(0, "ENDSEC");
}

QString Writer::paperSpaceName(qsizetype index) const
{
    if (index == m_activeSheet)
        return QStringLiteral("*Paper_Space");
    return QStringLiteral("*Paper_Space%1").arg(index < m_activeSheet ? index : index - 1);
}

// A sheet's entities and viewports, after the overall viewport CAD programs expect first in
// every layout. A clip boundary is the sheet's own polyline of the same points where it has one.
void Writer::paperSpace(const Sheet &sheet, quint64 record, qsizetype index)
{
    m_paper = true;
    const double scale = sheet.scale > 0 ? sheet.scale : 1;
    Viewport overall;
    overall.width = sheet.width > 0 ? sheet.width / scale : 1;
    overall.height = sheet.height > 0 ? sheet.height / scale : 1;
    overall.center
        = {(sheet.width / 2 - sheet.offset.x) / scale, (sheet.height / 2 - sheet.offset.y) / scale};
    overall.viewCenter = overall.center;
    const quint64 overallHandle = viewport(overall, 1, record, 0);
    if (index < m_overallViewports.size())
        m_overallViewports[index] = overallHandle;
    // Polylines by their points, so that finding each boundary stays cheap.
    const auto key = [](const auto &points, auto point) {
        size_t seed = 0;
        for (const auto &p : points)
            seed = qHashMulti(seed, point(p).x, point(p).y);
        return seed;
    };
    const auto vertexPoint = [](const Vertex &v) {
        return v.point;
    };
    const auto samePoint = [](const Point &p) {
        return p;
    };
    QMultiHash<size_t, QPair<qsizetype, quint64>> polylines;
    for (qsizetype i = 0; i < sheet.entities.size(); ++i) {
        const quint64 handle = m_handle;
        entity(sheet.entities[i], record);
        const auto *polyline = std::get_if<Polyline>(&sheet.entities[i].shape);
        if (polyline && polyline->vertices.size() >= 3 && !r12())
            polylines.insert(key(polyline->vertices, vertexPoint), {i, handle});
    }
    int id = 1;
    for (const Viewport &viewport : sheet.viewports) {
        quint64 clip = 0;
        if (viewport.clip.size() >= 3 && !r12()) {
            const size_t wanted = key(viewport.clip, samePoint);
            for (auto it = polylines.find(wanted); it != polylines.end() && it.key() == wanted;
                 ++it) {
                const auto &vertices
                    = std::get<Polyline>(sheet.entities[it.value().first].shape).vertices;
                bool same = vertices.size() == viewport.clip.size();
                for (qsizetype v = 0; same && v < vertices.size(); ++v)
                    same = vertices[v].point.x == viewport.clip[v].x
                        && vertices[v].point.y == viewport.clip[v].y;
                if (same) {
                    clip = it.value().second;
                    polylines.erase(it);
                    break;
                }
            }
            if (!clip) {
                Polyline boundary;
                boundary.closed = true;
                for (const Point &p : viewport.clip)
                    boundary.vertices.append(Vertex {p});
                clip = m_handle;
                polyline(boundary, Style(), record);
            }
        }
        this->viewport(viewport, ++id, record, clip);
    }
    m_paper = false;
}

quint64 Writer::viewport(const Viewport &v, int id, quint64 owner, quint64 clip)
{
    const quint64 handle = next();
    common("VIEWPORT", Style(), handle, owner);
    m_e.subclass("AcDbViewport");
    m_e.point(10, v.center);
    m_e.number(40, v.width);
    m_e.number(41, v.height);
    m_e.raw(68, "1");
    m_e.integer(69, id);
    // Within the largest coordinate readers take, or the drawing would not read again.
    const double viewHeight = std::min(v.scale > 0 ? v.height / v.scale : v.height, 1e12);
    if (r12()) { // the view is extended data there: target, direction, twist, height, centre
        m_e.raws({{1001, "ACAD"},
                  {1000, "MVIEW"},
                  {1002, "{"},
                  {1070, "16"},
                  {1010, "0"},
                  {1020, "0"},
                  {1030, "0"},
                  {1010, "0"},
                  {1020, "0"},
                  {1030, "1"}});
        m_e.number(1040, v.twist);
        m_e.number(1040, viewHeight);
        m_e.number(1040, v.viewCenter.x);
        m_e.number(1040, v.viewCenter.y);
        // lens, clip planes, modes, snap and grid, then the frozen layers
        m_e.raws({{1040, "50"}, {1040, "0"},  {1040, "0"},  {1070, "0"}, {1070, "100"},
                  {1070, "1"},  {1070, "3"},  {1070, "0"},  {1070, "0"}, {1070, "0"},
                  {1070, "0"},  {1040, "0"},  {1040, "0"},  {1040, "0"}, {1040, "10"},
                  {1040, "10"}, {1040, "10"}, {1040, "10"}, {1070, "0"}, {1002, "{"}});
        for (const QString &layer : v.frozenLayers)
            m_e.text(1003, layer);
        m_e.raws({{1002, "}"}, {1002, "}"}});
        return handle;
    }
    m_e.number(12, v.viewCenter.x);
    m_e.number(22, v.viewCenter.y);
    // snap, grid, looking down on the drawing, lens and clip planes
    m_e.raws({{13, "0"},
              {23, "0"},
              {14, "10"},
              {24, "10"},
              {15, "10"},
              {25, "10"},
              {16, "0"},
              {26, "0"},
              {36, "1"},
              {17, "0"},
              {27, "0"},
              {37, "0"},
              {42, "50"},
              {43, "0"},
              {44, "0"}});
    m_e.number(45, viewHeight);
    m_e.raw(50, "0");
    m_e.number(51, v.twist);
    m_e.raw(72, "100");
    for (const QString &layer : v.frozenLayers)
        m_e.handle(331, m_layerHandles.value(layer.toCaseFolded()));
    m_e.integer(90, 0x8000 | (clip ? 0x10000 : 0)); // always set, and the clip's switch
    if (clip)
        m_e.handle(340, clip);
    // plot style, render mode, its own coordinate system (the world's)
    m_e.raws({{1, ""},
              {281, "0"},
              {71, "1"},
              {74, "0"},
              {110, "0"},
              {120, "0"},
              {130, "0"},
              {111, "1"},
              {121, "0"},
              {131, "0"},
              {112, "0"},
              {122, "1"},
              {132, "0"},
              {79, "0"},
              {146, "0"}});
    return handle;
}

void Writer::dictionary(quint64 handle, quint64 owner)
{
    m_e.raw(0, "DICTIONARY");
    m_e.handle(5, handle);
    m_e.handle(330, owner);
    m_e.raw(100, "AcDbDictionary");
    m_e.raw(281, "1"); // owns what it names
}

// The layouts dictionary and a LAYOUT each for model space and every sheet.
void Writer::layouts()
{
    if (!m_layoutDictionary)
        return;
    dictionary(m_layoutDictionary, kRootDictionary);
    // Names are the dictionary's keys: one that is empty or taken is made unique.
    QSet<QString> taken {QStringLiteral("model")};
    QStringList names;
    int made = 0;
    for (qsizetype i = 0; i < m_model.sheets.size(); ++i) {
        QString name = m_model.sheets[i].name;
        while (name.isEmpty() || taken.contains(name.toCaseFolded()))
            name = QStringLiteral("Layout%1").arg(++made);
        taken.insert(name.toCaseFolded());
        names.append(name);
    }
    m_e.raw(3, "Model");
    m_e.handle(350, m_modelLayout);
    for (qsizetype i = 0; i < names.size(); ++i) {
        m_e.text(3, names[i]);
        m_e.handle(350, m_layouts[i]);
    }
    layout(QStringLiteral("Model"), -1);
    for (qsizetype i = 0; i < names.size(); ++i)
        layout(names[i], i);
}

// Plot settings that print the sheet as it is: its paper, margins, rotation and scale when the
// sheet is its paper turned, else its page as the layout's limits.
void Writer::layout(const QString &name, qsizetype index)
{
    Sheet model;
    model.paperWidth = model.width = 420;
    model.paperHeight = model.height = 297;
    const Sheet &sheet = index >= 0 ? m_model.sheets[index] : model;
    const bool paper = DxfLayouts::isPaperPage(sheet);
    double margins[4];
    DxfLayouts::turnedMargins(sheet, margins);
    const double scale = sheet.scale > 0 ? sheet.scale : 1;
    m_e.raw(0, "LAYOUT");
    m_e.handle(5, index >= 0 ? m_layouts[index] : m_modelLayout);
    m_e.handle(330, m_layoutDictionary);
    m_e.raw(100, "AcDbPlotSettings");
    m_e.raw(1, "");
    m_e.raw(2, "none_device");
    m_e.text(4, QStringLiteral("USER_(%1_x_%2_MM)").arg(sheet.paperWidth).arg(sheet.paperHeight));
    m_e.raw(6, "");
    for (int i = 0; i < 4; ++i)
        m_e.number(40 + i, sheet.margins[i]);
    m_e.number(44, sheet.paperWidth);
    m_e.number(45, sheet.paperHeight);
    m_e.number(46, paper ? sheet.offset.x - margins[0] : 0);
    m_e.number(47, paper ? sheet.offset.y - margins[1] : 0);
    m_e.raws({{48, "0"}, {49, "0"}, {140, "0"}, {141, "0"}}); // no window
    m_e.number(142, scale);
    m_e.raw(143, "1");
    m_e.raw(70, index >= 0 ? "640" : "1664"); // viewports first, line weights; model
    m_e.raw(72, "1");
    m_e.integer(73, sheet.rotation);
    m_e.raw(74, paper ? "5" : "2");
    m_e.raws({{7, ""},
              {75, "16"},
              {76, "0"},
              {77, "2"},
              {78, "300"},
              {147, "1"},
              {148, "0"},
              {149, "0"},
              {100, "AcDbLayout"}});
    m_e.text(1, name);
    m_e.raw(70, "1");
    m_e.integer(71, index >= 0 ? sheet.tabOrder : 0);
    m_e.number(10, -sheet.offset.x / scale);
    m_e.number(20, -sheet.offset.y / scale);
    m_e.number(11, (sheet.width - sheet.offset.x) / scale);
    m_e.number(21, (sheet.height - sheet.offset.y) / scale);
    // base point, no extents, the world's coordinate system
    m_e.raws({{12, "0"},     {22, "0"},      {32, "0"},      {14, "1e+20"},  {24, "1e+20"},
              {34, "1e+20"}, {15, "-1e+20"}, {25, "-1e+20"}, {35, "-1e+20"}, {146, "0"},
              {13, "0"},     {23, "0"},      {33, "0"},      {16, "1"},      {26, "0"},
              {36, "0"},     {17, "0"},      {27, "1"},      {37, "0"},      {76, "0"}});
    m_e.handle(330, index >= 0 ? m_sheetRecords[index] : m_modelSpace);
    if (index >= 0 && m_overallViewports[index])
        m_e.handle(331, m_overallViewports[index]);
}

void Writer::multilineStyles()
{
    if (!m_multilineStyleDictionary)
        return;
    dictionary(m_multilineStyleDictionary, kRootDictionary);
    for (const Multiline *m : std::as_const(m_multilineStyles)) {
        m_e.text(3, m->style);
        m_e.handle(350, m_multilineStyleHandles.value(m->style.toCaseFolded()));
    }
    for (const Multiline *m : std::as_const(m_multilineStyles)) {
        m_e.raw(0, "MLINESTYLE");
        m_e.handle(5, m_multilineStyleHandles.value(m->style.toCaseFolded()));
        m_e.handle(330, m_multilineStyleDictionary);
        m_e.raw(100, "AcDbMlineStyle");
        m_e.text(2, m->style);
        m_e.integer(70, m->flags);
        m_e.raw(3, "");
        m_e.integer(62, colorIndex(m->fillColor));
        m_e.raw(51, "90");
        m_e.raw(52, "90");
        m_e.integer(71, m->elements.size());
        for (const MultilineElement &element : m->elements) {
            m_e.number(49, element.offset);
            m_e.integer(62, colorIndex(element.color));
            m_e.text(6, element.linetype.isEmpty() ? QStringLiteral("BYLAYER") : element.linetype);
        }
    }
}

// The palette number a style or element names: 256 by layer, 0 by block, else the colour's
// own or nearest.
int Writer::colorIndex(const Color &color)
{
    if (color.kind == Color::Kind::ByLayer)
        return 256;
    if (color.kind == Color::Kind::ByBlock)
        return 0;
    return color.index > 0 && color.index < 256 ? color.index : DxfColors::nearestIndex(color.rgb);
}

void Writer::multiline(const Multiline &m, const Style &style, quint64 owner)
{
    if (r12()) { // MLINE came with R13: its lines, caps and fill as they are drawn
        for (Entity part : CompositeShapes::entities(m)) {
            part.style = CompositeShapes::placed(part.style, style);
            entity(part, owner);
        }
        return;
    }
    common("MLINE", style, next(), owner);
    m_e.raw(100, "AcDbMline");
    m_e.text(2, m.style);
    m_e.handle(340, m_multilineStyleHandles.value(m.style.toCaseFolded()));
    m_e.number(40, m.scale);
    m_e.integer(70, m.justification);
    m_e.integer(71, 1 | (m.closed ? 2 : 0));
    const qsizetype count = m.vertices.size(), elements = m.elements.size();
    const bool whole = m.miters.size() == count && m.offsets.size() == count * elements;
    m_e.integer(72, whole ? count : 0);
    m_e.integer(73, elements);
    m_e.point(10, count ? m.vertices.first() : Point());
    m_e.raw(210, "0");
    m_e.raw(220, "0");
    m_e.raw(230, "1");
    for (qsizetype v = 0; whole && v < count; ++v) {
        // The direction of the segment that starts here (the last one's goes on as before).
        const Point &p = m.vertices[v];
        const Point &q = v + 1 < count ? m.vertices[v + 1] : m.closed ? m.vertices[0] : p;
        const Point &o = v + 1 < count || m.closed || v == 0 ? p : m.vertices[v - 1];
        Point direction = q == p ? Point {p.x - o.x, p.y - o.y} : Point {q.x - p.x, q.y - p.y};
        const double length = std::hypot(direction.x, direction.y);
        direction = length > 0 ? Point {direction.x / length, direction.y / length} : Point {1, 0};
        m_e.point(11, p);
        m_e.point(12, direction);
        m_e.point(13, m.miters[v]);
        for (qsizetype e = 0; e < elements; ++e) {
            m_e.raw(74, "1");
            m_e.number(41, m.offsets[v * elements + e]);
            m_e.raw(75, "0");
        }
    }
}

void Writer::entities(const QVector<Entity> &list, quint64 owner)
{
    for (const Entity &e : list)
        entity(e, owner);
}

void Writer::common(const char *type, const Style &style, quint64 handle, quint64 owner)
{
    m_e.raw(0, type);
    m_e.handle(5, handle);
    m_e.handle(330, owner);
    m_e.subclass("AcDbEntity");
    if (m_paper)
        m_e.raw(67, "1");
    m_e.text(8, style.layer.isEmpty() ? QStringLiteral("0") : style.layer);
    if (!style.linetype.isEmpty())
        m_e.text(6, style.linetype);
    if (!style.visible)
        m_e.raw(60, "1");
    switch (style.color.kind) {
    case Color::Kind::ByLayer:
        break;
    case Color::Kind::ByBlock:
        m_e.raw(62, "0");
        break;
    case Color::Kind::Rgb:
        m_e.color(style.color);
        break;
    }
    if (style.lineweight != -1)
        m_e.lineweight(style.lineweight);
    if (style.linetypeScale != 1 && !r12()) // R12 scales line types for the whole drawing alone
        m_e.number(48, style.linetypeScale);
}

void Writer::point(const Point &position, const Style &style, quint64 owner)
{
    common("POINT", style, next(), owner);
    m_e.subclass("AcDbPoint");
    m_e.point(10, position);
}

void Writer::solid(const Solid &solid, const Style &style, quint64 owner)
{
    common("SOLID", style, next(), owner);
    m_e.subclass("AcDbTrace");
    // DXF lists the corners in a Z order: the model's fourth before its third.
    m_e.point(10, solid.corners[0]);
    m_e.point(11, solid.corners[1]);
    m_e.point(12, solid.corners[3]);
    m_e.point(13, solid.corners[2]);
}

void Writer::polyline(const Polyline &polyline, const Style &style, quint64 owner)
{
    if (r12()) { // no LWPOLYLINE yet: a POLYLINE with a VERTEX each
        const quint64 handle = next();
        common("POLYLINE", style, handle, owner);
        m_e.raw(66, "1");
        m_e.point(10, {});
        m_e.raw(70, polyline.closed ? "1" : "0");
        for (const Vertex &vertex : polyline.vertices) {
            common("VERTEX", style, next(), handle);
            m_e.point(10, vertex.point);
            if (vertex.startWidth != 0 || vertex.endWidth != 0) {
                m_e.number(40, vertex.startWidth);
                m_e.number(41, vertex.endWidth);
            }
            if (vertex.bulge != 0)
                m_e.number(42, vertex.bulge);
            m_e.raw(70, "0");
        }
        common("SEQEND", style, next(), handle);
        return;
    }
    common("LWPOLYLINE", style, next(), owner);
    m_e.raw(100, "AcDbPolyline");
    m_e.integer(90, polyline.vertices.size());
    m_e.raw(70, polyline.closed ? "1" : "0");
    for (const Vertex &vertex : polyline.vertices) {
        m_e.number(10, vertex.point.x);
        m_e.number(20, vertex.point.y);
        if (vertex.startWidth != 0 || vertex.endWidth != 0) {
            m_e.number(40, vertex.startWidth);
            m_e.number(41, vertex.endWidth);
        }
        if (vertex.bulge != 0)
            m_e.number(42, vertex.bulge);
    }
}

void Writer::ellipse(const Ellipse &ellipse, const Style &style, quint64 owner)
{
    if (r12()) { // ELLIPSE came with R13
        polyline(flattened(ellipse), style, owner);
        return;
    }
    common("ELLIPSE", style, next(), owner);
    m_e.raw(100, "AcDbEllipse");
    m_e.point(10, ellipse.center);
    m_e.point(11, ellipse.majorAxis);
    m_e.raw(210, "0");
    m_e.raw(220, "0");
    m_e.raw(230, "1");
    m_e.number(40, ellipse.ratio);
    m_e.number(41, ellipse.startParam);
    m_e.number(42, ellipse.endParam);
}

void Writer::text(const Text &t, const Style &style, quint64 owner, bool attribute, int number)
{
    common(attribute ? "ATTRIB" : "TEXT", style, next(), owner);
    m_e.subclass("AcDbText");
    m_e.point(10, t.position);
    m_e.number(40, t.height);
    m_e.text(1, textCodes(t));
    m_e.number(50, t.rotation);
    m_e.number(41, t.widthFactor);
    m_e.number(51, t.oblique);
    if (!t.font.isEmpty())
        m_e.text(7, t.font);
    if (t.backward || t.upsideDown)
        m_e.integer(71, (t.backward ? 2 : 0) | (t.upsideDown ? 4 : 0));
    static const int hCodes[] = {0, 1, 2, 3, 4, 5};
    static const int vCodes[] = {0, 1, 2, 3};
    const int h = hCodes[int(t.halign)];
    const int v = vCodes[int(t.valign)];
    m_e.integer(72, h);
    if (h != 0 || v != 0)
        m_e.point(11,
                  t.halign == HAlign::Aligned || t.halign == HAlign::Fit ? t.secondPosition
                                                                         : t.position);
    if (attribute) {
        m_e.subclass("AcDbAttribute");
        m_e.raw(2, QByteArray("ATTRIBUTE") + QByteArray::number(number));
        m_e.raw(70, "0");
        m_e.integer(74, v);
    } else {
        m_e.subclass("AcDbText");
        m_e.integer(73, v);
    }
}

void Writer::multilineText(const Text &t, const Style &style, quint64 owner)
{
    if (r12()) {
        // No MTEXT yet: a text per line, each where the renderer puts that line, the lines 5/3
        // of the height apart times the spacing factor, the block of lines hung from its
        // attachment point.
        const QStringList lines = t.text.split(QLatin1Char('\n'));
        const double pitch = t.height * 5 / 3 * (t.lineSpacing > 0 ? t.lineSpacing : 1);
        const double block = t.height + (lines.size() - 1) * pitch;
        const double firstBaseline = t.valign == VAlign::Top ? t.height
            : t.valign == VAlign::Middle                     ? t.height - block / 2
                                                             : t.height - block;
        const double rad = t.rotation * kPi / 180;
        const Point down {std::sin(rad), -std::cos(rad)};
        Text line = t;
        line.multiline = false;
        line.valign = VAlign::Baseline;
        line.halign = t.halign == HAlign::Center || t.halign == HAlign::Middle ? HAlign::Center
            : t.halign == HAlign::Right                                        ? HAlign::Right
                                                                               : HAlign::Left;
        const bool decorated = t.decorations.size() == t.text.size();
        qsizetype start = 0; // of the line in the whole text, for its decorations
        for (qsizetype i = 0; i < lines.size(); start += lines[i].size() + 1, ++i) {
            if (lines[i].isEmpty())
                continue;
            const double below = firstBaseline + i * pitch;
            line.text = lines[i];
            line.decorations = decorated ? t.decorations.mid(start, lines[i].size()) : QByteArray();
            line.position = {t.position.x + down.x * below, t.position.y + down.y * below};
            text(line, style, owner, false, 0);
        }
        return;
    }
    common("MTEXT", style, next(), owner);
    m_e.raw(100, "AcDbMText");
    m_e.point(10, t.position);
    m_e.number(40, t.height);
    m_e.number(41, t.boxWidth);
    const int column = t.halign == HAlign::Center || t.halign == HAlign::Middle ? 1
        : t.halign == HAlign::Right                                             ? 2
                                                                                : 0;
    const int row = t.valign == VAlign::Middle                       ? 1
        : t.valign == VAlign::Bottom || t.valign == VAlign::Baseline ? 2
                                                                     : 0;
    m_e.integer(71, row * 3 + column + 1);
    m_e.raw(72, "1");
    // Chunks of at most 250 bytes, never splitting a character or an escape.
    const QString content = escapedSpecials(mtextCodes(t));
    QByteArray chunk;
    for (qsizetype i = 0; i < content.size(); ++i) {
        qsizetype length = 1;
        if ((content.at(i) == QLatin1Char('\\') || content.at(i).isHighSurrogate())
            && i + 1 < content.size())
            length = 2;
        const QByteArray piece = m_e.encode(content.mid(i, length));
        i += length - 1;
        if (chunk.size() + piece.size() > 250) {
            m_e.raw(3, chunk);
            chunk.clear();
        }
        chunk += piece;
    }
    m_e.raw(1, chunk);
    if (!t.font.isEmpty())
        m_e.text(7, t.font);
    m_e.number(50, t.rotation);
    m_e.raw(73, "1");
    m_e.number(44, t.lineSpacing);
}

void Writer::hatch(const Hatch &hatch, const Style &style, quint64 owner)
{
    if (r12()) {
        // No HATCH yet: its boundary, and its pattern lines or its fill as they would be drawn.
        for (const QVector<Vertex> &loop : hatch.loops)
            polyline({loop, true}, style, owner);
        const QVector<HatchShapes::Polygon> boundary = HatchShapes::boundary(hatch);
        if (hatch.solid) {
            m_hatchShapes.strips(boundary, [&](const Solid &strip) { solid(strip, style, owner); });
            return;
        }
        // The pattern's dashes are the lines' own: drawn solid whatever the hatch's line type.
        Style lines = style;
        lines.linetype = QStringLiteral("Continuous");
        m_hatchShapes.patternLines(hatch, boundary, [&](const Point &from, const Point &to) {
            if (from == to) {
                point(from, lines, owner);
                return;
            }
            common("LINE", lines, next(), owner);
            m_e.point(10, from);
            m_e.point(11, to);
        });
        return;
    }
    common("HATCH", style, next(), owner);
    m_e.raw(100, "AcDbHatch");
    m_e.point(10, {});
    m_e.raw(210, "0");
    m_e.raw(220, "0");
    m_e.raw(230, "1");
    m_e.text(2,
             hatch.pattern.isEmpty() ? QString::fromLatin1(hatch.solid ? "SOLID" : "USER")
                                     : hatch.pattern);
    m_e.raw(70, hatch.solid ? "1" : "0");
    m_e.raw(71, "0");
    m_e.integer(91, hatch.loops.size());
    for (const QVector<Vertex> &loop : hatch.loops) {
        m_e.raw(92, "2");
        m_e.raw(72, "1");
        m_e.raw(73, "1");
        m_e.integer(93, loop.size());
        for (const Vertex &vertex : loop) {
            m_e.number(10, vertex.point.x);
            m_e.number(20, vertex.point.y);
            m_e.number(42, vertex.bulge);
        }
        m_e.raw(97, "0");
    }
    m_e.raw(75, "0");
    m_e.raw(76, "1");
    if (!hatch.solid) {
        m_e.raw(52, "0");
        m_e.raw(41, "1");
        m_e.raw(77, "0");
        m_e.integer(78, hatch.patternLines.size());
        for (const PatternLine &line : hatch.patternLines) {
            m_e.number(53, line.angle);
            m_e.number(43, line.base.x);
            m_e.number(44, line.base.y);
            m_e.number(45, line.offset.x);
            m_e.number(46, line.offset.y);
            m_e.integer(79, line.dashes.size());
            for (double dash : line.dashes)
                m_e.number(49, dash);
        }
    }
    m_e.raw(98, "0");
}

void Writer::leader(const Leader &leader, const Style &style, quint64 owner)
{
    if (r12()) {
        // No LEADER yet: its line, and its arrowhead as the renderer draws it, 2.5 long.
        Polyline line;
        for (const Point &p : leader.vertices)
            line.vertices.append(Vertex {p});
        polyline(line, style, owner);
        if (!leader.arrowhead || leader.vertices.size() < 2)
            return;
        const Point tip = leader.vertices[0], next = leader.vertices[1];
        const double length = std::hypot(next.x - tip.x, next.y - tip.y);
        if (length <= 0)
            return;
        const Point along {(next.x - tip.x) / length * 2.5, (next.y - tip.y) / length * 2.5};
        const Point across {-along.y / 6, along.x / 6};
        const Point back {tip.x + along.x, tip.y + along.y};
        solid({{tip,
                {back.x + across.x, back.y + across.y},
                {back.x - across.x, back.y - across.y},
                {back.x - across.x, back.y - across.y}}},
              style, owner);
        return;
    }
    common("LEADER", style, next(), owner);
    m_e.raw(100, "AcDbLeader");
    m_e.raw(3, "Standard");
    m_e.raw(71, leader.arrowhead ? "1" : "0");
    m_e.raw(72, "0");
    m_e.raw(73, "3");
    m_e.integer(76, leader.vertices.size());
    for (const Point &p : leader.vertices)
        m_e.point(10, p);
}

// Each kind that a version lacks is drawn, in the function of its kind, by what that version has.
void Writer::entity(const Entity &e, quint64 owner)
{
    const Style &style = e.style;
    if (const auto *line = std::get_if<Line>(&e.shape)) {
        common("LINE", style, next(), owner);
        m_e.subclass("AcDbLine");
        m_e.point(10, line->start);
        m_e.point(11, line->end);
    } else if (const auto *circle = std::get_if<Circle>(&e.shape)) {
        common("CIRCLE", style, next(), owner);
        m_e.subclass("AcDbCircle");
        m_e.point(10, circle->center);
        m_e.number(40, circle->radius);
    } else if (const auto *arc = std::get_if<Arc>(&e.shape)) {
        common("ARC", style, next(), owner);
        m_e.subclass("AcDbCircle");
        m_e.point(10, arc->center);
        m_e.number(40, arc->radius);
        m_e.subclass("AcDbArc");
        m_e.number(50, arc->startAngle);
        m_e.number(51, arc->endAngle);
    } else if (const auto *ellipse = std::get_if<Ellipse>(&e.shape)) {
        this->ellipse(*ellipse, style, owner);
    } else if (const auto *polyline = std::get_if<Polyline>(&e.shape)) {
        this->polyline(*polyline, style, owner);
    } else if (const auto *marker = std::get_if<Marker>(&e.shape)) {
        point(marker->position, style, owner);
    } else if (const auto *solid = std::get_if<Solid>(&e.shape)) {
        this->solid(*solid, style, owner);
    } else if (const auto *t = std::get_if<Text>(&e.shape)) {
        if (t->multiline)
            multilineText(*t, style, owner);
        else
            text(*t, style, owner, false, 0);
    } else if (const auto *insert = std::get_if<Insert>(&e.shape)) {
        const quint64 handle = next();
        common("INSERT", style, handle, owner);
        m_e.subclass("AcDbBlockReference");
        if (!insert->attributes.isEmpty())
            m_e.raw(66, "1");
        m_e.text(2, insert->block);
        m_e.point(10, insert->position);
        m_e.number(41, insert->scaleX);
        m_e.number(42, insert->scaleY);
        m_e.raw(43, "1");
        m_e.number(50, insert->rotation);
        if (insert->columns != 1 || insert->rows != 1) {
            m_e.integer(70, insert->columns);
            m_e.integer(71, insert->rows);
            m_e.number(44, insert->columnSpacing);
            m_e.number(45, insert->rowSpacing);
        }
        if (!insert->attributes.isEmpty()) {
            int number = 0;
            for (const Text &attribute : insert->attributes)
                text(attribute, style, handle, true, ++number);
            common("SEQEND", style, next(), handle);
        }
    } else if (const auto *hatch = std::get_if<Hatch>(&e.shape)) {
        this->hatch(*hatch, style, owner);
    } else if (const auto *dimension = std::get_if<Dimension>(&e.shape)) {
        common("DIMENSION", style, next(), owner);
        m_e.subclass("AcDbDimension");
        m_e.text(2, dimension->block);
        m_e.point(10, dimension->definitionPoint);
        m_e.point(11, dimension->textPosition);
        m_e.point(12, dimension->insertion);
        m_e.raw(70, "32");
        m_e.text(1, dimension->text);
        if (!r12()) // the measurement came with R2000
            m_e.number(42, dimension->measurement);
        m_e.raw(3, "Standard");
        m_e.subclass("AcDbAlignedDimension");
        m_e.point(13, dimension->definitionPoint);
        m_e.point(14, dimension->definitionPoint);
        m_e.subclass("AcDbRotatedDimension");
        m_e.raw(50, "0");
    } else if (const auto *face = std::get_if<Face>(&e.shape)) {
        common("3DFACE", style, next(), owner);
        m_e.subclass("AcDbFace");
        for (int i = 0; i < 4; ++i)
            m_e.point(10 + i, face->corners[i]);
        m_e.integer(70, face->hiddenEdges & 15);
    } else if (const auto *m = std::get_if<Multiline>(&e.shape)) {
        multiline(*m, style, owner);
    } else if (const auto *multiLeader = std::get_if<MultiLeader>(&e.shape)) {
        // Written as what it is drawn with: leader lines, arrowheads, its text and block.
        for (Entity part : CompositeShapes::entities(*multiLeader)) {
            part.style = CompositeShapes::placed(part.style, style);
            entity(part, owner);
        }
    } else if (const auto *leader = std::get_if<Leader>(&e.shape)) {
        this->leader(*leader, style, owner);
    }
}

} // namespace

DxfWriter::DxfWriter(DxfVersion version)
    : m_version(version)
{ }

bool DxfWriter::write(const Model &model, const SaveInfo &info, QIODevice &out,
                      QString *errorMessage)
{
    Writer writer(model, info, m_version);
    const QByteArray bytes = writer.run();
    if (writer.outOfRange()) {
        if (errorMessage)
            *errorMessage
                = QStringLiteral(
                      "座標が %1 mm を超えるか数値にならない図形があり、DXF に書き出せません")
                      .arg(DxfLimits::kMaxCoordinate);
        return false;
    }
    if (out.write(bytes) != bytes.size()) {
        if (errorMessage)
            *errorMessage = out.errorString();
        return false;
    }
    return true;
}
