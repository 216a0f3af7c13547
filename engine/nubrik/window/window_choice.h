#pragma once

#include "nubrik/window/window_options.h"

namespace nubrik {

// The window openWindow makes: what NUBRIK_WINDOW says when `fromEnvironment`
// (its value, null when unset) is neither null nor empty, else `requested`.
// The variable takes native, sdl and the platform's own name (x11 on Linux,
// win32 on Windows), in any case. `sdlBuilt` says whether this build has the
// SDL window. Throws std::runtime_error naming the variable's value or the
// option and why: a value it does not take, another platform's window, or
// the SDL window where the library was built without SDL2.
WindowBackend chooseWindowBackend(WindowBackend requested, const char* fromEnvironment,
                                  bool sdlBuilt);

}  // namespace nubrik
