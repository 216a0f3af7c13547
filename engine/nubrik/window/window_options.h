#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "nubrik/base/rect.h"

namespace nubrik {

// Which window openWindow makes. The environment variable NUBRIK_WINDOW
// (native, sdl, x11 or win32), when set, wins over the program's choice, so
// that a user can switch an existing program.
enum class WindowBackend : uint8_t {
  Native,  // the platform's own: X11 on Linux, Win32 on Windows
  Sdl,     // SDL2's window (Wayland, X11, macOS, the console), where built with SDL2
};

// How a program's window looks and behaves, for every kind of window.
struct WindowOptions {
  // The largest scale.
  static constexpr uint32_t kMaxScale = 8;

  std::string title = "Nubrik";
  // The window's class: WM_CLASS's class on X11 (its instance name is the
  // program's name), the registered window class on Win32, the application
  // identifier of an SDL window on Wayland.
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
  // Where the client area's top-left corner goes, in desktop pixels; none
  // centres the window on the screen. A window manager may place it
  // elsewhere, and on Wayland the compositor always chooses. Ignored in
  // full screen.
  std::optional<Point> position = std::nullopt;
  // The window to make (see WindowBackend); openWindow and AppWindow
  // honour it.
  WindowBackend backend = WindowBackend::Native;
  // Gamepads reach the window's input where the library was built with
  // SDL2 (windows that openWindow makes, and SDL windows).
  bool gamepads = true;
};

}  // namespace nubrik
