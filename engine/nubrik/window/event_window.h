#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "nubrik/base/event.h"
#include "nubrik/base/platform/device_context.h"
#include "nubrik/base/recursive_lock.h"
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
  static constexpr uint32_t kForever = Event::kForever;

  EventWindow();
  ~EventWindow() override;
  EventWindow(const EventWindow&) = delete;
  EventWindow& operator=(const EventWindow&) = delete;

  // Which window this is ("x11", "win32", "sdl", "memory"), and what shows
  // it underneath: for an SDL window the video driver SDL chose ("x11",
  // "wayland", "kmsdrm", "cocoa", "windows", ...), for the others the
  // window system itself.
  virtual std::string getBackendName() const { return "custom"; }
  virtual std::string getDriverName() const { return getBackendName(); }

  virtual void show() = 0;
  // Runs the window's event loop on the thread that owns the window until
  // something happens, at most `timeoutMs` milliseconds. Input events are
  // queued on input() whatever it returns. After Failed it keeps returning
  // Failed.
  virtual WindowEvent waitEvent(uint32_t timeoutMs = kForever) = 0;
  // The same for a duration, rounded up to whole milliseconds (as
  // Event::wait takes it).
  template <typename Rep, typename Period>
  WindowEvent waitEvent(std::chrono::duration<Rep, Period> timeout) {
    return waitEvent(Event::toTimeoutMs(timeout));
  }
  // Makes a waitEvent in progress, or the next one, return Woken. Callable
  // from any thread.
  virtual void wake() = 0;
  // One line naming what ended the window; empty while it works.
  virtual std::string getFailure() const = 0;

  InputQueue& input() { return input_; }
  const InputQueue& input() const { return input_; }

  // How many window pixels show one surface pixel, each way: the client
  // area is the surface's size times this.
  virtual uint32_t getScale() const { return 1; }
  // The surface the window shows (a Screen's size): its client area over
  // the scale. Callable from any thread.
  virtual uint32_t getSurfaceWidth() const { return getClientWidth() / getScale(); }
  virtual uint32_t getSurfaceHeight() const { return getClientHeight() / getScale(); }

  // Called when the surface takes a new size, before the Resize input event
  // is queued, so that whoever reads the event finds the Screen at its new
  // size (AppWindow resizes its Screen here): on the thread that runs the
  // event loop (for MemoryWindow::resize, on the resizing thread). What it
  // throws leaves waitEvent (or resize). It may call back into the window,
  // replacing itself included.
  using ResizeHandler = std::function<void(uint32_t width, uint32_t height)>;
  // Once it returns, the handler it replaced is not running on another
  // thread and will not run again. `lock`, when given, is the one the
  // handler takes first (AppWindow's: its Screen's scene lock): the window
  // holds it around the handler, its own change of size and the Resize
  // event, so that resizes from several threads at once, some of them
  // holding that lock, neither wait for each other in a cycle nor leave the
  // window and what the handler resized apart; and the handler may be
  // replaced by a thread that holds it (a frame callback). Otherwise it must
  // not be called while holding a lock the handler takes. (Called from inside
  // a handler it waits for nothing.)
  void setResizeHandler(ResizeHandler handler, RecursiveLock* lock = nullptr);

  // Keeps something that feeds this window's input from outside its event
  // loop (gamepads) until the window goes: releasing it ends the feeding.
  void addInputSource(std::shared_ptr<void> source) {
    std::lock_guard lock(sourcesLock_);
    sources_.push_back(std::move(source));
  }

 protected:
  // Releases the input sources. A window's destructor calls it before it
  // tears anything down, so that no source pushes into, or wakes, a window
  // half gone (the base's destructor calls it again, for windows that do
  // not).
  void endInputSources() {
    std::vector<std::shared_ptr<void>> ending;
    {
      std::lock_guard lock(sourcesLock_);
      ending.swap(sources_);
    }
    ending.clear();
  }

  // The window's side, once its surface has the new size: tells the
  // handler, then queues the Resize event. The event is queued even when the
  // handler throws (the window has its new size whatever the handler does);
  // then what it threw leaves.
  void surfaceResized(uint32_t width, uint32_t height);
  // For a window whose size is its own to give (MemoryWindow): tells the
  // handler and, once it has taken the size, runs `apply` and queues the
  // Resize event, all under the handler's lock. What the handler throws
  // leaves with nothing applied or queued.
  void resizeThroughHandler(uint32_t width, uint32_t height, const std::function<void()>& apply);

 private:
  struct Resizer;
  class ResizerSlot;
  // Runs `then` after the handler, under its lock; false without a handler.
  bool callResizeHandler(uint32_t width, uint32_t height, const std::function<void()>& then);

  InputQueue input_;
  std::unique_ptr<ResizerSlot> resizer_;
  std::mutex sourcesLock_;
  std::vector<std::shared_ptr<void>> sources_;
};

}  // namespace nubrik
