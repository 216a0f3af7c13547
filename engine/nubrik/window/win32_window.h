#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "nubrik/base/platform/device_context.h"
#include "nubrik/window/event_window.h"
#include "nubrik/window/window_options.h"

// The system's handle types, without the system's header.
struct HWND__;

namespace nubrik {

// A Win32 window as the engine's users need it: its client size, device
// contexts that present with StretchDIBits, the cursor in its client
// coordinates, its event loop and its input.
//
// create() makes a window of its own, whose window procedure translates the
// system's messages into input events. A Win32Window made from an existing
// window (the demonstration's, which has a window procedure and a message
// loop of its own) does not own it, and has the input its window procedure
// forwards through handleMessage.
class Win32Window final : public EventWindow {
 public:
  explicit Win32Window(HWND__* hwnd);
  // Registers the window class (options.className), makes the window on
  // the calling thread, which then runs its event loop, and raises the
  // system timer's resolution to 1 millisecond while it lives (for paced
  // frames). Throws std::runtime_error with the system's reason.
  static std::unique_ptr<Win32Window> create(const WindowOptions& options);
  // Destroys a window that create() made.
  ~Win32Window() override;
  HWND__* handle() const { return hwnd_; }

  uint32_t getClientWidth() const override;
  uint32_t getClientHeight() const override;
  uint32_t getScale() const override { return scale_; }
  // A window of create()'s: its client area over the scale, as of the last
  // resize; another window's: its client area.
  uint32_t getSurfaceWidth() const override;
  uint32_t getSurfaceHeight() const override;
  // GetDC: null when the window gives none.
  IDeviceContext* getDC() override;
  // ReleaseDC, for a device context of this window's getDC.
  void releaseDC(IDeviceContext* dc) override;
  Point getCursorPosition() const override;

  std::string getBackendName() const override { return "win32"; }
  std::string getDriverName() const override { return "windows"; }

  void show() override;
  // Dispatches the calling thread's messages until something happens.
  using EventWindow::waitEvent;
  WindowEvent waitEvent(uint32_t timeoutMs = kForever) override;
  void wake() override;
  std::string getFailure() const override;

  // Queues the input events that a message of this window means; true when
  // it was input. A window procedure of the program's own may forward its
  // messages here.
  bool handleMessage(uint32_t message, uintptr_t wParam, intptr_t lParam);

 private:
  struct Owned;
  // The window procedure of the windows create() makes, past finding the
  // window.
  friend intptr_t runWindowProcedure(Win32Window& window, uint32_t message, uintptr_t wParam,
                                     intptr_t lParam);
  void pushPending(WindowEvent event);
  // A window of create()'s took a new client size (WM_SIZE).
  void clientResized(uint32_t width, uint32_t height);
  // Paints what lies right of and below the scaled surface.
  void paintMargin(void* hdc);
  bool translate(uint32_t message, uintptr_t wParam, intptr_t lParam);

  HWND__* hwnd_;
  // What only a window of create()'s has: the loop's wake-up, its pending
  // window events, its options.
  std::unique_ptr<Owned> owned_;
  uint32_t scale_ = 1;
  std::atomic<uint32_t> surfaceWidth_{1};
  std::atomic<uint32_t> surfaceHeight_{1};
  // Input state of the translation.
  bool pointerInside_ = false;
  bool movedYet_ = false;
  Point lastMotion_;
  unsigned buttonsDown_ = 0;
  uint16_t highSurrogate_ = 0;
  // Input queued since waitEvent last said so.
  bool queuedInput_ = false;
};

}  // namespace nubrik
