// Times the drawing server's PDF output of the parts of librecad-data twice: as they are (model
// space on a page sized to it) and laid out on an A3 sheet, with a title-block frame and a
// viewport that shows all of model space at the scale of the first page. Each drawing is measured
// both ways in the same round, so that the ratio says what sheets cost whatever the machine's
// load. Prints "<name> <value>" lines.
#include "server/dxf/DxfReader.h"
#include "server/paint/DrawingRenderer.h"
#include "server/paint/PdfWriter.h"

#include <QBuffer>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

const int kRounds = 3;

double percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(fraction * double(values.size() - 1) + 0.5))];
}

// The fastest of a few PDF writes, in milliseconds; negative when the writer refuses.
double pdfMs(const Drawing::Model &model)
{
    double best = -1;
    QElapsedTimer timer;
    for (int round = 0; round < kRounds; ++round) {
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        timer.start();
        if (!PdfWriter().write(model, {QStringLiteral("bench"), {}, {}}, out, nullptr))
            return -1;
        const double ms = double(timer.nsecsElapsed()) / 1e6;
        best = best < 0 ? ms : std::min(best, ms);
    }
    return best;
}

Drawing::Entity line(double x1, double y1, double x2, double y2)
{
    Drawing::Entity e;
    e.shape = Drawing::Line {{x1, y1}, {x2, y2}};
    return e;
}

// The drawing on an A3 sheet: a frame 10 mm in, and one viewport over the frame showing model
// space around its centre at the model page's scale.
bool laidOut(Drawing::Model &model)
{
    DrawingRenderer renderer(model);
    if (!renderer.check(nullptr) || renderer.extents().isEmpty())
        return false;
    const QRectF extents = renderer.extents();
    Drawing::Sheet sheet;
    sheet.name = QStringLiteral("A3");
    sheet.width = 420;
    sheet.height = 297;
    sheet.entities << line(10, 10, 410, 10) << line(410, 10, 410, 287) << line(410, 287, 10, 287)
                   << line(10, 287, 10, 10);
    Drawing::Viewport view;
    view.center = {210, 148.5};
    view.width = 400;
    view.height = 277;
    view.viewCenter = {extents.center().x(), extents.center().y()};
    view.scale = std::min(400 / extents.width(), 277 / extents.height());
    sheet.viewports << view;
    model.sheets << sheet;
    model.currentSheet = 0;
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QString library = QStringLiteral("/usr/share/librecad/library");
    std::vector<double> model, sheet, ratios;
    for (QDirIterator it(library, {QStringLiteral("*.dxf")}, QDir::Files,
                         QDirIterator::Subdirectories);
         it.hasNext();) {
        QFile file(it.next());
        if (!file.open(QIODevice::ReadOnly))
            continue;
        Drawing::Model drawing;
        if (!DxfReader().read(file.readAll(), drawing, nullptr))
            continue;
        const double modelMs = pdfMs(drawing);
        if (modelMs < 0 || !laidOut(drawing))
            continue;
        const double sheetMs = pdfMs(drawing);
        if (sheetMs < 0)
            continue;
        model.push_back(modelMs);
        sheet.push_back(sheetMs);
        ratios.push_back(sheetMs / std::max(modelMs, 1e-3));
    }
    if (model.empty()) {
        std::fprintf(stderr, "no drawings in %s (package librecad-data)\n", qPrintable(library));
        return 1;
    }
    std::printf("sheets-files %zu\n", model.size());
    std::printf("sheets-model-pdf-median-ms %.3f\n", percentile(model, 0.5));
    std::printf("sheets-sheet-pdf-median-ms %.3f\n", percentile(sheet, 0.5));
    std::printf("ratio-sheet-to-model-pdf-median %.2f\n", percentile(ratios, 0.5));
    std::printf("ratio-sheet-to-model-pdf-p90 %.2f\n", percentile(ratios, 0.9));
    return 0;
}
