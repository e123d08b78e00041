#pragma once

#include "server/drawing/Drawing.h"

#include <functional>

namespace Drawing {

// A hatch as plain shapes: its pattern lines cut to the boundary, which the renderer strokes,
// and its solid fill as strips, for formats that have no hatch of their own. Boundaries are
// polygons with their arcs flattened, filled by the even-odd rule as hatches are.
// One object serves a whole drawing: its budget bounds what all its hatches together may cost,
// since a pattern a thousand times finer than its boundary would otherwise make millions of
// dashes. Beyond the budget the remaining hatches make nothing.
class HatchShapes
{
public:
    using Polygon = QVector<Point>;

    static constexpr int kMaxLines = 4000; // per pattern line family; denser families are left out
    static constexpr qint64 kMaxWork = 200000; // edge tests, dashes and strips

    // The loops with each arc as chords of at most five degrees, each polygon closed (its last
    // point the first).
    static QVector<Polygon> boundary(const Hatch &hatch);

    // Calls `dash` with both ends of every dash of the pattern lines inside the boundary; a dot
    // comes as a dash of no length.
    void patternLines(const Hatch &hatch, const QVector<Polygon> &boundary,
                      const std::function<void(const Point &, const Point &)> &dash);
    // Calls `strip` with trapezoids (and triangles, a corner twice) that together cover the
    // inside of the boundary, each a band between two heights at which a corner lies.
    void strips(const QVector<Polygon> &boundary, const std::function<void(const Solid &)> &strip);

private:
    qint64 m_work = 0;
};

} // namespace Drawing
