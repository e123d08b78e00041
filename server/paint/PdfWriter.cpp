#include "server/paint/PdfWriter.h"

#include "server/paint/DrawingRenderer.h"

#include <QBuffer>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QRegularExpression>

namespace {

// A PDF text string: UTF-16BE with a byte order mark, written in hex so that no character of
// the name needs escaping.
QByteArray pdfText(const QString &text)
{
    QByteArray bytes("<FEFF");
    for (QChar c : text)
        bytes += QByteArray::number(c.unicode() | 0x10000, 16).mid(1).toUpper();
    return bytes + '>';
}

} // namespace

QByteArray PdfWriter::scaleText(double scale)
{
    // The renderer only ever reduces, by the usual whole-number scales (or, beyond them all, to
    // an exact fit, where the nearest whole number is as good as any to read it by).
    if (!(scale > 0) || scale >= 1)
        return "1:1";
    const double n = 1 / scale;
    return "1:" + (n < 1e15 ? QByteArray::number(qRound64(n)) : QByteArray::number(n, 'g', 4));
}

QByteArray PdfWriter::withInfo(const QByteArray &pdf, const Drawing::SaveInfo &info, double scale)
{
    const int trailerAt = pdf.lastIndexOf("trailer");
    const int startxrefAt = pdf.lastIndexOf("startxref");
    if (trailerAt < 0 || startxrefAt < trailerAt)
        return {};
    const QByteArray trailer = pdf.mid(trailerAt, startxrefAt - trailerAt);
    const QByteArray tail = pdf.mid(startxrefAt + 9, 40).trimmed();
    const QByteArray previous = tail.left(tail.indexOf('\n')).trimmed();
    static const QRegularExpression rootRe(QStringLiteral("/Root\\s+(\\d+)\\s+(\\d+)\\s+R"));
    static const QRegularExpression sizeRe(QStringLiteral("/Size\\s+(\\d+)"));
    static const QRegularExpression idRe(QStringLiteral("/ID\\s*\\[[^\\]]*\\]"));
    const QString trailerText = QString::fromLatin1(trailer);
    const auto root = rootRe.match(trailerText);
    const auto size = sizeRe.match(trailerText);
    bool ok = false;
    previous.toLongLong(&ok);
    if (!root.hasMatch() || !size.hasMatch() || !ok)
        return {};

    // A new object rather than a new version of Qt's Info: readers that ignore the update still
    // find a complete older document.
    const int number = size.captured(1).toInt();
    QByteArray update = pdf.endsWith('\n') ? QByteArray() : QByteArray("\n");
    const qint64 objectAt = pdf.size() + update.size();
    update += QByteArray::number(number) + " 0 obj\n<<";
    if (!info.title.isEmpty())
        update += " /Title " + pdfText(info.title);
    if (!info.authorName.isEmpty())
        update += " /Author " + pdfText(info.authorName);
    if (!info.affiliation.isEmpty())
        update += " /Subject " + pdfText(info.affiliation);
    update += " /NorvaleScale (" + scaleText(scale) + ')';
    update += " /Creator (Norvale tarsk-standin) /Producer (Norvale tarsk-standin) >>\nendobj\n";
    const qint64 xrefAt = pdf.size() + update.size();
    update += "xref\n" + QByteArray::number(number) + " 1\n"
        + QByteArray::number(objectAt).rightJustified(10, '0') + " 00000 n \n";
    update += "trailer\n<< /Size " + QByteArray::number(number + 1) + " /Root "
        + root.captured(1).toLatin1() + ' ' + root.captured(2).toLatin1() + " R /Info "
        + QByteArray::number(number) + " 0 R /Prev " + previous;
    const auto id = idRe.match(trailerText);
    if (id.hasMatch())
        update += ' ' + id.captured(0).toLatin1();
    update += " >>\nstartxref\n" + QByteArray::number(xrefAt) + "\n%%EOF\n";
    return pdf + update;
}

bool PdfWriter::write(const Drawing::Model &model, const Drawing::SaveInfo &info, QIODevice &out,
                      QString *errorMessage)
{
    DrawingRenderer renderer(model, m_plot);
    if (!renderer.check(errorMessage))
        return false;

    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter pdf(&buffer);
        const int dpi = 1200;
        pdf.setResolution(dpi);
        pdf.setCreator(QStringLiteral("Norvale tarsk-standin"));
        pdf.setTitle(info.title);
        pdf.setPageMargins(QMarginsF());
        pdf.setPageSize(QPageSize(renderer.paperSize(), QPageSize::Millimeter, QString(),
                                  QPageSize::ExactMatch));
        QPainter painter;
        if (!painter.begin(&pdf)) {
            if (errorMessage)
                *errorMessage = QStringLiteral("PDF を作成できません");
            return false;
        }
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(dpi / 25.4, dpi / 25.4);
        renderer.paint(painter);
        painter.end();
    }
    const QByteArray bytes = withInfo(buffer.data(), info, renderer.scale());
    if (bytes.isEmpty()) {
        if (errorMessage)
            *errorMessage = QStringLiteral("PDF に作成者と縮尺を書き込めません");
        return false;
    }
    if (out.write(bytes) != bytes.size()) {
        if (errorMessage)
            *errorMessage = out.errorString();
        return false;
    }
    return true;
}
