#include "server/paint/EmfPaintEngine.h"

#include <QFontMetricsF>
#include <QPainterPath>
#include <QtEndian>

#include <cmath>
#include <cstring>

namespace {

// Record types and constants of the Enhanced Metafile format.
enum : quint32 {
    EMR_POLYGON = 3,
    EMR_POLYLINE = 4,
    EMR_POLYBEZIERTO = 5,
    EMR_POLYLINETO = 6,
    EMR_POLYPOLYGON = 8,
    EMR_SETBKMODE = 18,
    EMR_SETPOLYFILLMODE = 19,
    EMR_SETTEXTALIGN = 22,
    EMR_SETTEXTCOLOR = 24,
    EMR_MOVETOEX = 27,
    EMR_SETWORLDTRANSFORM = 35,
    EMR_MODIFYWORLDTRANSFORM = 36,
    EMR_SELECTOBJECT = 37,
    EMR_CREATEBRUSHINDIRECT = 39,
    EMR_DELETEOBJECT = 40,
    EMR_LINETO = 54,
    EMR_BEGINPATH = 59,
    EMR_ENDPATH = 60,
    EMR_CLOSEFIGURE = 61,
    EMR_FILLPATH = 62,
    EMR_STROKEANDFILLPATH = 63,
    EMR_STROKEPATH = 64,
    EMR_SELECTCLIPPATH = 67,
    EMR_EXTSELECTCLIPRGN = 75,
    EMR_EXTCREATEFONTINDIRECTW = 82,
    EMR_EXTTEXTOUTW = 84,
    EMR_EXTCREATEPEN = 95,
};
constexpr quint32 nullBrush = 0x80000005, blackPen = 0x80000007, defaultFont = 0x8000000e;
constexpr quint32 psGeometric = 0x00010000, psUserStyle = 7, psEndcapFlat = 0x200,
                  psEndcapSquare = 0x100, psJoinBevel = 0x1000, psJoinMiter = 0x2000;
constexpr qint32 limit = 1000000000; // coordinates beyond are clamped, never wrapped

void put32(QByteArray &b, quint32 v)
{
    char bytes[4];
    qToLittleEndian(v, bytes);
    b.append(bytes, 4);
}

void puti(QByteArray &b, double v)
{
    const double c
        = std::isfinite(v) ? std::clamp(std::round(v), double(-limit), double(limit)) : 0.0;
    put32(b, quint32(qint32(c)));
}

void putf(QByteArray &b, float v)
{
    quint32 bits;
    std::memcpy(&bits, &v, 4);
    put32(b, bits);
}

quint32 colorref(const QColor &c)
{
    return quint32(c.red()) | quint32(c.green()) << 8 | quint32(c.blue()) << 16;
}

void putBounds(QByteArray &b, const QRectF &r)
{
    puti(b, std::floor(r.left()));
    puti(b, std::floor(r.top()));
    puti(b, std::ceil(r.right()));
    puti(b, std::ceil(r.bottom()));
}

QRectF boundsOf(const QPolygonF &points)
{
    return points.boundingRect();
}

} // namespace

EmfPaintEngine::EmfPaintEngine()
    : QPaintEngine(QPaintEngine::PaintEngineFeatures(
        QPaintEngine::AllFeatures & ~QPaintEngine::PatternBrush
        & ~QPaintEngine::PerspectiveTransform & ~QPaintEngine::ConicalGradientFill
        & ~QPaintEngine::PorterDuff))
{ }

bool EmfPaintEngine::begin(QPaintDevice *)
{
    QByteArray b;
    put32(b, 1); // TRANSPARENT: text leaves its background alone
    record(EMR_SETBKMODE, b);
    b.clear();
    put32(b, 24); // TA_BASELINE | TA_LEFT: the reference point is where QPainter puts text
    record(EMR_SETTEXTALIGN, b);
    setActive(true);
    return true;
}

bool EmfPaintEngine::end()
{
    // Nothing may stay selected when its handle is deleted.
    QByteArray b;
    put32(b, blackPen);
    record(EMR_SELECTOBJECT, b);
    b.clear();
    put32(b, nullBrush);
    record(EMR_SELECTOBJECT, b);
    b.clear();
    put32(b, defaultFont);
    record(EMR_SELECTOBJECT, b);
    for (const auto &[slot, made] :
         {std::pair(m_penSlot, m_penMade), std::pair(m_brushSlot, m_brushMade),
          std::pair(m_fontSlot, m_fontMade)}) {
        if (!made)
            continue;
        b.clear();
        put32(b, quint32(slot));
        record(EMR_DELETEOBJECT, b);
    }
    setActive(false);
    return true;
}

void EmfPaintEngine::record(quint32 type, const QByteArray &body)
{
    put32(m_records, type);
    const int padding = (4 - body.size() % 4) % 4;
    put32(m_records, quint32(8 + body.size() + padding));
    m_records += body;
    m_records.append(padding, '\0');
    ++m_count;
}

void EmfPaintEngine::updateState(const QPaintEngineState &state)
{
    const DirtyFlags flags = state.state();
    if (flags & DirtyPen)
        m_pen = state.pen();
    if (flags & DirtyBrush)
        m_brush = state.brush();
    if (flags & DirtyTransform)
        m_transform = state.transform();
    if (flags & (DirtyClipPath | DirtyClipRegion | DirtyClipEnabled))
        setClip(state);
}

void EmfPaintEngine::setClip(const QPaintEngineState &state)
{
    QPainterPath clip;
    if (state.isClipEnabled() && state.clipOperation() != Qt::NoClip) {
        clip = state.clipPath();
        if (clip.isEmpty() && !state.clipRegion().isEmpty())
            clip.addRegion(state.clipRegion());
    }
    if (clip.isEmpty()) {
        // No region data with RGN_COPY: back to the whole page.
        QByteArray body;
        put32(body, 0);
        put32(body, 5);
        record(EMR_EXTSELECTCLIPRGN, body);
        return;
    }
    // A path bracket made the clip: readers that know clip paths keep every shape of a
    // viewport inside it.
    record(EMR_BEGINPATH, {});
    for (const QPolygonF &polygon : m_transform.map(clip).toFillPolygons())
        writePoly(EMR_POLYGON, polygon);
    record(EMR_ENDPATH, {});
    QByteArray body;
    put32(body, 5); // RGN_COPY
    record(EMR_SELECTCLIPPATH, body);
}

void EmfPaintEngine::selectPen()
{
    const bool none = m_pen.style() == Qt::NoPen || m_pen.brush().style() == Qt::NoBrush;
    // Width in device units: a cosmetic pen is one unit wide whatever the transform.
    const double scale = std::sqrt(std::fabs(m_transform.determinant()));
    const double width = m_pen.isCosmetic() ? 1 : std::max(1.0, m_pen.widthF() * scale);
    quint32 style = psGeometric;
    if (m_pen.capStyle() == Qt::FlatCap)
        style |= psEndcapFlat;
    else if (m_pen.capStyle() == Qt::SquareCap)
        style |= psEndcapSquare;
    if (m_pen.joinStyle() == Qt::MiterJoin || m_pen.joinStyle() == Qt::SvgMiterJoin)
        style |= psJoinMiter;
    else if (m_pen.joinStyle() == Qt::BevelJoin)
        style |= psJoinBevel;
    QVector<quint32> dashes;
    if (m_pen.style() != Qt::SolidLine && !none) {
        style |= psUserStyle;
        for (qreal d : m_pen.dashPattern())
            dashes << quint32(std::clamp(d * width, 1.0, double(limit)));
    }
    QByteArray body;
    put32(body, 0); // slot, filled in below
    put32(body, 0); // no bitmap: offBmi, cbBmi, offBits, cbBits
    put32(body, 0);
    put32(body, 0);
    put32(body, 0);
    put32(body, none ? 5 : style); // PS_NULL when nothing is stroked
    puti(body, width);
    put32(body, 0); // BS_SOLID
    put32(body, colorref(m_pen.color()));
    put32(body, 0);
    put32(body, quint32(dashes.size()));
    for (quint32 d : dashes)
        put32(body, d);
    const QByteArray key = body.mid(4);
    if (key == m_penKey)
        return;
    m_penKey = key;
    const int slot = m_penSlot == 1 ? 2 : 1;
    qToLittleEndian(quint32(slot), body.data());
    record(EMR_EXTCREATEPEN, body);
    QByteArray b;
    put32(b, quint32(slot));
    record(EMR_SELECTOBJECT, b);
    if (m_penMade) {
        b.clear();
        put32(b, quint32(m_penSlot));
        record(EMR_DELETEOBJECT, b);
    }
    m_penSlot = slot;
    m_penMade = true;
}

void EmfPaintEngine::selectBrush(bool fill)
{
    const bool none = !fill || m_brush.style() == Qt::NoBrush;
    QByteArray body;
    put32(body, 0);
    put32(body, none ? 1 : 0); // BS_NULL or BS_SOLID
    put32(body, none ? 0 : colorref(m_brush.color()));
    put32(body, 0);
    const QByteArray key = body.mid(4);
    if (key == m_brushKey)
        return;
    m_brushKey = key;
    QByteArray b;
    if (none) {
        put32(b, nullBrush);
        record(EMR_SELECTOBJECT, b);
        return;
    }
    const int slot = m_brushSlot == 3 ? 4 : 3;
    qToLittleEndian(quint32(slot), body.data());
    record(EMR_CREATEBRUSHINDIRECT, body);
    put32(b, quint32(slot));
    record(EMR_SELECTOBJECT, b);
    if (m_brushMade) {
        b.clear();
        put32(b, quint32(m_brushSlot));
        record(EMR_DELETEOBJECT, b);
    }
    m_brushSlot = slot;
    m_brushMade = true;
}

void EmfPaintEngine::setFillRule(Qt::FillRule rule)
{
    const int mode = rule == Qt::WindingFill ? 2 : 1; // WINDING or ALTERNATE
    if (mode == m_fillMode)
        return;
    m_fillMode = mode;
    QByteArray b;
    put32(b, quint32(mode));
    record(EMR_SETPOLYFILLMODE, b);
}

void EmfPaintEngine::drawPath(const QPainterPath &path)
{
    const bool fill = m_brush.style() != Qt::NoBrush;
    const bool stroke = m_pen.style() != Qt::NoPen;
    if (path.isEmpty() || (!fill && !stroke))
        return;
    selectPen();
    selectBrush(fill);
    setFillRule(path.fillRule());

    // Straight outlines are plain polylines and polygons, which every reader draws.
    bool curved = false;
    for (int i = 0; i < path.elementCount() && !curved; ++i)
        curved = path.elementAt(i).type == QPainterPath::CurveToElement;
    const QPainterPath device = m_transform.map(path);
    if (!curved) {
        const QList<QPolygonF> polygons = device.toSubpathPolygons();
        if (!fill) {
            for (const QPolygonF &polygon : polygons)
                writePoly(EMR_POLYLINE, polygon);
            return;
        }
        QByteArray body;
        QRectF bounds;
        int points = 0;
        for (const QPolygonF &polygon : polygons) {
            bounds |= boundsOf(polygon);
            points += int(polygon.size());
        }
        putBounds(body, bounds);
        put32(body, quint32(polygons.size()));
        put32(body, quint32(points));
        for (const QPolygonF &polygon : polygons)
            put32(body, quint32(polygon.size()));
        for (const QPolygonF &polygon : polygons) {
            for (const QPointF &p : polygon) {
                puti(body, p.x());
                puti(body, p.y());
            }
        }
        record(EMR_POLYPOLYGON, body);
        return;
    }

    record(EMR_BEGINPATH, {});
    QPointF start;
    for (int i = 0; i < device.elementCount();) {
        const QPainterPath::Element e = device.elementAt(i);
        QByteArray body;
        if (e.type == QPainterPath::MoveToElement) {
            if (i > 0 && device.elementAt(i - 1) == start)
                record(EMR_CLOSEFIGURE, {});
            start = e;
            puti(body, e.x);
            puti(body, e.y);
            record(EMR_MOVETOEX, body);
            ++i;
            continue;
        }
        // A run of segments of one kind becomes one record.
        const bool curve = e.type == QPainterPath::CurveToElement;
        QPolygonF run;
        while (i < device.elementCount()) {
            const QPainterPath::Element r = device.elementAt(i);
            if (r.type == QPainterPath::MoveToElement
                || (r.type == QPainterPath::CurveToElement) != curve)
                break;
            if (curve) {
                if (i + 2 >= device.elementCount())
                    break;
                run << device.elementAt(i) << device.elementAt(i + 1) << device.elementAt(i + 2);
                i += 3;
            } else {
                run << QPointF(r);
                ++i;
            }
        }
        if (run.isEmpty()) {
            ++i; // a truncated curve: nothing Qt makes, skipped rather than looping
            continue;
        }
        putBounds(body, boundsOf(run));
        put32(body, quint32(run.size()));
        for (const QPointF &p : run) {
            puti(body, p.x());
            puti(body, p.y());
        }
        record(curve ? EMR_POLYBEZIERTO : EMR_POLYLINETO, body);
    }
    if (device.elementAt(device.elementCount() - 1) == start)
        record(EMR_CLOSEFIGURE, {});
    record(EMR_ENDPATH, {});
    QByteArray bounds;
    putBounds(bounds, device.controlPointRect());
    record(fill && stroke ? EMR_STROKEANDFILLPATH : fill ? EMR_FILLPATH : EMR_STROKEPATH, bounds);
}

void EmfPaintEngine::drawPolygon(const QPointF *points, int pointCount, PolygonDrawMode mode)
{
    if (pointCount < 2)
        return;
    const bool polyline = mode == PolylineMode;
    const bool fill = !polyline && m_brush.style() != Qt::NoBrush;
    if (m_pen.style() == Qt::NoPen && !fill)
        return;
    selectPen();
    selectBrush(fill);
    if (!polyline)
        setFillRule(mode == WindingMode ? Qt::WindingFill : Qt::OddEvenFill);
    QPolygonF device;
    device.reserve(pointCount);
    for (int i = 0; i < pointCount; ++i)
        device << m_transform.map(points[i]);
    writePoly(polyline ? EMR_POLYLINE : EMR_POLYGON, device);
}

void EmfPaintEngine::writePoly(quint32 type, const QPolygonF &device)
{
    QByteArray body;
    putBounds(body, boundsOf(device));
    put32(body, quint32(device.size()));
    for (const QPointF &p : device) {
        puti(body, p.x());
        puti(body, p.y());
    }
    record(type, body);
}

void EmfPaintEngine::drawLines(const QLineF *lines, int lineCount)
{
    for (int i = 0; i < lineCount; ++i) {
        const QPointF ends[2] = {lines[i].p1(), lines[i].p2()};
        drawPolygon(ends, 2, PolylineMode);
    }
}

void EmfPaintEngine::drawRects(const QRectF *rects, int rectCount)
{
    for (int i = 0; i < rectCount; ++i) {
        QPainterPath path;
        path.addRect(rects[i]);
        drawPath(path);
    }
}

void EmfPaintEngine::drawPixmap(const QRectF &, const QPixmap &, const QRectF &)
{
    // Drawings have no images; nothing here paints one.
}

void EmfPaintEngine::setTextColor(const QColor &color)
{
    const quint32 ref = colorref(color);
    if (ref == m_textColor)
        return;
    m_textColor = ref;
    QByteArray b;
    put32(b, ref);
    record(EMR_SETTEXTCOLOR, b);
}

void EmfPaintEngine::selectFont(const QFont &font, double height, double width, double angle,
                                bool italic, bool japanese)
{
    // LogFontPanose: the LOGFONTW, then full name, style and the rest left empty.
    QByteArray body;
    put32(body, 0);
    puti(body, -height); // negative: the em height, not the cell height
    puti(body, width);
    puti(body, angle * 10); // escapement and orientation, tenths of a degree
    puti(body, angle * 10);
    put32(body, 400);
    body.append(char(italic ? 1 : 0));
    body.append(char(0));
    body.append(char(0));
    body.append(char(japanese ? 128 : 1)); // SHIFTJIS_CHARSET or DEFAULT_CHARSET
    body.append(char(4)); // OUT_TT_PRECIS
    body.append(char(0));
    body.append(char(4)); // ANTIALIASED_QUALITY
    body.append(char(0));
    QString face = font.family().left(31);
    for (int i = 0; i < 32; ++i) {
        const quint16 c = i < face.size() ? face.at(i).unicode() : 0;
        body.append(char(c & 0xff));
        body.append(char(c >> 8));
    }
    body.append(320 - 92, '\0');
    const QByteArray key = body.mid(4);
    if (key == m_fontKey)
        return;
    m_fontKey = key;
    const int slot = m_fontSlot == 5 ? 6 : 5;
    qToLittleEndian(quint32(slot), body.data());
    record(EMR_EXTCREATEFONTINDIRECTW, body);
    QByteArray b;
    put32(b, quint32(slot));
    record(EMR_SELECTOBJECT, b);
    if (m_fontMade) {
        b.clear();
        put32(b, quint32(m_fontSlot));
        record(EMR_DELETEOBJECT, b);
    }
    m_fontSlot = slot;
    m_fontMade = true;
}

void EmfPaintEngine::drawTextItem(const QPointF &p, const QTextItem &textItem)
{
    const QString text = textItem.text();
    if (text.isEmpty())
        return;
    const QFont font = textItem.font();
    const double pixels = font.pixelSize() > 0 ? font.pixelSize() : font.pointSizeF() * 2540 / 72;

    // A font cannot be mirrored: mirrored text is drawn unmirrored under a world transform that
    // mirrors it across the vertical through its reference point, in advanced graphics mode.
    const QTransform transform = m_transform;
    if (transform.determinant() == 0)
        return;
    const bool mirrored = transform.determinant() < 0;
    if (mirrored) {
        const double ox = transform.map(p).x();
        m_transform = transform * QTransform(-1, 0, 0, 1, 2 * ox, 0);
        QByteArray xform;
        for (float v : {-1.0f, 0.0f, 0.0f, 1.0f, float(2 * ox), 0.0f})
            putf(xform, v);
        record(EMR_SETWORLDTRANSFORM, xform);
    }

    // The transform's baseline direction, and the height across it, give the font's angle,
    // em height and width; a slant becomes italic.
    const QPointF origin = m_transform.map(p);
    const QPointF ux = m_transform.map(p + QPointF(1, 0)) - origin;
    const QPointF uy = m_transform.map(p + QPointF(0, -1)) - origin;
    const double xScale = std::hypot(ux.x(), ux.y());
    if (xScale <= 0)
        return;
    const double yScale = std::fabs(ux.x() * uy.y() - ux.y() * uy.x()) / xScale;
    const double angle = std::atan2(-ux.y(), ux.x()) * 180 / 3.14159265358979323846;
    const bool italic = std::fabs(QPointF::dotProduct(ux, uy)) > 0.05 * xScale * yScale;
    const QFontMetricsF metrics(font);
    const double stretch = xScale / yScale;
    const double width = std::fabs(stretch - 1) > 0.01 ? metrics.averageCharWidth() * xScale : 0;
    bool japanese = false;
    for (QChar c : text)
        japanese = japanese || c.unicode() > 0x2000;
    selectFont(font, pixels * yScale, width, angle, italic, japanese);
    setTextColor(m_pen.color());

    // Advances along the baseline, so that the text keeps its length in a substitute font.
    QVector<quint32> dx;
    for (int i = 0; i < text.size(); ++i) {
        if (text.at(i).isHighSurrogate() && i + 1 < text.size()) {
            dx << quint32(std::lround(metrics.horizontalAdvance(text.mid(i, 2)) * xScale)) << 0;
            ++i;
        } else {
            dx << quint32(std::lround(metrics.horizontalAdvance(text.at(i)) * xScale));
        }
    }
    const double length = metrics.horizontalAdvance(text) * xScale;
    const QRectF box = QRectF(origin, origin)
                           .adjusted(-length - pixels * yScale, -length - pixels * yScale,
                                     length + pixels * yScale, length + pixels * yScale);
    QByteArray body;
    putBounds(body, box);
    put32(body, mirrored ? 2 : 1); // GM_ADVANCED follows the world transform, GM_COMPATIBLE not
    putf(body, 1);
    putf(body, 1);
    puti(body, origin.x());
    puti(body, origin.y());
    put32(body, quint32(text.size()));
    const int stringAt = 76;
    const int stringBytes = (int(text.size()) * 2 + 3) / 4 * 4;
    put32(body, stringAt);
    put32(body, 0); // options: no clipping, no opaque box
    putBounds(body, QRectF());
    put32(body, quint32(stringAt + stringBytes));
    for (QChar c : text) {
        body.append(char(c.unicode() & 0xff));
        body.append(char(c.unicode() >> 8));
    }
    body.append(stringBytes - int(text.size()) * 2, '\0');
    for (quint32 d : dx)
        put32(body, d);
    record(EMR_EXTTEXTOUTW, body);
    if (mirrored) {
        QByteArray identity;
        for (float v : {1.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f})
            putf(identity, v);
        put32(identity, 1); // MWT_IDENTITY
        record(EMR_MODIFYWORLDTRANSFORM, identity);
        m_transform = transform;
    }
}
