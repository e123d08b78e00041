#pragma once

#include "DrawingWriter.h"

// A self-contained HTML page in UTF-8: the drawing as inline SVG, the drawing's name as the
// title, <meta name="author"> the author name and <meta name="affiliation"> the affiliation.
class HtmDrawingWriter : public DrawingWriter
{
public:
    bool write(const Drawing::Model &model, const Drawing::SaveInfo &info, QIODevice &out,
               QString *errorMessage) override;
};
