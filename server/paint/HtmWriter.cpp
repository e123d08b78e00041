#include "server/paint/HtmWriter.h"

#include "server/paint/SvgWriter.h"

bool HtmWriter::write(const Drawing::Model &model, const Drawing::SaveInfo &info, QIODevice &out,
                      QString *errorMessage)
{
    QByteArray svg = SvgWriter::document(model, info, m_plot, errorMessage);
    const int svgAt = svg.indexOf("<svg");
    if (svgAt < 0)
        return false;
    svg.remove(0, svgAt); // the XML declaration has no place inside HTML

    QByteArray page = "<!DOCTYPE html>\n<html lang=\"ja\">\n<head>\n<meta charset=\"utf-8\">\n";
    page += "<title>" + SvgWriter::escaped(info.title) + "</title>\n";
    if (!info.authorName.isEmpty())
        page += "<meta name=\"author\" content=\"" + SvgWriter::escaped(info.authorName) + "\">\n";
    if (!info.affiliation.isEmpty())
        page += "<meta name=\"affiliation\" content=\"" + SvgWriter::escaped(info.affiliation)
            + "\">\n";
    page += "<meta name=\"generator\" content=\"Norvale tarsk-standin\">\n"
            "<style>body{margin:0;background:#fff}svg{display:block;max-width:100%;"
            "height:auto}</style>\n</head>\n<body>\n";
    page += svg;
    page += "\n</body>\n</html>\n";
    if (out.write(page) != page.size()) {
        if (errorMessage)
            *errorMessage = out.errorString();
        return false;
    }
    return true;
}
