// Internal header: the engine's own, not installed (see cmake/install.cmake).
#pragma once

#include <cstdint>

#include "nubrik/sprite/draw_command.h"

namespace nubrik {

// Whether drawing `command` marks surface pixel (x, y): it covers the
// pixel, and what it draws there is not fully transparent (a fill's colour,
// an image's pixel there after the sampling rule and the tint, at the
// command's opacity). What picking a sprite under a point asks.
bool drawsAt(const DrawCommand& command, int32_t x, int32_t y);

}  // namespace nubrik
