#pragma once

#include "server/paint/PlottedWriter.h"

#include <QByteArray>

// Vector PDF, a page per sheet of the drawing or one for model space (see DrawingRenderer),
// fonts embedded by Qt.
// Qt cannot set the document's Author, so the author data is added afterwards the way PDF allows
// for any later edit: an incremental update that appends a new Info dictionary. That dictionary
// also names the scale the page was drawn at (NorvaleScale, "1:50"), which a viewer of the file
// cannot work out from the page alone.
class PdfWriter : public PlottedWriter
{
public:
    using PlottedWriter::PlottedWriter;

    bool write(const Drawing::Model &model, const Drawing::SaveInfo &info, QIODevice &out,
               QString *errorMessage) override;

    // Appends an incremental update to `pdf` whose Info dictionary holds Title, Author and (for
    // the affiliation) Subject, each as UTF-16BE with a byte order mark, and NorvaleScale, the
    // drawing's scale (paper millimetres per drawing millimetre) as "1:n". Empty when `pdf` has
    // no trailer it understands.
    static QByteArray withInfo(const QByteArray &pdf, const Drawing::SaveInfo &info, double scale);
    // "1:50" for 0.02.
    static QByteArray scaleText(double scale);
};
