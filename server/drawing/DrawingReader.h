#pragma once

#include "server/drawing/Drawing.h"

#include <QByteArray>
#include <QString>

// Reads one drawing format into the model. A reader must return false with a reason for any
// input it cannot read faithfully (truncated, malformed, hostile) and must never hang, crash or
// allocate beyond what the input's size justifies.
class DrawingReader
{
public:
    virtual ~DrawingReader() = default;
    virtual bool read(const QByteArray &bytes, Drawing::Model &model, QString *errorMessage) = 0;
};
