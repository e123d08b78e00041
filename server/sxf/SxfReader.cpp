#include "server/sxf/SxfReader.h"

#include "server/sxf/SxfFile.h"
#include "server/sxf/SxfTables.h"

#include <QHash>
#include <QSet>

#include <cmath>

using namespace Drawing;

namespace {

const double pi = 3.14159265358979323846;

double radians(double degrees)
{
    return degrees * pi / 180;
}

// The counter-clockwise turn from one angle to another, in (0, 360] degrees.
double turn(double from, double to)
{
    const double sweep = std::fmod(to - from, 360.0);
    return sweep <= 0 ? sweep + 360 : sweep;
}

// A curve feature as a run of vertices, the last one closing the run, so that composite curves
// (outlines of hatches, polylines with arcs) can join their members.
using Path = QVector<Vertex>;

bool near(const Point &a, const Point &b)
{
    const double scale = std::max({1.0, std::fabs(a.x), std::fabs(a.y)});
    return std::fabs(a.x - b.x) <= 1e-7 * scale && std::fabs(a.y - b.y) <= 1e-7 * scale;
}

// Width of a string in character cells: half-width characters take half a cell.
double textCells(const QString &text)
{
    double cells = 0;
    for (const QChar c : text)
        cells += (c.unicode() < 0x80 || (c.unicode() >= 0xff61 && c.unicode() <= 0xff9f)) ? 0.5 : 1;
    return std::max(cells, 0.5);
}

// Interpolating spline through the points, flattened into eight segments per span.
QVector<Point> flattenSpline(const QVector<Point> &points, bool closed)
{
    const int n = points.size();
    if (n < 3)
        return points;
    auto at = [&](int i) {
        if (closed)
            return points[((i % n) + n) % n];
        return points[std::clamp(i, 0, n - 1)];
    };
    QVector<Point> out;
    const int spans = closed ? n : n - 1;
    for (int i = 0; i < spans; ++i) {
        const Point p0 = at(i - 1), p1 = at(i), p2 = at(i + 1), p3 = at(i + 2);
        for (int k = 0; k < 8; ++k) {
            const double t = k / 8.0, t2 = t * t, t3 = t2 * t;
            auto blend = [&](double a, double b, double c, double d) {
                return 0.5
                    * (2 * b + (-a + c) * t + (2 * a - 5 * b + 4 * c - d) * t2
                       + (-a + 3 * b - 3 * c + d) * t3);
            };
            out.append({blend(p0.x, p1.x, p2.x, p3.x), blend(p0.y, p1.y, p2.y, p3.y)});
        }
    }
    out.append(closed ? points.first() : points.last());
    return out;
}

class Builder
{
public:
    Builder(const SxfFile &file, Model &model)
        : m_file(file)
        , m_model(model)
    { }

    bool build(QString *error);

private:
    using Params = QVector<SxfFile::Value>;

    bool fail(const SxfFile::Record &record, const QString &reason)
    {
        m_error = QStringLiteral("%1 at line %2 %3")
                      .arg(QString::fromLatin1(record.keyword))
                      .arg(m_file.lineOf(record.offset))
                      .arg(reason);
        return false;
    }
    bool count(const SxfFile::Record &r, int expected)
    {
        if (r.params.size() == expected)
            return true;
        return fail(
            r,
            QStringLiteral("has %1 parameters instead of %2").arg(r.params.size()).arg(expected));
    }
    bool number(const SxfFile::Record &r, int i, double *value)
    {
        if (SxfFile::toNumber(r.params[i], value))
            return true;
        return fail(r, QStringLiteral("has no number as parameter %1").arg(i + 1));
    }
    bool numbers(const SxfFile::Record &r, int first, int n, double *values)
    {
        for (int i = 0; i < n; ++i) {
            if (!number(r, first + i, values + i))
                return false;
        }
        return true;
    }
    bool integer(const SxfFile::Record &r, int i, int *value)
    {
        if (SxfFile::toInteger(r.params[i], value))
            return true;
        return fail(r, QStringLiteral("has no whole number as parameter %1").arg(i + 1));
    }
    bool points(const SxfFile::Record &r, int countAt, QVector<Point> *out);

    bool layer(const SxfFile::Record &r, int i, QString *name);
    bool color(const SxfFile::Record &r, int i, Color *color);
    bool linetype(const SxfFile::Record &r, int i, QString *name);
    bool width(const SxfFile::Record &r, int i, double *mm);
    bool lineStyle(const SxfFile::Record &r, Style *style);
    bool text(const SxfFile::Record &r, int first, bool withLayerColor, const Style &style);

    bool table(const SxfFile::Record &r, bool *handled);
    bool shape(const SxfFile::Record &r);
    bool dimension(const SxfFile::Record &r);
    bool composite(const SxfFile::Record &r);
    bool fill(const SxfFile::Record &r);
    void sheet(const SxfFile::Record &r);

    void add(const Style &style, Shape shape, Path path = {}, bool curve = false)
    {
        m_pending.append({style, std::move(shape)});
        m_paths.append(std::move(path));
        if (!curve)
            m_runStart = m_pending.size();
    }
    void restoreByLayer();

    const SxfFile &m_file;
    Model &m_model;
    QString m_error;

    QVector<QString> m_layers;
    QVector<quint32> m_userColors;
    QVector<QString> m_userLinetypes;
    QHash<int, double> m_widths;
    int m_userWidths = 0;
    QVector<QString> m_fonts;
    QVector<Path> m_composites; // by code - 1
    QSet<QString> m_blockNames;

    QVector<Entity> m_pending; // shapes of the symbol or sheet being read
    QVector<Path> m_paths; // their outlines, for composite curves
    int m_runStart = 0; // first of the curves just before a composite curve
};

bool Builder::points(const SxfFile::Record &r, int countAt, QVector<Point> *out)
{
    int n = 0;
    QVector<double> xs, ys;
    if (!integer(r, countAt, &n))
        return false;
    if (!SxfFile::toNumbers(r.params[countAt + 1], &xs)
        || !SxfFile::toNumbers(r.params[countAt + 2], &ys))
        return fail(r, QStringLiteral("has a malformed coordinate list"));
    if (n < 1 || xs.size() != n || ys.size() != n)
        return fail(r,
                    QStringLiteral("declares %1 points but lists %2 and %3")
                        .arg(n)
                        .arg(xs.size())
                        .arg(ys.size()));
    for (int i = 0; i < n; ++i)
        out->append({xs[i], ys[i]});
    return true;
}

bool Builder::layer(const SxfFile::Record &r, int i, QString *name)
{
    int code = 0;
    if (!integer(r, i, &code))
        return false;
    if (code < 1 || code > m_layers.size())
        return fail(
            r, QStringLiteral("names layer %1, which the layer table does not define").arg(code));
    *name = m_layers[code - 1];
    return true;
}

bool Builder::color(const SxfFile::Record &r, int i, Color *color)
{
    int code = 0;
    if (!integer(r, i, &code))
        return false;
    if (code >= 1 && code <= SxfTables::predefinedColors) {
        *color = Color::fromRgb(SxfTables::colorRgb(code));
        return true;
    }
    const int user = code - SxfTables::firstUserColor;
    if (user < 0 || user >= m_userColors.size())
        return fail(
            r, QStringLiteral("names colour %1, which the colour table does not define").arg(code));
    *color = Color::fromRgb(m_userColors[user]);
    return true;
}

bool Builder::linetype(const SxfFile::Record &r, int i, QString *name)
{
    int code = 0;
    if (!integer(r, i, &code))
        return false;
    if (code >= 1 && code <= SxfTables::predefinedLinetypes) {
        *name = SxfTables::linetypeName(code);
        return true;
    }
    const int user = code - SxfTables::firstUserLinetype;
    if (user < 0 || user >= m_userLinetypes.size())
        return fail(r,
                    QStringLiteral("names line type %1, which the line type table does not "
                                   "define")
                        .arg(code));
    *name = m_userLinetypes[user];
    return true;
}

bool Builder::width(const SxfFile::Record &r, int i, double *mm)
{
    int code = 0;
    if (!integer(r, i, &code))
        return false;
    if (m_widths.contains(code)) {
        *mm = m_widths.value(code);
        return true;
    }
    if (code >= 1 && code <= SxfTables::predefinedWidths) {
        *mm = SxfTables::width(code);
        return true;
    }
    return fail(r,
                QStringLiteral("names width %1, which the width table does not define").arg(code));
}

bool Builder::lineStyle(const SxfFile::Record &r, Style *style)
{
    return layer(r, 0, &style->layer) && color(r, 1, &style->color)
        && linetype(r, 2, &style->linetype) && width(r, 3, &style->lineweight);
}

// The twelve parameters of a text: flag (dimensions and labels only), font, string, position,
// height, width, spacing, angle, slant, base point and direction. Plain text features have
// layer and colour in front and no flag.
bool Builder::text(const SxfFile::Record &r, int first, bool plain, const Style &style)
{
    int at = first;
    if (!plain) {
        int present = 0;
        if (!integer(r, at++, &present))
            return false;
        if (!present)
            return true;
    }
    int font = 0, basePoint = 0, direction = 0;
    double v[7];
    if (!integer(r, at, &font) || !numbers(r, at + 2, 7, v) || !integer(r, at + 9, &basePoint)
        || !integer(r, at + 10, &direction))
        return false;
    if (font < 1 || font > m_fonts.size())
        return fail(
            r,
            QStringLiteral("names text font %1, which the font table does not define").arg(font));
    if (basePoint < 1 || basePoint > 9)
        return fail(r, QStringLiteral("has base point %1 (1 to 9)").arg(basePoint));
    Text t;
    t.text = SxfFile::toText(r.params[at + 1]);
    t.font = m_fonts[font - 1];
    t.position = {v[0], v[1]};
    t.height = v[2];
    const double cells = t.height * textCells(t.text);
    t.widthFactor = cells > 0 && v[3] > 0 ? v[3] / cells : 1;
    t.rotation = v[5];
    t.oblique = v[6];
    static const HAlign columns[] = {HAlign::Left, HAlign::Center, HAlign::Right};
    static const VAlign rows[] = {VAlign::Baseline, VAlign::Middle, VAlign::Top};
    t.halign = columns[(basePoint - 1) % 3];
    t.valign = rows[(basePoint - 1) / 3];
    Style s = style;
    s.linetype.clear();
    s.lineweight = -1;
    add(s, t);
    return true;
}

bool Builder::table(const SxfFile::Record &r, bool *handled)
{
    *handled = true;
    const QByteArray &k = r.keyword;
    if (k == "layer_feature") {
        int flag = 0;
        if (!count(r, 2) || !integer(r, 1, &flag))
            return false;
        Layer l;
        l.name = SxfFile::toText(r.params[0]);
        l.on = flag != 0;
        if (m_model.layer(l.name))
            return fail(r, QStringLiteral("defines layer \"%1\" twice").arg(l.name));
        m_layers.append(l.name);
        m_model.layers.append(l);
    } else if (k == "pre_defined_colour_feature") {
        if (!count(r, 1))
            return false;
        if (!SxfTables::colorCode(SxfFile::toText(r.params[0])))
            return fail(r, QStringLiteral("names no predefined colour"));
    } else if (k == "user_defined_colour_feature") {
        int rgb[3];
        if (!count(r, 3) || !integer(r, 0, rgb) || !integer(r, 1, rgb + 1)
            || !integer(r, 2, rgb + 2))
            return false;
        for (int c : rgb) {
            if (c < 0 || c > 255)
                return fail(r, QStringLiteral("has a colour component outside 0 to 255"));
        }
        m_userColors.append(quint32(rgb[0] << 16 | rgb[1] << 8 | rgb[2]));
    } else if (k == "pre_defined_font_feature") {
        if (!count(r, 1))
            return false;
        const int code = SxfTables::linetypeCode(SxfFile::toText(r.params[0]));
        if (!code)
            return fail(r, QStringLiteral("names no predefined line type"));
        m_model.linetypes.append(
            {SxfTables::linetypeName(code), QString(), SxfTables::linetypePattern(code)});
    } else if (k == "user_defined_font_feature") {
        int segments = 0;
        QVector<double> pitch;
        if (!count(r, 3) || !integer(r, 1, &segments))
            return false;
        if (!SxfFile::toNumbers(r.params[2], &pitch) || pitch.size() != segments)
            return fail(r,
                        QStringLiteral("declares %1 segments but lists %2")
                            .arg(segments)
                            .arg(pitch.size()));
        Linetype type;
        type.name = SxfFile::toText(r.params[0]);
        for (int i = 0; i < pitch.size(); ++i)
            type.pattern.append(i % 2 ? -std::fabs(pitch[i]) : std::fabs(pitch[i]));
        m_userLinetypes.append(type.name);
        m_model.linetypes.append(type);
    } else if (k == "width_feature") {
        double mm = 0;
        if (!count(r, 1) || !number(r, 0, &mm))
            return false;
        if (mm < 0)
            return fail(r, QStringLiteral("has a negative width"));
        const int code = SxfTables::widthCode(mm);
        if (!code)
            m_widths.insert(SxfTables::firstUserWidth + m_userWidths++, mm);
    } else if (k == "text_font_feature") {
        if (!count(r, 1))
            return false;
        const QString name = SxfFile::toText(r.params[0]);
        m_fonts.append(name == SxfReader::defaultFont() ? QString() : name);
    } else {
        *handled = false;
    }
    return true;
}

bool Builder::shape(const SxfFile::Record &r)
{
    const QByteArray &k = r.keyword;
    Style style;
    if (k == "point_marker_feature") {
        double v[2];
        if (!count(r, 7) || !layer(r, 0, &style.layer) || !color(r, 1, &style.color)
            || !numbers(r, 2, 2, v))
            return false;
        add(style, Marker {{v[0], v[1]}});
    } else if (k == "line_feature") {
        double v[4];
        if (!count(r, 8) || !lineStyle(r, &style) || !numbers(r, 4, 4, v))
            return false;
        add(style, Line {{v[0], v[1]}, {v[2], v[3]}});
    } else if (k == "polyline_feature" || k == "spline_feature") {
        const bool spline = k == "spline_feature";
        QVector<Point> pts;
        int openClose = 0;
        if (!count(r, spline ? 8 : 7) || !lineStyle(r, &style)
            || (spline && !integer(r, 4, &openClose)) || !points(r, spline ? 5 : 4, &pts))
            return false;
        // Spline flag: 1 open, 0 closed.
        if (spline)
            pts = flattenSpline(pts, openClose == 0);
        Polyline p;
        Path path;
        for (const Point &pt : pts) {
            p.vertices.append({pt});
            path.append({pt});
        }
        if (p.vertices.size() > 2 && near(pts.first(), pts.last())) {
            p.vertices.removeLast();
            p.closed = true;
        }
        add(style, p, path, true);
    } else if (k == "circle_feature") {
        double v[3];
        if (!count(r, 7) || !lineStyle(r, &style) || !numbers(r, 4, 3, v))
            return false;
        add(style, Circle {{v[0], v[1]}, v[2]});
    } else if (k == "arc_feature") {
        double v[3], a[2];
        int direction = 0;
        if (!count(r, 10) || !lineStyle(r, &style) || !numbers(r, 4, 3, v)
            || !integer(r, 7, &direction) || !numbers(r, 8, 2, a))
            return false;
        const Point c {v[0], v[1]};
        const double radius = v[2];
        a[0] = withinTurn(a[0]);
        a[1] = withinTurn(a[1]);
        double sweep = turn(a[0], a[1]);
        if (direction == 0)
            sweep = -std::fmod(360.0 - sweep, 360.0);
        auto at = [&](double deg) {
            return Point {c.x + radius * std::cos(radians(deg)),
                          c.y + radius * std::sin(radians(deg))};
        };
        Path path {{at(a[0]), std::tan(radians(sweep) / 4)}, {at(a[1])}};
        // The model's arcs run counter-clockwise; a clockwise arc is the same arc reversed.
        Arc arc {c, radius, direction == 0 ? a[1] : a[0], direction == 0 ? a[0] : a[1]};
        add(style, arc, path, true);
    } else if (k == "ellipse_feature" || k == "ellipse_arc_feature") {
        const bool partial = k == "ellipse_arc_feature";
        double v[4], a[2] = {0, 360};
        int direction = 1;
        if (!count(r, partial ? 12 : 9) || !lineStyle(r, &style) || !numbers(r, 4, 4, v))
            return false;
        double rotation = 0;
        if (partial) {
            if (!integer(r, 8, &direction) || !number(r, 9, &rotation) || !numbers(r, 10, 2, a))
                return false;
        } else if (!number(r, 8, &rotation)) {
            return false;
        }
        rotation = withinTurn(rotation);
        a[0] = withinTurn(a[0]);
        a[1] = withinTurn(a[1]);
        double rx = v[2], ry = v[3];
        if (rx <= 0 || ry <= 0)
            return fail(r, QStringLiteral("has a radius that is not positive"));
        Ellipse e;
        e.center = {v[0], v[1]};
        double shift = 0;
        if (ry > rx) {
            std::swap(rx, ry);
            rotation += 90;
            shift = -90;
        }
        e.majorAxis = {rx * std::cos(radians(rotation)), rx * std::sin(radians(rotation))};
        e.ratio = ry / rx;
        Path path;
        if (partial) {
            double s = a[0] + shift, t = a[1] + shift;
            if (direction == 0)
                std::swap(s, t);
            e.startParam = radians(s);
            e.endParam = radians(t);
            const double sweep = turn(s, t);
            const int steps = std::max(4, int(sweep / 5));
            for (int i = 0; i <= steps; ++i) {
                const double p = radians(s + sweep * i / steps);
                const double x = rx * std::cos(p), y = ry * std::sin(p);
                const double rot = radians(rotation);
                path.append(Vertex {{e.center.x + x * std::cos(rot) - y * std::sin(rot),
                                     e.center.y + x * std::sin(rot) + y * std::cos(rot)}});
            }
            if (direction == 0)
                std::reverse(path.begin(), path.end());
        }
        add(style, e, path, partial);
    } else if (k == "text_string_feature") {
        if (!count(r, 13) || !layer(r, 0, &style.layer) || !color(r, 1, &style.color))
            return false;
        return text(r, 2, true, style);
    } else if (k == "sfig_locate_feature") {
        double v[5];
        if (!count(r, 7) || !layer(r, 0, &style.layer) || !numbers(r, 2, 5, v))
            return false;
        Insert in;
        in.block = SxfFile::toText(r.params[1]);
        if (!m_blockNames.contains(in.block))
            return fail(r,
                        QStringLiteral("places symbol \"%1\", which is not defined before it")
                            .arg(in.block));
        in.position = {v[0], v[1]};
        in.rotation = v[2];
        in.scaleX = v[3];
        in.scaleY = v[4];
        style.lineweight = -1;
        add(style, in);
    } else if (k == "externally_defined_symbol_feature") {
        double v[2];
        if (!count(r, 8) || !layer(r, 0, &style.layer) || !color(r, 2, &style.color)
            || !numbers(r, 4, 2, v))
            return false;
        add(style, Marker {{v[0], v[1]}});
    } else if (k.endsWith("_dim_feature") || k == "label_feature" || k == "balloon_feature") {
        return dimension(r);
    } else if (k == "composite_curve_org_feature") {
        return composite(r);
    } else if (k.startsWith("fill_area_style_") || k == "externally_defined_hatch_feature") {
        return fill(r);
    } else if (k == "clothoid_feature") {
        double v[7];
        int direction = 0;
        if (!count(r, 11) || !lineStyle(r, &style) || !numbers(r, 4, 3, v)
            || !integer(r, 7, &direction) || !numbers(r, 8, 3, v + 3))
            return false;
        // Integrate the curve: its direction turns with the square of the length run.
        const double a = v[2], from = v[4], to = v[5];
        if (a <= 0 || to < from || to - from > 1e7)
            return fail(r, QStringLiteral("has an impossible parameter or length"));
        const double sign = direction == 0 ? -1 : 1;
        Polyline p;
        double x = v[0], y = v[1], l = from;
        const int steps = 64;
        const double dl = (to - from) / steps;
        p.vertices.append(Vertex {{x, y}});
        for (int i = 0; i < steps; ++i, l += dl) {
            const double mid = l + dl / 2;
            const double heading = radians(v[3]) + sign * (mid * mid - from * from) / (2 * a * a);
            x += dl * std::cos(heading);
            y += dl * std::sin(heading);
            p.vertices.append(Vertex {{x, y}});
        }
        add(style, p);
    }
    // Attribute and sheet-level records that draw nothing are passed over.
    return true;
}

bool Builder::dimension(const SxfFile::Record &r)
{
    const QByteArray &k = r.keyword;
    static const QHash<QByteArray, int> sizes = {
        {"linear_dim_feature", 44}, {"curve_dim_feature", 45},    {"angular_dim_feature", 45},
        {"radius_dim_feature", 25}, {"diameter_dim_feature", 30}, {"label_feature", 21},
        {"balloon_feature", 24},
    };
    if (!sizes.contains(k))
        return true;
    Style style;
    if (!count(r, sizes.value(k)) || !lineStyle(r, &style))
        return false;
    auto extension = [&](int at) {
        int present = 0;
        double v[6];
        if (!integer(r, at, &present) || !numbers(r, at + 3, 4, v))
            return false;
        if (present)
            add(style, Line {{v[0], v[1]}, {v[2], v[3]}});
        return true;
    };
    int textAt = 0;
    if (k == "linear_dim_feature" || k == "radius_dim_feature" || k == "diameter_dim_feature") {
        double v[4];
        if (!numbers(r, 4, 4, v))
            return false;
        add(style, Line {{v[0], v[1]}, {v[2], v[3]}});
        if (k == "linear_dim_feature" && (!extension(8) || !extension(15)))
            return false;
        textAt = k == "linear_dim_feature" ? 32 : k == "radius_dim_feature" ? 13 : 18;
    } else if (k == "curve_dim_feature" || k == "angular_dim_feature") {
        double v[5];
        if (!numbers(r, 4, 5, v))
            return false;
        add(style, Arc {{v[0], v[1]}, v[2], v[3], v[4]});
        if (!extension(9) || !extension(16))
            return false;
        textAt = 33;
    } else {
        QVector<Point> pts;
        int arrow = 0;
        const bool balloon = k == "balloon_feature";
        if (!points(r, 4, &pts) || !integer(r, balloon ? 10 : 7, &arrow))
            return false;
        add(style, Leader {pts, arrow != 0});
        if (balloon) {
            double v[3];
            if (!numbers(r, 7, 3, v))
                return false;
            add(style, Circle {{v[0], v[1]}, v[2]});
        }
        textAt = balloon ? 12 : 9;
    }
    return text(r, textAt, false, style);
}

bool Builder::composite(const SxfFile::Record &r)
{
    Style style;
    int hidden = 0;
    if (!count(r, 4) || !color(r, 0, &style.color) || !linetype(r, 1, &style.linetype)
        || !width(r, 2, &style.lineweight) || !integer(r, 3, &hidden))
        return false;
    if (m_runStart >= m_pending.size())
        return fail(r, QStringLiteral("follows no curve to join"));
    style.layer = m_pending[m_runStart].style.layer;
    Path joined;
    for (int i = m_runStart; i < m_paths.size(); ++i) {
        const Path &path = m_paths[i];
        for (int j = 0; j < path.size(); ++j) {
            if (j == 0 && !joined.isEmpty() && near(joined.last().point, path[0].point)) {
                joined.last().bulge = path[0].bulge;
                continue;
            }
            joined.append(path[j]);
        }
    }
    m_pending.resize(m_runStart);
    m_paths.resize(m_runStart);
    Polyline p;
    p.vertices = joined;
    if (joined.size() > 2 && near(joined.first().point, joined.last().point)) {
        p.vertices.removeLast();
        p.closed = true;
    }
    m_composites.append(p.vertices);
    if (!hidden)
        add(style, p);
    m_runStart = m_pending.size();
    return true;
}

bool Builder::fill(const SxfFile::Record &r)
{
    const QByteArray &k = r.keyword;
    Style style;
    Hatch h;
    int at = 0; // where out_id, number and in_ids start
    if (k == "fill_area_style_colour_feature") {
        if (!count(r, 5) || !layer(r, 0, &style.layer) || !color(r, 1, &style.color))
            return false;
        h.solid = true;
        at = 2;
    } else if (k == "externally_defined_hatch_feature") {
        if (!count(r, 5) || !layer(r, 0, &style.layer))
            return false;
        h.pattern = SxfFile::toText(r.params[1]);
        at = 2;
    } else if (k == "fill_area_style_hatching_feature") {
        int patterns = 0;
        if (r.params.size() < 6 || !layer(r, 0, &style.layer) || !integer(r, 1, &patterns))
            return false;
        if (patterns < 1 || patterns > 4 || r.params.size() != patterns + 5)
            return fail(r,
                        QStringLiteral("has %1 parameters for %2 patterns")
                            .arg(r.params.size())
                            .arg(patterns));
        h.pattern = QStringLiteral("SXF");
        for (int i = 0; i < patterns; ++i) {
            QVector<double> v;
            if (!SxfFile::toNumbers(r.params[2 + i], &v) || v.size() != 7)
                return fail(r, QStringLiteral("has a malformed pattern %1").arg(i + 1));
            PatternLine line;
            line.base = {v[3], v[4]};
            line.angle = v[6];
            line.offset = {-v[5] * std::sin(radians(v[6])), v[5] * std::cos(radians(v[6]))};
            h.patternLines.append(line);
            if (i == 0) {
                SxfFile::Record codes = r;
                codes.params
                    = {SxfFile::Value {SxfFile::Value::Kind::Token, QByteArray::number(v[0]), {}},
                       SxfFile::Value {SxfFile::Value::Kind::Token, QByteArray::number(v[1]), {}},
                       SxfFile::Value {SxfFile::Value::Kind::Token, QByteArray::number(v[2]), {}}};
                if (!color(codes, 0, &style.color) || !linetype(codes, 1, &style.linetype)
                    || !width(codes, 2, &style.lineweight))
                    return false;
            }
        }
        at = 2 + patterns;
    } else {
        // Tiles name a pattern this model cannot draw; the outline is kept.
        if (r.params.size() < 3 || !layer(r, 0, &style.layer))
            return false;
        h.pattern = SxfFile::toText(r.params[1]);
        at = int(r.params.size()) - 3;
    }
    int out = 0, holes = 0;
    QVector<double> inner;
    if (!integer(r, at, &out) || !integer(r, at + 1, &holes)
        || !SxfFile::toNumbers(r.params[at + 2], &inner))
        return false;
    if (holes != inner.size())
        return fail(r,
                    QStringLiteral("declares %1 holes but lists %2").arg(holes).arg(inner.size()));
    QVector<double> ids {double(out)};
    ids += inner;
    for (double id : ids) {
        if (id < 1 || id > m_composites.size())
            return fail(r,
                        QStringLiteral("names outline %1, which no composite curve before it "
                                       "defines")
                            .arg(id));
        h.loops.append(m_composites[int(id) - 1]);
    }
    // A filled triangle or quadrilateral with straight sides is a solid.
    const QVector<Vertex> &outline = h.loops.first();
    const bool straight
        = std::all_of(outline.begin(), outline.end(), [](const Vertex &v) { return v.bulge == 0; });
    if (h.solid && h.loops.size() == 1 && straight
        && (outline.size() == 3 || outline.size() == 4)) {
        Solid s;
        for (int i = 0; i < 4; ++i)
            s.corners[i] = outline[std::min(i, int(outline.size()) - 1)].point;
        style.linetype.clear();
        style.lineweight = -1;
        add(style, s);
        return true;
    }
    if (h.solid) {
        style.linetype.clear();
        style.lineweight = -1;
    }
    add(style, h);
    return true;
}

// SXF states colour, line type and width on every shape; the layers of the model state them once.
// Where every shape of a layer agrees, the layer takes the value and the shapes go by layer, so
// that a drawing written from layer settings reads back with them.
void Builder::restoreByLayer()
{
    QVector<QVector<Entity> *> lists {&m_model.entities};
    for (Block &b : m_model.blocks)
        lists.append(&b.entities);
    for (Layer &l : m_model.layers) {
        bool colorSame = true, typeSame = true, weightSame = true;
        const Color *color = nullptr;
        const QString *type = nullptr;
        const double *weight = nullptr;
        for (QVector<Entity> *list : lists) {
            for (const Entity &e : *list) {
                if (e.style.layer != l.name)
                    continue;
                if (e.style.color.kind == Color::Kind::Rgb) {
                    colorSame = colorSame && (!color || *color == e.style.color);
                    color = &e.style.color;
                }
                if (!e.style.linetype.isEmpty()) {
                    typeSame = typeSame && (!type || *type == e.style.linetype);
                    type = &e.style.linetype;
                }
                if (e.style.lineweight >= 0) {
                    weightSame = weightSame && (!weight || *weight == e.style.lineweight);
                    weight = &e.style.lineweight;
                }
            }
        }
        const bool byColor = color && colorSame, byType = type && typeSame;
        const bool byWeight = weight && weightSame;
        if (byColor)
            l.color = *color;
        if (byType)
            l.linetype = *type;
        if (byWeight)
            l.lineweight = *weight;
        for (QVector<Entity> *list : lists) {
            for (Entity &e : *list) {
                if (e.style.layer != l.name)
                    continue;
                if (byColor)
                    e.style.color = Color::byLayer();
                if (byType)
                    e.style.linetype.clear();
                if (byWeight)
                    e.style.lineweight = -1;
            }
        }
    }
}

// The sheet the drawing declares. Its shapes lie on it in millimetres from its lower-left corner,
// part figures already placed at their scale, so one viewport at full size covers it. A sheet
// declared in a way no drawing program writes is passed over: the shapes still print.
void Builder::sheet(const SxfFile::Record &r)
{
    int type = -1, orientation = 0;
    double size[2] = {0, 0};
    if (r.params.size() != 5 || !SxfFile::toInteger(r.params[1], &type)
        || !SxfFile::toInteger(r.params[2], &orientation))
        return;
    Point paper = SxfTables::sheetSize(type);
    if (type == SxfTables::freeSheet) {
        if (!SxfFile::toNumber(r.params[3], &size[0]) || !SxfFile::toNumber(r.params[4], &size[1]))
            return;
        paper = {size[0], size[1]};
    } else if (orientation == 1) {
        paper = {paper.y, paper.x};
    }
    if (!(paper.x > 0 && paper.y > 0 && paper.x <= 1e7 && paper.y <= 1e7))
        return;
    Sheet s;
    s.name = SxfFile::toText(r.params[0]);
    s.width = s.paperWidth = paper.x;
    s.height = s.paperHeight = paper.y;
    Viewport v;
    v.center = v.viewCenter = {paper.x / 2, paper.y / 2};
    v.width = paper.x;
    v.height = paper.y;
    s.viewports.append(v);
    m_model.sheets.append(s);
    m_model.currentSheet = 0;
}

bool Builder::build(QString *error)
{
    m_pending.reserve(m_file.features().size());
    m_paths.reserve(m_file.features().size());
    for (const SxfFile::Record &r : m_file.features()) {
        bool handled = false;
        if (!table(r, &handled)) {
            *error = m_error;
            return false;
        }
        if (handled)
            continue;
        if (r.keyword == "sfig_org_feature") {
            if (!count(r, 2)) {
                *error = m_error;
                return false;
            }
            Block b;
            b.name = SxfFile::toText(r.params[0]);
            if (m_blockNames.contains(b.name)) {
                fail(r, QStringLiteral("defines symbol \"%1\" twice").arg(b.name));
                *error = m_error;
                return false;
            }
            b.entities = std::move(m_pending);
            m_blockNames.insert(b.name);
            m_model.blocks.append(b);
            m_pending.clear();
            m_paths.clear();
            m_runStart = 0;
        } else if (r.keyword == "drawing_sheet_feature") {
            if (m_model.sheets.isEmpty())
                sheet(r);
            if (m_model.entities.isEmpty())
                m_model.entities = std::move(m_pending);
            else
                m_model.entities += m_pending;
            m_pending.clear();
            m_paths.clear();
            m_runStart = 0;
        } else if (!shape(r)) {
            *error = m_error;
            return false;
        }
    }
    m_model.entities += m_pending;
    restoreByLayer();
    return true;
}

} // namespace

QString SxfReader::defaultFont()
{
    return QStringLiteral("ＭＳ ゴシック");
}

bool SxfReader::parse(const QByteArray &bytes, Model &model, QString *errorMessage)
{
    m_fileName = {};
    SxfFile file;
    QString reason;
    if (!file.parse(bytes, &reason)) {
        if (errorMessage)
            *errorMessage = reason;
        return false;
    }
    auto refuse = [&](const QString &why) {
        if (errorMessage)
            *errorMessage = why;
        return false;
    };
    QString description;
    if (const SxfFile::Record *d = file.headerRecord("FILE_DESCRIPTION")) {
        for (const SxfFile::Value &v : d->params) {
            description += SxfFile::toText(v);
            for (const SxfFile::Value &item : v.items)
                description += SxfFile::toText(item);
        }
    }
    if (file.features().isEmpty()) {
        if (file.entityInstances() > 0
            || description.contains(QLatin1String("AP202"), Qt::CaseInsensitive))
            return refuse(
                QStringLiteral("it is a%1 file in the AP202 entity form, which is not "
                               "read; save it in feature mode (SFC or feature-mode P21)")
                    .arg(m_form == Form::Sfc ? QStringLiteral("n SFC") : QStringLiteral(" P21")));
        return refuse(QStringLiteral("it holds no SXF features"));
    }
    if (const SxfFile::Record *n = file.headerRecord("FILE_NAME")) {
        auto first = [](const SxfFile::Value &v) {
            return v.items.isEmpty() ? SxfFile::toText(v) : SxfFile::toText(v.items.first());
        };
        if (n->params.size() > 0)
            m_fileName.title = SxfFile::toText(n->params[0]);
        if (n->params.size() > 2)
            m_fileName.authorName = first(n->params[2]);
        if (n->params.size() > 3)
            m_fileName.affiliation = first(n->params[3]);
    }
    Model result;
    Builder builder(file, result);
    if (!builder.build(&reason))
        return refuse(reason);
    model = std::move(result);
    return true;
}
