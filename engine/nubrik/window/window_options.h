#pragma once

#include <cstdint>
#include <string>

namespace nubrik {

// How a program's window looks and behaves, for every kind of window.
struct WindowOptions {
  // The largest scale.
  static constexpr uint32_t kMaxScale = 8;

  std::string title = "Nubrik";
  // The window's class: WM_CLASS's class on X11 (its instance name is the
  // program's name), the registered window class on Win32.
  std::string className = "Nubrik";
  // The Screen's surface. The client area is this times `scale`.
  uint32_t width = 640;
  uint32_t height = 480;
  // Each surface pixel shown as a scale x scale block, 1 to 8 (others are
  // refused with std::invalid_argument); pointer positions come in surface
  // pixels.
  uint32_t scale = 1;
  // The user may resize the window: the surface becomes the client area
  // over the scale (rounded down, at least 1 x 1), and a Resize event tells
  // the program once its Screen has that size.
  bool resizable = false;
  // The whole screen, without a frame. The client area is then the screen's
  // size, not width x height: ask the window for its surface size.
  bool fullscreen = false;
  // No pointer shape over the client area.
  bool hiddenCursor = false;
};

}  // namespace nubrik
