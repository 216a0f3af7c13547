#include "nubrik/image/image.h"

#include <limits>
#include <new>
#include <utility>

#include "nubrik/image/memory_helper.h"

namespace nubrik {

Image::Image(uint32_t width, uint32_t height, uint32_t pitch, Pixels pixels)
    : width_(width),
      height_(height),
      pixelFormat_(PixelFormat::Rgbx),
      pitch_(pitch),
      pixels_(std::move(pixels)) {}

namespace {

uint32_t packedPitch(uint32_t width, PixelFormat format) {
  const uint64_t pitch = uint64_t{width} * bytesPerPixel(format);
  if (pitch > std::numeric_limits<uint32_t>::max()) throw std::bad_alloc();
  return static_cast<uint32_t>(pitch);
}

Image::Pixels allocateRows(uint32_t height, uint32_t pitch) {
  size_t bytes = 0;
  if (__builtin_mul_overflow(size_t{height}, size_t{pitch}, &bytes) ||
      bytes > MemoryHelper::kMaxAllocation) {
    throw std::bad_alloc();
  }
  return Image::Pixels(new uint8_t[bytes]);
}

}  // namespace

Image::Image(uint32_t width, uint32_t height, PixelFormat pixelFormat)
    : width_(width),
      height_(height),
      pixelFormat_(pixelFormat),
      pitch_(packedPitch(width, pixelFormat)),
      pixels_(allocateRows(height, pitch_)) {}

}  // namespace nubrik
