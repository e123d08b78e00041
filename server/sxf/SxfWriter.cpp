#include "server/sxf/SxfWriter.h"

#include "server/drawing/CompositeShapes.h"

#include "server/sxf/SxfReader.h"
#include "server/sxf/SxfTables.h"

#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QStringEncoder>

#include <algorithm>
#include <cmath>

using namespace Drawing;

namespace {

bool usesLayer(const Drawing::Model &model, const QString &name)
{
    const auto uses = [&name](const QVector<Drawing::Entity> &entities) {
        return std::any_of(entities.cbegin(), entities.cend(),
                           [&name](const Drawing::Entity &e) { return e.style.layer == name; });
    };
    return uses(model.entities)
        || std::any_of(model.blocks.cbegin(), model.blocks.cend(),
                       [&uses](const Drawing::Block &b) { return uses(b.entities); });
}

const double pi = 3.14159265358979323846;

double degrees(double radians)
{
    return radians * 180 / pi;
}

QByteArray num(double v)
{
    if (v == 0)
        v = 0; // no "-0"
    QByteArray text = QByteArray::number(v, 'f', QLocale::FloatingPointShortest);
    if (!text.contains('.'))
        text += ".0";
    return text;
}

QByteArray quoted(const QByteArray &plain)
{
    QByteArray text;
    text.reserve(plain.size() + 2);
    text += '\'';
    text += plain;
    text += '\'';
    return text;
}

QByteArray list(const QVector<double> &values)
{
    QByteArray text = "(";
    for (int i = 0; i < values.size(); ++i)
        text += (i ? "," : "") + num(values[i]);
    return quoted(text + ')');
}

double textCells(const QString &text)
{
    double cells = 0;
    for (const QChar c : text)
        cells += (c.unicode() < 0x80 || (c.unicode() >= 0xff61 && c.unicode() <= 0xff9f)) ? 0.5 : 1;
    return std::max(cells, 0.5);
}

class Emitter
{
public:
    Emitter(const Model &model, bool p21);

    bool run(QString *error);
    // The tables, then the symbols and shapes, each feature as "keyword(parameters)".
    QVector<QByteArray> tables() const;
    const QVector<QByteArray> &body() const { return m_body; }
    // The drawing_sheet_feature's parameters after its name.
    QByteArray sheetParams() const;

private:
    struct Resolved
    {
        QByteArray layer, color, type, width;
    };

    void feature(const char *keyword, const QVector<QByteArray> &params);
    Resolved resolve(const Style &style);
    QByteArray layerCode(const QString &name);
    QByteArray colorCode(const Color &color);
    QByteArray typeCode(const QString &name);
    QByteArray widthCode(double mm);
    QByteArray fontCode(const QString &font);
    QByteArray str(const QString &text) const { return SxfWriter::quote(text, m_p21); }
    QByteArray x(double v)
    {
        m_max.x = std::max(m_max.x, v - m_base.x);
        m_min.x = std::min(m_min.x, v - m_base.x);
        return quoted(num(v - m_base.x));
    }
    QByteArray y(double v)
    {
        m_max.y = std::max(m_max.y, v - m_base.y);
        m_min.y = std::min(m_min.y, v - m_base.y);
        return quoted(num(v - m_base.y));
    }
    static QByteArray q(double v) { return quoted(num(v)); }
    static QByteArray q(int v) { return quoted(QByteArray::number(v)); }

    bool entity(const Entity &e);
    void path(const Resolved &s, const QVector<Vertex> &vertices, bool closed, bool hidden);
    void text(const Resolved &s, const Text &t);
    bool orderBlocks(QVector<const Block *> *order, QString *error) const;
    bool partFigures(bool *written);

    const Model &m_model;
    bool m_p21;
    QVector<QByteArray> m_body;
    int m_composites = 0;
    Point m_base;
    Point m_max {1, 1};
    Point m_min;
    const Sheet *m_sheet = nullptr; // the sheet the drawing is printed on, if it has one
    bool m_sheetHoldsAll = false; // every shape was placed on it as its viewports show it

    QVector<QString> m_layers;
    QVector<int> m_predefinedColors;
    QVector<quint32> m_userColors;
    QVector<QPair<QString, int>> m_types; // declared name, code (user codes from 16)
    int m_userTypes = 0;
    QVector<double> m_widths; // declaration order
    QHash<QString, int> m_widthCodes;
    int m_userWidths = 0;
    QVector<QString> m_fonts;
};

QByteArray sheetSize(double v)
{
    return QByteArray::number(qint64(std::ceil(std::min(v, 1e7))));
}

Emitter::Emitter(const Model &model, bool p21)
    : m_model(model)
    , m_p21(p21)
{
    // The sheet shown when the drawing was saved, else the first that names its paper.
    const auto paper = [](const Sheet &s) {
        return s.width > 0 && s.height > 0 && s.width <= 1e7 && s.height <= 1e7;
    };
    if (model.currentSheet >= 0 && model.currentSheet < model.sheets.size()
        && paper(model.sheets[model.currentSheet]))
        m_sheet = &model.sheets[model.currentSheet];
    for (const Sheet &s : model.sheets) {
        if (!m_sheet && paper(s))
            m_sheet = &s;
    }
}

void Emitter::feature(const char *keyword, const QVector<QByteArray> &params)
{
    qsizetype size = qsizetype(qstrlen(keyword)) + 2 + params.size();
    for (const QByteArray &p : params)
        size += p.size();
    QByteArray text;
    text.reserve(size);
    text += keyword;
    text += '(';
    for (int i = 0; i < params.size(); ++i) {
        if (i)
            text += ',';
        text += params[i];
    }
    text += ')';
    m_body.append(std::move(text));
}

QByteArray Emitter::layerCode(const QString &name)
{
    const Layer *l = m_model.layer(name);
    const QString canonical = l ? l->name : name;
    int index = m_layers.indexOf(canonical);
    if (index < 0) {
        m_layers.append(canonical);
        index = m_layers.size() - 1;
    }
    return q(index + 1);
}

QByteArray Emitter::colorCode(const Color &color)
{
    // DXF's colour 7 is black or white as the background asks; SXF has no such colour, and its
    // drawings are printed on white paper, so it is black, as the black it came from if it did.
    const quint32 rgb = color.kind == Color::Kind::Rgb && color.index != 7 ? color.rgb : 0;
    int code = SxfTables::colorCodeForRgb(rgb);
    if (!code) {
        const int user = m_userColors.indexOf(rgb);
        if (user >= 0) {
            code = SxfTables::firstUserColor + user;
        } else if (m_userColors.size() < SxfTables::lastUserColor - SxfTables::firstUserColor + 1) {
            m_userColors.append(rgb);
            code = SxfTables::firstUserColor + m_userColors.size() - 1;
        } else {
            // The table is full: the nearest predefined colour.
            int best = 1;
            double bestDistance = 1e18;
            for (int c = 1; c <= SxfTables::predefinedColors; ++c) {
                const quint32 p = SxfTables::colorRgb(c);
                double d = 0;
                for (int shift : {0, 8, 16}) {
                    const double diff = double((p >> shift) & 0xff) - double((rgb >> shift) & 0xff);
                    d += diff * diff;
                }
                if (d < bestDistance) {
                    bestDistance = d;
                    best = c;
                }
            }
            code = best;
        }
    }
    if (code <= SxfTables::predefinedColors && !m_predefinedColors.contains(code))
        m_predefinedColors.append(code);
    return q(code);
}

QByteArray Emitter::typeCode(const QString &name)
{
    for (const auto &declared : m_types) {
        if (declared.first.compare(name, Qt::CaseInsensitive) == 0)
            return q(declared.second);
    }
    int code = SxfTables::linetypeCode(name);
    if (!code) {
        bool known = false;
        for (const Linetype &t : m_model.linetypes)
            known = known || t.name.compare(name, Qt::CaseInsensitive) == 0;
        if (known && m_userTypes <= SxfTables::lastUserLinetype - SxfTables::firstUserLinetype)
            code = SxfTables::firstUserLinetype + m_userTypes++;
        else
            return typeCode(SxfTables::solidLinetype());
    }
    m_types.append({name, code});
    return q(code);
}

QByteArray Emitter::widthCode(double mm)
{
    const QString key = QString::number(mm, 'g', 17);
    if (m_widthCodes.contains(key))
        return q(m_widthCodes.value(key));
    int code = SxfTables::widthCode(mm);
    if (!code) {
        if (m_userWidths <= SxfTables::lastUserWidth - SxfTables::firstUserWidth) {
            code = SxfTables::firstUserWidth + m_userWidths++;
        } else {
            code = 1;
            for (int c = 2; c <= SxfTables::predefinedWidths; ++c) {
                if (std::fabs(SxfTables::width(c) - mm) < std::fabs(SxfTables::width(code) - mm))
                    code = c;
            }
            return widthCode(SxfTables::width(code));
        }
    }
    m_widths.append(mm);
    m_widthCodes.insert(key, code);
    return q(code);
}

QByteArray Emitter::fontCode(const QString &font)
{
    const QString name = font.isEmpty() ? SxfReader::defaultFont() : font;
    int index = m_fonts.indexOf(name);
    if (index < 0) {
        m_fonts.append(name);
        index = m_fonts.size() - 1;
    }
    return q(index + 1);
}

// SXF states colour, line type and width on every shape: what the model leaves to the layer is
// looked up here.
Emitter::Resolved Emitter::resolve(const Style &style)
{
    const Layer *l = m_model.layer(style.layer);
    const Layer fallback;
    if (!l)
        l = &fallback;
    Resolved r;
    r.layer = layerCode(style.layer);
    Color color = style.color.kind == Color::Kind::Rgb ? style.color : l->color;
    if (color.kind != Color::Kind::Rgb)
        color = Color::fromRgb(0, 1);
    r.color = colorCode(color);
    QString type = style.linetype;
    if (type.isEmpty() || type.compare(QLatin1String("BYLAYER"), Qt::CaseInsensitive) == 0
        || type.compare(QLatin1String("BYBLOCK"), Qt::CaseInsensitive) == 0)
        type = l->linetype;
    r.type = typeCode(type.isEmpty() ? SxfTables::solidLinetype() : type);
    double weight = style.lineweight >= 0 ? style.lineweight : l->lineweight;
    if (weight < 0)
        weight = 0.25; // the usual default pen of the drawing programs
    r.width = widthCode(weight);
    return r;
}

// A run of vertices: straight stretches as polylines, bulged segments as arcs, joined by a
// composite curve so that the reader puts the polyline together again.
void Emitter::path(const Resolved &s, const QVector<Vertex> &vertices, bool closed, bool hidden)
{
    const int n = vertices.size();
    const int segments = closed ? n : n - 1;
    QVector<Point> run;
    auto flush = [&] {
        if (run.size() >= 2) {
            QVector<double> xs, ys;
            for (const Point &p : run) {
                x(p.x);
                y(p.y);
                xs.append(p.x - m_base.x);
                ys.append(p.y - m_base.y);
            }
            feature("polyline_feature",
                    {s.layer, s.color, s.type, s.width, q(int(run.size())), list(xs), list(ys)});
        }
        run.clear();
    };
    for (int i = 0; i < segments; ++i) {
        const Vertex &v = vertices[i];
        const Point end = vertices[(i + 1) % n].point;
        if (v.bulge == 0) {
            if (run.isEmpty())
                run.append(v.point);
            run.append(end);
            continue;
        }
        flush();
        const double b = v.bulge, dx = end.x - v.point.x, dy = end.y - v.point.y;
        const double chord = std::hypot(dx, dy);
        const double f = (1 - b * b) / (4 * b);
        const Point c {v.point.x + dx / 2 - dy * f, v.point.y + dy / 2 + dx * f};
        const double radius = chord * (1 + b * b) / (4 * std::fabs(b));
        const double a0 = degrees(std::atan2(v.point.y - c.y, v.point.x - c.x));
        const double a1 = degrees(std::atan2(end.y - c.y, end.x - c.x));
        feature("arc_feature",
                {s.layer, s.color, s.type, s.width, x(c.x), y(c.y), q(radius), q(b > 0 ? 1 : 0),
                 q(a0), q(a1)});
    }
    flush();
    feature("composite_curve_org_feature", {s.color, s.type, s.width, q(hidden ? 1 : 0)});
    ++m_composites;
}

void Emitter::text(const Resolved &s, const Text &t)
{
    const int column = (t.halign == HAlign::Center || t.halign == HAlign::Middle) ? 1
        : t.halign == HAlign::Right                                               ? 2
                                                                                  : 0;
    const int row = (t.valign == VAlign::Middle || t.halign == HAlign::Middle) ? 1
        : t.valign == VAlign::Top                                              ? 2
                                                                               : 0;
    const QStringList lines = t.text.split(QLatin1Char('\n'));
    const double step = t.height * std::max(t.lineSpacing, 0.0) * 5 / 3;
    const double angle = t.rotation * pi / 180;
    for (int i = 0; i < lines.size(); ++i) {
        const Point p {t.position.x + i * step * std::sin(angle),
                       t.position.y - i * step * std::cos(angle)};
        const double width = t.widthFactor * t.height * textCells(lines[i]);
        feature("text_string_feature",
                {s.layer, s.color, fontCode(t.font), str(lines[i]), x(p.x), y(p.y), q(t.height),
                 q(width), q(0.0), q(t.rotation), q(t.oblique), q(row * 3 + column + 1), q(1)});
    }
}

bool Emitter::entity(const Entity &e)
{
    // SXF has no hidden shapes: what no one may see is not written.
    if (!e.style.visible)
        return true;
    const Resolved s = resolve(e.style);
    const Shape &shape = e.shape;
    if (const auto *l = std::get_if<Line>(&shape)) {
        feature("line_feature",
                {s.layer, s.color, s.type, s.width, x(l->start.x), y(l->start.y), x(l->end.x),
                 y(l->end.y)});
    } else if (const auto *c = std::get_if<Circle>(&shape)) {
        x(c->center.x + c->radius);
        y(c->center.y + c->radius);
        feature("circle_feature",
                {s.layer, s.color, s.type, s.width, x(c->center.x), y(c->center.y), q(c->radius)});
    } else if (const auto *a = std::get_if<Arc>(&shape)) {
        feature("arc_feature",
                {s.layer, s.color, s.type, s.width, x(a->center.x), y(a->center.y), q(a->radius),
                 q(1), q(a->startAngle), q(a->endAngle)});
    } else if (const auto *el = std::get_if<Ellipse>(&shape)) {
        const double rx = std::hypot(el->majorAxis.x, el->majorAxis.y);
        const double rotation = degrees(std::atan2(el->majorAxis.y, el->majorAxis.x));
        const bool full
            = std::fabs(el->startParam) < 1e-12 && std::fabs(el->endParam - 2 * pi) < 1e-12;
        if (full)
            feature("ellipse_feature",
                    {s.layer, s.color, s.type, s.width, x(el->center.x), y(el->center.y), q(rx),
                     q(rx * el->ratio), q(rotation)});
        else
            feature("ellipse_arc_feature",
                    {s.layer, s.color, s.type, s.width, x(el->center.x), y(el->center.y), q(rx),
                     q(rx * el->ratio), q(1), q(rotation), q(degrees(el->startParam)),
                     q(degrees(el->endParam))});
    } else if (const auto *p = std::get_if<Polyline>(&shape)) {
        if (p->vertices.size() < 2)
            return true;
        const bool bulged
            = std::any_of(p->vertices.begin(), p->vertices.end() - (p->closed ? 0 : 1),
                          [](const Vertex &v) { return v.bulge != 0; });
        if (bulged) {
            path(s, p->vertices, p->closed, false);
        } else {
            QVector<double> xs, ys;
            for (const Vertex &v : p->vertices) {
                xs.append(v.point.x - m_base.x);
                ys.append(v.point.y - m_base.y);
                x(v.point.x);
                y(v.point.y);
            }
            if (p->closed) {
                xs.append(xs.first());
                ys.append(ys.first());
            }
            feature("polyline_feature",
                    {s.layer, s.color, s.type, s.width, q(int(xs.size())), list(xs), list(ys)});
        }
    } else if (const auto *m = std::get_if<Marker>(&shape)) {
        feature("point_marker_feature",
                {s.layer, s.color, x(m->position.x), y(m->position.y), q(1), q(0.0), q(1.0)});
    } else if (const auto *so = std::get_if<Solid>(&shape)) {
        QVector<Vertex> corners;
        for (const Point &pt : so->corners) {
            if (corners.isEmpty() || corners.last().point != pt)
                corners.append({pt});
        }
        if (corners.size() < 3)
            return true;
        path(s, corners, true, true);
        feature("fill_area_style_colour_feature",
                {s.layer, s.color, q(m_composites), q(0), quoted("()")});
    } else if (const auto *t = std::get_if<Text>(&shape)) {
        text(s, *t);
    } else if (const auto *in = std::get_if<Insert>(&shape)) {
        if (!m_model.block(in->block))
            return false;
        // An array is written one placement per cell; a count no drawing has is refused.
        if (qint64(std::max(1, in->rows)) * std::max(1, in->columns) > 100000)
            return false;
        const double angle = in->rotation * pi / 180;
        for (int r = 0; r < std::max(1, in->rows); ++r) {
            for (int c = 0; c < std::max(1, in->columns); ++c) {
                const double dx = c * in->columnSpacing, dy = r * in->rowSpacing;
                feature("sfig_locate_feature",
                        {s.layer, str(m_model.block(in->block)->name),
                         x(in->position.x + dx * std::cos(angle) - dy * std::sin(angle)),
                         y(in->position.y + dx * std::sin(angle) + dy * std::cos(angle)),
                         q(in->rotation), q(in->scaleX), q(in->scaleY)});
            }
        }
        for (const Text &attribute : in->attributes)
            text(s, attribute);
    } else if (const auto *h = std::get_if<Hatch>(&shape)) {
        int first = 0;
        QVector<double> holes;
        for (const QVector<Vertex> &loop : h->loops) {
            if (loop.size() < 2)
                continue;
            path(s, loop, true, true);
            if (!first)
                first = m_composites;
            else
                holes.append(m_composites);
        }
        if (!first)
            return true;
        const QByteArray holeList = holes.isEmpty() ? quoted("()") : list(holes);
        if (h->solid) {
            feature("fill_area_style_colour_feature",
                    {s.layer, s.color, q(first), q(int(holes.size())), holeList});
        } else if (!h->patternLines.isEmpty()) {
            QVector<QByteArray> params {s.layer,
                                        q(int(std::min<qsizetype>(4, h->patternLines.size())))};
            for (int i = 0; i < std::min<qsizetype>(4, h->patternLines.size()); ++i) {
                const PatternLine &l = h->patternLines[i];
                const double a = l.angle * pi / 180;
                const double spacing = -l.offset.x * std::sin(a) + l.offset.y * std::cos(a);
                QByteArray pattern = "(" + s.color.mid(1, s.color.size() - 2) + ','
                    + s.type.mid(1, s.type.size() - 2) + ',' + s.width.mid(1, s.width.size() - 2);
                for (double v : {l.base.x - m_base.x, l.base.y - m_base.y, spacing, l.angle})
                    pattern += ',' + num(v);
                params.append(quoted(pattern + ')'));
            }
            params += {q(first), q(int(holes.size())), holeList};
            feature("fill_area_style_hatching_feature", params);
        } else {
            feature("externally_defined_hatch_feature",
                    {s.layer, str(h->pattern), q(first), q(int(holes.size())), holeList});
        }
    } else if (const auto *d = std::get_if<Dimension>(&shape)) {
        // The dimension is drawn by its block; SXF places the block as a symbol.
        if (const Block *b = m_model.block(d->block))
            feature("sfig_locate_feature",
                    {s.layer, str(b->name), x(d->insertion.x), y(d->insertion.y), q(0.0), q(1.0),
                     q(1.0)});
    } else if (const auto *face = std::get_if<Face>(&shape)) {
        for (const Polyline &edges : CompositeShapes::edges(*face))
            entity(Entity {e.style, edges});
    } else if (std::holds_alternative<Multiline>(shape)
               || std::holds_alternative<MultiLeader>(shape)) {
        // SXF has neither: their lines, arcs, fills and text are written.
        const QVector<Entity> parts = std::holds_alternative<Multiline>(shape)
            ? CompositeShapes::entities(std::get<Multiline>(shape))
            : CompositeShapes::entities(std::get<MultiLeader>(shape));
        for (Entity part : parts) {
            part.style = CompositeShapes::placed(part.style, e.style);
            if (!entity(part))
                return false;
        }
    } else if (const auto *le = std::get_if<Leader>(&shape)) {
        if (le->vertices.size() >= 2) {
            QVector<double> xs, ys;
            for (const Point &pt : le->vertices) {
                xs.append(pt.x - m_base.x);
                ys.append(pt.y - m_base.y);
                x(pt.x);
                y(pt.y);
            }
            feature("polyline_feature",
                    {s.layer, s.color, s.type, s.width, q(int(xs.size())), list(xs), list(ys)});
        }
    }
    return true;
}

// Symbols are defined before anything places them; a block that places itself, directly or
// through others, cannot be written.
bool Emitter::orderBlocks(QVector<const Block *> *order, QString *error) const
{
    QHash<QString, int> state; // 1 visiting, 2 done
    std::function<bool(const Block &, int)> visit = [&](const Block &b, int depth) {
        const QString key = b.name.toLower();
        if (state.value(key) == 2)
            return true;
        if (state.value(key) == 1 || depth > 64) {
            *error = QStringLiteral("block \"%1\" includes itself").arg(b.name);
            return false;
        }
        state.insert(key, 1);
        for (const Entity &e : b.entities) {
            QString name;
            if (const auto *in = std::get_if<Insert>(&e.shape))
                name = in->block;
            else if (const auto *d = std::get_if<Dimension>(&e.shape))
                name = d->block;
            else if (const auto *leader = std::get_if<MultiLeader>(&e.shape))
                name = leader->block.isEmpty() ? QString() : leader->block.first().block;
            if (const Block *inner = name.isEmpty() ? nullptr : m_model.block(name)) {
                if (!visit(*inner, depth + 1))
                    return false;
            }
        }
        state.insert(key, 2);
        order->append(&b);
        return true;
    };
    for (const Block &b : m_model.blocks) {
        if (!visit(b, 0))
            return false;
    }
    return true;
}

bool Emitter::run(QString *error)
{
    for (const Layer &l : m_model.layers) {
        // DXF's obligatory default layer has no counterpart in SXF: written only when used.
        if (l.name != QLatin1String("0") || usesLayer(m_model, l.name))
            layerCode(l.name);
    }
    for (const Linetype &t : m_model.linetypes) {
        if (t.name.compare(QLatin1String("BYLAYER"), Qt::CaseInsensitive) != 0
            && t.name.compare(QLatin1String("BYBLOCK"), Qt::CaseInsensitive) != 0)
            typeCode(t.name);
    }
    QVector<const Block *> blocks;
    if (!orderBlocks(&blocks, error))
        return false;
    for (const Block *b : blocks) {
        m_base = b->base;
        for (const Entity &e : b->entities) {
            if (!entity(e)) {
                *error = QStringLiteral("block \"%1\" places a block the drawing does not "
                                        "define, or an array of more than 100000 cells")
                             .arg(b->name);
                return false;
            }
        }
        feature("sfig_org_feature", {str(b->name), q(4)});
    }
    m_base = {};
    m_max = {1, 1};
    if (m_sheet && !partFigures(&m_sheetHoldsAll)) {
        *error = QStringLiteral("the drawing places a block it does not define, or an "
                                "array of more than 100000 cells");
        return false;
    }
    for (const Entity &e : m_model.entities) {
        if (m_sheetHoldsAll)
            break;
        if (!entity(e)) {
            *error = QStringLiteral("the drawing places a block it does not define, or an "
                                    "array of more than 100000 cells");
            return false;
        }
    }
    return true;
}

// A sheet whose viewports each cover all of it and show each shape once is written as it
// prints: the shapes of a viewport at full size go straight onto the sheet, those of one at
// another scale into a part figure of their own, at real size, that the sheet places at that
// scale. Viewports that cover part of a sheet would have to clip, which part figures cannot:
// such a drawing is written as its model, `written` left false.
bool Emitter::partFigures(bool *written)
{
    const Sheet &sheet = *m_sheet;
    const Point page {sheet.width, sheet.height};
    struct Placement
    {
        QVector<const Entity *> shapes;
        double ratio = 1;
        double twist = 0;
        Point at;
        QString figure; // empty: drawn straight onto the sheet
    };
    QVector<Placement> placements;
    QVector<QSet<QString>> frozen;
    for (const Viewport &v : sheet.viewports) {
        const Point corner {sheet.offset.x + sheet.scale * (v.center.x - v.width / 2),
                            sheet.offset.y + sheet.scale * (v.center.y - v.height / 2)};
        const bool covers = v.clip.isEmpty() && std::fabs(corner.x) <= 1 && std::fabs(corner.y) <= 1
            && std::fabs(sheet.scale * v.width - page.x) <= 1
            && std::fabs(sheet.scale * v.height - page.y) <= 1;
        const double ratio = sheet.scale * v.scale;
        if (!covers || !(ratio > 0 && ratio < 1e6))
            return true;
        QSet<QString> layers;
        for (const QString &l : v.frozenLayers)
            layers.insert(l.toUpper());
        frozen.append(layers);
        // Where the model's origin lands on the sheet, the view turned about its centre.
        const double a = v.twist * pi / 180;
        const Point c {v.viewCenter.x * ratio, v.viewCenter.y * ratio};
        Placement p;
        p.ratio = ratio;
        p.twist = v.twist;
        p.at
            = {sheet.offset.x + sheet.scale * v.center.x - (c.x * std::cos(a) - c.y * std::sin(a)),
               sheet.offset.y + sheet.scale * v.center.y - (c.x * std::sin(a) + c.y * std::cos(a))};
        placements.append(p);
    }
    if (placements.isEmpty())
        return true;
    for (const Entity &e : m_model.entities) {
        const QString layer = e.style.layer.toUpper();
        int shownBy = -1;
        for (int i = 0; i < frozen.size(); ++i) {
            if (frozen[i].contains(layer))
                continue;
            if (shownBy >= 0)
                return true;
            shownBy = i;
        }
        if (shownBy < 0)
            return true;
        placements[shownBy].shapes.append(&e);
    }
    Placement paper; // what is drawn on the sheet itself, in its units
    paper.ratio = sheet.scale;
    paper.at = sheet.offset;
    for (const Entity &e : sheet.entities)
        paper.shapes.append(&e);
    placements.append(paper);
    *written = true;

    // A part figure is defined before the sheet places it.
    QStringList names;
    for (Placement &p : placements) {
        const bool straight = std::fabs(p.ratio - 1) < 1e-12 && p.twist == 0
            && std::fabs(p.at.x) < 1e-9 && std::fabs(p.at.y) < 1e-9;
        if (p.shapes.isEmpty() || straight)
            continue;
        const QString name = QStringLiteral("1:%1").arg(1 / p.ratio);
        p.figure = name;
        for (int n = 2; m_model.block(p.figure) || names.contains(p.figure); ++n)
            p.figure = QStringLiteral("%1~%2").arg(name).arg(n);
        names.append(p.figure);
        m_base = {};
        for (const Entity *e : p.shapes) {
            if (!entity(*e))
                return false;
        }
        feature("sfig_org_feature", {str(p.figure), q(1)});
    }
    m_max = {1, 1};
    m_min = {};
    for (const Placement &p : placements) {
        if (p.shapes.isEmpty())
            continue;
        if (p.figure.isEmpty()) {
            for (const Entity *e : p.shapes) {
                if (!entity(*e))
                    return false;
            }
            continue;
        }
        feature("sfig_locate_feature",
                {layerCode(p.shapes.first()->style.layer), str(p.figure), x(p.at.x), y(p.at.y),
                 q(p.twist), q(p.ratio), q(p.ratio)});
    }
    return true;
}

// The sheet the drawing declares: its own when every shape was placed on it, or when the shapes
// fit its paper (a DXF layout's); else a free sheet that the shapes fill.
QByteArray Emitter::sheetParams() const
{
    const double w = m_sheet ? m_sheet->width : 0, h = m_sheet ? m_sheet->height : 0;
    const bool fits = m_min.x >= -1 && m_min.y >= -1 && m_max.x <= w + 1 && m_max.y <= h + 1;
    if (!m_sheet || !(m_sheetHoldsAll || fits))
        return "'9','1','" + sheetSize(m_max.x) + "','" + sheetSize(m_max.y) + '\'';
    for (int type = 0; type < 5; ++type) {
        const Point a = SxfTables::sheetSize(type);
        for (int orientation : {0, 1}) {
            const Point turned = orientation ? Point {a.y, a.x} : a;
            if (std::fabs(w - turned.x) <= 1 && std::fabs(h - turned.y) <= 1)
                return '\'' + QByteArray::number(type) + "','" + QByteArray::number(orientation)
                    + "','" + sheetSize(turned.x) + "','" + sheetSize(turned.y) + '\'';
        }
    }
    return "'9','" + QByteArray(w > h ? "1" : "0") + "','" + sheetSize(w) + "','" + sheetSize(h)
        + '\'';
}

QVector<QByteArray> Emitter::tables() const
{
    QVector<QByteArray> out;
    auto add = [&](const char *keyword, const QVector<QByteArray> &params) {
        QByteArray text = QByteArray(keyword) + '(';
        for (int i = 0; i < params.size(); ++i)
            text += (i ? "," : "") + params[i];
        out.append(text + ')');
    };
    for (const QString &name : m_layers) {
        const Layer *l = m_model.layer(name);
        add("layer_feature", {str(name), q(!l || (l->on && !l->frozen) ? 1 : 0)});
    }
    QVector<int> predefined = m_predefinedColors;
    std::sort(predefined.begin(), predefined.end());
    for (int code : predefined)
        add("pre_defined_colour_feature", {str(SxfTables::colorName(code))});
    for (quint32 rgb : m_userColors)
        add("user_defined_colour_feature",
            {q(int(rgb >> 16 & 0xff)), q(int(rgb >> 8 & 0xff)), q(int(rgb & 0xff))});
    for (const auto &declared : m_types) {
        if (declared.second < SxfTables::firstUserLinetype) {
            const QString name = declared.second == 1 ? QStringLiteral("continuous")
                                                      : SxfTables::linetypeName(declared.second);
            add("pre_defined_font_feature", {str(name)});
            continue;
        }
        QVector<double> pitch;
        for (const Linetype &t : m_model.linetypes) {
            if (t.name.compare(declared.first, Qt::CaseInsensitive) == 0) {
                for (double d : t.pattern)
                    pitch.append(std::fabs(d));
                break;
            }
        }
        add("user_defined_font_feature", {str(declared.first), q(int(pitch.size())), list(pitch)});
    }
    for (double w : m_widths)
        add("width_feature", {q(w)});
    for (const QString &font : m_fonts)
        add("text_font_feature", {str(font)});
    return out;
}

} // namespace

QByteArray SxfWriter::quote(const QString &text, bool unicodeEscapes)
{
    QByteArray out = "'";
    QString escaped; // characters waiting for one \X2\ run
    auto flush = [&] {
        if (escaped.isEmpty())
            return;
        out += "\\X2\\";
        for (const QChar c : escaped)
            out += QByteArray::number(c.unicode(), 16).toUpper().rightJustified(4, '0');
        out += "\\X0\\";
        escaped.clear();
    };
    // Opening a converter costs more than writing a line; each thread keeps one of each. Their
    // error flags never clear, so a character counts as Shift-JIS when it comes back unchanged.
    thread_local QStringEncoder encoder("windows-31j", QStringConverter::Flag::Stateless);
    thread_local QStringDecoder decoder("windows-31j", QStringConverter::Flag::Stateless);
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        const ushort u = c.unicode();
        // "*/" would end the feature comment early, and control characters end lines.
        const bool needsEscape
            = u < 0x20 || u == 0x7f || (u == '/' && i > 0 && text[i - 1] == QLatin1Char('*'));
        if (u >= 0x80 && !unicodeEscapes) {
            const QByteArray bytes = encoder.encode(QString(c));
            if (!bytes.isEmpty() && QString(decoder.decode(bytes)) == QString(c)) {
                flush();
                out += bytes;
                continue;
            }
        }
        if (u >= 0x80 || needsEscape) {
            escaped += c;
            continue;
        }
        flush();
        if (c == QLatin1Char('\''))
            out += "''";
        else if (c == QLatin1Char('\\'))
            out += "\\\\";
        else
            out += char(u);
    }
    flush();
    return out + '\'';
}

bool SxfWriter::write(const Model &model, const SaveInfo &info, QIODevice &out,
                      QString *errorMessage)
{
    const bool p21 = m_form == Form::P21;
    Emitter emitter(model, p21);
    QString reason;
    if (!emitter.run(&reason)) {
        if (errorMessage)
            *errorMessage = reason;
        return false;
    }
    QString name = info.title.isEmpty() ? QStringLiteral("drawing") : info.title;
    if (!name.contains(QLatin1Char('.')))
        name += p21 ? QStringLiteral(".p21") : QStringLiteral(".sfc");
    // Reproducible builds of the samples set SOURCE_DATE_EPOCH; everyone else gets the time.
    QDateTime now = QDateTime::currentDateTimeUtc();
    bool fixed = false;
    const qint64 epoch = qEnvironmentVariableIntValue("SOURCE_DATE_EPOCH", &fixed);
    if (fixed)
        now = QDateTime::fromSecsSinceEpoch(epoch, Qt::UTC);
    QByteArray bytes = "ISO-10303-21;\nHEADER;\n"
                       "FILE_DESCRIPTION(('SCADEC level2 feature_mode'),'2;1');\n";
    bytes += "FILE_NAME(" + SxfWriter::quote(name, p21) + ','
        + SxfWriter::quote(now.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")), p21) + ",("
        + SxfWriter::quote(info.authorName, p21) + "),(" + SxfWriter::quote(info.affiliation, p21)
        + "),'SCADEC_API_Ver3.30$$3.1','tarsk-standin','');\n";
    bytes += "FILE_SCHEMA(('ASSOCIATIVE_DRAUGHTING'));\nENDSEC;\nDATA;\n";
    QVector<QByteArray> features = emitter.tables() + emitter.body();
    features.append("drawing_sheet_feature("
                    + SxfWriter::quote(name.section(QLatin1Char('.'), 0, 0), p21) + ','
                    + emitter.sheetParams() + ')');
    qsizetype total = bytes.size() + 64;
    for (const QByteArray &f : features)
        total += f.size() + 24;
    bytes.reserve(total);
    for (int i = 0; i < features.size(); ++i) {
        bytes += "/*SXF\n#";
        bytes += QByteArray::number(i + 1);
        bytes += " = ";
        bytes += features[i];
        bytes += "\nSXF*/\n";
    }
    bytes += "ENDSEC;\nEND-ISO-10303-21;\n";
    if (out.write(bytes) != bytes.size()) {
        if (errorMessage)
            *errorMessage = out.errorString();
        return false;
    }
    return true;
}
