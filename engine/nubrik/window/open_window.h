#pragma once

#include <memory>

#include "nubrik/window/event_window.h"
#include "nubrik/window/window_options.h"

namespace nubrik {

// The window the program asks for (WindowOptions::backend) unless the
// environment variable NUBRIK_WINDOW asks for another (see
// chooseWindowBackend): the platform's own (X11 on Linux, Win32 on Windows)
// or, where the library was built with SDL2, SDL's. Gamepads feed its input
// where SDL2 is there (WindowOptions::gamepads). Defined by the window
// component (CMake nubrik::window, pkg-config nubrik-window). Throws
// std::runtime_error naming what failed (a window this build does not have
// included), std::invalid_argument for a size the platform cannot make.
std::unique_ptr<EventWindow> openWindow(const WindowOptions& options);

}  // namespace nubrik
