#pragma once

#include <atomic>
#include <memory>

#include "nubrik/screen/screen.h"
#include "nubrik/window/event_window.h"
#include "nubrik/window/window_options.h"

namespace nubrik {

// A program's window with its Screen, and the loop that runs them: the
// window's events on the calling thread, frames and callbacks on the
// Screen's threads. Input wakes an idle paced frame thread, a repaint
// request redraws the surface, a resize of the window resizes the Screen
// before the program sees the Resize event, and the program ends the loop
// with quit(), from any thread, or the user with a close request.
//
// The Screen is paced at 60 frames a second (setFrameInterval changes it).
class AppWindow {
 public:
  // Opens the platform's window (openWindow: needs the window component).
  // Throws std::runtime_error naming what failed.
  explicit AppWindow(const WindowOptions& options);
  // Runs `window` (an in-memory one, for instance); the Screen's surface is
  // the window's surface (its client area over its scale). Throws std::invalid_argument for a null
  // window, std::runtime_error when it gives no device context.
  explicit AppWindow(std::unique_ptr<EventWindow> window);
  // Stops the frame thread, then returns the device context and closes the
  // window.
  ~AppWindow();
  AppWindow(const AppWindow&) = delete;
  AppWindow& operator=(const AppWindow&) = delete;

  Screen& getScreen() { return *screen_; }
  EventWindow& getWindow() { return *window_; }
  // The window's input, for frame callbacks and the owner's thread alike.
  InputQueue& input() { return window_->input(); }

  // Shows the window, starts the frame thread unless it runs, and handles
  // the window's events until quit() or a close request; the frame thread is
  // stopped before it returns or throws. Returns quit's code, 0 after a
  // close request. Throws std::runtime_error with the window's failure when
  // the window ends otherwise, what a resize handler the program set on
  // the window throws (the Resize event is queued all the same), and what
  // a frame callback threw when the Screen's CallbackFailurePolicy is Stop.
  // Call it on the thread that made the window.
  int run();
  // Ends run() with `exitCode`, or the next run() when none is running.
  // Callable from any thread, frame callbacks included.
  void quit(int exitCode = 0);
  // Whether a close request ends run() (by default it does). Either way a
  // Close input event is queued.
  void setQuitOnClose(bool quitOnClose) { quitOnClose_ = quitOnClose; }

 private:
  std::unique_ptr<EventWindow> window_;
  IDeviceContext* dc_ = nullptr;
  std::unique_ptr<Screen> screen_;
  std::atomic<bool> quitting_{false};
  std::atomic<int> exitCode_{0};
  std::atomic<bool> quitOnClose_{true};
};

}  // namespace nubrik
