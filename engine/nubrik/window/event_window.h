#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

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
  ~EventWindow() override { endInputSources(); }
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

  // Called on the thread that runs the event loop when the surface takes a
  // new size, before the Resize input event is queued, so that whoever
  // reads the event finds the Screen at its new size (AppWindow resizes its
  // Screen here). What it throws leaves waitEvent.
  using ResizeHandler = std::function<void(uint32_t width, uint32_t height)>;
  void setResizeHandler(ResizeHandler handler) {
    std::lock_guard lock(resizeLock_);
    resizeHandler_ = std::move(handler);
  }

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

  // The window's side: tells the handler, then queues the Resize event.
  void surfaceResized(uint32_t width, uint32_t height) {
    {
      std::lock_guard lock(resizeLock_);
      if (resizeHandler_) resizeHandler_(width, height);
    }
    input_.push(InputEvent::resize(width, height));
  }

 private:
  InputQueue input_;
  std::mutex resizeLock_;
  ResizeHandler resizeHandler_;
  std::mutex sourcesLock_;
  std::vector<std::shared_ptr<void>> sources_;
};

}  // namespace nubrik
