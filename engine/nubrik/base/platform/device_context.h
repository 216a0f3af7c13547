#pragma once

#include <cstdint>

#include "nubrik/base/rect.h"

namespace nubrik {

// Rows of a window's own pixels that a device context lends for composing
// in place: `rows` rows of `width` 32-bit pixels 0x?RRGGBB, `pitch` bytes
// apart, the first being the band's first row.
struct LentBand {
  uint8_t* pixels = nullptr;
  uint32_t pitch = 0;
  uint32_t width = 0;
  uint32_t rows = 0;
};

// Where composed bands are shown: a window, or memory. Unless it says it
// presents concurrently, the Screen serialises every presentBand and
// bandChanged on one device context.
class IDeviceContext {
 public:
  virtual ~IDeviceContext() = default;
  // Copies `rect` (surface coordinates, inside the band) one-to-one from a
  // band of 32-bit pixels 0x?RRGGBB whose first row is surface row `bandTop`
  // to the same rectangle of the window.
  virtual void presentBand(const uint8_t* pixels, uint32_t pitch, uint32_t width, uint32_t rows,
                           int32_t bandTop, const Rect& rect) = 0;
  // Called once every band of a frame has been presented, never during a
  // presentBand. A device context may hold what was presented back until
  // then, to send it together; once a caller has called this, it must call
  // it after every frame. Nothing by default.
  virtual void endFrame() {}

  // Whether presentBand and bandChanged may run on several threads at once
  // (their rectangles never overlap). False by default.
  virtual bool presentsConcurrently() const { return false; }
  // A device context whose window reads memory it owns may lend the rows
  // from `bandTop` (at most `rows` of them) to be composed straight into,
  // from any thread: true and `out` filled, or false to be given band
  // images through presentBand instead. A device context lends for every
  // band of a frame or for none. The rows stay valid until the Screen ends
  // or resizes.
  virtual bool lendBand(int32_t bandTop, uint32_t rows, LentBand& out) {
    (void)bandTop;
    (void)rows;
    (void)out;
    return false;
  }
  // Tells a device context that lent its rows that `rect` (surface
  // coordinates, inside the band starting at `bandTop`) now holds the
  // frame's pixels: where presentBand would have been called.
  virtual void bandChanged(int32_t bandTop, const Rect& rect) {
    (void)bandTop;
    (void)rect;
  }
  // The surface now has `width` x `height` pixels: what is presented from
  // now on is clipped to that, and rows lent before are not used again. The
  // Screen calls it with nothing presenting; it throws (memory) leaving the
  // device context as it was. Nothing by default.
  virtual void surfaceResized(uint32_t width, uint32_t height) {
    (void)width;
    (void)height;
  }
};

// What the demonstration needs of its window.
class IWindow {
 public:
  virtual ~IWindow() = default;
  virtual uint32_t getClientWidth() const = 0;
  virtual uint32_t getClientHeight() const = 0;
  // A device context usable from any thread until it is released.
  virtual IDeviceContext* getDC() = 0;
  virtual void releaseDC(IDeviceContext* dc) = 0;
  // The cursor in client coordinates (negative or beyond the client area when
  // the cursor is outside the window). Callable from any thread.
  virtual Point getCursorPosition() const = 0;
};

}  // namespace nubrik
