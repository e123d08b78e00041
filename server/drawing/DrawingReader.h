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
    // What a drawing read from any file may expand to once every insert is drawn: beyond, it is
    // an attack on whatever draws it, not a drawing.
    static constexpr qint64 kMaxExpandedEntities = 20'000'000;
    static constexpr int kMaxBlockDepth = 200;

    virtual ~DrawingReader() = default;

    // The format's own reading, then the expansion within the limits above; on failure the
    // model is left empty.
    bool read(const QByteArray &bytes, Drawing::Model &model, QString *errorMessage);

protected:
    virtual bool parse(const QByteArray &bytes, Drawing::Model &model, QString *errorMessage) = 0;
};
