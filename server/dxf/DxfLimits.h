#pragma once

namespace DxfLimits {

// Beyond a million kilometres a coordinate is not a drawing but an attack on the renderers. The
// reader refuses such coordinates, and the writer never writes one, so that what the server
// writes it can always read again.
constexpr double kMaxCoordinate = 1e12;

} // namespace DxfLimits
