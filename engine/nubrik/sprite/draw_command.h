#pragma once

#include <cstdint>

#include "nubrik/base/rect.h"
#include "nubrik/image/image.h"
#include "nubrik/sprite/band_clip.h"
#include "nubrik/sprite/blend.h"
#include "nubrik/sprite/colour.h"

namespace nubrik {

enum class DrawCommandKind : int32_t {
  Fill = 0,   // `bounds` filled with `colour`
  Image = 1,  // `image` drawn from `sourceOrigin` at the top-left of `bounds`
};

// What a visible sprite draws in one frame; copied by value into the frame's
// command list, so workers never touch the sprites themselves.
struct DrawCommand {
  DrawCommandKind kind = DrawCommandKind::Fill;
  BlendMode blendMode = BlendMode::Normal;
  uint8_t opacity = 255;
  Rect bounds;
  Colour colour;       // Fill
  Point sourceOrigin;  // Image
  // Image: not owning. The sprite keeps the image alive, and the registry keeps
  // the sprite alive for as long as its Screen lives.
  const IImage* image = nullptr;
};

// Draws `command` into `target` through the fill or image blitter, clipped
// and translated by `clip`. Commands of an unknown kind draw nothing.
void drawCommand(IImage& target, const BandClip& clip, const DrawCommand& command);

// True when drawing `command` leaves every pixel of `area` (surface
// coordinates) with a value that does not depend on what was there before: an
// opaque Normal fill or an opaque Normal copy of an image without alpha that
// covers all of `area`. Whatever is drawn below such a command in `area` is
// lost, so composing may start with it.
bool hidesBelow(const DrawCommand& command, const Rect& area);

}  // namespace nubrik
