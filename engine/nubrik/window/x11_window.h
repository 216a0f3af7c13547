#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "nubrik/base/platform/device_context.h"

// Xlib's display, without Xlib's macros and names (Screen, None, Bool) for
// every user of the window.
struct _XDisplay;

namespace nubrik {

class X11Connection;
class X11Failure;

struct X11WindowOptions {
  // The display to open; $DISPLAY when empty.
  std::string display;
  // False presents through the socket even where shared memory is offered
  // (for comparisons).
  bool sharedMemory = true;
};

// A fixed-size top-level X11 window. The message loop runs on the thread that
// made it, over its own display connection; each device context and the
// cursor queries have connections of their own, so that worker and frame
// threads never share the loop's connection.
//
// X errors and a lost server on any of these connections never end the
// process: presentation stops, and the message loop returns Failed with a
// line that names what happened, for the program to shut down in order.
// Writing to a server that has just gone raises SIGPIPE: a program that
// wants to survive it ignores the signal.
class X11Window final : public IWindow {
 public:
  enum class WindowEvent {
    Redraw,  // the picture must be redrawn (exposed)
    Closed,  // the window manager asked to close the window
    Failed,  // destroyed from outside, an X error, or the server gone: see getFailure()
  };

  // Null when the display cannot be opened. Throws std::runtime_error naming
  // the visual when the display's default visual is not a supported
  // TrueColor one.
  static std::unique_ptr<X11Window> create(const std::string& title, const std::string& className,
                                           uint32_t width, uint32_t height,
                                           X11WindowOptions options = {});
  ~X11Window() override;
  X11Window(const X11Window&) = delete;
  X11Window& operator=(const X11Window&) = delete;

  uint32_t getClientWidth() const override { return width_; }
  uint32_t getClientHeight() const override { return height_; }
  // Null when no connection can be opened for it.
  IDeviceContext* getDC() override;
  void releaseDC(IDeviceContext* dc) override;
  Point getCursorPosition() const override;

  void show();
  // Blocks until the program has something to do. After Failed it keeps
  // returning Failed.
  WindowEvent waitEvent();
  // One line naming what ended the window; empty before.
  std::string getFailure() const;
  // Why the last device context presents through the socket (the slower
  // path); empty while it uses shared memory.
  std::string getSlowPathReason() const;

 private:
  X11Window(std::unique_ptr<X11Connection> main, std::unique_ptr<X11Connection> cursor,
            std::shared_ptr<X11Failure> failure, unsigned long window, uint32_t width,
            uint32_t height, X11WindowOptions options);

  std::shared_ptr<X11Failure> failure_;
  std::unique_ptr<X11Connection> main_;
  std::unique_ptr<X11Connection> cursor_;
  _XDisplay* display_;
  mutable std::mutex cursorLock_;
  unsigned long window_;        // Window
  unsigned long deleteWindow_;  // Atom
  uint32_t width_;
  uint32_t height_;
  X11WindowOptions options_;
  bool destroyed_ = false;
  bool syncedAfterFailure_ = false;
  mutable std::mutex noteLock_;
  std::string slowPathReason_;
};

}  // namespace nubrik
