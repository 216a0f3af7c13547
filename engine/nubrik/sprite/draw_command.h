// Internal header: the engine's own, not installed (see cmake/install.cmake).
#pragma once

#include <cstdint>

#include "nubrik/base/rect.h"
#include "nubrik/image/image.h"
#include "nubrik/sprite/affine_blitters.h"
#include "nubrik/sprite/band_clip.h"
#include "nubrik/sprite/blend.h"
#include "nubrik/sprite/colour.h"
#include "nubrik/sprite/image_blitters.h"
#include "nubrik/sprite/sprite.h"

namespace nubrik {

enum class DrawCommandKind : int32_t {
  Fill = 0,   // `bounds` filled with `colour`
  Image = 1,  // `image` drawn from `sourceOrigin` at the top-left of `bounds`
};

// The flips and quarter turns of an image command, in one byte.
enum OrientationBits : uint8_t {
  kFlipHorizontal = 1,
  kFlipVertical = 2,
  kQuarterTurnShift = 2,  // the turns, 0 to 3, in bits 2 and 3
};

// What a visible sprite draws in one frame; a small plain value, copied into
// the compositor, so workers never touch the sprites themselves.
struct DrawCommand {
  DrawCommandKind kind = DrawCommandKind::Fill;
  BlendMode blendMode = BlendMode::Normal;
  uint8_t opacity = 255;
  uint8_t orientation = 0;  // Image: OrientationBits
  Rect bounds;
  Colour colour;       // Fill
  Point sourceOrigin;  // Image
  // Image: the source rectangle is sourceOrigin and this size, sampled over
  // all of the bounds (see ImageTransform). 0 x 0, with no orientation and
  // no tint: the image is drawn unscaled from sourceOrigin, cut by the bounds.
  uint32_t sourceWidth = 0;
  uint32_t sourceHeight = 0;
  uint32_t tint = kNoTint;  // Image
  // Image: turned by any angle, or filtered (isRotated): the box that the
  // fields above fill, turned about its pivot (see drawRotatedImage).
  ImageRotation rotation;
  // Image: not owning. The sprite keeps the image alive, and the registry keeps
  // the sprite alive for as long as its Screen lives.
  const IImage* image = nullptr;

  // Whether an image command is drawn by the sampling rule.
  bool isTransformed() const {
    return sourceWidth != 0 || sourceHeight != 0 || orientation != 0 || tint != kNoTint;
  }
  // Whether an image command is drawn by the rotation rule.
  bool isRotated() const { return rotation.angle != 0 || rotation.filter != ImageFilter::Nearest; }
  // The sampling an image command asks for. Without a source size, the
  // source rectangle is sourceOrigin and the bounds' size.
  ImageTransform transform() const;
};

// How the engine reads what a sprite draws, which ISprite keeps out of its
// public interface.
class SpriteCommands {
 public:
  static DrawCommand of(const ISprite& sprite) { return sprite.getDrawCommand(); }
};

// Draws `command` into `target` through the fill or image blitter, clipped
// and translated by `clip`. Commands of an unknown kind draw nothing.
void drawCommand(IImage& target, const BandClip& clip, const DrawCommand& command);

// True when drawing `command` leaves every pixel of `area` (surface
// coordinates) with a value that does not depend on what was there before: an
// opaque Normal fill or an opaque Normal copy of an image without alpha
// (untinted, or tinted with alpha 255) that covers all of `area`; a
// transformed image covers all of its bounds, a rotated one is not counted. Whatever is drawn below
// such a command in `area` is lost, so composing may start with it.
bool hidesBelow(const DrawCommand& command, const Rect& area);

}  // namespace nubrik
