#pragma once

#include <QBrush>
#include <QByteArray>
#include <QFont>
#include <QPaintEngine>
#include <QPen>
#include <QTransform>

// Turns QPainter calls into EMF records: polylines, polygons and Bézier paths with pens and
// brushes, and text as EMR_EXTTEXTOUTW in UTF-16 with a matching font. Device units are
// hundredths of a millimetre (see EmfPaintDevice).
class EmfPaintEngine : public QPaintEngine
{
public:
    EmfPaintEngine();

    bool begin(QPaintDevice *device) override;
    bool end() override;
    void updateState(const QPaintEngineState &state) override;
    void drawPath(const QPainterPath &path) override;
    void drawPolygon(const QPointF *points, int pointCount, PolygonDrawMode mode) override;
    void drawLines(const QLineF *lines, int lineCount) override;
    void drawRects(const QRectF *rects, int rectCount) override;
    void drawTextItem(const QPointF &p, const QTextItem &textItem) override;
    void drawPixmap(const QRectF &r, const QPixmap &pm, const QRectF &sr) override;
    Type type() const override { return QPaintEngine::User; }

    const QByteArray &records() const { return m_records; }
    int recordCount() const { return m_count; }
    int handleCount() const { return 7; } // the table's slot 0 plus two for pens, brushes, fonts

private:
    void record(quint32 type, const QByteArray &body);
    void writePoly(quint32 type, const QPolygonF &device); // EMR_POLYLINE or EMR_POLYGON
    void selectPen();
    void selectBrush(bool fill);
    void selectFont(const QFont &font, double height, double width, double angle, bool italic,
                    bool japanese);
    void setTextColor(const QColor &color);
    void setFillRule(Qt::FillRule rule);
    void setClip(const QPaintEngineState &state);

    QByteArray m_records;
    int m_count = 0;
    QPen m_pen;
    QBrush m_brush;
    QTransform m_transform;
    QByteArray m_penKey, m_brushKey, m_fontKey; // what is selected, to skip repeats
    int m_penSlot = 1, m_brushSlot = 3, m_fontSlot = 5;
    bool m_penMade = false, m_brushMade = false, m_fontMade = false;
    quint32 m_textColor = 0xffffffff;
    int m_fillMode = 0;
};
