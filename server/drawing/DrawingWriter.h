#pragma once

#include "server/drawing/Drawing.h"

#include <QIODevice>
#include <QString>

// Writes the model in one format. The caller owns the target: it hands a temporary file and
// renames it over the target only when write() returns true and every byte reached the disk.
class DrawingWriter
{
public:
    virtual ~DrawingWriter() = default;
    virtual bool write(const Drawing::Model &model, const Drawing::SaveInfo &info, QIODevice &out,
                       QString *errorMessage)
        = 0;
};
