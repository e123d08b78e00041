#include "server/paint/SvgWriter.h"

#include "server/paint/DrawingRenderer.h"

#include <QBuffer>
#include <QPainter>
#include <QSvgGenerator>

namespace {

constexpr double unitsPerMm = 10; // SVG user units: a tenth of a millimetre

} // namespace

QByteArray SvgWriter::escaped(const QString &text)
{
    QString clean;
    clean.reserve(text.size());
    for (QChar c : text) {
        if (c.unicode() >= 0x20 || c == QLatin1Char('\t') || c == QLatin1Char('\n'))
            clean += c;
    }
    return clean.toHtmlEscaped().replace(QLatin1Char('\''), QLatin1String("&#39;")).toUtf8();
}

// Qt writes the dashes of a pen thinner than one unit in pen widths, as if it were a cosmetic
// pen (it tests the width rounded to an integer), while SVG takes them in user units: each such
// group's dashes are multiplied by its stroke width here.
QByteArray SvgWriter::withDashesInUserUnits(const QByteArray &svg)
{
    static const QByteArray dashes = "stroke-dasharray=\"", offset = "\" stroke-dashoffset=\"",
                            width = "\" stroke-width=\"";
    QByteArray result;
    qsizetype done = 0;
    for (qsizetype at = svg.indexOf(dashes); at >= 0; at = svg.indexOf(dashes, at + 1)) {
        const qsizetype offsetAt = svg.indexOf(offset, at);
        const qsizetype widthAt = offsetAt < 0 ? -1 : svg.indexOf(width, offsetAt);
        const qsizetype end = widthAt < 0 ? -1 : svg.indexOf('"', widthAt + width.size());
        if (end < 0)
            break;
        const auto field = [&](qsizetype from, qsizetype to) {
            return svg.mid(from, to - from);
        };
        const double stroke = field(widthAt + width.size(), end).toDouble();
        if (!(stroke > 0 && stroke < 1))
            continue;
        if (result.isEmpty())
            result.reserve(svg.size() + 64);
        result += field(done, at) + dashes;
        const QList<QByteArray> lengths = field(at + dashes.size(), offsetAt).split(',');
        for (qsizetype i = 0; i < lengths.size(); ++i)
            result += (i ? "," : "") + QByteArray::number(lengths[i].toDouble() * stroke);
        result += offset
            + QByteArray::number(field(offsetAt + offset.size(), widthAt).toDouble() * stroke);
        done = widthAt;
    }
    return done == 0 ? svg : result + svg.mid(done);
}

QByteArray SvgWriter::document(const Drawing::Model &model, const Drawing::SaveInfo &info,
                               const PlotSettings &plot, QString *errorMessage)
{
    DrawingRenderer renderer(model, plot);
    if (!renderer.check(errorMessage))
        return {};

    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    const QSizeF paper = renderer.paperSize();
    const QSize size(qRound(paper.width() * unitsPerMm), qRound(paper.height() * unitsPerMm));
    {
        QSvgGenerator svg;
        svg.setOutputDevice(&buffer);
        svg.setResolution(qRound(unitsPerMm * 25.4));
        svg.setSize(size);
        svg.setViewBox(QRectF(0, 0, size.width(), size.height()));
        QPainter painter;
        if (!painter.begin(&svg)) {
            if (errorMessage)
                *errorMessage = QStringLiteral("SVG を作成できません");
            return {};
        }
        painter.scale(unitsPerMm, unitsPerMm);
        renderer.paint(painter);
        painter.end();
    }
    QByteArray bytes = buffer.data();

    // Qt writes the title unescaped, so title and metadata are ours, right after <svg ...>.
    const int svgAt = bytes.indexOf("<svg");
    const int bodyAt = svgAt < 0 ? -1 : bytes.indexOf('>', svgAt);
    if (bodyAt < 0) {
        if (errorMessage)
            *errorMessage = QStringLiteral("SVG を作成できません");
        return {};
    }
    QByteArray head = "\n<title>" + escaped(info.title) + "</title>\n";
    head += "<metadata>\n<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\" "
            "xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n<rdf:Description rdf:about=\"\">\n";
    head += "<dc:title>" + escaped(info.title) + "</dc:title>\n";
    if (!info.authorName.isEmpty())
        head += "<dc:creator>" + escaped(info.authorName) + "</dc:creator>\n";
    if (!info.affiliation.isEmpty())
        head += "<dc:publisher>" + escaped(info.affiliation) + "</dc:publisher>\n";
    head += "</rdf:Description>\n</rdf:RDF>\n</metadata>";
    // Qt's own title and description say nothing about the drawing.
    const int qtTitleAt = bytes.indexOf("<title>", bodyAt);
    const int qtDescEnd = bytes.indexOf("</desc>", bodyAt);
    if (qtTitleAt >= 0 && qtDescEnd > qtTitleAt)
        bytes.remove(qtTitleAt, qtDescEnd + 7 - qtTitleAt);
    bytes.insert(bodyAt + 1, head);
    // Viewers without the embedded-in-PDF fonts fall back to a font of the same kind.
    bytes.replace("font-family=\"IPAGothic\"",
                  "font-family=\"IPAGothic, IPAexGothic, 'Noto Sans CJK JP', sans-serif\"");
    bytes.replace("font-family=\"Liberation Sans\"",
                  "font-family=\"'Liberation Sans', Arial, Helvetica, sans-serif\"");
    return withDashesInUserUnits(bytes);
}

bool SvgWriter::write(const Drawing::Model &model, const Drawing::SaveInfo &info, QIODevice &out,
                      QString *errorMessage)
{
    const QByteArray bytes = document(model, info, m_plot, errorMessage);
    if (bytes.isEmpty())
        return false;
    if (out.write(bytes) != bytes.size()) {
        if (errorMessage)
            *errorMessage = out.errorString();
        return false;
    }
    return true;
}
