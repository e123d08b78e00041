#include "server/drawing/CompositeShapes.h"

#include "server/drawing/Spline.h"

#include <algorithm>
#include <cmath>
#include <numeric>

using namespace Drawing;

namespace {

constexpr double kPi = 3.14159265358979323846;

Style byBlock()
{
    Style style;
    style.color = {Color::Kind::ByBlock, 0, -1};
    style.linetype = QStringLiteral("BYBLOCK");
    style.lineweight = -2;
    return style;
}

Entity entity(Shape shape, const Style &style = byBlock())
{
    return Entity {style, std::move(shape)};
}

Point midpoint(const Point &a, const Point &b)
{
    return {(a.x + b.x) / 2, (a.y + b.y) / 2};
}

} // namespace

QVector<Entity> CompositeShapes::entities(const Multiline &m)
{
    QVector<Entity> out;
    const qsizetype count = m.vertices.size(), elements = m.elements.size();
    if (count < 2 || elements == 0 || m.miters.size() != count
        || m.offsets.size() != count * elements)
        return out;
    const auto point = [&](qsizetype v, qsizetype e) {
        const Point &p = m.vertices[v % count], &miter = m.miters[v % count];
        const double d = m.offsets[(v % count) * elements + e];
        return Point {p.x + miter.x * d, p.y + miter.y * d};
    };
    const auto elementStyle = [&](qsizetype e) {
        Style style = byBlock();
        style.color = m.elements[e].color;
        style.linetype = m.elements[e].linetype;
        return style;
    };
    // Elements from the lowest offset to the highest: the outermost two close the caps.
    QVector<qsizetype> order(elements);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](qsizetype a, qsizetype b) {
        return m.elements[a].offset < m.elements[b].offset;
    });
    const qsizetype bottom = order.first(), top = order.last();
    const qsizetype last = m.closed ? count : count - 1; // the closing vertex is the first again

    if (m.flags & Multiline::Fill) {
        QVector<Vertex> loop;
        for (qsizetype v = 0; v <= last; ++v)
            loop.append({point(v, bottom)});
        for (qsizetype v = last; v >= 0; --v)
            loop.append({point(v, top)});
        if (!m.closed) {
            if (m.flags & Multiline::EndRound)
                loop[last].bulge = 1;
            if (m.flags & Multiline::StartRound)
                loop.last().bulge = 1;
        }
        Hatch fill;
        fill.solid = true;
        fill.loops.append(loop);
        Style style = byBlock();
        style.color = m.fillColor;
        out.append(entity(fill, style));
    }
    for (qsizetype e = 0; e < elements; ++e) {
        Polyline line;
        for (qsizetype v = 0; v <= last; ++v)
            line.vertices.append({point(v, e)});
        out.append(entity(line, elementStyle(e)));
    }
    // A line across at a vertex: from each outer element to the middle, in that element's pen.
    const auto across = [&](qsizetype v) {
        const Point middle = midpoint(point(v, top), point(v, bottom));
        for (qsizetype e : {top, bottom})
            out.append(entity(Line {point(v, e), middle}, elementStyle(e)));
    };
    // Half a turn from element a's point to element b's, outwards; a quarter in each one's pen
    // when their colours differ.
    const auto round = [&](qsizetype v, qsizetype a, qsizetype b) {
        const Point from = point(v, a), to = point(v, b), center = midpoint(from, to);
        const double radius = std::hypot(to.x - from.x, to.y - from.y) / 2;
        const double angle = std::atan2(from.y - center.y, from.x - center.x) * 180 / kPi;
        if (m.elements[a].color == m.elements[b].color) {
            out.append(entity(Arc {center, radius, angle, angle + 180}, elementStyle(a)));
        } else {
            out.append(entity(Arc {center, radius, angle, angle + 90}, elementStyle(a)));
            out.append(entity(Arc {center, radius, angle + 90, angle + 180}, elementStyle(b)));
        }
    };
    if (m.flags & Multiline::Joints) {
        for (qsizetype v = m.closed ? 0 : 1; v < count - (m.closed ? 0 : 1); ++v)
            across(v);
    }
    if (!m.closed) {
        const bool inner = elements > 3;
        if (m.flags & Multiline::StartLine)
            across(0);
        if (m.flags & Multiline::StartRound)
            round(0, top, bottom);
        if (inner && (m.flags & Multiline::StartInnerArcs))
            round(0, order[elements - 2], order[1]);
        if (m.flags & Multiline::EndLine)
            across(count - 1);
        if (m.flags & Multiline::EndRound)
            round(count - 1, bottom, top);
        if (inner && (m.flags & Multiline::EndInnerArcs))
            round(count - 1, order[1], order[elements - 2]);
    }
    return out;
}

QVector<Entity> CompositeShapes::entities(const MultiLeader &leader)
{
    QVector<Entity> out;
    Style lines = byBlock();
    lines.color = leader.lineColor;
    for (QVector<Point> points : leader.lines) {
        if (points.size() < 2)
            continue;
        const Point tip = points[0];
        const double dx = points[1].x - tip.x, dy = points[1].y - tip.y;
        const double length = std::hypot(dx, dy);
        const Point direction = length > 0 ? Point {dx / length, dy / length} : Point {1, 0};
        const double size = leader.arrowSize;
        if (size > 0 && length > 0) {
            // A closed filled arrowhead as long as its size and a third of it wide; the line
            // starts at its base.
            const Point base {tip.x + direction.x * size, tip.y + direction.y * size};
            const Point side {-direction.y * size / 6, direction.x * size / 6};
            Solid arrow;
            arrow.corners[0] = tip;
            arrow.corners[1] = {base.x + side.x, base.y + side.y};
            arrow.corners[2] = {base.x - side.x, base.y - side.y};
            arrow.corners[3] = arrow.corners[2];
            out.append(entity(arrow, lines));
            if (size < length)
                points[0] = base;
        }
        Polyline line;
        if (leader.spline && points.size() > 2) {
            const Point end {points.last().x - points[points.size() - 2].x,
                             points.last().y - points[points.size() - 2].y};
            points = Spline::throughFitPoints(points, &direction, &end, 1024);
        }
        for (const Point &p : std::as_const(points))
            line.vertices.append({p});
        out.append(entity(line, lines));
    }
    for (const Text &text : leader.text)
        out.append(entity(text));
    for (const Insert &block : leader.block)
        out.append(entity(block));
    return out;
}

Style CompositeShapes::placed(const Style &part, const Style &shape)
{
    Style style = part;
    if (style.layer == QLatin1String("0"))
        style.layer = shape.layer;
    if (style.color.kind == Color::Kind::ByBlock)
        style.color = shape.color;
    if (style.linetype.compare(QLatin1String("BYBLOCK"), Qt::CaseInsensitive) == 0)
        style.linetype = shape.linetype;
    if (style.lineweight == -2)
        style.lineweight = shape.lineweight;
    style.visible = style.visible && shape.visible;
    style.linetypeScale *= shape.linetypeScale;
    return style;
}

QVector<Polyline> CompositeShapes::edges(const Face &face)
{
    QVector<Polyline> runs;
    const bool all = (face.hiddenEdges & 15) == 0;
    Polyline run;
    // Starting after a hidden edge keeps a run that wraps round the first corner in one piece.
    int first = 0;
    while (!all && first < 4 && !(face.hiddenEdges & (1 << ((first + 3) % 4))))
        ++first;
    for (int k = 0; k < 4; ++k) {
        const int i = (first + k) % 4;
        const Point &a = face.corners[i], &b = face.corners[(i + 1) % 4];
        if (face.hiddenEdges & (1 << i)) {
            if (run.vertices.size() > 1)
                runs.append(run);
            run = Polyline();
            continue;
        }
        if (run.vertices.isEmpty())
            run.vertices.append({a});
        if (b != run.vertices.last().point)
            run.vertices.append({b});
    }
    if (run.vertices.size() > 1)
        runs.append(run);
    if (all && !runs.isEmpty() && runs.first().vertices.size() > 2
        && runs.first().vertices.last().point == runs.first().vertices.first().point) {
        runs.first().vertices.removeLast();
        runs.first().closed = true;
    }
    return runs;
}
