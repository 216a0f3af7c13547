#pragma once

#include <cstdint>

#include "nubrik/base/rect.h"
#include "nubrik/image/image.h"
#include "nubrik/sprite/band_clip.h"
#include "nubrik/sprite/blend.h"

namespace nubrik {

// Draws `source` into the Rgbx `target` so that source position
// `sourceOrigin` lands on the top-left of `bounds` (surface coordinates),
// in `mode` at `opacity`, translated and clipped by `clip` when given.
// Only what exists in the source, the clip and the target is drawn. A target
// without 4 bytes per pixel or with a pitch below 4 x its width, and a source
// whose pitch is below its row size, are refused with std::invalid_argument.
void drawImage(const IImage& source, Point sourceOrigin, const BandClip* clip, IImage& target,
               BlendMode mode, const Rect& bounds, uint8_t opacity);

}  // namespace nubrik
