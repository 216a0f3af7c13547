// Internal header: the engine's own, not installed (see cmake/install.cmake).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "nubrik/base/platform/device_context.h"
#include "nubrik/image/image.h"

struct SDL_Window;
struct SDL_Surface;

namespace nubrik {

// Presents a Screen's bands on an SDL window's surface (SDL's window
// framebuffer: shared memory on X11, a texture elsewhere).
//
// SDL is called on the window's own thread only. Frames write into the
// surface's memory from the Screen's threads: composed in place where its
// pixels are the engine's words and the scale is 1, else copied (converted,
// scaled) from the band images; endFrame then asks the window's thread to
// show what changed (SDL_UpdateWindowSurfaceRects). The window's thread
// reads the surface only between frames, and a frame that starts meanwhile
// waits for it; the window's thread never waits for a frame. A caller other
// than the Screen that presents bands calls endFrame after each frame too,
// or nothing is shown.
class SdlDeviceContext final : public IDeviceContext {
 public:
  // `requestPresent` wakes the window's thread to call present(); it is
  // called from the Screen's threads.
  SdlDeviceContext(SDL_Window* window, uint32_t scale, std::function<void()> requestPresent);
  SdlDeviceContext(const SdlDeviceContext&) = delete;
  SdlDeviceContext& operator=(const SdlDeviceContext&) = delete;

  // The Screen's side.
  void presentBand(const uint8_t* pixels, uint32_t pitch, uint32_t width, uint32_t rows,
                   int32_t bandTop, const Rect& rect) override;
  bool presentsConcurrently() const override { return true; }
  bool lendBand(int32_t bandTop, uint32_t rows, LentBand& out) override;
  void bandChanged(int32_t bandTop, const Rect& rect) override;
  void endFrame() override;
  void surfaceResized(uint32_t width, uint32_t height) override;

  // The window's thread. Takes SDL's window surface (again, once the
  // window's size has changed), black, unless a frame is being composed:
  // then false, and the end of that frame asks for present(), which takes
  // it. Throws std::runtime_error with SDL's reason when SDL gives none.
  bool takeSurface();
  // Shows what frames changed since the last call, or the whole surface;
  // nothing while a frame is being composed (its end asks again). Takes the
  // surface first where takeSurface was put off. True when it took one (the
  // picture must then be composed again).
  bool present(bool whole = false);
  // Whether frames are composed straight into the surface.
  bool composesInPlace() const;
  // The surface's size in window pixels.
  uint32_t getCanvasWidth() const;
  uint32_t getCanvasHeight() const;

  // Any thread: a copy of the surface, as 0x00RRGGBB words, taken between
  // frames (waiting at most `patience` for one to end; null then, and
  // without a surface).
  std::shared_ptr<Image> capture(std::chrono::milliseconds patience);

 private:
  // Where a frame writes: the surface's memory and what a band may cover.
  struct Target {
    uint8_t* pixels = nullptr;
    uint32_t pitch = 0;
    uint32_t format = 0;
    bool identity = false;
    uint32_t canvasWidth = 0;  // the surface's size in window pixels
    uint32_t canvasHeight = 0;
    uint32_t width = 0;   // what a frame writes, in Screen pixels: the Screen's
    uint32_t height = 0;  // surface, as far as the window shows it at the scale
  };
  // Waits for the window's thread to be done with the surface, and marks a
  // frame as being composed.
  Target beginWriting();
  // Notes a rectangle of the surface, in window pixels, to be shown.
  void changed(const Rect& rect);
  Target targetLocked() const;
  void request();
  // Paints black what the Screen's surface leaves of the window surface.
  void paintMarginLocked();

  SDL_Window* window_;
  const uint32_t scale_;
  std::function<void()> requestPresent_;
  std::atomic<bool> requested_{false};

  mutable std::mutex lock_;
  std::condition_variable idle_;
  SDL_Surface* surface_ = nullptr;
  uint8_t* pixels_ = nullptr;
  uint32_t pitch_ = 0;
  uint32_t format_ = 0;
  uint32_t canvasWidth_ = 0;
  uint32_t canvasHeight_ = 0;
  uint32_t surfaceWidth_ = 0;
  uint32_t surfaceHeight_ = 0;
  // A frame writes into the surface (from its first call to endFrame).
  bool composing_ = false;
  // The window's thread reads or replaces the surface.
  bool busy_ = false;
  bool wantsSurface_ = false;
  bool marginStale_ = false;
  // What changed, in window pixels; `whole_` once there is too much to list.
  std::vector<Rect> changed_;
  bool whole_ = false;
};

}  // namespace nubrik
