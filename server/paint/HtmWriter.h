#pragma once

#include "server/drawing/DrawingWriter.h"
#include "server/drawing/PlotSettings.h"

// A self-contained HTML page in UTF-8: the drawing as inline SVG, the drawing's name as the
// title, <meta name="author"> the author name and <meta name="affiliation"> the affiliation.
class HtmWriter : public DrawingWriter
{
public:
    explicit HtmWriter(const PlotSettings &plot = {})
        : m_plot(plot)
    { }

    bool write(const Drawing::Model &model, const Drawing::SaveInfo &info, QIODevice &out,
               QString *errorMessage) override;

private:
    PlotSettings m_plot;
};
