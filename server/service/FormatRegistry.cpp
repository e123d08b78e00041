#include "server/service/FormatRegistry.h"

#include "server/dxf/DxfReader.h"
#include "server/dxf/DxfWriter.h"
#include "server/jww/JwwReader.h"
#include "server/paint/EmfWriter.h"
#include "server/paint/HtmWriter.h"
#include "server/paint/PdfWriter.h"
#include "server/paint/SvgWriter.h"
#include "server/sxf/SxfReader.h"
#include "server/sxf/SxfWriter.h"

namespace FormatRegistry {

// One line per format; readers and writers register here as they are written.
std::unique_ptr<DrawingReader> readerFor(const QString &extension)
{
    if (extension == QLatin1String("DXF"))
        return std::make_unique<DxfReader>();
    if (extension == QLatin1String("SFC"))
        return std::make_unique<SxfReader>(SxfReader::Form::Sfc);
    if (extension == QLatin1String("P21"))
        return std::make_unique<SxfReader>(SxfReader::Form::P21);
    if (extension == QLatin1String("JWW"))
        return std::make_unique<JwwReader>();
    return nullptr;
}

std::unique_ptr<DrawingWriter> writerFor(const QString &extension, DxfVersion dxfVersion,
                                         const PlotSettings &plot)
{
    if (extension == QLatin1String("DXF"))
        return std::make_unique<DxfWriter>(dxfVersion);
    if (extension == QLatin1String("PDF"))
        return std::make_unique<PdfWriter>(plot);
    if (extension == QLatin1String("SVG"))
        return std::make_unique<SvgWriter>(plot);
    if (extension == QLatin1String("HTM"))
        return std::make_unique<HtmWriter>(plot);
    if (extension == QLatin1String("EMF"))
        return std::make_unique<EmfWriter>(plot);
    if (extension == QLatin1String("SFC"))
        return std::make_unique<SxfWriter>(SxfWriter::Form::Sfc);
    if (extension == QLatin1String("P21"))
        return std::make_unique<SxfWriter>(SxfWriter::Form::P21);
    return nullptr;
}

} // namespace FormatRegistry
