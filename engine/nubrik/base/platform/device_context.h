#pragma once

#include <cstdint>

#include "nubrik/base/rect.h"

namespace nubrik {

// Where composed bands are shown: a window, or memory. The Screen serialises
// every call on one device context.
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
