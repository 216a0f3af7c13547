// window_probe: looks at a program's top-level window on an X server, as a
// user would, for the checks of the Windows build under wine
// (scripts/windows-checks.sh).
//
//   window_probe find TITLE SECONDS
//       waits for a viewable top-level window titled TITLE; prints its id,
//       width and height
//   window_probe colour ID SECONDS RRGGBB X,Y [X,Y...]
//       waits until one of the places shows the colour
//   window_probe close ID
//       asks the window to close, as a window manager does
//   window_probe input ID SEED COUNT
//       sends COUNT random input actions to the window through XTEST and
//       prints the events its program should print (input_events' lines
//       without their times), one a line
//   window_probe pointer X,Y
//       moves the pointer to X,Y on the screen through XTEST (away from
//       where a window will open, say)
//   window_probe key ID KEYSYM [MILLISECONDS]
//       gives the window the pointer and the keyboard and holds the key
//       (an X key symbol name: Right, Escape, a) down that long (0 taps it)
//   window_probe compare EXPECTED RECEIVED [strict]
//       compares input_events' lines in RECEIVED (other lines are left
//       out) with those in EXPECTED; strict, or as Win32 under wine reports
//       input (crossing and focus left out, moves that may merge)
//
// Exit code 0 on success, 1 when the window or the colour did not show in
// time or the events differ, 2 for bad arguments or no display.

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "input_script.h"

namespace {

using Clock = std::chrono::steady_clock;

int usage(const char* why) {
  std::fprintf(stderr,
               "window_probe: %s\n"
               "usage: window_probe find TITLE SECONDS\n"
               "       window_probe colour ID SECONDS RRGGBB X,Y [X,Y...]\n"
               "       window_probe close ID\n"
               "       window_probe input ID SEED COUNT\n"
               "       window_probe pointer X,Y\n"
               "       window_probe key ID KEYSYM [MILLISECONDS]\n"
               "       window_probe compare EXPECTED RECEIVED [strict]\n",
               why);
  return 2;
}

bool number(const char* text, long min, long max, long& value, int base = 10) {
  char* end = nullptr;
  value = std::strtol(text, &end, base);
  return end != text && *end == '\0' && value >= min && value <= max;
}

Clock::time_point deadlineAfter(long seconds) {
  return Clock::now() + std::chrono::seconds(seconds);
}

Window findWindow(Display* display, const std::string& title, Clock::time_point deadline) {
  do {
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    Window found = 0;
    if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count)) {
      for (unsigned i = 0; i < count && found == 0; ++i) {
        char* name = nullptr;
        XWindowAttributes attributes;
        if (XFetchName(display, children[i], &name) && name != nullptr) {
          if (title == name && XGetWindowAttributes(display, children[i], &attributes) &&
              attributes.map_state == IsViewable) {
            found = children[i];
          }
          XFree(name);
        }
      }
      if (children != nullptr) XFree(children);
    }
    if (found != 0) return found;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  } while (Clock::now() < deadline);
  return 0;
}

// Errors (a window that went away) end the look, not the probe.
int ignoreErrors(Display*, XErrorEvent*) { return 0; }

unsigned long pixelAt(Display* display, Window window, int x, int y) {
  XImage* image = XGetImage(display, window, x, y, 1, 1, AllPlanes, ZPixmap);
  if (image == nullptr) return ~0ul;
  const unsigned long pixel = XGetPixel(image, 0, 0) & 0xFFFFFF;
  XDestroyImage(image);
  return pixel;
}

std::vector<std::string> readLines(const char* path, bool eventsOnly) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!eventsOnly || line.rfind("{\"type\":", 0) == 0) lines.push_back(line);
  }
  return lines;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return usage("missing arguments");
  const std::string command = argv[1];
  if (command == "compare") {
    if (argc < 4 || argc > 5 || (argc == 5 && std::string(argv[4]) != "strict")) {
      return usage("compare takes EXPECTED RECEIVED [strict]");
    }
    const std::string difference = nubrik::tools::compareEvents(
        readLines(argv[2], false), readLines(argv[3], true), argc == 5);
    if (difference.empty()) return 0;
    std::fprintf(stderr, "window_probe: %s\n", difference.c_str());
    return 1;
  }
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return usage("cannot open the display (is DISPLAY set?)");
  XSetErrorHandler(ignoreErrors);
  int result = 2;
  long id = 0, seconds = 0, colour = 0, seed = 0, count = 0;

  if (command == "find" && argc == 4 && number(argv[3], 0, 3600, seconds)) {
    const Window window = findWindow(display, argv[2], deadlineAfter(seconds));
    XWindowAttributes attributes;
    if (window != 0 && XGetWindowAttributes(display, window, &attributes)) {
      std::printf("%lu %d %d\n", window, attributes.width, attributes.height);
      result = 0;
    } else {
      std::fprintf(stderr, "window_probe: no window titled \"%s\" within %ld s\n", argv[2],
                   seconds);
      result = 1;
    }
  } else if (command == "colour" && argc >= 6 && number(argv[2], 1, 0x7FFFFFFF, id) &&
             number(argv[3], 0, 3600, seconds) && number(argv[4], 0, 0xFFFFFF, colour, 16)) {
    std::vector<std::pair<int, int>> places;
    for (int i = 5; i < argc; ++i) {
      const char* comma = std::strchr(argv[i], ',');
      long x = 0, y = 0;
      if (comma == nullptr ||
          !number(std::string(argv[i], static_cast<size_t>(comma - argv[i])).c_str(), 0, 100000,
                  x) ||
          !number(comma + 1, 0, 100000, y)) {
        XCloseDisplay(display);
        return usage("bad place, not X,Y");
      }
      places.emplace_back(static_cast<int>(x), static_cast<int>(y));
    }
    const auto deadline = deadlineAfter(seconds);
    result = 1;
    do {
      for (auto [x, y] : places) {
        if (pixelAt(display, static_cast<Window>(id), x, y) == static_cast<unsigned long>(colour))
          result = 0;
      }
      if (result != 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (result != 0 && Clock::now() < deadline);
    if (result != 0) {
      std::fprintf(stderr, "window_probe: colour %06lx not seen at the places given within %ld s\n",
                   colour, seconds);
    }
  } else if (command == "close" && argc == 3 && number(argv[2], 1, 0x7FFFFFFF, id)) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = static_cast<Window>(id);
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, static_cast<Window>(id), False, NoEventMask, &event);
    XSync(display, False);
    result = 0;
  } else if (command == "pointer" && argc == 3) {
    const char* comma = std::strchr(argv[2], ',');
    long x = 0, y = 0;
    int xtest[3];
    if (comma == nullptr ||
        !number(std::string(argv[2], static_cast<size_t>(comma - argv[2])).c_str(), 0, 100000, x) ||
        !number(comma + 1, 0, 100000, y)) {
      XCloseDisplay(display);
      return usage("bad place, not X,Y");
    }
    if (!XQueryExtension(display, "XTEST", &xtest[0], &xtest[1], &xtest[2])) {
      XCloseDisplay(display);
      return usage("the display has no XTEST extension");
    }
    XTestFakeMotionEvent(display, DefaultScreen(display), static_cast<int>(x), static_cast<int>(y),
                         0);
    XSync(display, False);
    result = 0;
  } else if (command == "input" && argc == 5 && number(argv[2], 1, 0x7FFFFFFF, id) &&
             number(argv[3], 0, 0x7FFFFFFF, seed) && number(argv[4], 0, 100000, count)) {
    int xtest[4];
    if (!XQueryExtension(display, "XTEST", &xtest[0], &xtest[1], &xtest[2])) {
      XCloseDisplay(display);
      return usage("the display has no XTEST extension");
    }
    for (const std::string& line :
         nubrik::tools::sendInput(display, static_cast<Window>(id), static_cast<uint32_t>(seed),
                                  static_cast<int>(count))) {
      std::printf("%s\n", line.c_str());
    }
    result = 0;
  } else if (command == "key" && (argc == 4 || argc == 5) && number(argv[2], 1, 0x7FFFFFFF, id) &&
             (argc == 4 || number(argv[4], 0, 60000, count))) {
    const KeySym keysym = XStringToKeysym(argv[3]);
    const KeyCode code = keysym == NoSymbol ? 0 : XKeysymToKeycode(display, keysym);
    if (code == 0) {
      XCloseDisplay(display);
      return usage("no such key symbol on this keyboard");
    }
    if (!nubrik::tools::holdKey(display, static_cast<Window>(id), code, static_cast<int>(count))) {
      XCloseDisplay(display);
      return usage("the display has no XTEST extension");
    }
    result = 0;
  } else {
    XCloseDisplay(display);
    return usage("unknown command or bad arguments");
  }
  XCloseDisplay(display);
  return result;
}
