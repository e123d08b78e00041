#include "server/dxf/DxfDimension.h"

#include "server/dxf/DxfColors.h"
#include "server/dxf/DxfText.h"

#include <cmath>

using namespace Drawing;

namespace {

constexpr double kPi = 3.14159265358979323846;

Point operator+(const Point &a, const Point &b)
{
    return {a.x + b.x, a.y + b.y};
}

Point operator-(const Point &a, const Point &b)
{
    return {a.x - b.x, a.y - b.y};
}

Point operator*(const Point &p, double f)
{
    return {p.x * f, p.y * f};
}

double dot(const Point &a, const Point &b)
{
    return a.x * b.x + a.y * b.y;
}

double norm(const Point &p)
{
    return std::hypot(p.x, p.y);
}

Point unit(const Point &p, const Point &fallback = {1, 0})
{
    const double l = norm(p);
    return l > 0 ? p * (1 / l) : fallback;
}

Point normal(const Point &u)
{
    return {-u.y, u.x};
}

Point polar(double degrees)
{
    return {std::cos(degrees * kPi / 180), std::sin(degrees * kPi / 180)};
}

double angleOf(const Point &p)
{
    return std::atan2(p.y, p.x) * 180 / kPi;
}

// Degrees in [0, 360).
double turn(double degrees)
{
    const double a = std::fmod(degrees, 360.0);
    return a < 0 ? a + 360 : a;
}

// A text angle that reads from left to right: within (-90, 90].
double readable(double degrees)
{
    double a = turn(degrees);
    if (a > 90 + 1e-9 && a <= 270 + 1e-9)
        a -= 180;
    return a > 180 ? a - 360 : a;
}

class Builder
{
public:
    Builder(const DxfDimension::Settings &settings, double unit)
        : m_settings(settings)
        , m_unit(unit)
    {
        const double scale = settings.number(40, 1);
        m_scale = scale > 0 ? scale : 1;
        m_arrow = size(41, 2.5);
        m_tick = size(142, 0);
        m_text = size(140, 2.5);
        m_gap = std::fabs(size(147, 0.625));
        m_arrowName = settings.texts.value(5).toUpper();
    }

    // A length of the style in millimetres: the setting times DIMSCALE.
    double size(int code, double fallback) const
    {
        return m_settings.number(code, fallback) * m_scale * m_unit;
    }

    Style style(int colorCode) const
    {
        Style style;
        style.linetype = QStringLiteral("BYBLOCK");
        style.lineweight = -2;
        const int index = m_settings.integer(colorCode, 0);
        if (index == 0)
            style.color = {Color::Kind::ByBlock, 0, -1};
        else if (index > 0 && index < 256)
            style.color = Color::fromRgb(DxfColors::rgb(index), index);
        return style;
    }

    void line(const Point &a, const Point &b, int colorCode = 176)
    {
        if (norm(b - a) > 0)
            m_out.append({style(colorCode), Line {a, b}});
    }

    // An arrowhead whose tip is at `tip`, pointing along `direction`, in the style's shape.
    void arrow(const Point &tip, const Point &direction)
    {
        const Point d = unit(direction), n = normal(d);
        if (m_tick > 0 || m_arrowName.contains(QLatin1String("OBLIQUE"))
            || m_arrowName.contains(QLatin1String("ARCHTICK"))) {
            const double half = (m_tick > 0 ? m_tick : m_arrow / 2);
            line(tip - (d + n) * half, tip + (d + n) * half);
            return;
        }
        if (m_arrowName.contains(QLatin1String("NONE")) || !(m_arrow > 0))
            return;
        if (m_arrowName.contains(QLatin1String("DOT"))) {
            const double r = m_arrow / (m_arrowName.contains(QLatin1String("SMALL")) ? 8 : 4);
            Hatch dot;
            dot.solid = true;
            dot.loops.append({Vertex {tip + n * r, 1}, Vertex {tip - n * r, 1}});
            m_out.append({style(176), dot});
            return;
        }
        const Point base = tip - d * m_arrow;
        const Point a = base + n * (m_arrow / 6), b = base - n * (m_arrow / 6);
        if (m_arrowName.contains(QLatin1String("OPEN"))) {
            line(tip, a);
            line(tip, b);
            return;
        }
        if (m_arrowName.contains(QLatin1String("CLOSED"))
            && !m_arrowName.contains(QLatin1String("FILLED"))) {
            line(tip, a);
            line(a, b);
            line(b, tip);
            return;
        }
        Solid solid;
        solid.corners[0] = tip;
        solid.corners[1] = a;
        solid.corners[2] = b;
        solid.corners[3] = b;
        m_out.append({style(176), solid});
    }

    // The measurement as the style formats it, or the user's text around it.
    QString label(double millimetres, const QString &user, const QString &prefix) const
    {
        double value = millimetres / m_unit * m_settings.number(144, 1);
        const double round = m_settings.number(45, 0);
        if (round > 0)
            value = std::round(value / round) * round;
        const int decimals = std::clamp(m_settings.integer(271, 2), 0, 8);
        QString number = QString::number(value, 'f', decimals);
        if ((m_settings.integer(78, 0) & 8) && number.contains(QLatin1Char('.'))) {
            while (number.endsWith(QLatin1Char('0')))
                number.chop(1);
            if (number.endsWith(QLatin1Char('.')))
                number.chop(1);
        }
        const int separator = m_settings.integer(278, '.');
        if (separator > 32 && separator < 127)
            number.replace(QLatin1Char('.'), QChar(separator));
        QString post = m_settings.texts.value(3);
        QString shown = post.contains(QLatin1String("<>"))
            ? post.replace(QLatin1String("<>"), number)
            : prefix + number + post;
        if (user == QLatin1String(" "))
            return {};
        if (user.isEmpty())
            return shown;
        QString text = user;
        return text.replace(QLatin1String("<>"), shown);
    }

    void text(const QString &content, const Point &at, double rotation)
    {
        if (content.isEmpty() || !(m_text > 0))
            return;
        Text t;
        t.text = DxfText::plainMText(DxfText::resolveSpecials(content), &t.decorations);
        t.multiline = true;
        t.position = at;
        t.height = m_text;
        t.rotation = rotation;
        t.halign = HAlign::Center;
        t.valign = VAlign::Middle;
        m_out.append({style(178), t});
    }

    // Where the text goes when the file does not say: beside the middle of the dimension line,
    // above it when the style puts text above.
    Point textPoint(const Point &middle, double rotation) const
    {
        if (m_settings.integer(77, 0) == 0)
            return middle;
        return middle + normal(polar(rotation)) * (m_gap + m_text / 2);
    }

    double textRotation(double lineAngle) const
    {
        return m_settings.integer(73, 0) ? 0.0 : readable(lineAngle);
    }

    void linear(const DxfDimension::Definition &d)
    {
        const Point p1 = d.points[3], p2 = d.points[4], on = d.points[0];
        const Point u = d.type == 1 ? unit(p2 - p1) : polar(d.angle);
        // The feet of the extension lines on the dimension line through `on`.
        const Point f1 = on + u * dot(p1 - on, u), f2 = on + u * dot(p2 - on, u);
        const double exo = size(42, 0.625), exe = size(44, 1.25);
        for (int i = 0; i < 2; ++i) {
            const Point &p = i ? p2 : p1, &f = i ? f2 : f1;
            const Point n = unit(f - p, normal(u));
            if (!m_settings.integer(75 + i, 0) && norm(f - p) > exo)
                line(p + n * exo, f + n * exe, 177);
        }
        const double length = norm(f2 - f1);
        const Point along = unit(f2 - f1, u);
        const bool outside = m_tick <= 0 && length < 2 * m_arrow;
        const double beyond = m_tick > 0 ? size(46, 0) : outside ? m_arrow * 2 : 0;
        line(f1 - along * beyond, f2 + along * beyond);
        arrow(f1, outside ? along : along * -1);
        arrow(f2, outside ? along * -1 : along);
        const double rotation = textRotation(angleOf(along));
        text(label(length, d.text, {}),
             d.has[1] ? d.points[1] : textPoint((f1 + f2) * 0.5, rotation), rotation);
    }

    // A radius from the centre (10) to the arc (15); a diameter across between two points of
    // the circle (15 and 10).
    void radial(const DxfDimension::Definition &d)
    {
        const bool diameter = d.type == 3;
        const Point edge = d.points[5];
        const Point center = diameter ? (d.points[0] + edge) * 0.5 : d.points[0];
        const Point out = unit(edge - center);
        const double radius = norm(edge - center);
        const Point at = d.has[1] ? d.points[1] : center + out * (radius / 2);
        // The line runs on to the text when the text lies beyond the arc.
        const double reach = std::max(radius, dot(at - center, out));
        line(diameter ? center - out * radius : center, center + out * reach);
        arrow(edge, out);
        if (diameter)
            arrow(center - out * radius, out * -1);
        const double rotation = textRotation(angleOf(out));
        text(label(diameter ? 2 * radius : radius, d.text,
                   diameter ? QStringLiteral("\u00d8") : QStringLiteral("R")),
             d.has[1] ? at : textPoint(at, rotation), rotation);
    }

    void angular(const DxfDimension::Definition &d)
    {
        Point vertex, a, b, on;
        if (d.type == 5) {
            vertex = d.points[5];
            a = d.points[3] - vertex;
            b = d.points[4] - vertex;
            on = d.points[0];
        } else {
            // The two lines 13–14 and 10–15 meet at the vertex; the arc passes through 16.
            const Point r = d.points[4] - d.points[3], s = d.points[5] - d.points[0];
            const double cross = r.x * s.y - r.y * s.x;
            if (std::fabs(cross) < 1e-12)
                return;
            const Point q = d.points[0] - d.points[3];
            vertex = d.points[3] + r * ((q.x * s.y - q.y * s.x) / cross);
            on = d.points[6];
            // Each ray from the vertex along its line, toward the arc's side.
            a = dot(r, on - vertex) >= 0 ? r : r * -1;
            b = dot(s, on - vertex) >= 0 ? s : s * -1;
        }
        const double radius = norm(on - vertex);
        if (!(radius > 0))
            return;
        double start = angleOf(a), sweep = turn(angleOf(b) - start);
        // The arc between the rays that holds the point on it.
        if (turn(angleOf(on - vertex) - start) > sweep) {
            start = angleOf(b);
            sweep = 360 - sweep;
        }
        const double exo = size(42, 0.625), exe = size(44, 1.25);
        for (const double ray : {start, start + sweep}) {
            const Point u = polar(ray);
            const double near = d.type == 5 ? norm(ray == start ? a : b) : 0;
            if (d.type == 5 && radius > near + exo)
                line(vertex + u * (near + exo), vertex + u * (radius + exe), 177);
        }
        Arc arc {vertex, radius, start, start + sweep};
        m_out.append({style(176), arc});
        arrow(vertex + polar(start) * radius, normal(polar(start)) * -1);
        arrow(vertex + polar(start + sweep) * radius, normal(polar(start + sweep)));
        const double middle = start + sweep / 2;
        const double rotation = textRotation(middle - 90);
        const Point at
            = d.has[1] ? d.points[1] : textPoint(vertex + polar(middle) * radius, rotation);
        const int decimals = std::clamp(m_settings.integer(179, 0), 0, 8);
        const QString degrees = QString::number(sweep, 'f', decimals) + QChar(0x00b0);
        QString user = d.text;
        text(user.isEmpty() ? degrees : user.replace(QLatin1String("<>"), degrees), at, rotation);
    }

    void ordinate(const DxfDimension::Definition &d, bool xDatum)
    {
        const Point origin = d.points[0], feature = d.points[3], end = d.points[4];
        const double exo = size(42, 0.625);
        const Point u = unit(end - feature, xDatum ? Point {0, 1} : Point {1, 0});
        line(feature + u * exo, end, 177);
        const double value = std::fabs(xDatum ? feature.x - origin.x : feature.y - origin.y);
        const double rotation = xDatum ? 90 : 0;
        const Point at = d.has[1] ? d.points[1] : end + u * (m_gap + m_text);
        text(label(value, d.text, {}), at, rotation);
    }

    QVector<Entity> take() { return std::move(m_out); }

private:
    const DxfDimension::Settings &m_settings;
    double m_unit;
    double m_scale = 1;
    double m_arrow = 2.5;
    double m_tick = 0;
    double m_text = 2.5;
    double m_gap = 0.625;
    QString m_arrowName;
    QVector<Entity> m_out;
};

} // namespace

QVector<Entity> DxfDimension::build(const Definition &definition, const Settings &settings,
                                    double unit)
{
    Builder builder(settings, unit > 0 ? unit : 1);
    switch (definition.type) {
    case 0:
    case 1:
        builder.linear(definition);
        break;
    case 2:
    case 5:
        builder.angular(definition);
        break;
    case 3:
    case 4:
        builder.radial(definition);
        break;
    case 6:
        builder.ordinate(definition, false);
        break;
    case 7: // the ordinate's flag for an x datum, folded into the type by the reader
        builder.ordinate(definition, true);
        break;
    default:
        break;
    }
    return builder.take();
}
