// nubrik: the demonstration in an 800 x 600 window titled "Nubrik": the
// platform's window, or SDL's where NUBRIK_WINDOW=sdl asks for it.
//
// Exit codes: 0 when the window is closed, 1 with one line on standard error
// when the program cannot start or the window ends otherwise (destroyed from
// outside, an X error, the server gone). Command-line arguments are ignored.

#include <csignal>
#include <cstdio>
#include <exception>
#include <memory>

#include "app/scene.h"
#include "nubrik/window/open_window.h"
#include "nubrik/window/x11_window.h"

int main() {
  using namespace nubrik;
  // A server that vanishes while a request is being written must end in an
  // error on that connection, not in the signal.
  std::signal(SIGPIPE, SIG_IGN);
  std::unique_ptr<EventWindow> window;
  try {
    WindowOptions options;
    options.title = "Nubrik";
    options.className = "Nubrik class";
    options.width = 800;
    options.height = 600;
    options.gamepads = false;  // the scene reads none
    window = openWindow(options);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "nubrik: %s; nubrik-headless runs the scene without a display\n",
                 e.what());
    return 1;
  }
  bool failed = false;
  try {
    // Built before the window is shown, as the window's contents.
    auto scene = std::make_unique<Scene>(*window);
    if (auto* x11 = dynamic_cast<X11Window*>(window.get())) {
      const std::string slow = x11->getSlowPathReason();
      if (!slow.empty()) {
        std::fprintf(stderr, "nubrik: presenting through XPutImage, the slower path: %s\n",
                     slow.c_str());
      }
    }
    window->show();
    for (bool running = true; running;) {
      switch (window->waitEvent()) {
        case WindowEvent::Redraw:
          scene->paint();
          break;
        case WindowEvent::Closed:
          running = false;
          break;
        case WindowEvent::Failed:
          failed = true;
          running = false;
          break;
        default:  // input, which the scene does not read
          break;
      }
    }
    scene.reset();  // threads stopped and joined, then the device context returned
  } catch (const std::exception& e) {
    // What went wrong with the window explains a failed start best.
    if (!window->getFailure().empty()) {
      std::fprintf(stderr, "nubrik: %s\n", window->getFailure().c_str());
      return 1;
    }
    return reportStartFailure("nubrik", e);
  }
  if (failed) {
    std::fprintf(stderr, "nubrik: %s\n", window->getFailure().c_str());
    return 1;
  }
  return 0;
}
