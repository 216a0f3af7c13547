// The platform's window, where the platform is X11.

#include "nubrik/window/app_window.h"
#include "nubrik/window/open_window.h"
#include "nubrik/window/x11_window.h"

namespace nubrik {

std::unique_ptr<EventWindow> openWindow(const WindowOptions& options) {
  return X11Window::create(options);
}

AppWindow::AppWindow(const WindowOptions& options) : AppWindow(openWindow(options)) {}

}  // namespace nubrik
