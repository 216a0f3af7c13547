// Internal header: the engine's own, not installed (see cmake/install.cmake).
#pragma once

#include <X11/Xlib.h>

#include <cstdint>
#include <string>

namespace nubrik {

// How the engine's 32-bit words 0x??RRGGBB become the pixels of a TrueColor
// visual: taken as they are for 32-bit 0xRRGGBB in the host's byte order,
// otherwise converted channel by channel (channels narrower than 8 bits keep
// their top bits, wider ones repeat them).
class X11PixelFormat {
 public:
  struct Channel {
    uint32_t shift = 0;
    uint32_t bits = 0;
  };

  // Throws std::runtime_error naming the visual when it is not TrueColor,
  // its channel masks are not runs of at most 16 bits, or its pixels are not
  // 8, 16, 24 or 32 bits wide.
  static X11PixelFormat forVisual(Display* display, const Visual* visual, int depth);

  uint32_t bytesPerPixel() const { return bytesPerPixel_; }
  // Bytes of one row of `width` pixels, padded as the server pads them.
  uint32_t rowBytes(uint32_t width) const;
  int byteOrder() const { return byteOrder_; }
  int depth() const { return depth_; }
  // True when the words are the pixels, with no conversion.
  bool isIdentity() const { return identity_; }

  void convertRow(const uint32_t* source, uint32_t count, uint8_t* target) const;

 private:
  enum class Kind { Identity, Rgb565, Rgb555, Generic };

  Kind kind_ = Kind::Generic;
  bool identity_ = false;
  int depth_ = 0;
  int byteOrder_ = LSBFirst;
  uint32_t bytesPerPixel_ = 4;
  uint32_t scanlinePad_ = 32;
  Channel red_, green_, blue_;
};

}  // namespace nubrik
