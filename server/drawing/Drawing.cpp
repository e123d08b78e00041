#include "server/drawing/Drawing.h"

#include <algorithm>
#include <cmath>

namespace Drawing {

bool sameNumber(double a, double b)
{
    if (a == b)
        return true;
    const double scale = std::max({1.0, std::fabs(a), std::fabs(b)});
    return std::fabs(a - b) <= 1e-9 * scale;
}

double withinTurn(double angle, double turn)
{
    return std::fabs(angle) > turn ? std::fmod(angle, turn) : angle;
}

template<typename T>
static bool sameNumbers(const QVector<T> &a, const QVector<T> &b)
{
    if (a.size() != b.size())
        return false;
    for (int i = 0; i < a.size(); ++i) {
        if (!sameNumber(a[i], b[i]))
            return false;
    }
    return true;
}

bool operator==(const Point &a, const Point &b)
{
    return sameNumber(a.x, b.x) && sameNumber(a.y, b.y);
}

bool operator==(const Color &a, const Color &b)
{
    if (a.kind != b.kind)
        return false;
    return a.kind != Color::Kind::Rgb || (a.rgb == b.rgb && a.index == b.index);
}

bool operator==(const Style &a, const Style &b)
{
    return a.layer == b.layer && a.color == b.color && a.visible == b.visible
        && a.linetype == b.linetype && sameNumber(a.lineweight, b.lineweight)
        && sameNumber(a.linetypeScale, b.linetypeScale);
}

bool operator==(const Line &a, const Line &b)
{
    return a.start == b.start && a.end == b.end;
}

bool operator==(const Circle &a, const Circle &b)
{
    return a.center == b.center && sameNumber(a.radius, b.radius);
}

bool operator==(const Arc &a, const Arc &b)
{
    return a.center == b.center && sameNumber(a.radius, b.radius)
        && sameNumber(a.startAngle, b.startAngle) && sameNumber(a.endAngle, b.endAngle);
}

bool operator==(const Ellipse &a, const Ellipse &b)
{
    return a.center == b.center && a.majorAxis == b.majorAxis && sameNumber(a.ratio, b.ratio)
        && sameNumber(a.startParam, b.startParam) && sameNumber(a.endParam, b.endParam);
}

bool operator==(const Vertex &a, const Vertex &b)
{
    return a.point == b.point && sameNumber(a.bulge, b.bulge)
        && sameNumber(a.startWidth, b.startWidth) && sameNumber(a.endWidth, b.endWidth);
}

bool operator==(const Polyline &a, const Polyline &b)
{
    return a.closed == b.closed && a.vertices == b.vertices;
}

bool operator==(const Marker &a, const Marker &b)
{
    return a.position == b.position;
}

bool operator==(const Solid &a, const Solid &b)
{
    for (int i = 0; i < 4; ++i) {
        if (a.corners[i] != b.corners[i])
            return false;
    }
    return true;
}

bool operator==(const Text &a, const Text &b)
{
    return a.text == b.text && a.decorations == b.decorations && a.position == b.position
        && a.secondPosition == b.secondPosition && sameNumber(a.height, b.height)
        && sameNumber(a.rotation, b.rotation) && sameNumber(a.widthFactor, b.widthFactor)
        && sameNumber(a.oblique, b.oblique) && a.backward == b.backward
        && a.upsideDown == b.upsideDown && a.halign == b.halign && a.valign == b.valign
        && a.font == b.font && a.multiline == b.multiline && sameNumber(a.boxWidth, b.boxWidth)
        && sameNumber(a.lineSpacing, b.lineSpacing);
}

bool operator==(const Insert &a, const Insert &b)
{
    return a.block == b.block && a.position == b.position && sameNumber(a.scaleX, b.scaleX)
        && sameNumber(a.scaleY, b.scaleY) && sameNumber(a.rotation, b.rotation)
        && a.columns == b.columns && a.rows == b.rows
        && sameNumber(a.columnSpacing, b.columnSpacing) && sameNumber(a.rowSpacing, b.rowSpacing)
        && a.attributes == b.attributes;
}

bool operator==(const PatternLine &a, const PatternLine &b)
{
    return sameNumber(a.angle, b.angle) && a.base == b.base && a.offset == b.offset
        && sameNumbers(a.dashes, b.dashes);
}

bool operator==(const Hatch &a, const Hatch &b)
{
    return a.solid == b.solid && a.pattern == b.pattern && a.loops == b.loops
        && a.patternLines == b.patternLines;
}

bool operator==(const Dimension &a, const Dimension &b)
{
    return a.block == b.block && a.insertion == b.insertion
        && a.definitionPoint == b.definitionPoint && a.textPosition == b.textPosition
        && a.text == b.text && sameNumber(a.measurement, b.measurement);
}

bool operator==(const Leader &a, const Leader &b)
{
    return a.arrowhead == b.arrowhead && a.vertices == b.vertices;
}

bool operator==(const Face &a, const Face &b)
{
    return a.hiddenEdges == b.hiddenEdges
        && std::equal(std::begin(a.corners), std::end(a.corners), std::begin(b.corners));
}

bool operator==(const MultilineElement &a, const MultilineElement &b)
{
    return sameNumber(a.offset, b.offset) && a.color == b.color && a.linetype == b.linetype;
}

bool operator==(const Multiline &a, const Multiline &b)
{
    return a.vertices == b.vertices && a.miters == b.miters && sameNumbers(a.offsets, b.offsets)
        && a.elements == b.elements && a.style == b.style && a.flags == b.flags
        && a.fillColor == b.fillColor && sameNumber(a.scale, b.scale)
        && a.justification == b.justification && a.closed == b.closed;
}

bool operator==(const MultiLeader &a, const MultiLeader &b)
{
    return a.lines == b.lines && a.spline == b.spline && sameNumber(a.arrowSize, b.arrowSize)
        && a.lineColor == b.lineColor && a.text == b.text && a.block == b.block;
}

bool operator==(const Entity &a, const Entity &b)
{
    return a.style == b.style && a.shape == b.shape;
}

bool operator==(const Linetype &a, const Linetype &b)
{
    return a.name == b.name && a.description == b.description && sameNumbers(a.pattern, b.pattern);
}

bool operator==(const Layer &a, const Layer &b)
{
    return a.name == b.name && a.color == b.color && a.linetype == b.linetype
        && sameNumber(a.lineweight, b.lineweight) && a.on == b.on && a.frozen == b.frozen
        && a.plot == b.plot;
}

bool operator==(const Block &a, const Block &b)
{
    return a.name == b.name && a.base == b.base && a.entities == b.entities;
}

// Tables are looked up by name, so their order in a file carries no meaning; formats write
// them in orders of their own (DXF puts its standard line types first).
template<typename T>
static bool sameTable(const QVector<T> &a, const QVector<T> &b)
{
    if (a.size() != b.size())
        return false;
    for (const T &entry : a) {
        const auto match = std::find_if(
            b.cbegin(), b.cend(), [&entry](const T &other) { return other.name == entry.name; });
        if (match == b.cend() || !(*match == entry))
            return false;
    }
    return true;
}

bool operator==(const Viewport &a, const Viewport &b)
{
    return a.center == b.center && sameNumber(a.width, b.width) && sameNumber(a.height, b.height)
        && a.viewCenter == b.viewCenter && sameNumber(a.scale, b.scale)
        && sameNumber(a.twist, b.twist) && a.clip == b.clip && a.frozenLayers == b.frozenLayers;
}

bool operator==(const Sheet &a, const Sheet &b)
{
    for (int i = 0; i < 4; ++i) {
        if (!sameNumber(a.margins[i], b.margins[i]))
            return false;
    }
    return a.name == b.name && sameNumber(a.width, b.width) && sameNumber(a.height, b.height)
        && sameNumber(a.paperWidth, b.paperWidth) && sameNumber(a.paperHeight, b.paperHeight)
        && a.rotation == b.rotation && sameNumber(a.scale, b.scale) && a.offset == b.offset
        && a.tabOrder == b.tabOrder && a.entities == b.entities && a.viewports == b.viewports;
}

bool operator==(const Model &a, const Model &b)
{
    return sameTable(a.layers, b.layers) && sameTable(a.linetypes, b.linetypes)
        && sameTable(a.blocks, b.blocks) && a.entities == b.entities
        && sameNumber(a.linetypeScale, b.linetypeScale) && a.sheets == b.sheets
        && a.currentSheet == b.currentSheet;
}

const Layer *Model::layer(const QString &name) const
{
    for (const Layer &l : layers) {
        if (l.name.compare(name, Qt::CaseInsensitive) == 0)
            return &l;
    }
    return nullptr;
}

const Block *Model::block(const QString &name) const
{
    for (const Block &b : blocks) {
        if (b.name.compare(name, Qt::CaseInsensitive) == 0)
            return &b;
    }
    return nullptr;
}

BlockIndex::BlockIndex(const Model &model)
{
    m_blocks.reserve(model.blocks.size());
    for (const Block &block : model.blocks)
        m_blocks.insert(block.name.toCaseFolded(), &block);
}

const Block *BlockIndex::find(const QString &name) const
{
    return m_blocks.value(name.toCaseFolded(), nullptr);
}

} // namespace Drawing
