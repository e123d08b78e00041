#pragma once

#include "server/drawing/DrawingWriter.h"

// A self-contained HTML page in UTF-8: the drawing as inline SVG, the drawing's name as the
// title, <meta name="author"> the author name and <meta name="affiliation"> the affiliation.
class HtmWriter : public DrawingWriter
{
public:
    bool write(const Drawing::Model &model, const Drawing::SaveInfo &info, QIODevice &out,
               QString *errorMessage) override;
};
