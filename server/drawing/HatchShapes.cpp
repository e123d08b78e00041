#include "server/drawing/HatchShapes.h"

#include <algorithm>
#include <cmath>

namespace Drawing {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kChordAngle = 5 * kPi / 180;

Point plus(const Point &a, const Point &b)
{
    return {a.x + b.x, a.y + b.y};
}

Point minus(const Point &a, const Point &b)
{
    return {a.x - b.x, a.y - b.y};
}

Point times(const Point &a, double f)
{
    return {a.x * f, a.y * f};
}

double dot(const Point &a, const Point &b)
{
    return a.x * b.x + a.y * b.y;
}

// The segment from `from` to `to` with the bulge of `from`, without its first point.
void appendSegment(HatchShapes::Polygon &polygon, const Vertex &from, const Point &to)
{
    const double b = from.bulge;
    const double dx = to.x - from.point.x, dy = to.y - from.point.y;
    const double chord = std::hypot(dx, dy);
    if (std::fabs(b) < 1e-9 || chord < 1e-12 || !std::isfinite(b)) {
        polygon.append(to);
        return;
    }
    const double sweep = 4 * std::atan(b);
    const double d = chord / 2 * (1 - b * b) / (2 * b);
    const Point center {(from.point.x + to.x) / 2 - dy / chord * d,
                        (from.point.y + to.y) / 2 + dx / chord * d};
    const double r = std::hypot(from.point.x - center.x, from.point.y - center.y);
    const double start = std::atan2(from.point.y - center.y, from.point.x - center.x);
    const int steps = std::max(1, int(std::ceil(std::fabs(sweep) / kChordAngle)));
    for (int i = 1; i < steps; ++i) {
        const double angle = start + sweep * i / steps;
        polygon.append({center.x + r * std::cos(angle), center.y + r * std::sin(angle)});
    }
    polygon.append(to);
}

} // namespace

QVector<HatchShapes::Polygon> HatchShapes::boundary(const Hatch &hatch)
{
    QVector<Polygon> polygons;
    for (const QVector<Vertex> &loop : hatch.loops) {
        if (loop.size() < 2)
            continue;
        Polygon &polygon = polygons.emplace_back();
        polygon.append(loop.first().point);
        for (qsizetype i = 1; i < loop.size(); ++i)
            appendSegment(polygon, loop[i - 1], loop[i].point);
        appendSegment(polygon, loop.last(), loop.first().point);
    }
    return polygons;
}

void HatchShapes::patternLines(const Hatch &hatch, const QVector<Polygon> &polygons,
                               const std::function<void(const Point &, const Point &)> &dash)
{
    double left = 1e300, right = -1e300, bottom = 1e300, top = -1e300;
    qint64 edges = 0;
    for (const Polygon &polygon : polygons) {
        edges += polygon.size();
        for (const Point &p : polygon) {
            left = std::min(left, p.x);
            right = std::max(right, p.x);
            bottom = std::min(bottom, p.y);
            top = std::max(top, p.y);
        }
    }
    if (edges == 0)
        return;
    for (const PatternLine &family : hatch.patternLines) {
        const double rad = family.angle * kPi / 180;
        const Point dir {std::cos(rad), std::sin(rad)};
        const Point normal {-dir.y, dir.x};
        const double spacing = dot(family.offset, normal);
        if (std::fabs(spacing) < 1e-9)
            continue;
        // Range of line indices whose lines cross the box.
        double lo = 1e300, hi = -1e300;
        for (const Point &corner :
             {Point {left, bottom}, Point {right, bottom}, Point {left, top}, Point {right, top}}) {
            const double n = dot(minus(corner, family.base), normal) / spacing;
            lo = std::min(lo, n);
            hi = std::max(hi, n);
        }
        if (hi - lo > kMaxLines)
            continue;
        m_work += qint64(hi - lo + 1) * edges;
        if (m_work > kMaxWork)
            break;
        double dashTotal = 0;
        for (double d : family.dashes)
            dashTotal += std::fabs(d);
        for (double n = std::floor(lo); n <= std::ceil(hi); ++n) {
            const Point origin = plus(family.base, times(family.offset, n));
            const auto at = [&](double along) {
                return plus(origin, times(dir, along));
            };
            // Crossings of this line with every boundary edge, as parameters along dir.
            QVector<double> cuts;
            for (const Polygon &polygon : polygons) {
                for (qsizetype i = 0; i + 1 < polygon.size(); ++i) {
                    const Point a = minus(polygon[i], origin), b = minus(polygon[i + 1], origin);
                    const double da = dot(a, normal);
                    const double db = dot(b, normal);
                    if ((da < 0) == (db < 0))
                        continue;
                    const double f = da / (da - db);
                    cuts << dot(plus(a, times(minus(b, a), f)), dir);
                }
            }
            std::sort(cuts.begin(), cuts.end());
            for (qsizetype i = 0; i + 1 < cuts.size(); i += 2) {
                const double from = cuts[i], to = cuts[i + 1];
                if (family.dashes.isEmpty() || dashTotal <= 0
                    || (to - from) / dashTotal > kMaxLines) {
                    dash(at(from), at(to));
                    continue;
                }
                // Dashes start at the line's origin, as the pattern defines them.
                double s = std::floor(from / dashTotal) * dashTotal;
                while (s < to && m_work < kMaxWork) {
                    for (double d : family.dashes) {
                        ++m_work;
                        const double e = s + std::fabs(d);
                        if (d >= 0) {
                            const double a = std::max(s, from), b = std::min(e, to);
                            if (a < b || (d == 0 && s >= from && s <= to))
                                dash(at(a), at(std::max(b, a)));
                        }
                        s = e;
                    }
                }
            }
        }
    }
}

void HatchShapes::strips(const QVector<Polygon> &polygons,
                         const std::function<void(const Solid &)> &strip)
{
    struct Edge
    {
        Point low, high;
    };
    QVector<Edge> edges;
    QVector<double> heights;
    for (const Polygon &polygon : polygons) {
        for (qsizetype i = 0; i + 1 < polygon.size(); ++i) {
            const Point &a = polygon[i], &b = polygon[i + 1];
            heights.append(a.y);
            if (a.y < b.y)
                edges.append({a, b});
            else if (b.y < a.y)
                edges.append({b, a});
        }
    }
    m_work += edges.size();
    if (edges.isEmpty() || m_work > kMaxWork)
        return;
    std::sort(heights.begin(), heights.end());
    heights.erase(std::unique(heights.begin(), heights.end()), heights.end());
    std::sort(edges.begin(), edges.end(),
              [](const Edge &a, const Edge &b) { return a.low.y < b.low.y; });

    // Between two neighbouring heights no edge begins or ends, so the edges crossing that band
    // cut it into trapezoids, inside and outside by turns. All are made before any is handed
    // on, so that a hatch beyond the budget leaves nothing half filled.
    struct Cut
    {
        double middle, bottom, top; // x at the band's middle, bottom and top
    };
    QVector<Solid> solids;
    QVector<const Edge *> active;
    QVector<Cut> cuts;
    qsizetype next = 0;
    for (qsizetype k = 0; k + 1 < heights.size(); ++k) {
        const double y0 = heights[k], y1 = heights[k + 1];
        while (next < edges.size() && edges[next].low.y <= y0)
            active.append(&edges[next++]);
        active.removeIf([&](const Edge *e) { return e->high.y <= y0; });
        cuts.clear();
        for (const Edge *e : std::as_const(active)) {
            const auto x = [e](double y) {
                return e->low.x + (e->high.x - e->low.x) * (y - e->low.y) / (e->high.y - e->low.y);
            };
            cuts.append({x((y0 + y1) / 2), x(y0), x(y1)});
        }
        m_work += cuts.size();
        if (m_work > kMaxWork)
            return;
        std::sort(cuts.begin(), cuts.end(),
                  [](const Cut &a, const Cut &b) { return a.middle < b.middle; });
        for (qsizetype i = 0; i + 1 < cuts.size(); i += 2) {
            Solid &solid = solids.emplace_back();
            solid.corners[0] = {cuts[i].bottom, y0};
            solid.corners[1] = {cuts[i + 1].bottom, y0};
            solid.corners[2] = {cuts[i + 1].top, y1};
            solid.corners[3] = {cuts[i].top, y1};
        }
    }
    for (const Solid &solid : std::as_const(solids))
        strip(solid);
}

} // namespace Drawing
