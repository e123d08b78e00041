#pragma once

#include "server/drawing/DrawingWriter.h"
#include "server/dxf/DxfVersion.h"

// DXF in ASCII, in the version asked (R2000, AC1015, by default). Before R2007 text is in code
// page ANSI_932, so that Japanese programs read it, with characters Shift-JIS lacks as \U+XXXX;
// from R2007 on it is UTF-8. R12 gets what R12 holds: polylines for lightweight polylines,
// ellipses and leaders, a text per line of multi-line text, the nearest colour number for a
// true colour, and a hatch's boundary with its pattern lines or fill. The author name goes
// into $LASTSAVEDBY, the affiliation into the custom header property "Affiliation", except in
// R12, which has no place for them.
class DxfWriter : public DrawingWriter
{
public:
    explicit DxfWriter(DxfVersion version = DxfVersions::kDefault);

    bool write(const Drawing::Model &model, const Drawing::SaveInfo &info, QIODevice &out,
               QString *errorMessage) override;

private:
    DxfVersion m_version;
};
