// Internal header: the engine's own, not installed (see cmake/install.cmake).
#pragma once

#include <X11/Xlib.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

namespace nubrik {

// What ended a window's presentation: the first X error or lost connection
// on any of its connections. Shared by the window and its device contexts;
// reports arrive from whichever thread Xlib noticed them on, and wake the
// window's message loop through a pipe.
class X11Failure {
 public:
  X11Failure();
  ~X11Failure();
  X11Failure(const X11Failure&) = delete;
  X11Failure& operator=(const X11Failure&) = delete;

  // Keeps the first report only; every report wakes the loop.
  void report(const std::string& what);
  bool hasFailed() const { return failed_.load(std::memory_order_acquire); }
  std::string what() const;
  // Readable once something was reported; -1 when no pipe could be made
  // (the loop then polls).
  int wakeDescriptor() const { return pipe_[0]; }
  void drainWakeups();

 private:
  std::atomic<bool> failed_{false};
  mutable std::mutex lock_;
  std::string what_;
  int pipe_[2] = {-1, -1};
};

// One display connection whose X errors and I/O errors are reported to a
// window's X11Failure instead of ending the process. Xlib's handlers are
// process-wide: connections that are not ours keep the handlers that were
// installed before (by default, Xlib's message and exit).
class X11Connection {
 public:
  // Null when the display cannot be opened. `name` null means $DISPLAY.
  static std::unique_ptr<X11Connection> open(const char* name, std::shared_ptr<X11Failure> failure);
  // Closes the display; errors while closing are not reported.
  ~X11Connection();
  X11Connection(const X11Connection&) = delete;
  X11Connection& operator=(const X11Connection&) = delete;

  Display* get() const { return display_; }
  X11Failure& failure() const { return *failure_; }
  // True once this connection is unusable (the server went away); Xlib
  // calls on it then return at once, and waiting for its events never ends.
  bool isLost() const { return lost_.load(std::memory_order_acquire); }

  // While trapping, an X error is kept here instead of being reported: for
  // requests that are allowed to fail (attaching shared memory).
  void beginTrap();
  // Waits for the server to process everything sent so far; returns the
  // error code trapped since beginTrap, 0 for none (or the connection lost).
  int endTrap();

  // Names the requests of an extension in error reports ("MIT-SHM.3").
  void nameExtension(int majorOpcode, const char* name);

  // Called from Xlib's handlers.
  void onError(const XErrorEvent& error);
  void onConnectionLost();

 private:
  X11Connection(Display* display, std::shared_ptr<X11Failure> failure);

  Display* display_;
  std::shared_ptr<X11Failure> failure_;
  std::atomic<bool> lost_{false};
  std::atomic<bool> closing_{false};
  std::atomic<bool> trapping_{false};
  std::atomic<int> trapped_{0};
  std::atomic<int> extensionOpcode_{0};
  const char* extensionName_ = "";
};

}  // namespace nubrik
