#pragma once

// The drawing server's format-neutral drawing model. Every reader fills one; every writer draws
// one. Lengths are millimetres, angles degrees counter-clockwise from +x, in the drawing's own
// (world) coordinates unless a member says otherwise. Readers resolve what is format-specific
// (code pages, units, formatting codes, spline fitting) so that writers never need to know where
// a drawing came from, and so that reading what a writer wrote gives back an equal model.

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QVector>

#include <variant>

namespace Drawing {

// Numbers that went through a text format come back with rounding in the last digits; two
// drawings are equal when every number agrees to this relative precision.
bool sameNumber(double a, double b);

// An angle read from a file, less whole turns when it lies beyond `turn` (360 degrees, or 2π
// radians, or a multiple of either): a file may give any size, more turns say nothing more, and
// sums or differences of such angles would overflow or not change when a turn is added. Angles
// within `turn` stay exactly as written.
double withinTurn(double angle, double turn = 360);

struct Point
{
    double x = 0;
    double y = 0;
};
bool operator==(const Point &a, const Point &b);
inline bool operator!=(const Point &a, const Point &b)
{
    return !(a == b);
}

// A colour as the drawing states it. `rgb` is what every writer paints. `index` keeps the DXF
// colour number a drawing named, so that a round trip through DXF gives back that number rather
// than the nearest one; the other formats' colours are told apart by `rgb` alone, and a DXF
// writer names them by the nearest number beside the true colour.
struct Color
{
    enum class Kind { ByLayer, ByBlock, Rgb };
    Kind kind = Kind::ByLayer;
    quint32 rgb = 0; // 0xRRGGBB, meaningful when kind == Rgb
    int index = -1; // DXF colour number, -1 when none

    static Color byLayer() { return {}; }
    static Color fromRgb(quint32 rgb, int index = -1) { return {Kind::Rgb, rgb & 0xffffff, index}; }
};
bool operator==(const Color &a, const Color &b);

// Stroke properties shared by every entity. Empty linetype and negative lineweight mean "as the
// layer says"; the layer "0" is the default layer of every format.
struct Style
{
    QString layer = QStringLiteral("0");
    Color color;
    bool visible = true; // false: kept in the drawing but shown nowhere
    QString linetype; // empty: by layer; "CONTINUOUS" is solid
    double lineweight = -1; // millimetres; -1 by layer, -2 by block, -3 default
    double linetypeScale = 1; // the linetype's dashes and gaps times this (and the drawing's)
};
bool operator==(const Style &a, const Style &b);

struct Line
{
    Point start;
    Point end;
};

struct Circle
{
    Point center;
    double radius = 0;
};

struct Arc
{
    Point center;
    double radius = 0;
    double startAngle = 0; // degrees, the arc runs counter-clockwise from start to end
    double endAngle = 360;
};

// A full ellipse has startParam 0 and endParam 2π.
struct Ellipse
{
    Point center;
    Point majorAxis; // end of the major axis relative to the center
    double ratio = 1; // minor / major
    double startParam = 0;
    double endParam = 6.283185307179586;
};

struct Vertex
{
    Point point;
    double bulge = 0; // tan(θ/4) of the arc to the next vertex, 0 for a straight segment
    double startWidth = 0;
    double endWidth = 0;
};
bool operator==(const Vertex &a, const Vertex &b);

// Polylines, and splines, which readers flatten into fine polylines.
struct Polyline
{
    QVector<Vertex> vertices;
    bool closed = false;
};

struct Marker
{
    Point position;
};

// SOLID and TRACE: a filled quadrilateral (or triangle when the last two corners coincide), its
// corners in drawing order around the outline.
struct Solid
{
    Point corners[4];
};

enum class HAlign { Left, Center, Right, Aligned, Middle, Fit };
enum class VAlign { Baseline, Bottom, Middle, Top };

// TEXT, ATTRIB and MTEXT. `position` is the alignment point that (halign, valign) name; multi-line
// text keeps its lines separated by '\n' with formatting codes resolved, and is wrapped at its
// box width when it has one.
struct Text
{
    enum Decoration : char { Underline = 1, Overline = 2, StrikeThrough = 4 };

    QString text;
    QByteArray decorations; // one set of Decoration flags per character; empty when none
    Point position;
    Point secondPosition; // second alignment point of Aligned/Fit, otherwise unused
    double height = 2.5;
    double rotation = 0;
    double widthFactor = 1;
    double oblique = 0; // degrees
    bool backward = false; // glyphs mirrored across the text's own y axis
    bool upsideDown = false; // and across its baseline
    HAlign halign = HAlign::Left;
    VAlign valign = VAlign::Baseline;
    QString font; // the font or style name the source gave, empty for the default
    bool multiline = false;
    double boxWidth = 0; // reference width of multi-line text, 0 when unlimited
    double lineSpacing = 1; // factor of multi-line text
};

// A block reference. Attributes are texts already placed in world coordinates.
struct Insert
{
    QString block;
    Point position;
    double scaleX = 1;
    double scaleY = 1;
    double rotation = 0;
    int columns = 1;
    int rows = 1;
    double columnSpacing = 0;
    double rowSpacing = 0;
    QVector<Text> attributes;
};

struct PatternLine
{
    double angle = 0;
    Point base;
    Point offset;
    QVector<double> dashes; // positive dash, negative gap, 0 dot; empty: continuous
};
bool operator==(const PatternLine &a, const PatternLine &b);

// A hatch: closed boundary loops (arcs as bulges), filled solid or with pattern lines.
struct Hatch
{
    QVector<QVector<Vertex>> loops;
    bool solid = false;
    QString pattern; // name as the source gave it
    QVector<PatternLine> patternLines; // in world coordinates, already scaled and rotated
};

// A dimension is drawn from the anonymous block it names; the rest keeps what it measures.
struct Dimension
{
    QString block;
    Point insertion;
    Point definitionPoint;
    Point textPosition;
    QString text; // user text, empty: the measurement
    double measurement = 0;
};

struct Leader
{
    QVector<Point> vertices;
    bool arrowhead = true;
};

// 3DFACE: a face of three or four corners, seen from above; only its visible edges are drawn.
struct Face
{
    Point corners[4]; // the fourth equal to the third for a triangle
    int hiddenEdges = 0; // bit i set: the edge from corner i to the next is not drawn
};

// One of the parallel lines of a multiline.
struct MultilineElement
{
    double offset = 0; // from the reference line, as the style gives it (before the scale)
    Color color;
    QString linetype; // empty: by layer
};
bool operator==(const MultilineElement &a, const MultilineElement &b);

// MLINE: parallel lines along a path. At each vertex the elements' points lie along its miter
// direction, at the distances `offsets` holds (vertex by vertex, element by element), which
// already include the scale and justification.
struct Multiline
{
    enum Flag {
        Fill = 1,
        Joints = 2,
        StartLine = 16,
        StartInnerArcs = 32,
        StartRound = 64,
        EndLine = 256,
        EndInnerArcs = 512,
        EndRound = 1024
    };

    QVector<Point> vertices;
    QVector<Point> miters; // unit vectors, one per vertex
    QVector<double> offsets;
    QVector<MultilineElement> elements; // as the style lists them
    QString style; // the style's name
    int flags = 0; // the style's Flags
    Color fillColor;
    double scale = 1;
    int justification = 0; // 0 top, 1 zero, 2 bottom: how offsets were measured
    bool closed = false;
};

// MULTILEADER: leader lines to a text or a block.
struct MultiLeader
{
    QVector<QVector<Point>> lines; // each from its arrowhead's tip to the end of its landing
    bool spline = false; // lines are curves through their points
    double arrowSize = 0; // of the closed filled arrowheads at the tips; 0: none
    Color lineColor; // of lines and arrowheads
    QVector<Text> text; // its text, when it has one
    QVector<Insert> block; // its block, when it has one
};

using Shape = std::variant<Line, Circle, Arc, Ellipse, Polyline, Marker, Solid, Text, Insert, Hatch,
                           Dimension, Leader, Face, Multiline, MultiLeader>;

struct Entity
{
    Style style;
    Shape shape;
};

bool operator==(const Line &a, const Line &b);
bool operator==(const Circle &a, const Circle &b);
bool operator==(const Arc &a, const Arc &b);
bool operator==(const Ellipse &a, const Ellipse &b);
bool operator==(const Polyline &a, const Polyline &b);
bool operator==(const Marker &a, const Marker &b);
bool operator==(const Solid &a, const Solid &b);
bool operator==(const Text &a, const Text &b);
bool operator==(const Insert &a, const Insert &b);
bool operator==(const Hatch &a, const Hatch &b);
bool operator==(const Dimension &a, const Dimension &b);
bool operator==(const Leader &a, const Leader &b);
bool operator==(const Face &a, const Face &b);
bool operator==(const Multiline &a, const Multiline &b);
bool operator==(const MultiLeader &a, const MultiLeader &b);
bool operator==(const Entity &a, const Entity &b);

struct Linetype
{
    QString name;
    QString description;
    QVector<double> pattern; // millimetres: positive dash, negative gap, 0 dot; empty: continuous
};
bool operator==(const Linetype &a, const Linetype &b);

struct Layer
{
    QString name;
    Color color = Color::fromRgb(0xffffff, 7);
    QString linetype = QStringLiteral("CONTINUOUS");
    double lineweight = -3;
    bool on = true;
    bool frozen = false;
    bool plot = true; // false: shown on screen, left out of every print
};
bool operator==(const Layer &a, const Layer &b);

struct Block
{
    QString name;
    Point base;
    QVector<Entity> entities;
};
bool operator==(const Block &a, const Block &b);

// A window on a sheet through which model space shows at a scale: DXF's VIEWPORT, and the
// part of a JWW sheet that holds the layer groups drawn at one scale.
struct Viewport
{
    Point center; // on the sheet, in sheet units
    double width = 0; // sheet units
    double height = 0;
    Point viewCenter; // the model-space point shown at its centre
    double scale = 1; // sheet units per model millimetre (0.01 for 1:100 on a millimetre sheet)
    double twist = 0; // degrees the model is turned counter-clockwise in it
    QVector<Point> clip; // a polygon on the sheet that bounds it instead of its rectangle
    QStringList frozenLayers; // model-space layers left out of it (upper or any case)
};
bool operator==(const Viewport &a, const Viewport &b);

// A sheet of paper and what is drawn on it: a DXF paper-space layout with its plot settings, a
// JWW drawing's paper, an SXF drawing sheet. `width` and `height` are the page as it is looked
// at, the plot already turned upright: a sheet point p lies at `offset + p * scale` millimetres
// from the page's lower-left corner. The declared paper, margins and rotation are kept as the
// source gave them, so that a writer that has such settings gives them back.
struct Sheet
{
    QString name;
    double width = 0; // millimetres; 0 when the source declares no paper
    double height = 0;
    double paperWidth = 0; // as declared (DXF 44/45), before the rotation
    double paperHeight = 0;
    double margins[4] = {0, 0, 0, 0}; // left, bottom, right, top as declared (DXF 40-43)
    int rotation = 0; // quarter turns counter-clockwise of the plot on the paper (DXF 73)
    double scale = 1; // paper millimetres per sheet unit
    Point offset; // where the sheet's origin lies on the page, millimetres
    int tabOrder = 0;
    QVector<Entity> entities; // drawn on the sheet, in sheet units (DXF paper space)
    QVector<Viewport> viewports;

    bool holdsAnything() const { return !entities.isEmpty() || !viewports.isEmpty(); }
};
bool operator==(const Sheet &a, const Sheet &b);

struct Model
{
    QVector<Layer> layers;
    QVector<Linetype> linetypes;
    QVector<Block> blocks;
    QVector<Entity> entities; // model space
    double linetypeScale = 1; // every entity's dashes and gaps times this
    // The sheets it is printed on, in tab order. A drawing none of whose sheets holds anything
    // is printed from model space alone, on a page sized to it.
    QVector<Sheet> sheets;
    int currentSheet = -1; // the sheet shown when the drawing was saved; -1: model space

    const Layer *layer(const QString &name) const;
    const Block *block(const QString &name) const;
};
bool operator==(const Model &a, const Model &b);

// Blocks by name (without regard to case, as inserts name them), for code that walks inserts
// and must not search the block list once per reference.
class BlockIndex
{
public:
    explicit BlockIndex(const Model &model);
    const Block *find(const QString &name) const;

private:
    QHash<QString, const Block *> m_blocks;
};

// What the automation client set for the current drawing; empty means none.
struct SaveInfo
{
    QString title; // the target's base name
    QString authorName;
    QString affiliation;
};

} // namespace Drawing

// Models of large drawings hold millions of these: growing a list moves them as bytes rather
// than copying each (none of them points into itself).
Q_DECLARE_TYPEINFO(Drawing::Entity, Q_RELOCATABLE_TYPE);
Q_DECLARE_TYPEINFO(Drawing::Text, Q_RELOCATABLE_TYPE);
Q_DECLARE_TYPEINFO(Drawing::PatternLine, Q_RELOCATABLE_TYPE);
Q_DECLARE_TYPEINFO(Drawing::Layer, Q_RELOCATABLE_TYPE);
Q_DECLARE_TYPEINFO(Drawing::Linetype, Q_RELOCATABLE_TYPE);
Q_DECLARE_TYPEINFO(Drawing::Block, Q_RELOCATABLE_TYPE);
Q_DECLARE_TYPEINFO(Drawing::Viewport, Q_RELOCATABLE_TYPE);
Q_DECLARE_TYPEINFO(Drawing::Sheet, Q_RELOCATABLE_TYPE);
