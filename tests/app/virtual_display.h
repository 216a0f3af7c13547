#pragma once

// A virtual X server (Xvfb) for the length of a test, on a display number it
// picks itself, so that tests running side by side never share a server.
// Every wait here is bounded.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/process.h"

// Last: Xlib defines macros (None, Bool) that clash with the names above.
#include <X11/Xlib.h>

namespace nubrik::testing {

class VirtualDisplay {
 public:
  // `screen` as Xvfb takes it ("1024x768x24"); `extra` are more arguments.
  explicit VirtualDisplay(const std::string& screen = "1024x768x24",
                          const std::vector<std::string>& extra = {}) {
    const char* candidates[] = {"/usr/bin/Xvfb", "/usr/local/bin/Xvfb"};
    for (const char* path : candidates) {
      if (!std::filesystem::exists(path)) continue;
      int ready[2];
      if (pipe2(ready, O_CLOEXEC) != 0) return;
      std::vector<std::string> args = {path, "-displayfd", "3",         "-screen",
                                       "0",  screen,       "-nolisten", "tcp"};
      args.insert(args.end(), extra.begin(), extra.end());
      server_ = spawn(args, "/", {}, ready[1]);
      close(ready[1]);
      std::string number;
      pollfd descriptor{ready[0], POLLIN, 0};
      char c;
      while (poll(&descriptor, 1, 10000) == 1 && read(ready[0], &c, 1) == 1 && c != '\n') {
        number += c;
      }
      close(ready[0]);
      if (number.empty()) return;
      name_ = ":" + number;
      display_ = XOpenDisplay(name_.c_str());
      return;
    }
  }
  ~VirtualDisplay() {
    if (display_) XCloseDisplay(display_);
    if (server_.pid > 0) {
      ::kill(server_.pid, SIGTERM);
      server_.wait(5);
    }
  }
  VirtualDisplay(const VirtualDisplay&) = delete;
  VirtualDisplay& operator=(const VirtualDisplay&) = delete;

  Display* display() const { return display_; }
  const std::string& name() const { return name_; }

  // Ends the server at once, as a crash would. Our own connection goes first,
  // so that only the program under test sees the server vanish.
  void kill() {
    if (display_) XCloseDisplay(display_);
    display_ = nullptr;
    if (server_.pid > 0) {
      ::kill(server_.pid, SIGKILL);
      server_.wait(5);
      server_.pid = -1;
    }
  }

  // Stops and resumes the server, as a busy machine might.
  void pause() { ::kill(server_.pid, SIGSTOP); }
  void resume() { ::kill(server_.pid, SIGCONT); }

  // The viewable top-level window titled `title`, waiting up to ten seconds.
  Window find(const std::string& title) {
    for (int i = 0; i < 1000; ++i) {
      Window root, parent, *children = nullptr;
      unsigned count = 0;
      XQueryTree(display_, DefaultRootWindow(display_), &root, &parent, &children, &count);
      Window found = 0;
      for (unsigned c = 0; c < count && !found; ++c) {
        char* name = nullptr;
        if (XFetchName(display_, children[c], &name) && name) {
          if (title == name) found = children[c];
          XFree(name);
        }
      }
      if (children) XFree(children);
      XWindowAttributes attributes;
      if (found && XGetWindowAttributes(display_, found, &attributes) &&
          attributes.map_state == IsViewable) {
        return found;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return 0;
  }

  // Asks the window to close as a window manager does.
  void requestClose(Window window) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
    XSendEvent(display_, window, False, NoEventMask, &event);
    XFlush(display_);
  }

 private:
  std::string name_;
  Process server_;
  Display* display_ = nullptr;
};

}  // namespace nubrik::testing
