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

// A tint that changes nothing: 255 in every channel.
inline constexpr uint32_t kNoTint = 0xFFFFFFFFu;

// How a part of an image is flipped, turned, scaled and tinted onto an area.
//
// The sampling rule. For the target pixel (i, j) of an area of width x
// height pixels (0 <= i < width, 0 <= j < height):
// 1. The source rectangle (sx, sy, sw, sh) is flipped, then turned, then
//    scaled. (W', H') is (sw, sh) for 0 and 180 degrees, (sh, sw) for 90
//    and 270.
// 2. Nearest sample at the pixel centre, in 64-bit integers:
//    u = floor((2i + 1) * W' / (2 * width)), v = floor((2j + 1) * H' / (2 * height)).
// 3. Undoing the turn gives (a, b) in the flipped source: 0 degrees (u, v);
//    90 (v, sh - 1 - u); 180 (sw - 1 - u, sh - 1 - v); 270 (sw - 1 - v, u).
// 4. Undoing the flips: a becomes sw - 1 - a when flipped horizontally, b
//    becomes sh - 1 - b when flipped vertically.
// 5. The source pixel is (sx + a, sy + b). With a tint (tr, tg, tb, ta),
//    each of its channels c becomes c * t / 255 rounded to the nearest (never
//    a tie); alpha is included, and is 255 for a layout without alpha (Grey,
//    Rgb, Rgbx, whose fourth byte is not an alpha).
// 6. That pixel is blended with the mode and opacity exactly as drawImage
//    blends a pixel of the image's layout; tinted, exactly as it blends an
//    Rgba pixel holding the four tinted values.
struct ImageTransform {
  Rect sourceRect;  // inside the image, at least 1 x 1
  bool flipHorizontal = false;
  bool flipVertical = false;
  uint32_t quarterTurns = 0;  // clockwise, 0 to 3
  uint32_t tint = kNoTint;    // 0xAARRGGBB: each channel's multiplier
};

// Draws `transform.sourceRect` of `source` over all of `bounds` (surface
// coordinates) by the rule above, in `mode` at `opacity`, translated and
// clipped by `clip` when given. Refuses with std::invalid_argument what
// drawImage refuses, a source rectangle that is not inside the source or
// covers no pixel, and quarter turns above 3. Without a flip, turn or tint
// and with `bounds` of the source rectangle's size it is drawImage from the
// rectangle's top-left.
void drawTransformedImage(const IImage& source, const ImageTransform& transform,
                          const BandClip* clip, IImage& target, BlendMode mode, const Rect& bounds,
                          uint8_t opacity);

}  // namespace nubrik
