#pragma once

#include "server/drawing/ColorIndex.h"

// DXF names its colours by the colour index; the palette lives with the model, where the plot
// settings find it too.
namespace DxfColors = ColorIndex;
