#pragma once

#include <QtGlobal>

// The colour index (ACI) CAD drawings number their colours by, and its standard palette: DXF
// writes it, and plot settings give line weights by it.
namespace ColorIndex {

quint32 rgb(int index);
// The palette entry closest to a colour, for a true colour that must be named by a number.
int nearestIndex(quint32 color);

} // namespace ColorIndex
