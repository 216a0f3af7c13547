// Internal header: the engine's own, not installed (see cmake/install.cmake).
#pragma once

// The numbers of the rotation rule for one box, source rectangle and angle:
// the whole quarter turns folded into the sampling, the sine and cosine of
// what is left, and the fixed-point map from target pixels to the frame
// (the source rectangle flipped and turned, at its own size).

#include <cstdint>

#include "nubrik/base/int128.h"
#include "nubrik/base/rect.h"
#include "nubrik/sprite/affine_blitters.h"
#include "nubrik/sprite/fixed_angle.h"

namespace nubrik::blit {

// Frame coordinates are in units of 2^-24 frame pixel.
inline constexpr int kFrameFractionBits = 24;

struct AffineGeometry {
  uint32_t quarterTurns = 0;  // the angle's whole quarter turns
  uint32_t remainder = 0;     // what is left, in angle units, below a quarter turn
  FixedSineCosine trig;       // of the remainder
  uint32_t frameTurns = 0;    // the transform's turns and the angle's, 0 to 3
  // The box turned by the whole quarter turns about the pivot, and the
  // pivot in it, in half pixels from its top-left.
  uint32_t boxWidth = 1, boxHeight = 1;
  int64_t pivotX2 = 0, pivotY2 = 0;
  // The pivot on the surface, in half pixels.
  int64_t surfacePivotX2 = 0, surfacePivotY2 = 0;
  // The frame: the source rectangle turned by frameTurns.
  uint32_t frameWidth = 1, frameHeight = 1;
  // u = uAtPivot + ex * uPerX + ey * uPerY and v likewise, for the target
  // pixel whose centre is (ex, ey) half pixels from the pivot.
  int64_t uPerX = 0, uPerY = 0, vPerX = 0, vPerY = 0;
  Int128 uAtPivot, vAtPivot;

  Int128 u(int64_t ex, int64_t ey) const {
    return uAtPivot + multiplyWide(ex, uPerX) + multiplyWide(ey, uPerY);
  }
  Int128 v(int64_t ex, int64_t ey) const {
    return vAtPivot + multiplyWide(ex, vPerX) + multiplyWide(ey, vPerY);
  }
  // The turned box's top-left on the surface, in half pixels.
  int64_t boxLeft2() const { return surfacePivotX2 - pivotX2; }
  int64_t boxTop2() const { return surfacePivotY2 - pivotY2; }
};

// Throws std::invalid_argument (naming `operation`) for a source rectangle
// that covers no pixel, quarter turns above 3, an empty or too large box,
// an angle of a turn or more, or an unknown filter.
void checkRotation(const ImageTransform& transform, const ImageRotation& rotation,
                   const char* operation);

// The rule's numbers, for arguments checkRotation accepts.
AffineGeometry affineGeometry(const ImageTransform& transform, const ImageRotation& rotation);

// Whether checkRotation accepts the arguments, without throwing.
bool isValidRotation(const ImageTransform& transform, const ImageRotation& rotation);

// The source pixel (column, row) that frame pixel (u, v) shows: the sheet
// rule's steps 3 to 5 with the frame's turns.
void frameToSource(const ImageTransform& transform, uint32_t frameTurns, int64_t u, int64_t v,
                   int64_t& column, int64_t& row);

// Whether the rotation samples exactly as ImageTransform's rule does on the
// turned box: a whole number of quarter turns with the Nearest filter, or
// with Bilinear at the frame's own size on a box on the pixel grid.
bool turnsWhole(const AffineGeometry& geometry, ImageFilter filter);

}  // namespace nubrik::blit
