#pragma once

#include <cstdint>

#include "nubrik/base/rect.h"
#include "nubrik/image/image.h"
#include "nubrik/sprite/band_clip.h"
#include "nubrik/sprite/blend.h"
#include "nubrik/sprite/fixed_angle.h"
#include "nubrik/sprite/image_blitters.h"

namespace nubrik {

// How a scaled or turned image is sampled.
enum class ImageFilter : uint8_t {
  Nearest = 0,   // the source pixel under each target pixel's centre
  Bilinear = 1,  // the four source pixels around it, weighted by distance
};

// A box turned by any angle about a pivot: where an image sampled by
// ImageTransform's rule lands, turned. The rotation rule (README, "Rotation
// by any angle") says which pixel shows what.
struct ImageRotation {
  int32_t x = 0;  // the box's top-left before the turn, in surface coordinates
  int32_t y = 0;
  uint32_t width = 1;  // the box's size, 1 to 2^31 - 1 each way
  uint32_t height = 1;
  // The pivot, the point that stays where it is, in half pixels from the
  // box's top-left: (width, height) is the box's centre.
  int32_t pivotX2 = 1;
  int32_t pivotY2 = 1;
  uint32_t angle = 0;  // clockwise, in units of fixed_angle.h, below kAngleUnitsPerTurn
  ImageFilter filter = ImageFilter::Nearest;
};

// What every rotated draw of (transform, rotation) may change, in surface
// coordinates: the pixels whose centres lie in the bounding box of the
// turned box widened by the filter's reach (half a source pixel for
// Bilinear) and by the most the rule's rounding moves an edge (a fraction of
// a pixel), cut to what a Rect holds; for whole quarter turns, the turned
// box. Throws what drawRotatedImage throws for a rotation it refuses.
Rect rotatedImageArea(const ImageTransform& transform, const ImageRotation& rotation);

// Draws `transform.sourceRect` of `source` into the Rgbx `target`, scaled,
// flipped and turned by `transform` onto the box of `rotation` and the box
// turned by its angle about its pivot, in `mode` at `opacity` (a tint
// included), translated and clipped by `clip` when given, and only inside
// `area` (surface coordinates; normally rotatedImageArea of the same
// arguments). Refuses with std::invalid_argument what drawTransformedImage
// refuses, an empty or too large box, an angle of a turn or more and an
// unknown filter.
void drawRotatedImage(const IImage& source, const ImageTransform& transform,
                      const ImageRotation& rotation, const BandClip* clip, IImage& target,
                      BlendMode mode, const Rect& area, uint8_t opacity);

}  // namespace nubrik
