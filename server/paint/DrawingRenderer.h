#pragma once

#include "server/drawing/Drawing.h"
#include "server/drawing/HatchShapes.h"
#include "server/drawing/PlotSettings.h"

#include <QFont>
#include <QFontMetricsF>
#include <QHash>
#include <QPainterPath>
#include <QRectF>
#include <QSet>
#include <QTransform>

#include <functional>

class QPainter;

// Paints a drawing model onto any QPainter (PDF, SVG, EMF), so that every graphical format shows
// the same pictures. Each sheet of the drawing that holds anything is a page of its own paper,
// its viewports showing model space clipped to them. A drawing without such a sheet has one page:
// model space, its extents plus a margin, at the largest of the usual drawing scales (1:1, 1:2,
// 1:5, 1:10, ...) whose page fits in maxPaperSide. The plot settings may put either on other
// paper at another scale. The painter's transform on entry maps paper millimetres (origin top
// left, y down) to its device.
class DrawingRenderer
{
public:
    static constexpr double margin = 10; // paper millimetres around the drawing
    static constexpr double maxPaperSide = 1189; // the long side of A0
    // What a page can show in the time a client waits for it; the reader allows more, which the
    // formats that keep blocks as blocks can still write.
    static constexpr qint64 maxExpandedEntities = 2000000;
    static constexpr int maxDepth = 64;
    // Viewports painted on one page: each may draw all of model space again.
    static constexpr int maxViewports = 64;

    explicit DrawingRenderer(const Drawing::Model &model, const PlotSettings &plot = {});

    // False with a reason when blocks include themselves, nest deeper than maxDepth or expand to
    // more than maxExpandedEntities, so that no writer ever starts on a drawing it cannot finish.
    bool check(QString *errorMessage);

    // A page: model space (sheet -1) or one sheet of the drawing.
    struct Page
    {
        int sheet = -1;
        QSizeF size; // millimetres
        double scale = 1; // paper millimetres per drawing millimetre of its main view
        QTransform paperFromContent; // model (or sheet) units to paper millimetres, y down
    };

    // The pages a format with many pages holds, in tab order; one-page formats get currentPage().
    const QVector<Page> &pages() const { return m_pages; }
    // Index into pages(): the sheet shown when the drawing was saved; -1 when that was model
    // space and the drawing has sheets, whose page is then modelPage().
    int currentPage() const { return m_current; }
    const Page &modelPage() const { return m_modelPage; }

    QRectF extents() const { return m_extents; } // world millimetres, empty for an empty drawing
    // The current page's.
    double scale() const { return page(m_current).scale; }
    QSizeF paperSize() const { return page(m_current).size; }
    QTransform paperFromWorld() const { return m_modelPage.paperFromContent; }

    // For devices that ignore QPainter's clipping (Qt's SVG generator): called with a viewport's
    // bounds in device coordinates before its model space is drawn, and with an empty path
    // after, in place of the painter's clip.
    using ClipMarker = std::function<void(QPainter &, const QPainterPath &)>;
    void setClipMarker(ClipMarker marker) { m_clipMarker = std::move(marker); }

    void paint(QPainter &painter) { paint(painter, m_current); }
    void paint(QPainter &painter, int page);

private:
    struct Context
    {
        QTransform toWorld; // block coordinates to world
        QString layer; // the insert's layer, for entities of a block on layer "0"
        quint32 color = 0; // the insert's resolved colour, for ByBlock
        int colorIndex = -1; // and its colour index, -1 when it has none
        QString linetype; // the insert's resolved linetype, for ByBlock
        double lineweight = 0.25; // the insert's resolved lineweight, for ByBlock
        int depth = 0;
    };
    struct Pen
    {
        quint32 color = 0; // as printed: grey or black when the plot settings say so
        int colorIndex = -1; // of the colour as drawn, -1 when it has none
        double weight = 0.25; // paper millimetres
        const Drawing::Linetype *linetype = nullptr;
        double linetypeScale = 1; // the entity's and the drawing's
    };

    void layout();
    // The page as the plot settings put it: `content` in its own units (y up), the rest as the
    // drawing declares it; `viewScale` is what a content unit holds of the drawing (a sheet's
    // main view), so that 1:N means the drawing at 1:N.
    Page placed(int sheet, const QRectF &content, const QSizeF &ownPaper, double ownScale,
                const QTransform &ownTransform, double viewScale) const;
    const Page &page(int index) const
    {
        return index >= 0 && index < m_pages.size() ? m_pages[index] : m_modelPage;
    }
    void paintSheet(const Drawing::Sheet &sheet, const QTransform &paperFromSheet,
                    const QTransform &device);
    void walk(const QVector<Drawing::Entity> &entities, const Context &context);
    void visit(const Drawing::Entity &entity, const Context &context);
    bool resolve(const Drawing::Style &style, const Context &context, QString *layer,
                 Pen *pen) const;
    void applyPlotSettings(Pen *pen) const;
    void stroke(const QPainterPath &path, const Pen &pen, const Context &context);
    // `area`: a solid or solid hatch, whose white masks what lies below in monochrome, rather
    // than ink (markers, arrowheads, wide lines).
    void fill(const QPainterPath &path, quint32 color, const Context &context, bool area = false);
    void strokeWide(const QPainterPath &path, double worldWidth, quint32 color,
                    const Context &context);
    // A line of text as drawn: multi-line text's lines, wrapped at its box width.
    struct TextLine
    {
        QString text;
        qsizetype offset = 0; // of its first character in the whole text
    };
    QVector<TextLine> textLines(const Drawing::Text &text, const QFontMetricsF &metrics,
                                double width) const;
    static bool canBreakBefore(QStringView text, qsizetype i);
    void drawText(const Drawing::Text &text, const Pen &pen, const Context &context);
    void drawInsert(const Drawing::Insert &insert, const Drawing::Entity &entity, const Pen &pen,
                    const QString &layer, const Context &context);
    void drawBlock(const QString &name, const QTransform &blockToParent, const Pen &pen,
                   const QString &layer, const Context &context);
    void drawEntities(const QVector<Drawing::Entity> &entities, const QTransform &toParent,
                      const Pen &pen, const QString &layer, const Context &context);
    void drawHatch(const Drawing::Hatch &hatch, quint32 color, const Context &context);
    void drawLeader(const Drawing::Leader &leader, const Pen &pen, const Context &context);
    void drawPolyline(const Drawing::Polyline &polyline, const Pen &pen, const Context &context);
    void include(const QRectF &worldRect);
    const QFont &fontFor(const QString &text);

    const Drawing::Model &m_model;
    const PlotSettings m_plot;
    QPainter *m_painter = nullptr; // null while measuring the extents
    QRectF m_extents;
    QVector<QRectF> m_bounds; // of each model-space entity, so that a viewport skips the others
    QVector<Page> m_pages;
    Page m_modelPage;
    int m_current = 0;
    // What is being painted: paper millimetres per unit of the entities walked, their transform
    // to the device, and the layers a viewport leaves out (upper case).
    double m_scale = 1;
    QTransform m_deviceFromWorld;
    QSet<QString> m_frozen;
    ClipMarker m_clipMarker;
    qint64 m_budget = maxExpandedEntities;
    Drawing::HatchShapes m_hatchShapes; // bounds the cost of all hatch patterns of a page
    QHash<QString, const Drawing::Linetype *> m_linetypes; // upper-case name
    QHash<QString, const Drawing::Layer *> m_layers; // upper-case name
    mutable QHash<quint32, int> m_nearestIndex; // colour index of true colours, for weights
    Drawing::BlockIndex m_blocks;
    bool m_japanese = false; // any text of the drawing needs a Japanese font
    QFont m_font;
    double m_cap = 0; // the font's cap height in its pixels
};
