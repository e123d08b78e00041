#include "server/paint/EmfWriter.h"

#include "server/paint/DrawingRenderer.h"
#include "server/paint/EmfPaintDevice.h"

#include <QPainter>

bool EmfWriter::write(const Drawing::Model &model, const Drawing::SaveInfo &info, QIODevice &out,
                      QString *errorMessage)
{
    DrawingRenderer renderer(model, m_plot);
    if (!renderer.check(errorMessage))
        return false;
    EmfPaintDevice device(renderer.paperSize());
    QPainter painter;
    if (!painter.begin(&device)) {
        if (errorMessage)
            *errorMessage = QStringLiteral("EMF を作成できません");
        return false;
    }
    painter.scale(100, 100); // millimetres to the device's hundredths
    renderer.paint(painter);
    painter.end();

    QString comment;
    if (!info.authorName.isEmpty() || !info.affiliation.isEmpty()) {
        comment = QStringLiteral("NorvaleInfo\nTitle=%1\n").arg(info.title);
        if (!info.authorName.isEmpty())
            comment += QStringLiteral("Author=%1\n").arg(info.authorName);
        if (!info.affiliation.isEmpty())
            comment += QStringLiteral("Affiliation=%1\n").arg(info.affiliation);
    }
    const QByteArray bytes = device.document(info.title, comment);
    if (out.write(bytes) != bytes.size()) {
        if (errorMessage)
            *errorMessage = out.errorString();
        return false;
    }
    return true;
}
