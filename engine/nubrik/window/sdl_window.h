#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "nubrik/base/platform/device_context.h"
#include "nubrik/image/image.h"
#include "nubrik/window/event_window.h"
#include "nubrik/window/window_options.h"

// SDL's window, without SDL's header.
struct SDL_Window;
union SDL_Event;

namespace nubrik {

class SdlDeviceContext;
class SdlSubsystem;

// A window made by SDL2, on whatever SDL drives where the program runs: X11
// or Wayland on Linux desktops, the console's display (KMS/DRM), macOS,
// Windows. SDL_VIDEODRIVER chooses the driver as SDL documents it.
//
// It does what the X11 and Win32 windows do: a surface shown at an integer
// scale, resizable, in full screen, with a hidden cursor, a title and a
// position; its event loop on the thread that made it; every input event
// (keys by their place, text, pointer, buttons, wheel, crossing, focus,
// resizes, close requests), and gamepads (see attachGamepads).
//
// The picture lives in SDL's window surface. Where the surface's pixels are
// the engine's words and the scale is 1, bands are composed straight into
// it; otherwise each band's changed rectangles are copied (scaled,
// converted) into it. Either way the window's thread shows the rectangles
// that changed (SDL_UpdateWindowSurfaceRects) between frames. On X11 that
// is SDL's shared-memory framebuffer; where SDL has no framebuffer of its
// own (Wayland, the console) it is a texture SDL draws with its renderer.
//
// SDL has one event queue per program: SDL windows come one at a time
// (create() refuses a second while the first is open).
class SdlWindow final : public EventWindow {
 public:
  using WindowEvent = nubrik::WindowEvent;

  // Throws std::runtime_error with SDL's reason (no video device, a window
  // or surface SDL refused, another SDL window still open), and
  // std::invalid_argument for a size or scale out of range.
  static std::unique_ptr<SdlWindow> create(const WindowOptions& options);
  ~SdlWindow() override;

  std::string getBackendName() const override { return "sdl"; }
  // The video driver SDL chose: "x11", "wayland", "kmsdrm", "cocoa",
  // "windows", ...
  std::string getDriverName() const override { return driver_; }

  uint32_t getClientWidth() const override { return clientWidth_.load(); }
  uint32_t getClientHeight() const override { return clientHeight_.load(); }
  uint32_t getScale() const override { return scale_; }
  uint32_t getSurfaceWidth() const override { return surfaceWidth_.load(); }
  uint32_t getSurfaceHeight() const override { return surfaceHeight_.load(); }
  // The window's one device context; every call gives the same.
  IDeviceContext* getDC() override;
  void releaseDC(IDeviceContext* dc) override;
  // Where the pointer last moved over the client area, in window pixels;
  // (-1, -1) while it is outside.
  Point getCursorPosition() const override;

  void show() override;
  using EventWindow::waitEvent;
  WindowEvent waitEvent(uint32_t timeoutMs = kForever) override;
  void wake() override;
  std::string getFailure() const override;

  // SDL's window, for what SDL does that this class does not (an icon, say).
  SDL_Window* handle() const { return window_; }
  // Whether bands are composed straight into SDL's window surface.
  bool composesInPlace() const;
  // What the window's surface holds, as 0x00RRGGBB words, client-sized:
  // the last frame shown and the black margin. Taken between frames; null
  // when none ends within a second. Callable from any thread.
  std::shared_ptr<Image> capture() const;

 private:
  SdlWindow(std::unique_ptr<SdlSubsystem> video, SDL_Window* window, const WindowOptions& options,
            std::string driver);
  enum class Handled { Nothing, Input, Redraw, Closed, Woken };
  Handled handle(const SDL_Event& event);
  Handled handleWindowEvent(const SDL_Event& event);
  // The window took a new size: a new surface, and the Screen's surface
  // where the window is resizable.
  Handled resized();
  // Takes the size the surface gives the client area, or SDL's size of the
  // window while there is no surface.
  void takeCanvasSize();
  void takeWindowSize();
  // Posts one of the window's own events (kWake, kPresent) to its loop.
  void post(int32_t code);
  void fail(const std::string& why);
  int32_t toSurface(int32_t windowCoordinate) const;

  std::unique_ptr<SdlSubsystem> video_;
  SDL_Window* window_;
  uint32_t windowId_;
  std::string driver_;
  const uint32_t scale_;
  const bool resizable_;
  const bool fullscreen_;
  const bool hiddenCursor_;
  // Whether SDL has a framebuffer of its own for the driver (else it draws a
  // texture), and whether the window has had a surface and been shown.
  const bool ownFramebuffer_;
  bool surfaceTaken_ = false;
  bool shown_ = false;
  std::atomic<uint32_t> clientWidth_{1};
  std::atomic<uint32_t> clientHeight_{1};
  std::atomic<uint32_t> surfaceWidth_{1};
  std::atomic<uint32_t> surfaceHeight_{1};
  std::unique_ptr<SdlDeviceContext> dc_;
  std::atomic<bool> woken_{false};
  std::atomic<bool> wakePosted_{false};
  // Input queued while another event was returned, still to be reported.
  bool pendingInput_ = false;
  uint8_t lastKeyMods_ = 0;
  std::atomic<int32_t> cursorX_{-1};
  std::atomic<int32_t> cursorY_{-1};
  std::atomic<bool> pointerInside_{false};
  mutable std::mutex failureLock_;
  std::string failure_;
};

// Feeds `window`'s input with gamepads, through SDL's game controller
// subsystem (which needs no SDL window): GamepadAdded and GamepadRemoved,
// buttons and axes by the standard layout, for every gamepad SDL knows,
// whether or not the window has the focus. A thread of the library reads
// them (every 4 ms while a gamepad is connected, four times a second
// otherwise, to find new ones) and wakes the window's event loop. The
// feeding ends with the window. Throws std::runtime_error when SDL's
// subsystem cannot start.
void attachGamepads(EventWindow& window);

}  // namespace nubrik
