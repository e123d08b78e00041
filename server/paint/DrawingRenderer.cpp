#include "server/paint/DrawingRenderer.h"

#include "server/drawing/BlockExpansion.h"
#include "server/drawing/ColorIndex.h"
#include "server/drawing/CompositeShapes.h"
#include "server/drawing/HatchShapes.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPolygonF>

#include <algorithm>
#include <cmath>

using namespace Drawing;

namespace {

constexpr double defaultLineweight = 0.25; // millimetres on paper, the usual CAD default
constexpr double pi = 3.14159265358979323846;

QPointF qp(const Point &p)
{
    return {p.x, p.y};
}

double degrees(double radians)
{
    return radians * 180 / pi;
}

// White is the colour of "paper" in a CAD window with a black background; on a white page it
// is drawn black, as every plotter does.
QColor paperColor(quint32 rgb)
{
    if ((rgb & 0xffffff) == 0xffffff)
        return Qt::black;
    return QColor::fromRgb(rgb);
}

// Appends the segment from `from` to `to` with the bulge of `from`; arcs stay arcs so that PDF
// and SVG keep them as curves.
void addSegment(QPainterPath &path, const Vertex &from, const Point &to)
{
    const double b = from.bulge;
    const double dx = to.x - from.point.x, dy = to.y - from.point.y;
    const double chord = std::hypot(dx, dy);
    if (std::fabs(b) < 1e-9 || chord < 1e-12 || !std::isfinite(b)) {
        path.lineTo(to.x, to.y);
        return;
    }
    const double sweep = 4 * std::atan(b);
    const double d = chord / 2 * (1 - b * b) / (2 * b);
    const double cx = (from.point.x + to.x) / 2 - dy / chord * d;
    const double cy = (from.point.y + to.y) / 2 + dx / chord * d;
    const double r = std::hypot(from.point.x - cx, from.point.y - cy);
    const double start = std::atan2(from.point.y - cy, from.point.x - cx);
    // Qt's angles turn clockwise in y-up coordinates, so both are negated.
    path.arcTo(QRectF(cx - r, cy - r, 2 * r, 2 * r), -degrees(start), -degrees(sweep));
}

QPainterPath loopPath(const QVector<Vertex> &vertices, bool closed)
{
    QPainterPath path;
    if (vertices.isEmpty())
        return path;
    path.moveTo(qp(vertices.first().point));
    for (int i = 1; i < vertices.size(); ++i)
        addSegment(path, vertices[i - 1], vertices[i].point);
    if (closed && vertices.size() > 1) {
        addSegment(path, vertices.last(), vertices.first().point);
        path.closeSubpath();
    }
    return path;
}

bool hasJapanese(const QString &text)
{
    for (QChar c : text) {
        if (c.unicode() > 0x2000)
            return true;
    }
    return false;
}

} // namespace

DrawingRenderer::DrawingRenderer(const Model &model, const PlotSettings &plot)
    : m_model(model)
    , m_plot(plot)
    , m_blocks(model)
{
    for (const Linetype &l : model.linetypes)
        m_linetypes.insert(l.name.toUpper(), &l);
    for (const Layer &l : model.layers)
        m_layers.insert(l.name.toUpper(), &l);
    auto scan = [this](const QVector<Entity> &entities) {
        for (const Entity &e : entities) {
            if (const auto *text = std::get_if<Text>(&e.shape))
                m_japanese = m_japanese || hasJapanese(text->text);
            if (const auto *insert = std::get_if<Insert>(&e.shape)) {
                for (const Text &attribute : insert->attributes)
                    m_japanese = m_japanese || hasJapanese(attribute.text);
            }
            if (const auto *leader = std::get_if<MultiLeader>(&e.shape)) {
                for (const Text &text : leader->text)
                    m_japanese = m_japanese || hasJapanese(text.text);
            }
        }
    };
    scan(model.entities);
    for (const Block &b : model.blocks)
        scan(b.entities);
}

bool DrawingRenderer::check(QString *errorMessage)
{
    const BlockExpansion expansion(m_model, maxExpandedEntities, maxDepth);
    QString error;
    switch (expansion.outcome()) {
    case BlockExpansion::Outcome::Fits:
        layout();
        return true;
    case BlockExpansion::Outcome::IncludesItself:
    case BlockExpansion::Outcome::TooDeep:
        error = QStringLiteral("ブロック %1 が自分自身を含むか、入れ子が %2 段を超えます")
                    .arg(expansion.block())
                    .arg(maxDepth);
        break;
    case BlockExpansion::Outcome::TooMany:
        error = QStringLiteral("ブロックを展開した図形が %1 個を超えます").arg(maxExpandedEntities);
        break;
    }
    if (errorMessage)
        *errorMessage = error;
    return false;
}

namespace {

// A0 to A4, portrait.
QSizeF isoPaper(PlotSettings::Paper paper)
{
    switch (paper) {
    case PlotSettings::Paper::A0:
        return {841, 1189};
    case PlotSettings::Paper::A1:
        return {594, 841};
    case PlotSettings::Paper::A2:
        return {420, 594};
    case PlotSettings::Paper::A3:
        return {297, 420};
    case PlotSettings::Paper::A4:
        return {210, 297};
    default:
        return {};
    }
}

bool finiteRect(const QRectF &r)
{
    return std::isfinite(r.left()) && std::isfinite(r.top()) && std::isfinite(r.width())
        && std::isfinite(r.height()) && !r.isNull() && r.isValid();
}

// QRectF::intersects() takes a line along an axis, whose box has no width, for empty.
bool overlaps(const QRectF &a, const QRectF &b)
{
    return a.left() <= b.right() && b.left() <= a.right() && a.top() <= b.bottom()
        && b.top() <= a.bottom();
}

// Sheet units to paper millimetres (y down) as the sheet declares them.
QTransform declaredPlacement(const Sheet &sheet)
{
    return QTransform(sheet.scale, 0, 0, -sheet.scale, sheet.offset.x,
                      sheet.height - sheet.offset.y);
}

bool hasPaper(const Sheet &sheet)
{
    return std::isfinite(sheet.width) && std::isfinite(sheet.height) && sheet.width > 0
        && sheet.height > 0 && sheet.width < 1e6 && sheet.height < 1e6 && std::isfinite(sheet.scale)
        && sheet.scale > 0 && std::isfinite(sheet.offset.x) && std::isfinite(sheet.offset.y);
}

} // namespace

void DrawingRenderer::layout()
{
    m_painter = nullptr;
    m_frozen.clear();
    m_scale = 1;
    m_extents = QRectF();
    m_budget = maxExpandedEntities;
    // Each entity's box on its own, so that a viewport can pass over what lies outside it.
    m_bounds.clear();
    m_bounds.reserve(m_model.entities.size());
    for (const Entity &e : m_model.entities) {
        if (--m_budget < 0)
            break;
        const QRectF before = m_extents;
        m_extents = QRectF();
        visit(e, Context());
        m_bounds.append(m_extents);
        if (!before.isNull())
            m_extents = m_extents.isNull() ? before : before.united(m_extents);
    }

    const double margin = std::isfinite(m_plot.margin) ? std::clamp(m_plot.margin, 0.0, 500.0)
                                                       : DrawingRenderer::margin;
    if (!finiteRect(m_extents)) {
        m_modelPage = Page {-1, QSizeF(210, 297), 1, QTransform()};
    } else {
        const double side = std::max(m_extents.width(), m_extents.height());
        const double room = maxPaperSide - 2 * margin;
        double scale = 1;
        // 1, 1/2, 1/5, 1/10, 1/20, ... until the drawing fits; large drawings never give up.
        for (double decade = 1; side * scale > room && decade < 1e12; decade *= 10) {
            for (double step : {1.0, 2.0, 5.0}) {
                scale = 1 / (decade * step);
                if (side * scale <= room)
                    break;
            }
        }
        if (side * scale > room) // beyond every usual scale: fit exactly
            scale = room / side;
        const QSizeF paper(m_extents.width() * scale + 2 * margin,
                           m_extents.height() * scale + 2 * margin);
        const QTransform own(scale, 0, 0, -scale, margin - m_extents.left() * scale,
                             margin + m_extents.bottom() * scale);
        m_modelPage = placed(-1, m_extents, paper, scale, own, 1);
    }

    // The sheets in tab order; those that hold nothing print nothing.
    QVector<int> order;
    for (int i = 0; i < m_model.sheets.size(); ++i) {
        if (m_model.sheets[i].holdsAnything())
            order.append(i);
    }
    std::stable_sort(order.begin(), order.end(), [this](int a, int b) {
        return m_model.sheets[a].tabOrder < m_model.sheets[b].tabOrder;
    });
    m_pages.clear();
    m_current = -1;
    for (int i : order) {
        const Sheet &sheet = m_model.sheets[i];
        // The scale a reader of the page wants, and 1:N asks for, is that of its largest view.
        double largest = 0, viewScale = 1;
        for (const Viewport &v : sheet.viewports) {
            if (v.width * v.height > largest && v.scale > 0 && std::isfinite(v.scale)) {
                largest = v.width * v.height;
                viewScale = v.scale;
            }
        }
        Page page;
        if (hasPaper(sheet)) {
            const QTransform own = declaredPlacement(sheet);
            const QRectF content = own.inverted().mapRect(QRectF(0, 0, sheet.width, sheet.height));
            page = placed(i, content, QSizeF(sheet.width, sheet.height), sheet.scale, own,
                          viewScale);
        } else {
            // No paper declared: the sheet's drawing plus a margin, as model space gets.
            m_extents = QRectF();
            m_budget = maxExpandedEntities;
            walk(sheet.entities, Context());
            for (const Viewport &v : sheet.viewports)
                include(
                    QRectF(v.center.x - v.width / 2, v.center.y - v.height / 2, v.width, v.height));
            if (!finiteRect(m_extents))
                continue;
            const QSizeF paper(m_extents.width() + 2 * margin, m_extents.height() + 2 * margin);
            const QTransform own(1, 0, 0, -1, margin - m_extents.left(),
                                 margin + m_extents.bottom());
            page = placed(i, m_extents, paper, 1, own, viewScale);
        }
        page.scale *= viewScale;
        if (i == m_model.currentSheet)
            m_current = m_pages.size();
        m_pages.append(page);
    }
    if (m_pages.isEmpty()) {
        m_pages.append(m_modelPage);
        m_current = 0;
    } else if (m_current < 0 && m_model.currentSheet >= 0) {
        m_current = 0; // the current sheet holds nothing: the first that does
    }
    m_extents = QRectF();
    for (const QRectF &r : std::as_const(m_bounds)) {
        if (!r.isNull())
            m_extents = m_extents.isNull() ? r : m_extents.united(r);
    }
}

DrawingRenderer::Page DrawingRenderer::placed(int sheet, const QRectF &content,
                                              const QSizeF &ownPaper, double ownScale,
                                              const QTransform &ownTransform,
                                              double viewScale) const
{
    const Page own {sheet, ownPaper, ownScale, ownTransform};
    const PlotSettings &plot = m_plot;
    if (!finiteRect(content) || content.width() <= 0 || content.height() <= 0)
        return own;
    const double margin = std::isfinite(plot.margin) ? std::clamp(plot.margin, 0.0, 500.0)
                                                     : DrawingRenderer::margin;
    // Model space's own paper is made to its drawing: a scale of its own resizes it.
    const bool madeToFit = sheet < 0 && plot.paper == PlotSettings::Paper::Own;

    QSizeF paper = ownPaper;
    if (plot.paper == PlotSettings::Paper::Custom) {
        if (plot.customWidth > 0 && plot.customHeight > 0 && plot.customWidth < 1e5
            && plot.customHeight < 1e5)
            paper = QSizeF(plot.customWidth, plot.customHeight);
    } else if (plot.paper != PlotSettings::Paper::Own) {
        paper = isoPaper(plot.paper);
    }
    if (!madeToFit) {
        bool landscape = paper.width() > paper.height();
        if (plot.orientation == PlotSettings::Orientation::Landscape)
            landscape = true;
        else if (plot.orientation == PlotSettings::Orientation::Portrait)
            landscape = false;
        else if (plot.paper != PlotSettings::Paper::Own)
            landscape = content.width() > content.height();
        if (landscape != (paper.width() > paper.height()) && paper.width() != paper.height())
            paper.transpose();
    }

    double scale = ownScale;
    if (plot.scale == PlotSettings::Scale::Ratio && plot.ratio > 0 && std::isfinite(plot.ratio))
        scale = 1 / (plot.ratio * viewScale);
    else if (plot.scale == PlotSettings::Scale::Fit && !madeToFit)
        scale = std::max(0.0,
                         std::min((paper.width() - 2 * margin) / content.width(),
                                  (paper.height() - 2 * margin) / content.height()));
    if (!(scale > 0) || !std::isfinite(scale))
        scale = ownScale;
    if (madeToFit)
        paper = QSizeF(content.width() * scale + 2 * margin, content.height() * scale + 2 * margin);
    if (scale == ownScale && paper == ownPaper)
        return own;
    if (!(paper.width() > 0 && paper.height() > 0 && paper.width() < 1e6 && paper.height() < 1e6))
        return own;

    Page page {sheet, paper, scale, QTransform()};
    if (plot.centered || madeToFit) {
        const QPointF c = content.center();
        page.paperFromContent = QTransform(scale, 0, 0, -scale, paper.width() / 2 - c.x() * scale,
                                           paper.height() / 2 + c.y() * scale);
    } else {
        // From the lower-left corner of the paper, as a plotter's origin.
        page.paperFromContent = QTransform(scale, 0, 0, -scale, margin - content.left() * scale,
                                           paper.height() - margin + content.top() * scale);
    }
    return page;
}

void DrawingRenderer::paint(QPainter &painter, int index)
{
    m_painter = &painter;
    m_hatchShapes = HatchShapes();
    const QTransform device = painter.worldTransform();
    const Page &current = page(index);
    painter.setBrush(Qt::NoBrush);
    if (current.sheet >= 0 && current.sheet < m_model.sheets.size()) {
        paintSheet(m_model.sheets[current.sheet], current.paperFromContent, device);
    } else {
        m_budget = maxExpandedEntities;
        m_frozen.clear();
        m_scale = current.scale;
        m_deviceFromWorld = current.paperFromContent * device;
        painter.setWorldTransform(m_deviceFromWorld);
        walk(m_model.entities, Context());
    }
    painter.setWorldTransform(device);
    m_painter = nullptr;
}

void DrawingRenderer::paintSheet(const Sheet &sheet, const QTransform &paperFromSheet,
                                 const QTransform &device)
{
    const double sheetScale = std::sqrt(std::fabs(paperFromSheet.determinant()));
    const QTransform deviceFromSheet = paperFromSheet * device;
    int views = 0;
    // Model space first, under what is drawn on the sheet itself (the title block, notes).
    for (const Viewport &v : sheet.viewports) {
        if (!(v.scale > 0) || !std::isfinite(v.scale) || !(v.width > 0) || !(v.height > 0)
            || !std::isfinite(v.twist) || ++views > maxViewports)
            continue;
        QPainterPath clip;
        if (v.clip.size() >= 3) {
            QPolygonF polygon;
            for (const Point &p : v.clip)
                polygon << qp(p);
            clip.addPolygon(polygon);
            clip.closeSubpath();
        } else {
            clip.addRect(
                QRectF(v.center.x - v.width / 2, v.center.y - v.height / 2, v.width, v.height));
        }
        const double rad = v.twist * pi / 180;
        const QTransform sheetFromModel
            = QTransform::fromTranslate(-v.viewCenter.x, -v.viewCenter.y)
            * QTransform(std::cos(rad), std::sin(rad), -std::sin(rad), std::cos(rad), 0, 0)
            * QTransform::fromScale(v.scale, v.scale)
            * QTransform::fromTranslate(v.center.x, v.center.y);
        const QRectF view = sheetFromModel.inverted().map(clip).boundingRect();
        if (!finiteRect(view))
            continue;
        m_frozen.clear();
        for (const QString &layer : v.frozenLayers)
            m_frozen.insert(layer.toUpper());
        m_scale = v.scale * sheetScale;
        m_deviceFromWorld = sheetFromModel * deviceFromSheet;
        // The clip in the coordinates it is drawn in: engines that take state changes in one
        // batch see it with the transform it belongs to.
        if (m_clipMarker)
            m_clipMarker(*m_painter, deviceFromSheet.map(clip));
        m_painter->setWorldTransform(m_deviceFromWorld);
        if (!m_clipMarker)
            m_painter->setClipPath(sheetFromModel.inverted().map(clip));
        m_budget = maxExpandedEntities;
        for (qsizetype i = 0; i < m_model.entities.size(); ++i) {
            if (i < m_bounds.size() && (m_bounds[i].isNull() || !overlaps(m_bounds[i], view)))
                continue;
            if (--m_budget < 0)
                break;
            visit(m_model.entities[i], Context());
        }
        if (m_clipMarker)
            m_clipMarker(*m_painter, QPainterPath());
        else
            m_painter->setClipping(false);
    }
    m_frozen.clear();
    m_scale = sheetScale;
    m_deviceFromWorld = deviceFromSheet;
    m_painter->setWorldTransform(m_deviceFromWorld);
    m_budget = maxExpandedEntities;
    walk(sheet.entities, Context());
}

void DrawingRenderer::include(const QRectF &r)
{
    if (!std::isfinite(r.left()) || !std::isfinite(r.top()) || !std::isfinite(r.width())
        || !std::isfinite(r.height()))
        return;
    m_extents = m_extents.isNull() ? r.normalized() : m_extents.united(r.normalized());
    if (m_extents.isNull()) // a single point: give it a size so that the page has one
        m_extents = QRectF(r.x() - 0.5, r.y() - 0.5, 1, 1);
}

void DrawingRenderer::walk(const QVector<Entity> &entities, const Context &context)
{
    for (const Entity &e : entities) {
        if (--m_budget < 0)
            return;
        visit(e, context);
    }
}

bool DrawingRenderer::resolve(const Style &style, const Context &context, QString *layerName,
                              Pen *pen) const
{
    *layerName
        = (context.depth > 0 && style.layer == QLatin1String("0")) ? context.layer : style.layer;
    const Layer *layer = m_layers.value(layerName->toUpper());
    if (!m_frozen.isEmpty() && m_frozen.contains(layerName->toUpper()))
        return false;
    if (!style.visible || (layer && (!layer->on || layer->frozen || !layer->plot)))
        return false;
    // Definition points of dimensions: CAD programs show them on screen but never print them.
    if (layerName->compare(QLatin1String("DEFPOINTS"), Qt::CaseInsensitive) == 0)
        return false;

    switch (style.color.kind) {
    case Color::Kind::Rgb:
        pen->color = style.color.rgb;
        pen->colorIndex = style.color.index;
        break;
    case Color::Kind::ByBlock:
        pen->color = context.color;
        pen->colorIndex = context.colorIndex;
        break;
    case Color::Kind::ByLayer:
        pen->color = layer ? layer->color.rgb : context.color;
        pen->colorIndex = layer ? layer->color.index : context.colorIndex;
        break;
    }

    QString linetype = style.linetype.toUpper();
    if (linetype.isEmpty() || linetype == QLatin1String("BYLAYER"))
        linetype = layer ? layer->linetype.toUpper() : QString();
    else if (linetype == QLatin1String("BYBLOCK"))
        linetype = context.linetype;
    pen->linetype = m_linetypes.value(linetype);
    if (pen->linetype && pen->linetype->pattern.size() < 2)
        pen->linetype = nullptr;
    pen->linetypeScale = style.linetypeScale * m_model.linetypeScale;

    double weight = style.lineweight;
    if (weight == -1)
        weight = layer ? layer->lineweight : -3;
    if (weight == -2)
        weight = context.lineweight;
    pen->weight = weight >= 0 ? weight : defaultLineweight;
    applyPlotSettings(pen);
    return true;
}

void DrawingRenderer::applyPlotSettings(Pen *pen) const
{
    if (m_plot.weights == PlotSettings::Weights::ByColor) {
        // A true colour takes the weight of the palette colour nearest to it, as the colour
        // it would be printed as on a pen plotter. Entities drawn by block inherit the index
        // found here, never one looked up again from a colour already turned grey.
        if (pen->colorIndex < 1 || pen->colorIndex > 255) {
            const auto found = m_nearestIndex.constFind(pen->color);
            pen->colorIndex = found != m_nearestIndex.constEnd()
                ? *found
                : *m_nearestIndex.insert(pen->color, ColorIndex::nearestIndex(pen->color));
        }
        pen->weight = m_plot.weightByColor.value(pen->colorIndex, pen->weight);
    }
    // White stays white so that paperColor() still draws white lines black and fill() can keep
    // white areas white; grey and black are their own greys, so inherited colours turn no
    // further.
    const quint32 rgb = pen->color & 0xffffff;
    switch (m_plot.colors) {
    case PlotSettings::Colors::Color:
        break;
    case PlotSettings::Colors::Grayscale: {
        const quint32 r = rgb >> 16, g = (rgb >> 8) & 0xff, b = rgb & 0xff;
        const quint32 y = (299 * r + 587 * g + 114 * b + 500) / 1000; // luminance, Rec. 601
        pen->color = y << 16 | y << 8 | y;
        break;
    }
    case PlotSettings::Colors::Monochrome:
        pen->color = rgb == 0xffffff ? rgb : 0;
        break;
    }
}

void DrawingRenderer::visit(const Entity &entity, const Context &context)
{
    QString layer;
    Pen pen;
    if (!resolve(entity.style, context, &layer, &pen))
        return;

    std::visit(
        [&](const auto &shape) {
            using T = std::decay_t<decltype(shape)>;
            if constexpr (std::is_same_v<T, Line>) {
                QPainterPath path(qp(shape.start));
                path.lineTo(qp(shape.end));
                stroke(path, pen, context);
            } else if constexpr (std::is_same_v<T, Circle>) {
                QPainterPath path;
                path.addEllipse(qp(shape.center), shape.radius, shape.radius);
                stroke(path, pen, context);
            } else if constexpr (std::is_same_v<T, Arc>) {
                const double r = shape.radius;
                double sweep = std::fmod(shape.endAngle - shape.startAngle, 360.0);
                if (sweep <= 0)
                    sweep += 360;
                const QRectF rect(shape.center.x - r, shape.center.y - r, 2 * r, 2 * r);
                QPainterPath path;
                path.arcMoveTo(rect, -shape.startAngle);
                path.arcTo(rect, -shape.startAngle, -sweep);
                stroke(path, pen, context);
            } else if constexpr (std::is_same_v<T, Ellipse>) {
                // The unit circle's arc, mapped onto the axes.
                // By remainder: adding turns to a sweep of any size may never make it positive.
                double sweep = shape.endParam - shape.startParam;
                if (sweep <= 0)
                    sweep = std::fmod(sweep, 2 * pi) + 2 * pi;
                if (!(sweep <= 2 * pi)) // beyond a turn, or no number at all: the whole ellipse
                    sweep = 2 * pi;
                QPainterPath unit;
                const QRectF rect(-1, -1, 2, 2);
                unit.arcMoveTo(rect, -degrees(shape.startParam));
                unit.arcTo(rect, -degrees(shape.startParam), -degrees(sweep));
                const Point &a = shape.majorAxis;
                const QTransform axes(a.x, a.y, -a.y * shape.ratio, a.x * shape.ratio,
                                      shape.center.x, shape.center.y);
                stroke(axes.map(unit), pen, context);
            } else if constexpr (std::is_same_v<T, Polyline>) {
                drawPolyline(shape, pen, context);
            } else if constexpr (std::is_same_v<T, Marker>) {
                // A dot as wide as the pen, on paper.
                const double r = pen.weight / m_scale / 2;
                QPainterPath path;
                path.addEllipse(qp(shape.position), r, r);
                fill(path, pen.color, context);
            } else if constexpr (std::is_same_v<T, Solid>) {
                QPolygonF polygon;
                for (const Point &p : shape.corners) {
                    if (polygon.isEmpty() || polygon.last() != qp(p))
                        polygon << qp(p);
                }
                QPainterPath path;
                path.addPolygon(polygon);
                path.closeSubpath();
                fill(path, pen.color, context, true);
            } else if constexpr (std::is_same_v<T, Text>) {
                drawText(shape, pen, context);
            } else if constexpr (std::is_same_v<T, Insert>) {
                drawInsert(shape, entity, pen, layer, context);
            } else if constexpr (std::is_same_v<T, Hatch>) {
                drawHatch(shape, pen.color, context);
            } else if constexpr (std::is_same_v<T, Dimension>) {
                // Dimension blocks are drawn in the coordinates of the dimension itself.
                drawBlock(shape.block, QTransform(), pen, layer, context);
            } else if constexpr (std::is_same_v<T, Leader>) {
                drawLeader(shape, pen, context);
            } else if constexpr (std::is_same_v<T, Face>) {
                for (const Polyline &edges : CompositeShapes::edges(shape))
                    drawPolyline(edges, pen, context);
            } else {
                drawEntities(CompositeShapes::entities(shape), QTransform(), pen, layer, context);
            }
        },
        entity.shape);
}

void DrawingRenderer::stroke(const QPainterPath &path, const Pen &pen, const Context &context)
{
    const QPainterPath world = context.toWorld.map(path);
    if (!m_painter) {
        const QRectF r = world.controlPointRect();
        include(r);
        return;
    }
    const double width = pen.weight / m_scale; // world units under the page transform
    QPen qpen(paperColor(pen.color), width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    if (pen.linetype && width > 0) {
        // Qt's dashes are in pen widths, and a pattern must start with a dash.
        QVector<qreal> dashes;
        double total = 0;
        for (double d : pen.linetype->pattern) {
            const double length = std::fabs(d) * pen.linetypeScale;
            dashes << std::max(length, 1e-3) / width;
            total += length;
        }
        if (pen.linetype->pattern.first() < 0)
            dashes.append(dashes.takeFirst());
        if (dashes.size() % 2)
            dashes += dashes;
        // A pattern finer than the pen would be a solid line drawn slowly.
        if (total * m_scale > 0.1)
            qpen.setDashPattern(dashes);
    }
    m_painter->setPen(qpen);
    m_painter->setBrush(Qt::NoBrush);
    m_painter->drawPath(world);
}

void DrawingRenderer::strokeWide(const QPainterPath &path, double worldWidth, quint32 color,
                                 const Context &context)
{
    const QPainterPath world = context.toWorld.map(path);
    if (!m_painter) {
        include(world.controlPointRect());
        return;
    }
    // The width scales with the block, as the outline of a wide polyline does.
    const double scale = std::sqrt(std::fabs(context.toWorld.determinant()));
    m_painter->setPen(
        QPen(paperColor(color), worldWidth * scale, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
    m_painter->setBrush(Qt::NoBrush);
    m_painter->drawPath(world);
}

void DrawingRenderer::fill(const QPainterPath &path, quint32 color, const Context &context,
                           bool area)
{
    const QPainterPath world = context.toWorld.map(path);
    if (!m_painter) {
        include(world.controlPointRect());
        return;
    }
    m_painter->setPen(Qt::NoPen);
    // Submission prints are black on white: a white area there hides what lies below (a
    // wipeout, a masked background) instead of blackening it.
    const bool mask = area && m_plot.colors == PlotSettings::Colors::Monochrome
        && (color & 0xffffff) == 0xffffff;
    m_painter->setBrush(mask ? QColor(Qt::white) : paperColor(color));
    m_painter->drawPath(world);
    m_painter->setBrush(Qt::NoBrush);
}

void DrawingRenderer::drawPolyline(const Polyline &polyline, const Pen &pen, const Context &context)
{
    const QVector<Vertex> &v = polyline.vertices;
    if (v.isEmpty())
        return;
    bool wide = false, constant = true;
    for (const Vertex &x : v) {
        wide = wide || x.startWidth > 0 || x.endWidth > 0;
        constant = constant && x.startWidth == v.first().startWidth
            && x.endWidth == v.first().startWidth;
    }
    if (!wide) {
        stroke(loopPath(v, polyline.closed), pen, context);
        return;
    }
    if (constant) {
        strokeWide(loopPath(v, polyline.closed), v.first().startWidth, pen.color, context);
        return;
    }
    // Tapering segments (arrows drawn as polylines): straight ones as filled quadrilaterals.
    const int segments = polyline.closed ? v.size() : v.size() - 1;
    for (int i = 0; i < segments; ++i) {
        const Vertex &a = v[i];
        const Point &b = v[(i + 1) % v.size()].point;
        if (std::fabs(a.bulge) > 1e-9 || a.startWidth == a.endWidth) {
            QPainterPath segment(qp(a.point));
            addSegment(segment, a, b);
            strokeWide(segment, (a.startWidth + a.endWidth) / 2, pen.color, context);
            continue;
        }
        const double len = std::hypot(b.x - a.point.x, b.y - a.point.y);
        if (len <= 0)
            continue;
        const double nx = -(b.y - a.point.y) / len, ny = (b.x - a.point.x) / len;
        const double s = a.startWidth / 2, e = a.endWidth / 2;
        QPolygonF quad({QPointF(a.point.x + nx * s, a.point.y + ny * s),
                        QPointF(b.x + nx * e, b.y + ny * e), QPointF(b.x - nx * e, b.y - ny * e),
                        QPointF(a.point.x - nx * s, a.point.y - ny * s)});
        QPainterPath path;
        path.addPolygon(quad);
        path.closeSubpath();
        fill(path, pen.color, context);
    }
}

const QFont &DrawingRenderer::fontFor(const QString &text)
{
    Q_UNUSED(text);
    // One font for the whole drawing, looked up once: IPA Gothic when any text is Japanese (its
    // Latin letters match), otherwise a Latin font. Each font a PDF embeds costs a subset and a
    // reverse character map, which dominate the time of a small drawing.
    if (m_cap == 0) {
        m_font
            = QFont(m_japanese ? QStringLiteral("IPAGothic") : QStringLiteral("Liberation Sans"));
        m_font.setPixelSize(100);
        m_font.setStyleStrategy(QFont::StyleStrategy(QFont::PreferOutline | QFont::NoFontMerging));
        m_font.setHintingPreference(QFont::PreferNoHinting);
        m_font.setKerning(false);
        m_cap = QFontMetricsF(m_font).capHeight();
        if (m_cap <= 0)
            m_cap = 70;
    }
    return m_font;
}

QVector<DrawingRenderer::TextLine>
DrawingRenderer::textLines(const Text &text, const QFontMetricsF &metrics, double width) const
{
    QVector<TextLine> lines;
    qsizetype from = 0;
    for (const QStringView paragraph : QStringView(text.text).split(QLatin1Char('\n'))) {
        const qsizetype at = from;
        from += paragraph.size() + 1;
        if (!(width > 0) || metrics.horizontalAdvance(paragraph.toString()) <= width) {
            lines.append({paragraph.toString(), at});
            continue;
        }
        // Greedy: each line takes what fits, broken after a space or next to a wide character
        // (never before closing punctuation); a word longer than the box keeps a line of its own.
        qsizetype start = 0, breakAt = -1;
        double used = 0;
        for (qsizetype i = 0; i < paragraph.size(); ++i) {
            const QChar c = paragraph.at(i);
            if (i > start && canBreakBefore(paragraph, i))
                breakAt = i;
            used += metrics.horizontalAdvance(c);
            if (used <= width || c == QLatin1Char(' ') || breakAt <= start)
                continue;
            qsizetype end = breakAt;
            while (end > start && paragraph.at(end - 1) == QLatin1Char(' '))
                --end;
            lines.append({paragraph.mid(start, end - start).toString(), at + start});
            start = breakAt;
            while (start < paragraph.size() && paragraph.at(start) == QLatin1Char(' '))
                ++start;
            used = 0;
            for (qsizetype j = start; j <= i; ++j)
                used += metrics.horizontalAdvance(paragraph.at(j));
            breakAt = -1;
        }
        if (start < paragraph.size() || lines.isEmpty())
            lines.append({paragraph.mid(start).toString(), at + start});
    }
    return lines;
}

bool DrawingRenderer::canBreakBefore(QStringView text, qsizetype i)
{
    // Closing punctuation, small kana and the prolonged sound mark never begin a line; opening
    // punctuation never ends one.
    static const QString closing
        = QStringLiteral("、。，．）」』】〉》〕］｝〙〗’”!?,.:;)]}"
                         "ー・：；？！ゝゞヽヾぁぃぅぇぉっゃゅょゎァィゥェォッャュョヮヵヶ");
    static const QString opening = QStringLiteral("（「『【〈《〔［｛〘〖‘“([{");
    const QChar before = text.at(i - 1), c = text.at(i);
    if (before == QLatin1Char(' '))
        return c != QLatin1Char(' ');
    const auto wide = [](QChar x) {
        return x.unicode() >= 0x2e80;
    };
    return (wide(before) || wide(c)) && !closing.contains(c) && !opening.contains(before)
        && c != QLatin1Char(' ');
}

void DrawingRenderer::drawText(const Text &text, const Pen &pen, const Context &context)
{
    if (text.text.isEmpty() || !(text.height > 0) || !std::isfinite(text.height))
        return;
    const QFont &font = fontFor(text.text);
    const double cap = m_cap;
    const QFontMetricsF metrics(font);

    double k = text.height / cap; // world units per font pixel
    double widthFactor = text.widthFactor > 0 ? text.widthFactor : 1;
    const QVector<TextLine> lines
        = textLines(text, metrics, text.multiline ? text.boxWidth / (k * widthFactor) : 0);
    QVector<double> widths;
    double widest = 0; // for Aligned and Fit
    for (const TextLine &line : lines) {
        widths << metrics.horizontalAdvance(line.text);
        widest = std::max(widest, widths.last());
    }

    double rotation = text.rotation;
    Point anchor = text.position;
    HAlign halign = text.halign;
    if ((halign == HAlign::Aligned || halign == HAlign::Fit) && !text.multiline) {
        const double dx = text.secondPosition.x - text.position.x;
        const double dy = text.secondPosition.y - text.position.y;
        const double length = std::hypot(dx, dy);
        if (length > 0 && widest > 0) {
            rotation = degrees(std::atan2(dy, dx));
            if (halign == HAlign::Fit)
                widthFactor = length / (widest * k);
            else
                k = length / (widest * widthFactor);
        }
        halign = HAlign::Left;
    }

    const double pitch = cap * 5 / 3 * (text.lineSpacing > 0 ? text.lineSpacing : 1);
    const double block = cap + (lines.size() - 1) * pitch;
    double firstBaseline = 0; // local y of the first baseline, y down
    switch (text.valign) {
    case VAlign::Baseline:
        firstBaseline = text.multiline ? -(block - cap) : 0;
        break;
    case VAlign::Bottom:
        firstBaseline = text.multiline ? -(block - cap) : -metrics.descent();
        break;
    case VAlign::Middle:
        firstBaseline = cap - block / 2;
        break;
    case VAlign::Top:
        firstBaseline = cap;
        break;
    }
    if (halign == HAlign::Middle && text.valign == VAlign::Baseline)
        firstBaseline = cap - block / 2;

    const double t = std::tan(text.oblique * pi / 180);
    const QTransform local(k * widthFactor, 0, -k * widthFactor * t, -k, 0, 0);
    const QTransform mirror(text.backward ? -1 : 1, 0, 0, text.upsideDown ? -1 : 1, 0, 0);
    const double rad = rotation * pi / 180;
    const QTransform place(std::cos(rad), std::sin(rad), -std::sin(rad), std::cos(rad), anchor.x,
                           anchor.y);
    const QTransform toBlock = local * mirror * place;
    const QTransform toWorld = toBlock * context.toWorld;

    const auto lineX = [&](int i) {
        if (halign == HAlign::Center || halign == HAlign::Middle)
            return -widths[i] / 2;
        return halign == HAlign::Right ? -widths[i] : 0.0;
    };
    // Underline, overline and strike-through of each run of decorated characters, a fifth of the
    // capitals' height below the baseline, above the capitals, or through their middle.
    if (!text.decorations.isEmpty()) {
        QPainterPath strokes;
        for (int i = 0; i < lines.size(); ++i) {
            const TextLine &line = lines[i];
            const double baseline = firstBaseline + i * pitch;
            for (const auto &[flag, y] : {std::pair(Text::Underline, baseline + cap / 5),
                                          std::pair(Text::Overline, baseline - cap * 6 / 5),
                                          std::pair(Text::StrikeThrough, baseline - cap / 2)}) {
                for (qsizetype c = 0; c < line.text.size();) {
                    const auto on = [&](qsizetype at) {
                        return line.offset + at < text.decorations.size()
                            && (text.decorations[line.offset + at] & flag);
                    };
                    if (!on(c)) {
                        ++c;
                        continue;
                    }
                    qsizetype end = c;
                    while (end < line.text.size() && on(end))
                        ++end;
                    const double x = lineX(i);
                    strokes.moveTo(x + metrics.horizontalAdvance(line.text.left(c)), y);
                    strokes.lineTo(x + metrics.horizontalAdvance(line.text.left(end)), y);
                    c = end;
                }
            }
        }
        Pen solid = pen;
        solid.linetype = nullptr;
        if (!strokes.isEmpty())
            stroke(toBlock.map(strokes), solid, context);
    }
    if (!m_painter) {
        for (int i = 0; i < lines.size(); ++i) {
            const double baseline = firstBaseline + i * pitch;
            include(toWorld.mapRect(
                QRectF(lineX(i), baseline - cap, widths[i], cap + metrics.descent())));
        }
        return;
    }
    m_painter->setWorldTransform(toWorld * m_deviceFromWorld);
    m_painter->setFont(font);
    m_painter->setPen(paperColor(pen.color));
    for (int i = 0; i < lines.size(); ++i)
        m_painter->drawText(QPointF(lineX(i), firstBaseline + i * pitch), lines[i].text);
    m_painter->setWorldTransform(m_deviceFromWorld);
}

void DrawingRenderer::drawInsert(const Insert &insert, const Entity &entity, const Pen &pen,
                                 const QString &layer, const Context &context)
{
    Q_UNUSED(entity);
    const Block *block = m_blocks.find(insert.block);
    if (block) {
        const double rad = insert.rotation * pi / 180;
        const QTransform rotate(std::cos(rad), std::sin(rad), -std::sin(rad), std::cos(rad), 0, 0);
        const int rows = std::max(1, insert.rows), columns = std::max(1, insert.columns);
        for (int r = 0; r < rows && m_budget > 0; ++r) {
            for (int c = 0; c < columns && m_budget > 0; ++c) {
                // Base point to the origin, scale, then the array offset in the rotated frame.
                const QTransform t = QTransform::fromTranslate(-block->base.x, -block->base.y)
                    * QTransform::fromScale(insert.scaleX, insert.scaleY)
                    * QTransform::fromTranslate(c * insert.columnSpacing, r * insert.rowSpacing)
                    * rotate * QTransform::fromTranslate(insert.position.x, insert.position.y);
                drawBlock(block->name, t, pen, layer, context);
            }
        }
    }
    for (const Text &attribute : insert.attributes)
        drawText(attribute, pen, context);
}

void DrawingRenderer::drawBlock(const QString &name, const QTransform &blockToParent,
                                const Pen &pen, const QString &layer, const Context &context)
{
    if (const Block *block = m_blocks.find(name))
        drawEntities(block->entities, blockToParent, pen, layer, context);
}

void DrawingRenderer::drawEntities(const QVector<Entity> &entities, const QTransform &toParent,
                                   const Pen &pen, const QString &layer, const Context &context)
{
    if (context.depth >= maxDepth)
        return;
    const QTransform &blockToParent = toParent;
    Context inner;
    inner.toWorld = blockToParent * context.toWorld;
    inner.layer = layer;
    inner.color = pen.color;
    inner.colorIndex = pen.colorIndex;
    inner.linetype = pen.linetype ? pen.linetype->name.toUpper() : QString();
    inner.lineweight = pen.weight;
    inner.depth = context.depth + 1;
    walk(entities, inner);
}

void DrawingRenderer::drawHatch(const Hatch &hatch, quint32 color, const Context &context)
{
    QPainterPath boundary;
    boundary.setFillRule(Qt::OddEvenFill);
    for (const QVector<Vertex> &loop : hatch.loops)
        boundary.addPath(loopPath(loop, true));
    if (boundary.isEmpty())
        return;
    if (hatch.solid || !m_painter) {
        fill(boundary, color, context, true);
        return;
    }

    // Pattern lines, clipped to the boundary here rather than by the painter, so that every
    // format (EMF included) gets plain line segments.
    QVector<HatchShapes::Polygon> polygons;
    for (const QPolygonF &subpath : boundary.toSubpathPolygons()) {
        HatchShapes::Polygon &polygon = polygons.emplace_back();
        polygon.reserve(subpath.size());
        for (const QPointF &p : subpath)
            polygon.append({p.x(), p.y()});
    }
    QPainterPath lines;
    m_hatchShapes.patternLines(hatch, polygons, [&](const Point &from, const Point &to) {
        lines.moveTo(qp(from));
        lines.lineTo(qp(to));
    });
    Pen pen;
    pen.color = color;
    pen.weight = 0.13;
    stroke(lines, pen, context);
}

void DrawingRenderer::drawLeader(const Leader &leader, const Pen &pen, const Context &context)
{
    if (leader.vertices.size() < 2)
        return;
    QPainterPath path(qp(leader.vertices.first()));
    for (int i = 1; i < leader.vertices.size(); ++i)
        path.lineTo(qp(leader.vertices[i]));
    stroke(path, pen, context);
    if (!leader.arrowhead)
        return;
    const QPointF tip = qp(leader.vertices[0]), next = qp(leader.vertices[1]);
    const double len = std::hypot(next.x() - tip.x(), next.y() - tip.y());
    if (len <= 0)
        return;
    const QPointF dir = (next - tip) / len, normal(-dir.y(), dir.x());
    const double size = 2.5; // the usual arrow size of metric drawings, in drawing units
    QPainterPath arrow;
    arrow.addPolygon(QPolygonF(
        {tip, tip + dir * size + normal * size / 6, tip + dir * size - normal * size / 6}));
    arrow.closeSubpath();
    fill(arrow, pen.color, context);
}
