#pragma once

#include "server/paint/PlottedWriter.h"

// A self-contained HTML page in UTF-8: the drawing as inline SVG, the drawing's name as the
// title, <meta name="author"> the author name and <meta name="affiliation"> the affiliation.
class HtmWriter : public PlottedWriter
{
public:
    using PlottedWriter::PlottedWriter;

    bool write(const Drawing::Model &model, const Drawing::SaveInfo &info, QIODevice &out,
               QString *errorMessage) override;
};
