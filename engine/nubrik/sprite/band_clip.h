#pragma once

#include <cstdint>

#include "nubrik/base/rect.h"

namespace nubrik {

// Where a blitter may write (target coordinates) and how surface coordinates
// map to the target: target = surface + (dx, dy).
struct BandClip {
  Rect clipRect;
  int32_t dx = 0;
  int32_t dy = 0;
};

}  // namespace nubrik
