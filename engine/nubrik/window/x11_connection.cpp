#include "nubrik/window/x11_connection.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace nubrik {

namespace {

// Our connections, for the process-wide handlers to find by display.
struct Registry {
  std::mutex lock;
  std::vector<X11Connection*> connections;
  XErrorHandler previousError = nullptr;
  XIOErrorHandler previousIoError = nullptr;
  bool installed = false;
};

// Set while this thread is inside XOpenDisplay for one of our connections.
thread_local const char* tOpening = nullptr;

Registry& registry() {
  static Registry instance;
  return instance;
}

X11Connection* findLocked(Registry& r, Display* display) {
  for (X11Connection* c : r.connections) {
    if (c->get() == display) return c;
  }
  return nullptr;
}

int onXError(Display* display, XErrorEvent* error) {
  Registry& r = registry();
  XErrorHandler previous;
  X11Connection* ours;
  {
    std::lock_guard lock(r.lock);
    ours = findLocked(r, display);
    previous = r.previousError;
  }
  // The error arrived on the thread that uses this connection, which is also
  // the only one that may close it: `ours` stays valid here.
  if (ours != nullptr) {
    ours->onError(*error);
    return 0;
  }
  return previous != nullptr ? previous(display, error) : 0;
}

int onXIoError(Display* display) {
  Registry& r = registry();
  XIOErrorHandler previous;
  {
    std::lock_guard lock(r.lock);
    // Ours: the exit handler of the connection reports it, and Xlib carries on
    // with the connection marked as broken.
    if (findLocked(r, display) != nullptr) return 0;
    previous = r.previousIoError;
  }
  if (tOpening != nullptr) {
    // Inside XOpenDisplay, before the connection is ours: Xlib will exit
    // when this returns. Only at start-up, with no thread of ours running.
    std::fprintf(stderr, "nubrik: lost the connection to the X server %s while connecting\n",
                 tOpening);
    return 0;
  }
  return previous != nullptr ? previous(display) : 0;
}

void onXIoErrorExit(Display* display, void* connection) {
  static_cast<X11Connection*>(connection)->onConnectionLost();
  // Xlib locks the display for the thread that met the error, for good (it
  // expected to exit): without this, closing it from another thread, as
  // shutting down does, would wait for ever. A second unlock does nothing.
  XUnlockDisplay(display);
}

}  // namespace

X11Failure::X11Failure() {
  if (pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) pipe_[0] = pipe_[1] = -1;
}

X11Failure::~X11Failure() {
  for (int fd : pipe_) {
    if (fd >= 0) close(fd);
  }
}

void X11Failure::report(const std::string& what) {
  {
    std::lock_guard lock(lock_);
    if (!failed_.load(std::memory_order_relaxed)) {
      what_ = what;
      failed_.store(true, std::memory_order_release);
    }
  }
  if (pipe_[1] >= 0) {
    const char byte = 1;
    // A full pipe already wakes the loop.
    [[maybe_unused]] const ssize_t written = write(pipe_[1], &byte, 1);
  }
}

std::string X11Failure::what() const {
  std::lock_guard lock(lock_);
  return what_;
}

void X11Failure::drainWakeups() {
  if (pipe_[0] < 0) return;
  char bytes[64];
  while (read(pipe_[0], bytes, sizeof bytes) > 0) {
  }
}

std::unique_ptr<X11Connection> X11Connection::open(const char* name,
                                                   std::shared_ptr<X11Failure> failure) {
  Registry& r = registry();
  {
    std::lock_guard lock(r.lock);
    if (!r.installed) {
      r.previousError = XSetErrorHandler(onXError);
      r.previousIoError = XSetIOErrorHandler(onXIoError);
      r.installed = true;
    }
  }
  const char* shown = name != nullptr ? name : std::getenv("DISPLAY");
  tOpening = shown != nullptr ? shown : "";
  Display* display = XOpenDisplay(name);
  tOpening = nullptr;
  if (display == nullptr) return nullptr;
  auto connection = std::unique_ptr<X11Connection>(new X11Connection(display, std::move(failure)));
  XSetIOErrorExitHandler(display, onXIoErrorExit, connection.get());
  std::lock_guard lock(r.lock);
  r.connections.push_back(connection.get());
  return connection;
}

X11Connection::X11Connection(Display* display, std::shared_ptr<X11Failure> failure)
    : display_(display), failure_(std::move(failure)) {}

X11Connection::~X11Connection() {
  // Still registered while closing: what Xlib notices now is ours to drop.
  closing_.store(true, std::memory_order_release);
  XCloseDisplay(display_);
  Registry& r = registry();
  std::lock_guard lock(r.lock);
  r.connections.erase(std::remove(r.connections.begin(), r.connections.end(), this),
                      r.connections.end());
}

void X11Connection::beginTrap() {
  trapped_.store(0);
  trapping_.store(true);
}

int X11Connection::endTrap() {
  XSync(display_, False);
  trapping_.store(false);
  return trapped_.load();
}

void X11Connection::nameExtension(int majorOpcode, const char* name) {
  extensionName_ = name;
  extensionOpcode_.store(majorOpcode);
}

void X11Connection::onError(const XErrorEvent& error) {
  if (closing_.load(std::memory_order_acquire)) return;
  if (trapping_.load()) {
    if (trapped_.load() == 0) trapped_.store(error.error_code);
    return;
  }
  char text[160] = "";
  XGetErrorText(display_, error.error_code, text, sizeof text);
  char key[64];
  if (error.request_code < 128) {
    std::snprintf(key, sizeof key, "%d", error.request_code);
  } else if (error.request_code == extensionOpcode_.load()) {
    std::snprintf(key, sizeof key, "%s.%d", extensionName_, error.minor_code);
  } else {
    std::snprintf(key, sizeof key, "%d.%d", error.request_code, error.minor_code);
  }
  char request[96] = "";
  XGetErrorDatabaseText(display_, "XRequest", key, key, request, sizeof request);
  failure_->report(std::string("X error on the window: ") + text + " in request " + request);
}

void X11Connection::onConnectionLost() {
  lost_.store(true, std::memory_order_release);
  if (closing_.load(std::memory_order_acquire)) return;
  failure_->report(std::string("lost the connection to the X server ") + DisplayString(display_));
}

}  // namespace nubrik
