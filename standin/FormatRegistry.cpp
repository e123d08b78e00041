#include "FormatRegistry.h"

#include "JwwReader.h"
#include "SxfReader.h"
#include "SxfWriter.h"

namespace FormatRegistry {

// One line per format; readers and writers register here as they are written.
std::unique_ptr<DrawingReader> readerFor(const QString &extension)
{
    if (extension == QLatin1String("SFC"))
        return std::make_unique<SxfReader>(SxfReader::Form::Sfc);
    if (extension == QLatin1String("P21"))
        return std::make_unique<SxfReader>(SxfReader::Form::P21);
    if (extension == QLatin1String("JWW"))
        return std::make_unique<JwwReader>();
    return nullptr;
}

std::unique_ptr<DrawingWriter> writerFor(const QString &extension)
{
    if (extension == QLatin1String("SFC"))
        return std::make_unique<SxfWriter>(SxfWriter::Form::Sfc);
    if (extension == QLatin1String("P21"))
        return std::make_unique<SxfWriter>(SxfWriter::Form::P21);
    return nullptr;
}

} // namespace FormatRegistry
