#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "nubrik/base/platform/device_context.h"
#include "nubrik/window/event_window.h"
#include "nubrik/window/window_options.h"

// Xlib's display and input context, without Xlib's macros and names
// (Screen, None, Bool) for every user of the window.
struct _XDisplay;
struct _XIM;
struct _XIC;

namespace nubrik {

class X11Connection;
class X11Failure;
class X11Keyboard;

struct X11WindowOptions {
  // The display to open; $DISPLAY when empty.
  std::string display;
  // False presents through the socket even where shared memory is offered
  // (for comparisons).
  bool sharedMemory = true;
};

// A top-level X11 window, of a fixed size unless made resizable, showing
// its surface at an integer scale. The message loop runs on the thread that
// made it, over its own display connection; each device context and the
// cursor queries have connections of their own, so that worker and frame
// threads never share the loop's connection.
//
// Input (keys, text, pointer, wheel, crossing, focus, resizes, close
// requests) is taken in by waitEvent and queued on input(); pointer
// positions are in surface pixels (window pixels over the scale, rounded
// down). Keys are named by their
// place on the keyboard (the server's XKB key names). Text comes through
// the X input method when one opens (dead keys and compose sequences work
// then), else from the keys' symbols; a program that wants its users'
// input method calls setlocale(LC_CTYPE, "") before creating the window.
//
// X errors and a lost server on any of these connections never end the
// process: presentation stops, and the message loop returns Failed with a
// line that names what happened, for the program to shut down in order.
// Writing to a server that has just gone raises SIGPIPE: a program that
// wants to survive it ignores the signal.
class X11Window final : public EventWindow {
 public:
  using WindowEvent = nubrik::WindowEvent;

  // Throws std::runtime_error naming the display and what failed: no
  // display given and $DISPLAY unset, a display that cannot be opened, a
  // default visual that is not a supported TrueColor one, or a window the
  // server refused.
  static std::unique_ptr<X11Window> create(const WindowOptions& options, X11WindowOptions x11 = {});
  static std::unique_ptr<X11Window> create(const std::string& title, const std::string& className,
                                           uint32_t width, uint32_t height,
                                           X11WindowOptions options = {});
  ~X11Window() override;

  uint32_t getClientWidth() const override { return width_.load(); }
  uint32_t getClientHeight() const override { return height_.load(); }
  uint32_t getScale() const override { return scale_; }
  // The client area over the scale, at least 1 x 1, and within a Screen's
  // limits (what lies beyond is not drawn).
  uint32_t getSurfaceWidth() const override { return surfaceWidth_.load(); }
  uint32_t getSurfaceHeight() const override { return surfaceHeight_.load(); }
  // Null when no connection can be opened for it.
  IDeviceContext* getDC() override;
  void releaseDC(IDeviceContext* dc) override;
  Point getCursorPosition() const override;

  std::string getBackendName() const override { return "x11"; }

  void show() override;
  using EventWindow::waitEvent;
  WindowEvent waitEvent(uint32_t timeoutMs = kForever) override;
  void wake() override;
  std::string getFailure() const override;
  // Why the last device context presents through the socket (the slower
  // path); empty while it uses shared memory.
  std::string getSlowPathReason() const;

 private:
  X11Window(std::unique_ptr<X11Connection> main, std::unique_ptr<X11Connection> cursor,
            std::shared_ptr<X11Failure> failure, unsigned long window, uint32_t width,
            uint32_t height, uint32_t scale, bool resizable, X11WindowOptions options);
  // Takes the client area's new size from the server; true when the
  // surface changed (a Resize event was queued).
  bool clientResized(uint32_t width, uint32_t height);
  int32_t toSurface(int32_t windowCoordinate) const;
  // Paints what lies right of and below the scaled surface.
  void paintMargin();
  void openInputMethod();
  // Queue what an XEvent means as input; true when they queued anything.
  bool translate(void* event);
  bool translateKey(void* event, bool filtered);

  std::shared_ptr<X11Failure> failure_;
  std::unique_ptr<X11Connection> main_;
  std::unique_ptr<X11Connection> cursor_;
  _XDisplay* display_;
  mutable std::mutex cursorLock_;
  unsigned long window_;        // Window
  unsigned long deleteWindow_;  // Atom
  // Written by the event loop's thread.
  std::atomic<uint32_t> width_;
  std::atomic<uint32_t> height_;
  std::atomic<uint32_t> surfaceWidth_{1};
  std::atomic<uint32_t> surfaceHeight_{1};
  const uint32_t scale_;
  const bool resizable_;
  X11WindowOptions options_;
  bool destroyed_ = false;
  bool syncedAfterFailure_ = false;
  mutable std::mutex noteLock_;
  std::string slowPathReason_;

  std::unique_ptr<X11Keyboard> keyboard_;
  _XIM* inputMethod_ = nullptr;
  _XIC* inputContext_ = nullptr;
  // Whether the server reports a held key's repeats as presses alone;
  // otherwise each repeat is a release and a press at the same time.
  bool detectableRepeat_ = false;
  // Input queued while another event was returned, still to be reported.
  bool pendingInput_ = false;
  // wake() writes here; waitEvent reads.
  int wakePipe_[2] = {-1, -1};
};

}  // namespace nubrik
