#include "FormatRegistry.h"

#include "DxfReader.h"
#include "DxfWriter.h"
#include "EmfDrawingWriter.h"
#include "HtmDrawingWriter.h"
#include "PdfDrawingWriter.h"
#include "SvgDrawingWriter.h"

namespace FormatRegistry {

// One line per format; readers and writers register here as they are written.
std::unique_ptr<DrawingReader> readerFor(const QString &extension)
{
    if (extension == QLatin1String("DXF"))
        return std::make_unique<DxfReader>();
    return nullptr;
}

std::unique_ptr<DrawingWriter> writerFor(const QString &extension)
{
    if (extension == QLatin1String("DXF"))
        return std::make_unique<DxfWriter>();
    if (extension == QLatin1String("PDF"))
        return std::make_unique<PdfDrawingWriter>();
    if (extension == QLatin1String("SVG"))
        return std::make_unique<SvgDrawingWriter>();
    if (extension == QLatin1String("HTM"))
        return std::make_unique<HtmDrawingWriter>();
    if (extension == QLatin1String("EMF"))
        return std::make_unique<EmfDrawingWriter>();
    return nullptr;
}

} // namespace FormatRegistry
