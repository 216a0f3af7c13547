#pragma once

#include <cstdint>
#include <string>

#include "nubrik/base/platform/device_context.h"
#include "nubrik/window/input_queue.h"

namespace nubrik {

// What a window's event loop reports to the thread that owns the window.
enum class WindowEvent {
  Redraw,    // the picture must be redrawn (exposed)
  Closed,    // the user asked to close the window (a Close input event came too)
  Failed,    // the window cannot go on: see getFailure()
  Input,     // input events were queued: see input()
  Woken,     // wake() was called
  TimedOut,  // nothing happened within the time limit
};

// A window a program can run: its device contexts and size (IWindow), its
// event loop on the thread that made it, and its input.
class EventWindow : public IWindow {
 public:
  static constexpr uint32_t kForever = 0xFFFFFFFF;

  EventWindow() = default;
  EventWindow(const EventWindow&) = delete;
  EventWindow& operator=(const EventWindow&) = delete;

  virtual void show() = 0;
  // Runs the window's event loop on the thread that owns the window until
  // something happens, at most `timeoutMs` milliseconds. Input events are
  // queued on input() whatever it returns. After Failed it keeps returning
  // Failed.
  virtual WindowEvent waitEvent(uint32_t timeoutMs = kForever) = 0;
  // Makes a waitEvent in progress, or the next one, return Woken. Callable
  // from any thread.
  virtual void wake() = 0;
  // One line naming what ended the window; empty while it works.
  virtual std::string getFailure() const = 0;

  InputQueue& input() { return input_; }
  const InputQueue& input() const { return input_; }

 private:
  InputQueue input_;
};

}  // namespace nubrik
