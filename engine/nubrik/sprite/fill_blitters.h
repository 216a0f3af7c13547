#pragma once

#include <cstdint>

#include "nubrik/base/rect.h"
#include "nubrik/image/image.h"
#include "nubrik/sprite/band_clip.h"
#include "nubrik/sprite/blend.h"
#include "nubrik/sprite/colour.h"

namespace nubrik {

// Fills `bounds` (surface coordinates) of the Rgbx `target` with `colour` in
// `mode` at `opacity`, translated and clipped by `clip` when one is given.
// Anything that cannot draw (nothing visible, opacity 0, a transparent colour,
// an unknown mode, empty or inverted bounds) draws nothing. A target without
// 4 bytes per pixel, or with a pitch below 4 x its width, is refused with
// std::invalid_argument.
void fillRect(IImage& target, const BandClip* clip, BlendMode mode, const Rect& bounds,
              const Colour& colour, uint8_t opacity);

}  // namespace nubrik
