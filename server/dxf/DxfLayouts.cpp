#include "server/dxf/DxfLayouts.h"

#include <QSet>

#include <algorithm>
#include <cmath>

using namespace Drawing;

namespace {

// Plot scales beyond these are no plot but a broken file; the page falls back to the limits.
constexpr double kMinScale = 1e-9;
constexpr double kMaxScale = 1e9;

bool validScale(double scale)
{
    return std::isfinite(scale) && scale >= kMinScale && scale <= kMaxScale;
}

} // namespace

DxfLayouts::PaperSpace &DxfLayouts::paperSpace(const QString &name)
{
    const QString key = name.toCaseFolded();
    const auto known = m_paperNames.constFind(key);
    if (known != m_paperNames.cend())
        return m_papers[*known];
    m_paperNames.insert(key, m_papers.size());
    return m_papers.emplace_back();
}

void DxfLayouts::setRecord(PaperSpace &paper, const QString &record)
{
    if (record.isEmpty() || m_paperRecords.contains(record))
        return;
    paper.record = record;
    m_paperRecords.insert(record, &paper - m_papers.data());
}

void DxfLayouts::addLayer(const QString &handle, const QString &name)
{
    if (!handle.isEmpty() && m_layers.size() < 100000)
        m_layers.insert(handle, name);
}

void DxfLayouts::setPaperLimits(int corner, const Point &p)
{
    m_paperLimits[corner & 1] = p;
    m_hasPaperLimits = true;
}

void DxfLayouts::turnedMargins(const Sheet &sheet, double margins[4])
{
    // A plot turned a quarter counter-clockwise on the paper is looked at with the paper turned
    // a quarter clockwise: the paper's bottom edge becomes the page's left, its left the top.
    const int turns = ((sheet.rotation % 4) + 4) % 4;
    for (int i = 0; i < 4; ++i)
        margins[i] = sheet.margins[(i + turns) % 4];
}

bool DxfLayouts::isPaperPage(const Sheet &sheet)
{
    const bool odd = sheet.rotation & 1;
    return sheet.paperWidth > 0 && sheet.paperHeight > 0 && sheet.rotation >= 0
        && sheet.rotation < 4 && validScale(sheet.scale)
        && sameNumber(sheet.width, odd ? sheet.paperHeight : sheet.paperWidth)
        && sameNumber(sheet.height, odd ? sheet.paperWidth : sheet.paperHeight);
}

Sheet DxfLayouts::sheet(const Layout &layout)
{
    Sheet s;
    s.name = layout.name;
    s.tabOrder = layout.tabOrder;
    s.paperWidth = layout.paperWidth;
    s.paperHeight = layout.paperHeight;
    std::copy(layout.margins, layout.margins + 4, s.margins);
    s.rotation = layout.rotation;
    const bool scaleKnown = validScale(layout.scale);
    s.scale = scaleKnown ? layout.scale : 1;
    // Plot type 5: the layout's own paper. The paper-space origin lies at the printable area's
    // lower-left corner, moved by the plot origin.
    if (layout.plotType == 5 && scaleKnown && layout.paperWidth > 0 && layout.paperHeight > 0) {
        const bool odd = s.rotation & 1;
        s.width = odd ? s.paperHeight : s.paperWidth;
        s.height = odd ? s.paperWidth : s.paperHeight;
        double margins[4];
        turnedMargins(s, margins);
        s.offset = {margins[0] + layout.origin.x, margins[1] + layout.origin.y};
        return s;
    }
    if (layout.hasLimits) {
        const Point &low = layout.limits[0];
        const Point &high = layout.limits[1];
        const double width = (high.x - low.x) * s.scale;
        const double height = (high.y - low.y) * s.scale;
        if (width > 0 && height > 0 && std::isfinite(width) && std::isfinite(height)) {
            s.width = width;
            s.height = height;
            s.offset = {-low.x * s.scale, -low.y * s.scale};
        }
    }
    return s;
}

void DxfLayouts::fill(Model &model)
{
    const auto place = [&](PaperSpace &paper, Sheet &sheet) {
        paper.used = true;
        sheet.entities = std::move(paper.entities);
        QSet<qsizetype> clips; // each boundary bounds one viewport, so that the work stays linear
        for (const PendingViewport &pending : std::as_const(paper.viewports)) {
            Viewport viewport = pending.viewport;
            const qsizetype clip = paper.polylines.value(pending.clip, -1);
            if (clip >= 0 && !clips.contains(clip)) {
                const auto &outline = std::get<Polyline>(sheet.entities[clip].shape).vertices;
                if (outline.size() >= 3) {
                    clips.insert(clip);
                    for (const Vertex &vertex : outline)
                        viewport.clip.append(vertex.point);
                }
            }
            for (const QString &frozen : pending.frozen) {
                const QString name = pending.frozenAreNames ? frozen : m_layers.value(frozen);
                if (!name.isEmpty())
                    viewport.frozenLayers.append(name);
            }
            sheet.viewports.append(viewport);
        }
    };
    const qsizetype active = m_paperNames.value(QStringLiteral("*paper_space"), -1);
    std::stable_sort(m_layouts.begin(), m_layouts.end(),
                     [](const Layout &a, const Layout &b) { return a.tabOrder < b.tabOrder; });
    for (const Layout &layout : std::as_const(m_layouts)) {
        if (layout.name.compare(QLatin1String("Model"), Qt::CaseInsensitive) == 0)
            continue;
        Sheet sheet = this->sheet(layout);
        const qsizetype paper = m_paperRecords.value(layout.record, -1);
        if (paper >= 0 && !m_papers[paper].used) {
            place(m_papers[paper], sheet);
            if (paper == active && !m_tileMode)
                model.currentSheet = int(model.sheets.size());
        }
        model.sheets.append(std::move(sheet));
    }
    // Before layouts (R12) there is one paper space, printed on its limits.
    if (m_layouts.isEmpty() && active >= 0
        && (!m_papers[active].entities.isEmpty() || !m_papers[active].viewports.isEmpty())) {
        Layout layout;
        layout.name = QStringLiteral("Layout1");
        layout.tabOrder = 1;
        layout.plotType = 2;
        layout.hasLimits = m_hasPaperLimits;
        layout.limits[0] = m_paperLimits[0];
        layout.limits[1] = m_paperLimits[1];
        Sheet sheet = this->sheet(layout);
        place(m_papers[active], sheet);
        model.sheets.append(std::move(sheet));
        model.currentSheet = m_tileMode ? -1 : 0;
    }
}
