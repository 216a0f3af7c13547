// The window component: the platform's window, or SDL's where the library
// was built with SDL2, as the program and NUBRIK_WINDOW choose.

#include "nubrik/window/open_window.h"

#include <cstdlib>
#include <stdexcept>

#include "nubrik/window/app_window.h"
#include "nubrik/window/window_choice.h"

#if NUBRIK_WINDOW_WIN32
#include "nubrik/window/win32_window.h"
#elif NUBRIK_WINDOW_NATIVE
#include "nubrik/window/x11_window.h"
#endif
#if NUBRIK_WINDOW_SDL
#include "nubrik/window/sdl_window.h"
#endif

namespace nubrik {

std::unique_ptr<EventWindow> openWindow(const WindowOptions& options) {
  const WindowBackend backend =
      chooseWindowBackend(options.backend, std::getenv("NUBRIK_WINDOW"), NUBRIK_WINDOW_SDL != 0);
#if NUBRIK_WINDOW_SDL
  // Built without the platform's window, SDL's is the only one.
  if (backend == WindowBackend::Sdl || !NUBRIK_WINDOW_NATIVE) return SdlWindow::create(options);
#else
  (void)backend;
#endif
#if NUBRIK_WINDOW_WIN32
  std::unique_ptr<EventWindow> window = Win32Window::create(options);
#elif NUBRIK_WINDOW_NATIVE
  std::unique_ptr<EventWindow> window = X11Window::create(options);
#else
  std::unique_ptr<EventWindow> window;
  throw std::runtime_error("this build of Nubrik has no window");
#endif
#if NUBRIK_WINDOW_SDL
  if (options.gamepads) {
    // A window without gamepads rather than none.
    try {
      attachGamepads(*window);
    } catch (const std::runtime_error&) {
    }
  }
#endif
  return window;
}

AppWindow::AppWindow(const WindowOptions& options) : AppWindow(openWindow(options)) {}

}  // namespace nubrik
