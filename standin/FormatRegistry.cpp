#include "FormatRegistry.h"

namespace FormatRegistry {

// One line per format; readers and writers register here as they are written.
std::unique_ptr<DrawingReader> readerFor(const QString &extension)
{
    Q_UNUSED(extension);
    return nullptr;
}

std::unique_ptr<DrawingWriter> writerFor(const QString &extension)
{
    Q_UNUSED(extension);
    return nullptr;
}

} // namespace FormatRegistry
