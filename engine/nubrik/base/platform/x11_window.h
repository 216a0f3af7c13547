#pragma once

#include <X11/Xlib.h>

#include <memory>
#include <mutex>
#include <string>

#include "nubrik/base/platform/device_context.h"

namespace nubrik {

// A fixed-size top-level X11 window. The message loop runs on the thread that
// made it, over its own display connection; each device context and the
// cursor queries have connections of their own, so that worker and frame
// threads never share the loop's connection.
class X11Window final : public IWindow {
 public:
  // Null when the display cannot be opened. XInitThreads must have been
  // called before.
  static std::unique_ptr<X11Window> create(const std::string& title, const std::string& className,
                                           uint32_t width, uint32_t height);
  ~X11Window() override;
  X11Window(const X11Window&) = delete;
  X11Window& operator=(const X11Window&) = delete;

  uint32_t getClientWidth() const override { return width_; }
  uint32_t getClientHeight() const override { return height_; }
  IDeviceContext* getDC() override;
  void releaseDC(IDeviceContext* dc) override;
  Point getCursorPosition() const override;

  void show();
  // Blocks for the next event. Returns false once the window manager asked
  // to close the window; `exposed` is set when the picture must be redrawn.
  bool nextEvent(bool& exposed);

 private:
  X11Window(Display* display, Display* cursorDisplay, Window window, uint32_t width,
            uint32_t height);

  Display* display_;
  Display* cursorDisplay_;
  mutable std::mutex cursorLock_;
  Window window_;
  Atom deleteWindow_;
  uint32_t width_;
  uint32_t height_;
};

}  // namespace nubrik
