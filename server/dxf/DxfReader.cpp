#include "server/dxf/DxfReader.h"

#include "server/dxf/DxfLimits.h"

#include "server/drawing/Spline.h"
#include "server/dxf/DxfColors.h"
#include "server/dxf/DxfDimension.h"
#include "server/dxf/DxfLayouts.h"
#include "server/dxf/DxfText.h"
#include "server/dxf/DxfTokenizer.h"

#include <QSet>

#include <algorithm>
#include <climits>
#include <cmath>
#include <utility>
#include <vector>

using namespace Drawing;
using Group = DxfTokenizer::Group;

namespace {

constexpr double kPi = 3.14159265358979323846;
using DxfLimits::kMaxCoordinate;
// Points a single spline or curved hatch edge is flattened into.
constexpr int kMaxCurvePoints = 4096;
// Angles of arcs and ellipses are taken within two turns (degrees, and radians below): a full
// curve often ends a little beyond one turn past its start (2π or 360 rounded up), which must
// stay as written; only absurd angles, whose sums and differences would overflow, are reduced.
constexpr double kTwoTurns = 720;

struct Object
{
    QByteArrayView type;
    std::vector<Group> groups;
};

QByteArrayView trimmed(QByteArrayView text)
{
    while (!text.isEmpty() && (text.front() == ' ' || text.front() == '\t'))
        text = text.sliced(1);
    while (!text.isEmpty() && (text.back() == ' ' || text.back() == '\t'))
        text.chop(1);
    return text;
}

bool is(QByteArrayView text, const char *name)
{
    return trimmed(text).compare(QByteArrayView(name), Qt::CaseInsensitive) == 0;
}

double unitFactor(qint64 insunits)
{
    switch (insunits) {
    case 1:
        return 25.4; // inches
    case 2:
        return 304.8; // feet
    case 5:
        return 10; // centimetres
    case 6:
        return 1000; // metres
    case 7:
        return 1e6; // kilometres
    case 8:
        return 25.4e-6; // microinches
    case 9:
        return 0.0254; // mils
    case 10:
        return 914.4; // yards
    case 13:
        return 1e-3; // microns
    case 14:
        return 100; // decimetres
    default:
        return 1; // millimetres, and drawings that name no unit
    }
}

Point polar(const Point &center, double radius, double degrees)
{
    const double a = degrees * kPi / 180;
    return {center.x + radius * std::cos(a), center.y + radius * std::sin(a)};
}

double distance(const Point &a, const Point &b)
{
    return std::hypot(a.x - b.x, a.y - b.y);
}

// A whole number of the file, which may be any size, as an int: a conversion out of range is
// undefined, and the range is kept symmetric so that negating or taking abs() stays defined.
int toInt(qint64 value)
{
    return int(std::clamp<qint64>(value, -INT_MAX, INT_MAX));
}
int toInt(double value)
{
    return int(std::clamp(value, double(-INT_MAX), double(INT_MAX)));
}

// Handles are hexadecimal, compared without regard to case.
QString handleIn(const Group &group)
{
    return QString::fromLatin1(trimmed(group.text)).toUpper();
}
// The handle an object gives itself.
QString handleOf(const std::vector<Group> &groups)
{
    for (const Group &group : groups) {
        if (group.code == 5)
            return handleIn(group);
    }
    return QString();
}

// The reader proper: one pass over the groups, entities appended where the section puts them.
class Parser
{
public:
    Parser(const QByteArray &bytes, Model &model)
        : m_bytes(bytes)
        , m_tokens(bytes)
        , m_model(model)
    { }

    bool run(QString *error);

private:
    bool fail(const QString &reason)
    {
        if (m_error.isEmpty())
            m_error = reason;
        return false;
    }
    bool readObject(Object &object);
    void readHeader(const Object &section);
    void ensureText();
    QString text(const Group &group)
    {
        ensureText();
        return m_text.decode(group.text);
    }
    // Layer and linetype names repeat on every entity: decoded once, then shared.
    QString name(const Group &group)
    {
        const QByteArray key = QByteArray::fromRawData(group.text.data(), group.text.size());
        const auto known = m_names.constFind(key);
        if (known != m_names.cend())
            return *known;
        const QString decoded = text(group);
        if (m_names.size() < 4096)
            m_names.insert(key, decoded);
        return decoded;
    }
    bool readTables();
    bool readBlocks();
    // Entities of paper space (all of a layout's block, those marked so in ENTITIES) go to
    // `paper`; without one they are left out.
    bool readEntities(QVector<Entity> &target, bool inBlock, DxfLayouts::PaperSpace *paper);
    void viewport(const std::vector<Group> &groups, DxfLayouts::PaperSpace &paper);
    void layout(const std::vector<Group> &groups);

    double coordinate(const Group &group)
    {
        const double value = group.number * m_unit;
        if (std::fabs(value) > kMaxCoordinate)
            fail(QStringLiteral("座標 %1 が大きすぎます").arg(group.number));
        return value;
    }
    double length(const Group &group) { return std::fabs(coordinate(group)); }
    Color color(const std::vector<Group> &groups, bool layer, bool *off = nullptr);
    Style style(const std::vector<Group> &groups);

    // Each returns false when the entity is not drawn (unknown, paper space, invisible).
    bool entity(const Object &object, Entity &entity);
    Text text(const std::vector<Group> &groups, bool attribute);
    Text mtext(const std::vector<Group> &groups);
    Polyline lwpolyline(const std::vector<Group> &groups);
    Polyline spline(const std::vector<Group> &groups);
    Face face(const std::vector<Group> &groups);
    Multiline multiline(const std::vector<Group> &groups);
    MultiLeader multiLeader(const std::vector<Group> &groups);
    bool readObjects();
    // What entities name by handle or by an object read later, once the whole file is read.
    void resolveReferences(QVector<Entity> &entities);
    Hatch hatch(const std::vector<Group> &groups);
    bool hatchEdges(const std::vector<Group> &groups, size_t &i, QVector<Vertex> &loop);

    const QByteArray &m_bytes;
    DxfTokenizer m_tokens;
    Model &m_model;
    DxfText m_text;
    bool m_textReady = false;
    QByteArray m_version;
    QByteArray m_codePage;
    double m_unit = 1;
    QString m_error;
    Object m_object;
    QSet<QString> m_layerNames;
    QSet<QString> m_linetypeNames;
    QHash<QByteArray, QString> m_names; // keys point into the input, which outlives them
    QHash<QString, QString> m_blockNames; // by the handle of their block record
    DxfLayouts m_layouts;
    struct MultilineStyle
    {
        QVector<MultilineElement> elements;
        int flags = 0;
        Color fill;
    };
    QHash<QString, MultilineStyle> m_multilineStyles; // case-folded name
    QSet<QString> m_blockKeys; // case-folded names of the blocks read so far
    int m_dimensionBlocks = 0; // blocks made for dimensions that come without one
    DxfDimension::Settings m_dimensionHeader; // the header's $DIM… variables
    QHash<QString, DxfDimension::Settings> m_dimensionStyles; // case-folded name
    void setting(DxfDimension::Settings &settings, int code, const Group &value);
    static int dimensionCode(QByteArrayView variable);
    QString dimensionBlock(const std::vector<Group> &groups, const QString &text);

public:
    // Layers and linetypes that entities name without a table entry exist with default
    // properties, as in the programs that wrote them; layer "0" always exists.
    void addImplicitTableEntries();
};

bool Parser::readObject(Object &object)
{
    Group group;
    do {
        if (!m_tokens.next(group))
            return false;
    } while (group.code != 0); // stray groups between objects are skipped
    object.type = trimmed(group.text);
    object.groups.clear();
    while (m_tokens.next(group)) {
        if (group.code == 0) {
            m_tokens.pushBack(group);
            break;
        }
        object.groups.push_back(group);
    }
    return !m_tokens.failed();
}

void Parser::readHeader(const Object &section)
{
    const std::vector<Group> &groups = section.groups;
    for (size_t i = 0; i + 1 < groups.size(); ++i) {
        if (groups[i].code != 9)
            continue;
        const QByteArrayView name = trimmed(groups[i].text);
        const Group &value = groups[i + 1];
        if (name == "$ACADVER")
            m_version = trimmed(value.text).toByteArray();
        else if (name == "$DWGCODEPAGE")
            m_codePage = trimmed(value.text).toByteArray();
        else if (name == "$INSUNITS" && value.code == 70)
            m_unit = unitFactor(value.integer);
        else if (name == "$LTSCALE" && value.code == 40 && value.number > 0)
            m_model.linetypeScale = value.number;
        else if (name == "$TILEMODE" && value.code == 70)
            m_layouts.setTileMode(value.integer != 0);
        else if ((name == "$PLIMMIN" || name == "$PLIMMAX") && value.code == 10
                 && i + 2 < groups.size() && groups[i + 2].code == 20) {
            // Limits beyond any coordinate describe no paper: the page is then left unsized.
            const Point corner {value.number * m_unit, groups[i + 2].number * m_unit};
            if (std::fabs(corner.x) <= kMaxCoordinate && std::fabs(corner.y) <= kMaxCoordinate)
                m_layouts.setPaperLimits(name == "$PLIMMAX", corner);
        } else if (name.startsWith("$DIM"))
            setting(m_dimensionHeader, dimensionCode(name.sliced(1)), value);
    }
}

void Parser::ensureText()
{
    if (m_textReady)
        return;
    m_textReady = true;
    // The numbers of binary DXF are no text: only an ASCII file's bytes say what they are.
    m_text.configure(m_tokens.isBinary() ? QByteArrayView() : QByteArrayView(m_bytes), m_version,
                     m_codePage);
}

bool Parser::run(QString *error)
{
    bool sawSection = false;
    Object &object = m_object;
    while (m_error.isEmpty() && readObject(object)) {
        if (is(object.type, "EOF"))
            break;
        if (!is(object.type, "SECTION"))
            continue; // tolerated between sections, as some writers leave them
        sawSection = true;
        QByteArrayView name;
        for (const Group &group : object.groups) {
            if (group.code == 2) {
                name = trimmed(group.text);
                break;
            }
        }
        bool ok = true;
        if (name == "HEADER") {
            // The header's variables all sit in the SECTION object itself; its ENDSEC must
            // follow like any section's, or the file was cut short inside the header.
            readHeader(object);
            ensureText();
        }
        if (name == "TABLES")
            ok = readTables();
        else if (name == "BLOCKS")
            ok = readBlocks();
        else if (name == "ENTITIES")
            ok = readEntities(m_model.entities, false,
                              &m_layouts.paperSpace(QStringLiteral("*Paper_Space")));
        else if (name == "OBJECTS")
            ok = readObjects();
        else {
            // HEADER's end, CLASSES, THUMBNAILIMAGE, ACDSDATA: nothing the model keeps
            while ((ok = readObject(object)) && !is(object.type, "ENDSEC")) { }
        }
        if (!ok && m_error.isEmpty() && !m_tokens.failed())
            fail(QStringLiteral("ファイルがセクションの途中で途切れています"));
    }
    if (m_tokens.failed())
        fail(m_tokens.error());
    if (m_error.isEmpty() && !sawSection)
        fail(QStringLiteral("DXF の図面ではありません（SECTION がありません）"));
    if (m_error.isEmpty()) {
        m_layouts.fill(m_model);
        resolveReferences(m_model.entities);
        for (Block &block : m_model.blocks)
            resolveReferences(block.entities);
        for (Sheet &sheet : m_model.sheets)
            resolveReferences(sheet.entities);
        addImplicitTableEntries();
    }
    if (!m_error.isEmpty()) {
        *error = m_error;
        return false;
    }
    return true;
}

void Parser::addImplicitTableEntries()
{
    const auto addLayer = [this](const QString &name) {
        if (!m_layerNames.contains(name.toCaseFolded())) {
            m_layerNames.insert(name.toCaseFolded());
            Layer layer;
            layer.name = name;
            m_model.layers.append(layer);
        }
    };
    const auto addLinetype = [this](const QString &name) {
        const QString key = name.toCaseFolded();
        if (!name.isEmpty() && key != QLatin1String("byblock") && key != QLatin1String("bylayer")
            && key != QLatin1String("continuous") && !m_linetypeNames.contains(key)) {
            m_linetypeNames.insert(key);
            m_model.linetypes.append(Linetype {name, QString(), {}});
        }
    };
    addLayer(QStringLiteral("0"));
    const auto visit = [&](const QVector<Entity> &entities) {
        for (const Entity &entity : entities) {
            addLayer(entity.style.layer);
            addLinetype(entity.style.linetype);
        }
    };
    visit(m_model.entities);
    for (const Block &block : std::as_const(m_model.blocks))
        visit(block.entities);
    for (const Sheet &sheet : std::as_const(m_model.sheets))
        visit(sheet.entities);
    for (const Layer &layer : std::as_const(m_model.layers))
        addLinetype(layer.linetype);
}

Color Parser::color(const std::vector<Group> &groups, bool layer, bool *off)
{
    int index = layer ? 7 : 256;
    bool hasIndex = false;
    qint64 trueColor = -1;
    for (const Group &group : groups) {
        if (group.code == 62) {
            index = toInt(group.integer);
            hasIndex = true;
        } else if (group.code == 420) {
            trueColor = group.integer & 0xffffff;
        }
    }
    if (off)
        *off = index < 0;
    index = std::abs(index);
    if (layer && (index == 0 || index > 255))
        index = 7;
    if (trueColor >= 0) {
        // A true colour keeps its index only when the index names that very colour.
        const bool indexMatches
            = hasIndex && index > 0 && index < 256 && DxfColors::rgb(index) == quint32(trueColor);
        return Color::fromRgb(quint32(trueColor), indexMatches ? index : -1);
    }
    if (index == 0)
        return {Color::Kind::ByBlock, 0, -1};
    if (index >= 256)
        return Color::byLayer();
    return Color::fromRgb(DxfColors::rgb(index), index);
}

Style Parser::style(const std::vector<Group> &groups)
{
    Style style;
    for (const Group &group : groups) {
        switch (group.code) {
        case 8:
            style.layer = name(group);
            if (style.layer.isEmpty())
                style.layer = QStringLiteral("0");
            break;
        case 6:
            style.linetype = is(group.text, "BYLAYER") ? QString() : name(group);
            break;
        case 370:
            style.lineweight = group.integer < 0 ? double(group.integer) : group.integer / 100.0;
            break;
        case 60:
            style.visible = group.integer != 1;
            break;
        case 48:
            if (group.number > 0)
                style.linetypeScale = group.number;
            break;
        default:
            break;
        }
    }
    style.color = color(groups, false);
    return style;
}

bool Parser::readTables()
{
    Object &object = m_object;
    while (readObject(object)) {
        if (is(object.type, "ENDSEC"))
            return true;
        if (is(object.type, "LAYER")) {
            Layer layer;
            bool off = false;
            layer.color = color(object.groups, true, &off);
            layer.on = !off;
            QString handle;
            for (const Group &group : object.groups) {
                if (group.code == 2)
                    layer.name = text(group);
                else if (group.code == 5)
                    handle = handleIn(group);
                else if (group.code == 6)
                    layer.linetype = text(group);
                else if (group.code == 70)
                    layer.frozen = group.integer & 1;
                else if (group.code == 290)
                    layer.plot = group.integer != 0;
                else if (group.code == 370)
                    layer.lineweight
                        = group.integer < 0 ? double(group.integer) : group.integer / 100.0;
            }
            m_layouts.addLayer(handle, layer.name);
            if (!layer.name.isEmpty() && !m_layerNames.contains(layer.name.toCaseFolded())) {
                m_layerNames.insert(layer.name.toCaseFolded());
                m_model.layers.append(layer);
            }
        } else if (is(object.type, "DIMSTYLE")) {
            QString name;
            DxfDimension::Settings settings;
            for (const Group &group : object.groups) {
                if (group.code == 2)
                    name = text(group);
                else if (group.code != 105 && group.code != 330 && group.code != 100)
                    setting(settings, group.code, group);
            }
            if (m_dimensionStyles.size() < 4096)
                m_dimensionStyles.insert(name.toCaseFolded(), settings);
        } else if (is(object.type, "LTYPE")) {
            Linetype linetype;
            bool endless = false;
            for (const Group &group : object.groups) {
                if (group.code == 2)
                    linetype.name = text(group);
                else if (group.code == 3)
                    linetype.description = text(group);
                else if (group.code == 49 && linetype.pattern.size() < 64)
                    linetype.pattern.append(group.number * m_unit);
                endless = endless
                    || (group.code == 49 && std::fabs(group.number * m_unit) > kMaxCoordinate);
            }
            // A dash longer than any drawing is a solid line; kept, its length would make the
            // pattern's total, which writers give, infinite.
            if (endless)
                linetype.pattern.clear();
            // BYBLOCK, BYLAYER and CONTINUOUS are what an empty linetype already means.
            const QString name = linetype.name.toCaseFolded();
            if (!name.isEmpty() && name != QLatin1String("byblock")
                && name != QLatin1String("bylayer") && name != QLatin1String("continuous")
                && !m_linetypeNames.contains(name)) {
                m_linetypeNames.insert(name);
                m_model.linetypes.append(linetype);
            }
        }
    }
    return false;
}

bool Parser::readBlocks()
{
    Object &object = m_object;
    while (readObject(object)) {
        if (is(object.type, "ENDSEC"))
            return true;
        if (!is(object.type, "BLOCK"))
            continue;
        Block block;
        QString record;
        for (const Group &group : object.groups) {
            if (group.code == 2)
                block.name = text(group);
            else if (group.code == 330)
                record = text(group);
            else if (group.code == 10)
                block.base.x = coordinate(group);
            else if (group.code == 20)
                block.base.y = coordinate(group);
        }
        // The layouts' own blocks hold model space (before R2000, nothing the ENTITIES section
        // does not) and paper space; a block without a name cannot be inserted.
        const bool paper
            = block.name.startsWith(QLatin1String("*Paper_Space"), Qt::CaseInsensitive);
        const bool layout
            = paper || block.name.startsWith(QLatin1String("*Model_Space"), Qt::CaseInsensitive);
        DxfLayouts::PaperSpace *paperSpace = nullptr;
        if (paper) {
            paperSpace = &m_layouts.paperSpace(block.name);
            m_layouts.setRecord(*paperSpace, record.toUpper());
        }
        if (!readEntities(block.entities, true, paperSpace))
            return false;
        if (!layout && !block.name.isEmpty()) {
            m_blockKeys.insert(block.name.toCaseFolded());
            if (!record.isEmpty() && m_blockNames.size() < 100000)
                m_blockNames.insert(record.toUpper(), block.name);
            m_model.blocks.append(std::move(block));
        }
    }
    return false;
}

bool Parser::readEntities(QVector<Entity> &target, bool inBlock, DxfLayouts::PaperSpace *paper)
{
    Object &object = m_object;
    // POLYLINE and INSERT are followed by VERTEX and ATTRIB objects up to a SEQEND; `open` is
    // the list that holds them, model or paper space.
    qsizetype openPolyline = -1;
    qsizetype openInsert = -1;
    QVector<Entity> *open = &target;
    while (m_error.isEmpty() && readObject(object)) {
        const QByteArrayView type = object.type;
        if (is(type, inBlock ? "ENDBLK" : "ENDSEC"))
            return true;
        if (is(type, "ENDSEC") || is(type, "EOF"))
            return fail(QStringLiteral("ブロックが ENDBLK なしで終わっています"));
        if (is(type, "VERTEX")) {
            if (openPolyline < 0)
                continue;
            int flags = 0;
            Vertex vertex;
            for (const Group &group : object.groups) {
                switch (group.code) {
                case 10:
                    vertex.point.x = coordinate(group);
                    break;
                case 20:
                    vertex.point.y = coordinate(group);
                    break;
                case 40:
                    vertex.startWidth = length(group);
                    break;
                case 41:
                    vertex.endWidth = length(group);
                    break;
                case 42:
                    vertex.bulge = group.number;
                    break;
                case 70:
                    flags = toInt(group.integer);
                    break;
                default:
                    break;
                }
            }
            // spline frame points and the face records of polyface meshes are not outline
            if ((flags & 16) || ((flags & 128) && !(flags & 64)))
                continue;
            std::get<Polyline>((*open)[openPolyline].shape).vertices.append(vertex);
            continue;
        }
        if (is(type, "ATTRIB")) {
            if (openInsert < 0)
                continue;
            bool invisible = false;
            for (const Group &group : object.groups) {
                if (group.code == 70)
                    invisible = group.integer & 1;
            }
            if (!invisible)
                std::get<Insert>((*open)[openInsert].shape)
                    .attributes.append(text(object.groups, true));
            continue;
        }
        if (is(type, "ATTDEF")) {
            // A constant attribute is no attribute of the inserts but text of the block itself.
            int flags = 0;
            for (const Group &group : object.groups) {
                if (group.code == 70)
                    flags = toInt(group.integer);
            }
            if (inBlock && !paper && (flags & 3) == 2) {
                Entity &constant = target.emplace_back();
                constant.style = style(object.groups);
                constant.shape = text(object.groups, true);
            }
            continue;
        }
        openPolyline = -1;
        openInsert = -1;
        if (is(type, "SEQEND"))
            continue;
        bool paperSpace = inBlock && paper;
        for (const Group &group : object.groups) {
            if (group.code == 67 && group.integer == 1)
                paperSpace = true;
        }
        if (paperSpace && !paper)
            continue;
        QVector<Entity> &list = paperSpace ? paper->entities : target;
        if (is(type, "VIEWPORT")) {
            if (paperSpace)
                viewport(object.groups, *paper);
            continue;
        }
        // Built in place: a drawing may hold millions of entities.
        if (!entity(object, list.emplace_back())) {
            list.removeLast();
            continue;
        }
        open = &list;
        if (std::holds_alternative<Polyline>(list.back().shape)) {
            // A viewport may name it as its clip boundary.
            if (paperSpace)
                paper->polylines.insert(handleOf(object.groups), list.size() - 1);
            if (is(type, "POLYLINE"))
                openPolyline = list.size() - 1;
        } else if (std::holds_alternative<Insert>(list.back().shape)) {
            openInsert = list.size() - 1;
        }
    }
    return false;
}

// Entities whose extrusion points down the z axis are mirrored in x (object coordinates).
bool mirrored(const std::vector<Group> &groups)
{
    for (const Group &group : groups) {
        if (group.code == 230)
            return group.number < 0;
    }
    return false;
}

bool Parser::entity(const Object &object, Entity &entity)
{
    const std::vector<Group> &groups = object.groups;
    const QByteArrayView type = object.type;
    const double flip = mirrored(groups) ? -1 : 1;
    const auto point = [&](int xCode, Point &p) {
        for (const Group &group : groups) {
            if (group.code == xCode)
                p.x = coordinate(group);
            else if (group.code == xCode + 10)
                p.y = coordinate(group);
        }
    };
    const auto number = [&](int code, double fallback) {
        for (const Group &group : groups) {
            if (group.code == code)
                return group.number;
        }
        return fallback;
    };

    if (is(type, "LINE")) {
        Line line;
        point(10, line.start);
        point(11, line.end);
        entity.shape = line;
    } else if (is(type, "CIRCLE") || is(type, "ARC")) {
        Point center;
        point(10, center);
        center.x *= flip;
        const double radius = std::fabs(number(40, 0)) * m_unit;
        if (radius > kMaxCoordinate)
            return fail(QStringLiteral("半径 %1 が大きすぎます").arg(radius));
        if (is(type, "CIRCLE")) {
            entity.shape = Circle {center, radius};
        } else {
            double start = withinTurn(number(50, 0), kTwoTurns);
            double end = withinTurn(number(51, 360), kTwoTurns);
            if (flip < 0) {
                const double mirroredStart = 180 - end;
                end = 180 - start;
                start = mirroredStart;
            }
            entity.shape = Arc {center, radius, start, end};
        }
    } else if (is(type, "ELLIPSE")) {
        Ellipse ellipse;
        point(10, ellipse.center);
        point(11, ellipse.majorAxis);
        ellipse.ratio = number(40, 1);
        // The minor axis is a length like any other: writers that draw the ellipse by its points
        // would otherwise make coordinates no reader takes.
        if (std::fabs(ellipse.ratio) * std::hypot(ellipse.majorAxis.x, ellipse.majorAxis.y)
            > kMaxCoordinate)
            return fail(QStringLiteral("楕円の軸の比 %1 が大きすぎます").arg(ellipse.ratio));
        ellipse.startParam = withinTurn(number(41, 0), 4 * kPi);
        ellipse.endParam = withinTurn(number(42, 2 * kPi), 4 * kPi);
        if (flip < 0) {
            ellipse.center.x = -ellipse.center.x;
            ellipse.majorAxis.x = -ellipse.majorAxis.x;
            const double start = ellipse.startParam;
            ellipse.startParam = 2 * kPi - ellipse.endParam;
            ellipse.endParam = 2 * kPi - start;
        }
        entity.shape = ellipse;
    } else if (is(type, "LWPOLYLINE")) {
        Polyline polyline = lwpolyline(groups);
        if (flip < 0) {
            for (Vertex &vertex : polyline.vertices) {
                vertex.point.x = -vertex.point.x;
                vertex.bulge = -vertex.bulge;
            }
        }
        entity.shape = std::move(polyline);
    } else if (is(type, "POLYLINE")) {
        Polyline polyline;
        polyline.closed = (toInt(number(70, 0)) & 1) != 0;
        entity.shape = polyline;
    } else if (is(type, "SPLINE")) {
        entity.shape = spline(groups);
    } else if (is(type, "POINT")) {
        Marker marker;
        point(10, marker.position);
        entity.shape = marker;
    } else if (is(type, "SOLID") || is(type, "TRACE")) {
        Point corners[4];
        bool hasFourth = false;
        for (int i = 0; i < 4; ++i)
            point(10 + i, corners[i]);
        for (const Group &group : groups)
            hasFourth = hasFourth || group.code == 13;
        if (!hasFourth)
            corners[3] = corners[2];
        Solid solid;
        // DXF lists the corners in a Z order; the model goes round the outline.
        solid.corners[0] = corners[0];
        solid.corners[1] = corners[1];
        solid.corners[2] = corners[3];
        solid.corners[3] = corners[2];
        for (Point &corner : solid.corners)
            corner.x *= flip;
        entity.shape = solid;
    } else if (is(type, "TEXT")) {
        entity.shape = text(groups, false);
    } else if (is(type, "MTEXT")) {
        entity.shape = mtext(groups);
    } else if (is(type, "INSERT")) {
        Insert insert;
        for (const Group &group : groups) {
            switch (group.code) {
            case 2:
                insert.block = text(group);
                break;
            case 10:
                insert.position.x = coordinate(group) * flip;
                break;
            case 20:
                insert.position.y = coordinate(group);
                break;
            case 41:
                insert.scaleX = group.number;
                break;
            case 42:
                insert.scaleY = group.number;
                break;
            case 50:
                insert.rotation = withinTurn(group.number);
                break;
            case 70:
                insert.columns = int(std::clamp<qint64>(group.integer, 1, 32767));
                break;
            case 71:
                insert.rows = int(std::clamp<qint64>(group.integer, 1, 32767));
                break;
            case 44:
                insert.columnSpacing = coordinate(group);
                break;
            case 45:
                insert.rowSpacing = coordinate(group);
                break;
            default:
                break;
            }
        }
        if (std::fabs(insert.scaleX) > kMaxCoordinate || std::fabs(insert.scaleY) > kMaxCoordinate)
            return fail(QStringLiteral("ブロック %1 の尺度が大きすぎます").arg(insert.block));
        if (flip < 0) {
            insert.scaleX = -insert.scaleX;
            insert.rotation = -insert.rotation;
        }
        entity.shape = std::move(insert);
    } else if (is(type, "HATCH")) {
        entity.shape = hatch(groups);
    } else if (is(type, "3DFACE")) {
        entity.shape = face(groups);
    } else if (is(type, "MLINE")) {
        entity.shape = multiline(groups);
    } else if (is(type, "MULTILEADER") || is(type, "MLEADER")) {
        entity.shape = multiLeader(groups);
    } else if (is(type, "DIMENSION")) {
        Dimension dimension;
        for (const Group &group : groups) {
            if (group.code == 2)
                dimension.block = text(group);
            else if (group.code == 1)
                dimension.text = text(group);
            else if (group.code == 42)
                dimension.measurement = group.number * m_unit;
        }
        point(10, dimension.definitionPoint);
        point(11, dimension.textPosition);
        point(12, dimension.insertion);
        if (dimension.block.isEmpty() || !m_blockKeys.contains(dimension.block.toCaseFolded()))
            dimension.block = dimensionBlock(groups, dimension.text);
        if (dimension.text == QLatin1String("<>"))
            dimension.text.clear();
        entity.shape = std::move(dimension);
    } else if (is(type, "LEADER")) {
        Leader leader;
        qint64 declared = 0;
        for (const Group &group : groups) {
            if (group.code == 71)
                leader.arrowhead = group.integer != 0;
            else if (group.code == 76)
                declared = group.integer;
            else if (group.code == 10)
                leader.vertices.append(Point {coordinate(group), 0});
            else if (group.code == 20 && !leader.vertices.isEmpty())
                leader.vertices.back().y = coordinate(group);
        }
        if (declared > leader.vertices.size())
            return fail(
                QStringLiteral("引出線が %1 個の頂点を持つとしていますが %2 個しかありません")
                    .arg(declared)
                    .arg(leader.vertices.size()));
        entity.shape = std::move(leader);
    } else {
        return false; // images, 3D solids, viewports and the like are not drawn
    }
    entity.style = style(groups);
    return m_error.isEmpty();
}

Text Parser::text(const std::vector<Group> &groups, bool attribute)
{
    Text t;
    Point first;
    Point second;
    bool hasSecond = false;
    int halign = 0;
    int valign = 0;
    for (const Group &group : groups) {
        if (group.code == 101)
            break; // an embedded multi-line copy follows, with codes of its own
        switch (group.code) {
        case 1:
            t.text = DxfText::resolveSpecials(text(group), &t.decorations);
            break;
        case 7:
            t.font = text(group);
            break;
        case 10:
            first.x = coordinate(group);
            break;
        case 20:
            first.y = coordinate(group);
            break;
        case 11:
            second.x = coordinate(group);
            hasSecond = true;
            break;
        case 21:
            second.y = coordinate(group);
            break;
        case 40:
            t.height = length(group);
            break;
        case 41:
            t.widthFactor = group.number;
            break;
        case 50:
            t.rotation = withinTurn(group.number);
            break;
        case 51:
            t.oblique = withinTurn(group.number);
            break;
        case 71:
            t.backward = group.integer & 2;
            t.upsideDown = group.integer & 4;
            break;
        case 72:
            halign = toInt(group.integer);
            break;
        case 73:
            if (!attribute)
                valign = toInt(group.integer);
            break;
        case 74:
            if (attribute)
                valign = toInt(group.integer);
            break;
        default:
            break;
        }
    }
    static const HAlign hAligns[] = {HAlign::Left,    HAlign::Center, HAlign::Right,
                                     HAlign::Aligned, HAlign::Middle, HAlign::Fit};
    static const VAlign vAligns[] = {VAlign::Baseline, VAlign::Bottom, VAlign::Middle, VAlign::Top};
    // Text seen from below its plane: placed and drawn mirrored across the y axis.
    if (mirrored(groups)) {
        second.x = -second.x;
        first.x = -first.x;
        t.rotation = -t.rotation;
        t.backward = !t.backward;
    }
    t.halign = halign >= 0 && halign < 6 ? hAligns[halign] : HAlign::Left;
    t.valign = valign >= 0 && valign < 4 ? vAligns[valign] : VAlign::Baseline;
    if (t.halign == HAlign::Aligned || t.halign == HAlign::Fit) {
        t.position = first;
        t.secondPosition = hasSecond ? second : first;
    } else if (t.halign == HAlign::Left && t.valign == VAlign::Baseline) {
        t.position = first;
    } else {
        t.position = hasSecond ? second : first;
    }
    return t;
}

Text Parser::mtext(const std::vector<Group> &groups)
{
    Text t;
    t.multiline = true;
    t.height = 2.5;
    int attachment = 1;
    QByteArray raw;
    QByteArray last;
    Point direction;
    bool hasDirection = false;
    for (const Group &group : groups) {
        switch (group.code) {
        case 3:
            raw.append(group.text.data(), group.text.size());
            break;
        case 1:
            last = group.text.toByteArray();
            break;
        case 7:
            t.font = text(group);
            break;
        case 10:
            t.position.x = coordinate(group);
            break;
        case 20:
            t.position.y = coordinate(group);
            break;
        case 11:
            direction.x = group.number;
            hasDirection = true;
            break;
        case 21:
            direction.y = group.number;
            break;
        case 40:
            t.height = length(group);
            break;
        case 41:
            t.boxWidth = length(group);
            break;
        case 44:
            // The range CAD programs allow; beyond it, lines would land light years apart.
            t.lineSpacing = std::clamp(group.number, 0.25, 4.0);
            break;
        case 50:
            t.rotation = withinTurn(group.number);
            break;
        case 71:
            attachment = toInt(group.integer);
            break;
        default:
            break;
        }
    }
    raw.append(last);
    Group whole;
    whole.text = raw;
    t.text = DxfText::plainMText(DxfText::resolveSpecials(text(whole)), &t.decorations);
    if (hasDirection && (direction.x != 0 || direction.y != 0))
        t.rotation = std::atan2(direction.y, direction.x) * 180 / kPi;
    if (attachment < 1 || attachment > 9)
        attachment = 1;
    static const HAlign columns[] = {HAlign::Left, HAlign::Center, HAlign::Right};
    static const VAlign rows[] = {VAlign::Top, VAlign::Middle, VAlign::Bottom};
    t.halign = columns[(attachment - 1) % 3];
    t.valign = rows[(attachment - 1) / 3];
    return t;
}

Polyline Parser::lwpolyline(const std::vector<Group> &groups)
{
    Polyline polyline;
    qint64 declared = 0;
    double constantWidth = 0;
    for (const Group &group : groups) {
        switch (group.code) {
        case 90:
            declared = group.integer;
            break;
        case 70:
            polyline.closed = group.integer & 1;
            break;
        case 43:
            constantWidth = length(group);
            break;
        case 10: {
            Vertex vertex;
            vertex.point.x = coordinate(group);
            vertex.startWidth = vertex.endWidth = constantWidth;
            polyline.vertices.append(vertex);
            break;
        }
        default:
            if (polyline.vertices.isEmpty())
                break;
            if (group.code == 20)
                polyline.vertices.back().point.y = coordinate(group);
            else if (group.code == 40)
                polyline.vertices.back().startWidth = length(group);
            else if (group.code == 41)
                polyline.vertices.back().endWidth = length(group);
            else if (group.code == 42)
                polyline.vertices.back().bulge = group.number;
            break;
        }
    }
    if (declared > polyline.vertices.size())
        fail(QStringLiteral("ポリラインが %1 個の頂点を持つとしていますが %2 個しかありません")
                 .arg(declared)
                 .arg(polyline.vertices.size()));
    return polyline;
}

Polyline Parser::spline(const std::vector<Group> &groups)
{
    int degree = 3;
    int flags = 0;
    qint64 declaredKnots = 0;
    qint64 declaredPoints = 0;
    qint64 declaredFits = 0;
    QVector<double> knots;
    QVector<double> weights;
    QVector<Point> points;
    QVector<Point> fits;
    Point tangents[2];
    bool hasTangent[2] = {false, false};
    for (const Group &group : groups) {
        switch (group.code) {
        case 70:
            flags = toInt(group.integer);
            break;
        case 12:
        case 13:
            tangents[group.code - 12].x = group.number;
            hasTangent[group.code - 12] = true;
            break;
        case 22:
        case 23:
            tangents[group.code - 22].y = group.number;
            break;
        case 71:
            degree = toInt(group.integer);
            break;
        case 72:
            declaredKnots = group.integer;
            break;
        case 73:
            declaredPoints = group.integer;
            break;
        case 74:
            declaredFits = group.integer;
            break;
        case 40:
            knots.append(group.number);
            break;
        case 41:
            weights.append(group.number);
            break;
        case 10:
            points.append(Point {coordinate(group), 0});
            break;
        case 20:
            if (!points.isEmpty())
                points.back().y = coordinate(group);
            break;
        case 11:
            fits.append(Point {coordinate(group), 0});
            break;
        case 21:
            if (!fits.isEmpty())
                fits.back().y = coordinate(group);
            break;
        default:
            break;
        }
    }
    if (declaredKnots > knots.size() || declaredPoints > points.size()
        || declaredFits > fits.size())
        fail(QStringLiteral("スプラインの点や節点の数が宣言と合いません"));
    Polyline polyline;
    polyline.closed = (flags & 1) != 0;
    const bool hasTangents = hasTangent[0] && hasTangent[1];
    // Without control points the curve passes through the fit points, which programs give
    // instead when the user drew it through them.
    const QVector<Point> outline = points.size() > degree
        ? Spline::flatten(degree, knots, points, weights, kMaxCurvePoints)
        : fits.size() >= 2
        ? Spline::throughFitPoints(fits, hasTangents ? &tangents[0] : nullptr,
                                   hasTangents ? &tangents[1] : nullptr, kMaxCurvePoints)
        : points;
    polyline.vertices.reserve(outline.size());
    for (const Point &p : outline)
        polyline.vertices.append(Vertex {p, 0, 0, 0});
    return polyline;
}

Face Parser::face(const std::vector<Group> &groups)
{
    Face face;
    bool fourth = false;
    for (const Group &group : groups) {
        if (group.code >= 10 && group.code <= 13)
            face.corners[group.code - 10].x = coordinate(group);
        else if (group.code >= 20 && group.code <= 23)
            face.corners[group.code - 20].y = coordinate(group);
        else if (group.code == 70)
            face.hiddenEdges = int(group.integer & 15);
        fourth = fourth || group.code == 13;
    }
    if (!fourth)
        face.corners[3] = face.corners[2];
    return face;
}

Multiline Parser::multiline(const std::vector<Group> &groups)
{
    Multiline m;
    qint64 declared = 0;
    bool first = false; // the next parameter is an element's first: its offset
    for (const Group &group : groups) {
        switch (group.code) {
        case 2:
            m.style = text(group);
            break;
        case 40:
            m.scale = group.number;
            break;
        case 70:
            m.justification = toInt(group.integer);
            break;
        case 71:
            m.closed = group.integer & 2;
            // Caps the multiline suppresses, whatever its style draws: kept here until the
            // style is known.
            m.flags = int(group.integer & 12) << 16;
            break;
        case 72:
            declared = group.integer;
            break;
        case 11:
            m.vertices.append({coordinate(group), 0});
            m.miters.append({0, 1});
            break;
        case 21:
            if (!m.vertices.isEmpty())
                m.vertices.back().y = coordinate(group);
            break;
        case 13:
            if (!m.miters.isEmpty())
                m.miters.back().x = group.number;
            break;
        case 23:
            if (!m.miters.isEmpty())
                m.miters.back().y = group.number;
            break;
        case 74:
            first = group.integer > 0;
            if (!m.vertices.isEmpty())
                m.offsets.append(0);
            break;
        case 41:
            if (first && !m.offsets.isEmpty())
                m.offsets.back() = coordinate(group);
            first = false;
            break;
        default:
            break;
        }
    }
    if (declared > m.vertices.size())
        fail(QStringLiteral("マルチラインの頂点の数が宣言と合いません"));
    return m;
}

// The group code a DIMSTYLE record gives the header variable $<variable>; 0 for none.
int Parser::dimensionCode(QByteArrayView variable)
{
    static const QHash<QByteArray, int> codes {
        {"DIMPOST", 3},   {"DIMBLK", 5},    {"DIMSCALE", 40}, {"DIMASZ", 41},   {"DIMEXO", 42},
        {"DIMEXE", 44},   {"DIMRND", 45},   {"DIMDLE", 46},   {"DIMTIH", 73},   {"DIMTOH", 74},
        {"DIMSE1", 75},   {"DIMSE2", 76},   {"DIMTAD", 77},   {"DIMZIN", 78},   {"DIMTXT", 140},
        {"DIMTSZ", 142},  {"DIMLFAC", 144}, {"DIMGAP", 147},  {"DIMCLRD", 176}, {"DIMCLRE", 177},
        {"DIMCLRT", 178}, {"DIMADEC", 179}, {"DIMDEC", 271},  {"DIMDSEP", 278}};
    return codes.value(variable.toByteArray().toUpper(), 0);
}

void Parser::setting(DxfDimension::Settings &settings, int code, const Group &value)
{
    if (code <= 0)
        return;
    // Texts: DIMPOST and the arrowheads' names (before R2000) or their blocks' handles.
    if (code == 3 || code == 4 || code == 5 || code == 6 || code == 7
        || (code >= 340 && code <= 344) || value.code == 1000 || value.code == 1005
        || (value.code >= 1 && value.code <= 9))
        settings.texts.insert(code, text(value));
    else
        settings.numbers.insert(code, value.number);
}

QString Parser::dimensionBlock(const std::vector<Group> &groups, const QString &text)
{
    DxfDimension::Definition definition;
    definition.text = text;
    QString styleName = QStringLiteral("STANDARD");
    bool xdata = false, overrides = false;
    int overridden = 0;
    DxfDimension::Settings own;
    for (const Group &group : groups) {
        const int code = group.code;
        if (code == 1001) {
            xdata = is(group.text, "ACAD");
            continue;
        }
        if (xdata) {
            // ACAD's DSTYLE list: pairs of a group code (1070) and its value.
            if (code == 1000 && is(group.text, "DSTYLE"))
                overrides = true;
            else if (overrides && code == 1002)
                overrides = !is(group.text, "}");
            else if (overrides && overridden == 0 && code == 1070)
                overridden = toInt(group.integer);
            else if (overrides && overridden != 0)
                setting(own, std::exchange(overridden, 0), group);
            continue;
        }
        if (code == 70)
            definition.type
                = int(group.integer & 7) + (int(group.integer & 7) == 6 && (group.integer & 64));
        else if (code == 50)
            definition.angle = group.number;
        else if (code == 3)
            styleName = this->text(group);
        else if (code >= 10 && code <= 16) {
            definition.points[code - 10].x = coordinate(group);
            definition.has[code - 10] = true;
        } else if (code >= 20 && code <= 26)
            definition.points[code - 20].y = coordinate(group);
    }
    // What the style does not set has its default; the header's variables stand in for a
    // style the file does not define.
    const auto style = m_dimensionStyles.constFind(styleName.toCaseFolded());
    DxfDimension::Settings settings
        = style != m_dimensionStyles.cend() ? *style : m_dimensionHeader;
    for (auto it = own.numbers.cbegin(); it != own.numbers.cend(); ++it)
        settings.numbers.insert(it.key(), it.value());
    for (auto it = own.texts.cbegin(); it != own.texts.cend(); ++it)
        settings.texts.insert(it.key(), it.value());
    // From R2000 on the arrowhead is a block named by its record's handle.
    if (settings.texts.contains(342))
        settings.texts.insert(5, m_blockNames.value(settings.texts.value(342).toUpper()));

    Block block;
    do {
        block.name = QStringLiteral("*D%1").arg(++m_dimensionBlocks);
    } while (m_blockKeys.contains(block.name.toCaseFolded()));
    block.entities = DxfDimension::build(definition, settings, m_unit);
    m_blockKeys.insert(block.name.toCaseFolded());
    m_model.blocks.append(block);
    return block.name;
}

// A colour as multileaders store it: the kind in the top byte, then an index or an RGB value.
Color rawColor(quint32 raw)
{
    switch (raw >> 24) {
    case 0xc0:
        return {Color::Kind::ByBlock, 0, -1};
    case 0xc2:
        return Color::fromRgb(raw & 0xffffff);
    case 0xc3:
        if ((raw & 0xff) > 0 && (raw & 0xff) < 256)
            return Color::fromRgb(DxfColors::rgb(int(raw & 0xff)), int(raw & 0xff));
        return (raw & 0xff) == 0 ? Color {Color::Kind::ByBlock, 0, -1} : Color::byLayer();
    default:
        return Color::byLayer();
    }
}

MultiLeader Parser::multiLeader(const std::vector<Group> &groups)
{
    // Groups mean different things in the context data, in each leader and in each of its
    // lines, and after the context in the entity itself.
    enum class Part { Entity, Context, Leader, Line } part = Part::Entity;
    MultiLeader leader;
    Text text;
    text.multiline = true;
    text.halign = HAlign::Left;
    text.valign = VAlign::Top;
    bool hasText = false, hasBlock = false, dogleg = true;
    int leaderType = 1;
    double scale = 1;
    Insert block;
    QString blockRecord;
    struct Branch
    {
        Point last;
        Point doglegDirection {1, 0};
        double doglegLength = 0;
        bool vertical = false;
        QVector<QVector<Point>> lines;
    };
    QVector<Branch> branches;
    Point direction {1, 0};
    for (const Group &group : groups) {
        const int code = group.code;
        if (code == 300 || code == 302 || (code == 304 && part == Part::Leader)) {
            part = code == 300 ? Part::Context : code == 302 ? Part::Leader : Part::Line;
            if (part == Part::Leader)
                branches.append(Branch());
            else if (part == Part::Line && !branches.isEmpty())
                branches.back().lines.append(QVector<Point>());
            continue;
        }
        if (code == 301 || code == 303 || code == 305) {
            part = code == 301 ? Part::Entity : code == 303 ? Part::Context : Part::Leader;
            continue;
        }
        Branch *branch = branches.isEmpty() ? nullptr : &branches.back();
        switch (part) {
        case Part::Context:
            if (code == 40)
                scale = group.number;
            else if (code == 41)
                text.height = length(group);
            else if (code == 140)
                leader.arrowSize = length(group);
            else if (code == 290)
                hasText = group.integer != 0;
            else if (code == 304)
                text.text = DxfText::plainMText(DxfText::resolveSpecials(this->text(group)),
                                                &text.decorations);
            else if (code == 12)
                text.position.x = coordinate(group);
            else if (code == 22)
                text.position.y = coordinate(group);
            else if (code == 13)
                direction.x = group.number;
            else if (code == 23)
                direction.y = group.number;
            else if (code == 43)
                text.boxWidth = length(group);
            else if (code == 45)
                text.lineSpacing = group.number;
            else if (code == 171)
                text.halign = group.integer == 2 ? HAlign::Center
                    : group.integer == 3         ? HAlign::Right
                                                 : HAlign::Left;
            else if (code == 296)
                hasBlock = group.integer != 0;
            else if (code == 341)
                blockRecord = this->text(group);
            else if (code == 15)
                block.position.x = coordinate(group);
            else if (code == 25)
                block.position.y = coordinate(group);
            else if (code == 16)
                block.scaleX = group.number;
            else if (code == 26)
                block.scaleY = group.number;
            else if (code == 46)
                block.rotation = group.number * 180 / kPi;
            break;
        case Part::Leader:
            if (!branch)
                break;
            if (code == 10)
                branch->last.x = coordinate(group);
            else if (code == 20)
                branch->last.y = coordinate(group);
            else if (code == 11)
                branch->doglegDirection.x = group.number;
            else if (code == 21)
                branch->doglegDirection.y = group.number;
            else if (code == 40)
                branch->doglegLength = coordinate(group);
            else if (code == 271)
                branch->vertical = group.integer != 0;
            break;
        case Part::Line:
            if (!branch || branch->lines.isEmpty())
                break;
            if (code == 10)
                branch->lines.back().append({coordinate(group), 0});
            else if (code == 20 && !branch->lines.back().isEmpty())
                branch->lines.back().back().y = coordinate(group);
            break;
        case Part::Entity:
            if (code == 170)
                leaderType = toInt(group.integer);
            else if (code == 291)
                dogleg = group.integer != 0;
            else if (code == 91)
                leader.lineColor = rawColor(quint32(group.integer));
            break;
        }
    }
    // Each line runs from its arrowhead to the branch's last point, then along its landing.
    leader.spline = leaderType == 2;
    for (const Branch &b : std::as_const(branches)) {
        if (leaderType == 0)
            break;
        const double length = std::hypot(b.doglegDirection.x, b.doglegDirection.y);
        const Point landing = length > 0
            ? Point {b.last.x + b.doglegDirection.x / length * b.doglegLength,
                     b.last.y + b.doglegDirection.y / length * b.doglegLength}
            : Point {b.last.x + b.doglegLength, b.last.y};
        for (QVector<Point> line : b.lines) {
            if (!b.vertical && dogleg && !leader.spline)
                line << b.last << landing;
            else
                line << (b.vertical ? b.last : landing);
            leader.lines.append(line);
        }
    }
    if (hasText && !text.text.isEmpty()) {
        text.boxWidth *= scale;
        if (direction.x != 0 || direction.y != 0)
            text.rotation = std::atan2(direction.y, direction.x) * 180 / kPi;
        leader.text.append(text);
    }
    if (hasBlock && !blockRecord.isEmpty()) {
        block.block = blockRecord; // the record's handle until every block is known
        leader.block.append(block);
    }
    return leader;
}

void Parser::resolveReferences(QVector<Entity> &entities)
{
    for (Entity &entity : entities) {
        if (auto *leader = std::get_if<MultiLeader>(&entity.shape)) {
            if (!leader->block.isEmpty()) {
                leader->block.first().block
                    = m_blockNames.value(leader->block.first().block.toUpper());
                if (leader->block.first().block.isEmpty())
                    leader->block.clear();
            }
        } else if (auto *m = std::get_if<Multiline>(&entity.shape)) {
            const MultilineStyle style = m_multilineStyles.value(m->style.toCaseFolded());
            const int suppressed = m->flags >> 16;
            m->elements = style.elements;
            m->fillColor = style.fill;
            m->flags = style.flags;
            if (suppressed & 4)
                m->flags
                    &= ~(Multiline::StartLine | Multiline::StartRound | Multiline::StartInnerArcs);
            if (suppressed & 8)
                m->flags &= ~(Multiline::EndLine | Multiline::EndRound | Multiline::EndInnerArcs);
            // Without its style, the elements are the offsets of the first vertex.
            if (m->elements.isEmpty() && !m->vertices.isEmpty()) {
                const qsizetype count = m->offsets.size() / m->vertices.size();
                for (qsizetype e = 0; e < count; ++e)
                    m->elements.append({m->offsets[e], Color::byLayer(), QString()});
            }
        }
    }
}

bool Parser::readObjects()
{
    Object &object = m_object;
    while (readObject(object)) {
        if (is(object.type, "ENDSEC"))
            return true;
        if (is(object.type, "LAYOUT"))
            layout(object.groups);
        if (!is(object.type, "MLINESTYLE"))
            continue;
        QString name;
        MultilineStyle style;
        for (const Group &group : object.groups) {
            if (group.code == 2) {
                name = text(group);
            } else if (group.code == 70) {
                style.flags = int(group.integer & 0x7ff);
            } else if (group.code == 49 && style.elements.size() < 1024) {
                style.elements.append({group.number, Color::byLayer(), QString()});
            } else if (group.code == 62 || group.code == 420) {
                const Color color = this->color({group}, false);
                if (style.elements.isEmpty())
                    style.fill = color;
                else
                    style.elements.back().color = color;
            } else if (group.code == 6 && !style.elements.isEmpty()) {
                style.elements.back().linetype
                    = is(group.text, "BYLAYER") ? QString() : this->name(group);
            }
        }
        if (m_multilineStyles.size() < 4096)
            m_multilineStyles.insert(name.toCaseFolded(), style);
    }
    return false;
}

void Parser::layout(const std::vector<Group> &groups)
{
    DxfLayouts::Layout layout;
    bool inches = false;
    double numerator = 1;
    double denominator = 1;
    bool valid = true;
    // Paper lengths are millimetres whatever the drawing's unit; beyond the largest coordinate
    // they describe no paper, and the page falls back to the limits.
    const auto paper = [&](const Group &group) {
        valid = valid && std::fabs(group.number) <= kMaxCoordinate;
        return group.number;
    };
    const auto limit = [&](const Group &group) {
        const double value = group.number * m_unit;
        layout.hasLimits = layout.hasLimits && std::fabs(value) <= kMaxCoordinate;
        return value;
    };
    layout.hasLimits = true;
    bool limits = false;
    for (const Group &group : groups) {
        switch (group.code) {
        // The page setup's name (1) and the owner (330) come before the layout's own.
        case 1:
            layout.name = text(group);
            break;
        case 330:
            layout.record = handleIn(group);
            break;
        case 71:
            layout.tabOrder = toInt(group.integer);
            break;
        case 40:
        case 41:
        case 42:
        case 43:
            layout.margins[group.code - 40] = paper(group);
            break;
        case 44:
            layout.paperWidth = paper(group);
            break;
        case 45:
            layout.paperHeight = paper(group);
            break;
        case 46:
            layout.origin.x = paper(group);
            break;
        case 47:
            layout.origin.y = paper(group);
            break;
        case 72:
            inches = group.integer == 0;
            break;
        case 73:
            layout.rotation = group.integer >= 0 && group.integer < 4 ? int(group.integer) : 0;
            break;
        case 74:
            layout.plotType = toInt(group.integer);
            break;
        case 142:
            numerator = group.number;
            break;
        case 143:
            denominator = group.number;
            break;
        case 10:
            layout.limits[0].x = limit(group);
            limits = true;
            break;
        case 20:
            layout.limits[0].y = limit(group);
            break;
        case 11:
            layout.limits[1].x = limit(group);
            limits = true;
            break;
        case 21:
            layout.limits[1].y = limit(group);
            break;
        default:
            break;
        }
    }
    layout.hasLimits = layout.hasLimits && limits;
    // 142 and 143 are paper units (inches or millimetres) per drawing unit.
    layout.scale = numerator / denominator * (inches ? 25.4 : 1) / m_unit;
    if (!valid)
        layout.plotType = -1;
    m_layouts.addLayout(layout);
}

void Parser::viewport(const std::vector<Group> &groups, DxfLayouts::PaperSpace &paper)
{
    DxfLayouts::PendingViewport pending;
    Viewport &v = pending.viewport;
    double viewHeight = 0;
    qint64 status = 1;
    qint64 id = 2;
    qint64 flags = 0x10000;
    // R12 keeps the view in the extended data "MVIEW": twist, view height and centre are its
    // first reals, and the names of the frozen layers follow.
    bool mview = false;
    int reals = 0;
    // A viewport with numbers beyond any coordinate is left out rather than the drawing.
    bool sane = true;
    const auto coordinate = [&](const Group &group) {
        const double value = group.number * m_unit;
        sane = sane && std::fabs(value) <= kMaxCoordinate;
        return value;
    };
    const auto length = [&](const Group &group) {
        return std::fabs(coordinate(group));
    };
    for (const Group &group : groups) {
        if (group.code >= 1000) {
            if (group.code == 1000 && is(group.text, "MVIEW")) {
                mview = true;
                pending.frozenAreNames = true;
                pending.frozen.clear();
            } else if (group.code == 1001) {
                mview = false;
            } else if (mview && group.code == 1040) {
                switch (reals++) {
                case 0:
                    v.twist = withinTurn(group.number);
                    break;
                case 1:
                    viewHeight = length(group);
                    break;
                case 2:
                    v.viewCenter.x = coordinate(group);
                    break;
                case 3:
                    v.viewCenter.y = coordinate(group);
                    break;
                default:
                    break;
                }
            } else if (mview && group.code == 1003) {
                pending.frozen.append(text(group));
            }
            continue;
        }
        switch (group.code) {
        case 10:
            v.center.x = coordinate(group);
            break;
        case 20:
            v.center.y = coordinate(group);
            break;
        case 40:
            v.width = length(group);
            break;
        case 41:
            v.height = length(group);
            break;
        case 12:
            v.viewCenter.x = coordinate(group);
            break;
        case 22:
            v.viewCenter.y = coordinate(group);
            break;
        case 45:
            viewHeight = length(group);
            break;
        case 51:
            v.twist = withinTurn(group.number);
            break;
        case 68:
            status = group.integer;
            break;
        case 69:
            id = group.integer;
            break;
        case 90:
            flags = group.integer;
            break;
        case 340:
            pending.clip = handleIn(group);
            break;
        case 331:
        case 341:
            if (!pending.frozenAreNames)
                pending.frozen.append(handleIn(group));
            break;
        default:
            break;
        }
    }
    if (!(flags & 0x10000))
        pending.clip.clear();
    // Viewport 1 is paper space's own view of itself; one that is off shows nothing.
    if (!sane || id < 2 || status < 1 || !(v.width > 0) || !(v.height > 0) || !(viewHeight > 0))
        return;
    v.scale = v.height / viewHeight;
    if (std::isfinite(v.scale) && v.scale > 0)
        paper.viewports.append(pending);
}

Hatch Parser::hatch(const std::vector<Group> &groups)
{
    Hatch hatch;
    size_t i = 0;
    const auto bad = [this](const char *what) {
        fail(QStringLiteral("ハッチの境界が壊れています（%1）").arg(QLatin1String(what)));
    };
    for (; i < groups.size() && groups[i].code != 91; ++i) {
        if (groups[i].code == 2)
            hatch.pattern = text(groups[i]);
        else if (groups[i].code == 70)
            hatch.solid = groups[i].integer & 1;
    }
    if (i == groups.size())
        return hatch;
    const qint64 loopCount = groups[i++].integer;
    if (loopCount < 0 || loopCount > qint64(groups.size())) {
        bad("境界の数");
        return hatch;
    }
    for (qint64 loop = 0; loop < loopCount && m_error.isEmpty(); ++loop) {
        if (i >= groups.size() || groups[i].code != 92) {
            bad("92");
            return hatch;
        }
        const qint64 flags = groups[i++].integer;
        QVector<Vertex> vertices;
        if (flags & 2) {
            bool hasBulge = false;
            qint64 count = 0;
            for (; i < groups.size() && groups[i].code != 10; ++i) {
                if (groups[i].code == 72)
                    hasBulge = groups[i].integer != 0;
                else if (groups[i].code == 93)
                    count = groups[i].integer;
            }
            if (count < 0 || count > qint64(groups.size() - i) / 2) {
                bad("頂点の数");
                return hatch;
            }
            for (qint64 v = 0; v < count; ++v) {
                if (i + 1 >= groups.size() || groups[i].code != 10 || groups[i + 1].code != 20) {
                    bad("頂点");
                    return hatch;
                }
                Vertex vertex;
                vertex.point = {coordinate(groups[i]), coordinate(groups[i + 1])};
                i += 2;
                if (hasBulge && i < groups.size() && groups[i].code == 42)
                    vertex.bulge = groups[i++].number;
                vertices.append(vertex);
            }
        } else if (!hatchEdges(groups, i, vertices)) {
            return hatch;
        }
        // the handles of the boundary's source objects
        if (i < groups.size() && groups[i].code == 97) {
            const qint64 sources = groups[i++].integer;
            for (qint64 s = 0; s < sources && i < groups.size() && groups[i].code == 330; ++s)
                ++i;
        }
        hatch.loops.append(vertices);
    }
    for (; i < groups.size() && m_error.isEmpty(); ++i) {
        if (groups[i].code != 78)
            continue;
        const qint64 lineCount = groups[i++].integer;
        if (lineCount < 0 || lineCount > qint64(groups.size() - i)) {
            bad("模様の線の数");
            return hatch;
        }
        for (qint64 l = 0; l < lineCount; ++l) {
            PatternLine line;
            const auto optional = [&](int code, double &value) {
                if (i < groups.size() && groups[i].code == code)
                    value = groups[i++].number;
            };
            double dashCount = 0;
            optional(53, line.angle);
            line.angle = withinTurn(line.angle);
            optional(43, line.base.x);
            optional(44, line.base.y);
            optional(45, line.offset.x);
            optional(46, line.offset.y);
            optional(79, dashCount);
            line.base = {line.base.x * m_unit, line.base.y * m_unit};
            line.offset = {line.offset.x * m_unit, line.offset.y * m_unit};
            for (; i < groups.size() && groups[i].code == 49 && line.dashes.size() < dashCount; ++i)
                line.dashes.append(groups[i].number * m_unit);
            hatch.patternLines.append(line);
        }
        break;
    }
    return hatch;
}

bool Parser::hatchEdges(const std::vector<Group> &groups, size_t &i, QVector<Vertex> &loop)
{
    if (i >= groups.size() || groups[i].code != 93)
        return fail(QStringLiteral("ハッチの境界が壊れています（93）"));
    const qint64 edgeCount = groups[i++].integer;
    if (edgeCount < 0 || edgeCount > qint64(groups.size() - i))
        return fail(QStringLiteral("ハッチの境界が %1 本の辺を持つとしています").arg(edgeCount));
    const auto take = [&](int code, double &value) {
        if (i >= groups.size() || groups[i].code != code)
            return fail(QStringLiteral("ハッチの境界が壊れています（%1）").arg(code));
        value = groups[i++].number;
        return true;
    };
    const auto takePoint = [&](int code, Point &p) {
        double x = 0;
        double y = 0;
        if (!take(code, x) || !take(code + 10, y))
            return false;
        p = {x * m_unit, y * m_unit};
        if (std::fabs(p.x) > kMaxCoordinate || std::fabs(p.y) > kMaxCoordinate)
            return fail(QStringLiteral("座標が大きすぎます"));
        return true;
    };
    Point previousEnd;
    bool hasPrevious = false;
    const auto begin = [&](const Point &start, double bulge) {
        if (hasPrevious && distance(previousEnd, start) > 1e-9 * (1 + std::fabs(start.x)))
            loop.append(Vertex {previousEnd, 0, 0, 0});
        loop.append(Vertex {start, bulge, 0, 0});
    };
    for (qint64 e = 0; e < edgeCount; ++e) {
        double type = 0;
        if (!take(72, type))
            return false;
        Point end;
        if (type == 1) {
            Point start;
            if (!takePoint(10, start) || !takePoint(11, end))
                return false;
            begin(start, 0);
        } else if (type == 2) {
            Point center;
            double radius = 0;
            double startAngle = 0;
            double endAngle = 0;
            double ccw = 1;
            if (!takePoint(10, center) || !take(40, radius) || !take(50, startAngle)
                || !take(51, endAngle) || !take(73, ccw))
                return false;
            radius = std::fabs(radius) * m_unit;
            if (radius > kMaxCoordinate)
                return fail(QStringLiteral("半径 %1 が大きすぎます").arg(radius));
            // Clockwise arcs store their angles mirrored.
            const double sign = ccw != 0 ? 1 : -1;
            startAngle = withinTurn(startAngle, kTwoTurns) * sign;
            endAngle = withinTurn(endAngle, kTwoTurns) * sign;
            double sweep = (endAngle - startAngle) * sign;
            if (sweep < 0)
                sweep = std::fmod(sweep, 360.0) + 360;
            if (sweep == 0 && startAngle != endAngle)
                sweep = 360;
            sweep = std::min(sweep, 360.0);
            // Bulges describe at most half a turn each, so long arcs are split.
            const int parts = sweep > 180 ? 2 : 1;
            for (int p = 0; p < parts; ++p) {
                const double a = startAngle + sign * sweep * p / parts;
                begin(polar(center, radius, a), sign * std::tan(sweep / parts * kPi / 180 / 4));
                hasPrevious = false;
            }
            end = polar(center, radius, endAngle);
        } else if (type == 3) {
            Point center;
            Point axis;
            double ratio = 1;
            double startAngle = 0;
            double endAngle = 0;
            double ccw = 1;
            if (!takePoint(10, center) || !takePoint(11, axis) || !take(40, ratio)
                || !take(50, startAngle) || !take(51, endAngle) || !take(73, ccw))
                return false;
            const double sign = ccw != 0 ? 1 : -1;
            startAngle = withinTurn(startAngle, kTwoTurns);
            endAngle = withinTurn(endAngle, kTwoTurns);
            double sweep = endAngle - startAngle;
            if (sweep <= 0)
                sweep = std::fmod(sweep, 360.0) + 360;
            const double rotation = std::atan2(axis.y, axis.x);
            const double major = std::hypot(axis.x, axis.y);
            if (std::fabs(ratio) * major > kMaxCoordinate)
                return fail(QStringLiteral("楕円の軸の比 %1 が大きすぎます").arg(ratio));
            const int steps = 32;
            for (int s = 0; s <= steps; ++s) {
                const double a = sign * (startAngle + sweep * s / steps) * kPi / 180;
                const double x = major * std::cos(a);
                const double y = major * ratio * std::sin(a);
                const Point p {center.x + x * std::cos(rotation) - y * std::sin(rotation),
                               center.y + x * std::sin(rotation) + y * std::cos(rotation)};
                if (s < steps)
                    begin(p, 0);
                else
                    end = p;
                hasPrevious = false;
            }
        } else if (type == 4) {
            double degree = 3;
            double rational = 0;
            double periodic = 0;
            double knotCount = 0;
            double pointCount = 0;
            if (!take(94, degree) || !take(73, rational) || !take(74, periodic)
                || !take(95, knotCount) || !take(96, pointCount))
                return false;
            if (knotCount < 0 || pointCount < 0 || knotCount + pointCount > double(groups.size()))
                return fail(QStringLiteral("ハッチのスプラインの点の数が壊れています"));
            QVector<double> knots;
            QVector<Point> points;
            QVector<double> weights;
            for (int k = 0; k < int(knotCount); ++k) {
                double knot = 0;
                if (!take(40, knot))
                    return false;
                knots.append(knot);
            }
            for (int c = 0; c < int(pointCount); ++c) {
                Point p;
                if (!takePoint(10, p))
                    return false;
                points.append(p);
                double weight = 1;
                if (i < groups.size() && groups[i].code == 42) {
                    take(42, weight);
                    weights.append(weight);
                }
            }
            // fit points and tangents, present from R2010 on
            QVector<Point> fits;
            if (i < groups.size() && groups[i].code == 97) {
                const qint64 count = groups[i++].integer;
                for (qint64 f = 0; f < count && i < groups.size() && groups[i].code == 11; ++f) {
                    if (!takePoint(11, fits.emplace_back()))
                        return false;
                }
            }
            while (i < groups.size()
                   && (groups[i].code == 12 || groups[i].code == 22 || groups[i].code == 13
                       || groups[i].code == 23))
                ++i;
            const QVector<Point> outline = points.isEmpty() && fits.size() >= 2
                ? Spline::throughFitPoints(fits, nullptr, nullptr, kMaxCurvePoints)
                : Spline::flatten(toInt(degree), knots, points, weights, kMaxCurvePoints);
            if (outline.isEmpty())
                continue;
            for (qsizetype s = 0; s + 1 < outline.size(); ++s) {
                begin(outline[s], 0);
                hasPrevious = false;
            }
            end = outline.back();
        } else {
            return fail(QStringLiteral("ハッチの境界に未知の辺 %1 があります").arg(type));
        }
        previousEnd = end;
        hasPrevious = true;
    }
    if (hasPrevious && !loop.isEmpty() && distance(previousEnd, loop.front().point) > 1e-9)
        loop.append(Vertex {previousEnd, 0, 0, 0});
    return m_error.isEmpty();
}

} // namespace

bool DxfReader::parse(const QByteArray &bytes, Model &model, QString *errorMessage)
{
    QString ignored;
    QString &error = errorMessage ? *errorMessage : ignored;
    if (bytes.size() > kMaxInputBytes) {
        error = QStringLiteral("%1 MB を超える DXF は読み込めません").arg(kMaxInputBytes >> 20);
        return false;
    }
    model = Model();
    Parser parser(bytes, model);
    if (parser.run(&error))
        return true;
    model = Model();
    return false;
}
