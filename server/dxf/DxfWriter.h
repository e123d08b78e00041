#pragma once

#include "server/drawing/DrawingWriter.h"

// DXF R2000 (AC1015) in ASCII with code page ANSI_932, so that Japanese programs read its text;
// characters Shift-JIS lacks are written as \U+XXXX. The author name goes into $LASTSAVEDBY,
// the affiliation into the custom header property "Affiliation".
class DxfWriter : public DrawingWriter
{
public:
    bool write(const Drawing::Model &model, const Drawing::SaveInfo &info, QIODevice &out,
               QString *errorMessage) override;
};
