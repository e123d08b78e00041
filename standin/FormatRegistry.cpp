#include "FormatRegistry.h"

#include "DxfReader.h"
#include "DxfWriter.h"

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
    return nullptr;
}

} // namespace FormatRegistry
