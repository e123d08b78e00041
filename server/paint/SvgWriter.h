#pragma once

#include "server/paint/PlottedWriter.h"

#include <QByteArray>
#include <QPainterPath>
#include <QVector>

// SVG 1.1 in millimetres, painted by Qt's SVG generator, with a <title> and the author data in
// <metadata> as Dublin Core: dc:creator the author name, dc:publisher the affiliation.
class SvgWriter : public PlottedWriter
{
public:
    using PlottedWriter::PlottedWriter;

    bool write(const Drawing::Model &model, const Drawing::SaveInfo &info, QIODevice &out,
               QString *errorMessage) override;

    // The whole document; empty with a reason when the drawing cannot be drawn.
    static QByteArray document(const Drawing::Model &model, const Drawing::SaveInfo &info,
                               const PlotSettings &plot, QString *errorMessage);

    // Text escaped for XML, without the control characters XML 1.0 forbids.
    static QByteArray escaped(const QString &text);

private:
    static QByteArray withDashesInUserUnits(const QByteArray &svg);
    // Qt's generator drops QPainter's clip: each viewport's stroke markers become a group that
    // clips what it holds.
    static QByteArray withClips(const QByteArray &svg, const QVector<QPainterPath> &clips);
};
