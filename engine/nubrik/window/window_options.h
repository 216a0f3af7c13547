#pragma once

#include <cstdint>
#include <string>

namespace nubrik {

// How a program's window looks and behaves, for every kind of window.
struct WindowOptions {
  std::string title = "Nubrik";
  // The window's class: WM_CLASS's class on X11 (its instance name is the
  // program's name), the registered window class on Win32.
  std::string className = "Nubrik";
  // The client area, which is the Screen's surface.
  uint32_t width = 640;
  uint32_t height = 480;
  // The whole screen, without a frame. The client area is then the screen's
  // size, not width x height: ask the window for it.
  bool fullscreen = false;
  // No pointer shape over the client area.
  bool hiddenCursor = false;
};

}  // namespace nubrik
