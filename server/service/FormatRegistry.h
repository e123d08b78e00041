#pragma once

#include "server/drawing/DrawingReader.h"
#include "server/drawing/DrawingWriter.h"
#include "server/drawing/PlotSettings.h"
#include "server/dxf/DxfVersion.h"

#include <QString>

#include <memory>

// Which formats the converting backend reads and writes, by upper-case extension ("DXF").
// A format with no reader (or no writer) is refused with a message that names it.
namespace FormatRegistry {

std::unique_ptr<DrawingReader> readerFor(const QString &extension);
// The DXF writer writes the version given; the writers that paint pages (PDF, SVG, HTM, EMF)
// lay them out and ink them as the plot settings say.
std::unique_ptr<DrawingWriter> writerFor(const QString &extension,
                                         DxfVersion dxfVersion = DxfVersions::kDefault,
                                         const PlotSettings &plot = {});

} // namespace FormatRegistry
