// Internal header: the engine's own, not installed (see cmake/install.cmake).
#pragma once

#include <cstdint>
#include <string>

#include "nubrik/window/input_event.h"

namespace nubrik {

// A key by its place: SDL's scan codes are the keys' USB usages, which name
// places, not what the layout prints.
Key keyForScancode(int scancode);
// What the layout prints on the key, without modifiers ("a", "é"), else
// the key's name ("Left").
std::string labelForScancode(int scancode, Key key);
// Modifier flags of SDL's modifier state.
uint8_t modifiersFromSdl(uint32_t sdlMods);

}  // namespace nubrik
