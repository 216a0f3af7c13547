#pragma once

#include <memory>

#include "nubrik/window/event_window.h"
#include "nubrik/window/window_options.h"

namespace nubrik {

// The platform's own window, as the build chose it: X11 on Linux, Win32 on
// Windows. Defined by the window component (CMake nubrik::window,
// pkg-config nubrik-window). Throws std::runtime_error naming what failed,
// std::invalid_argument for a size the platform cannot make.
std::unique_ptr<EventWindow> openWindow(const WindowOptions& options);

}  // namespace nubrik
