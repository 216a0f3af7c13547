#pragma once

#include <cstdint>

namespace nubrik {

// Byte layouts of a pixel; colour bytes are stored blue first.
enum class PixelFormat : int32_t {
  Grey = 0,       // level
  Rgb = 1,        // blue, green, red
  GreyAlpha = 2,  // level, alpha
  Rgba = 3,       // blue, green, red, alpha: the little-endian word 0xAARRGGBB
  Rgbx = 4,       // the framebuffer pixel: blue, green, red, fourth byte
};

constexpr uint32_t bytesPerPixel(PixelFormat format) {
  switch (format) {
    case PixelFormat::Rgb:
      return 3;
    case PixelFormat::GreyAlpha:
      return 2;
    case PixelFormat::Rgba:
    case PixelFormat::Rgbx:
      return 4;
    default:
      return 1;
  }
}

constexpr bool isValidPixelFormat(PixelFormat format) {
  return static_cast<int32_t>(format) >= 0 && static_cast<int32_t>(format) <= 4;
}

}  // namespace nubrik
