// nubrik: the demonstration in an 800 x 600 window titled "Nubrik".

#include <X11/Xlib.h>

#include <cstdio>
#include <exception>
#include <memory>

#include "app/scene.h"
#include "nubrik/base/platform/x11_window.h"

int main(int argc, char**) {
  using namespace nubrik;
  if (argc > 1) {
    std::fprintf(stderr, "nubrik: takes no arguments\n");
    return 2;
  }
  // Worker threads present while this thread runs the event loop.
  XInitThreads();
  std::unique_ptr<X11Window> window = X11Window::create("Nubrik", "Nubrik class", 800, 600);
  if (!window) {
    std::fprintf(stderr,
                 "nubrik: cannot open a display (is DISPLAY set?); "
                 "nubrik-headless runs the scene without one\n");
    return 1;
  }
  try {
    // Built before the window is shown, as the window's contents.
    auto scene = std::make_unique<Scene>(*window);
    window->show();
    bool exposed = false;
    while (window->nextEvent(exposed)) {
      if (exposed) scene->paint();
    }
    scene.reset();  // threads stopped and joined, then the device context returned
  } catch (const std::exception& e) {
    return reportStartFailure("nubrik", e);
  }
  return 0;
}
