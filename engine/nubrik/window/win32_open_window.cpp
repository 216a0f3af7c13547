// The platform's window, where the platform is Win32.

#include "nubrik/window/app_window.h"
#include "nubrik/window/open_window.h"
#include "nubrik/window/win32_window.h"

namespace nubrik {

std::unique_ptr<EventWindow> openWindow(const WindowOptions& options) {
  return Win32Window::create(options);
}

AppWindow::AppWindow(const WindowOptions& options) : AppWindow(openWindow(options)) {}

}  // namespace nubrik
