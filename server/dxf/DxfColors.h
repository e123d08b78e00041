#pragma once

#include <QtGlobal>

// The DXF colour index (ACI) and its standard palette.
namespace DxfColors {

quint32 rgb(int index);
// The palette entry closest to a colour, for writers that must name one next to a true colour.
int nearestIndex(quint32 color);

} // namespace DxfColors
