#pragma once

#include "server/drawing/Drawing.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVector>

// The paper-space layouts of a DXF file, gathered while it is read and made into the model's
// sheets once it is read whole: a layout names its block, a viewport its clip boundary and its
// frozen layers, by handles that may come anywhere in the file. Also the page arithmetic the
// writer must undo, so that the two never disagree.
class DxfLayouts
{
public:
    // A LAYOUT object's plot settings as the file gives them, lengths already in millimetres of
    // the model (paper in millimetres of paper, limits in the drawing's own units made
    // millimetres).
    struct Layout
    {
        QString name;
        QString record; // handle of its block record, upper case
        int tabOrder = 0;
        double paperWidth = 0;
        double paperHeight = 0;
        double margins[4] = {0, 0, 0, 0};
        Drawing::Point origin; // the plot's offset from the printable area's corner
        int rotation = 0;
        int plotType = 5;
        double scale = 1; // paper millimetres per model millimetre of paper space
        bool hasLimits = false;
        Drawing::Point limits[2];
    };
    struct PendingViewport
    {
        Drawing::Viewport viewport;
        QString clip; // handle of its clip boundary, upper case; empty when none
        QStringList frozen; // handles (layer names in R12, `frozenAreNames`)
        bool frozenAreNames = false;
    };
    // The entities and viewports of one paper-space block.
    struct PaperSpace
    {
        QString record;
        QVector<Drawing::Entity> entities;
        QVector<PendingViewport> viewports;
        QHash<QString, qsizetype> polylines; // handle to index in `entities`
        bool used = false;
    };

    // The paper space that block `name` (case-insensitive) holds, made when first named.
    PaperSpace &paperSpace(const QString &name);
    void setRecord(PaperSpace &paper, const QString &record);
    void addLayout(const Layout &layout) { m_layouts.append(layout); }
    void addLayer(const QString &handle, const QString &name);
    void setTileMode(bool modelSpace) { m_tileMode = modelSpace; }
    void setPaperLimits(int corner, const Drawing::Point &p);
    // Fills the model's sheets and current sheet.
    void fill(Drawing::Model &model);

    // The page a layout's plot settings describe, or the layout's limits when they do not
    // describe one (a plot of the extents, a window, or numbers that make no paper).
    static Drawing::Sheet sheet(const Layout &layout);
    // The margin at each side (left, bottom, right, top) of the page as looked at, the plot
    // turned upright.
    static void turnedMargins(const Drawing::Sheet &sheet, double margins[4]);
    // Whether the sheet is its declared paper turned, so that plot settings give it again.
    static bool isPaperPage(const Drawing::Sheet &sheet);

private:
    QVector<Layout> m_layouts;
    QVector<PaperSpace> m_papers;
    QHash<QString, qsizetype> m_paperNames; // case-folded block name
    QHash<QString, qsizetype> m_paperRecords; // block record handle
    QHash<QString, QString> m_layers; // handle to name
    bool m_tileMode = true;
    bool m_hasPaperLimits = false;
    Drawing::Point m_paperLimits[2];
};
