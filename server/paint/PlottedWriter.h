#pragma once

#include "server/drawing/DrawingWriter.h"
#include "server/drawing/PlotSettings.h"

// A writer that paints the drawing on pages: the plot settings it is made with lay the pages out
// and ink them, so that one drawing saved to several formats looks the same in each.
class PlottedWriter : public DrawingWriter
{
public:
    explicit PlottedWriter(const PlotSettings &plot = {})
        : m_plot(plot)
    { }

protected:
    const PlotSettings m_plot;
};
