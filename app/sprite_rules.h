#pragma once

#include <cstdint>

#include "nubrik/sprite/sprite.h"

namespace nubrik {

// The scene never calls a sprite's setters bare: these rules report the right
// areas for redrawing. A hidden sprite, or (except for opacity changes) one
// of opacity 0, draws nothing and needs no redrawing.

// Shows `s`, redrawing its area if it was hidden.
void showSprite(ISprite& s);
void changeOpacity(ISprite& s, uint8_t opacity);
void changeBlendMode(ISprite& s, BlendMode mode);
// Moves `s`, redrawing its old and its new area.
void moveSprite(ISprite& s, int32_t x, int32_t y);

}  // namespace nubrik
