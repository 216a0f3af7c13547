#include "nubrik/image/image.h"

#include <cstdio>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>

#include "nubrik/image/memory_helper.h"

namespace nubrik {

namespace {

Image::Pixels checkedPixels(uint32_t width, uint32_t height, Image::Pixels pixels) {
  if (!pixels && width != 0 && height != 0) {
    throw std::invalid_argument("nubrik::Image::Image: pixels is null for an image of " +
                                std::to_string(width) + " x " + std::to_string(height));
  }
  return pixels;
}

// A size refused before the allocator is asked: still std::bad_alloc for
// its callers, but saying which size. Copying it cannot fail.
class SizeRefused final : public std::bad_alloc {
 public:
  SizeRefused(uint32_t width, uint32_t height, PixelFormat format) {
    std::snprintf(text_, sizeof text_,
                  "nubrik::Image::Image: %u x %u pixels of %u bytes are over the limit of %llu "
                  "bytes",
                  width, height, bytesPerPixel(format),
                  static_cast<unsigned long long>(MemoryHelper::kMaxAllocation));
  }
  const char* what() const noexcept override { return text_; }

 private:
  char text_[160];
};

uint32_t packedPitch(uint32_t width, uint32_t height, PixelFormat format) {
  const uint64_t pitch = uint64_t{width} * bytesPerPixel(format);
  if (pitch > std::numeric_limits<uint32_t>::max()) throw SizeRefused(width, height, format);
  return static_cast<uint32_t>(pitch);
}

Image::Pixels allocateRows(uint32_t width, uint32_t height, PixelFormat format, uint32_t pitch) {
  size_t bytes = 0;
  if (__builtin_mul_overflow(size_t{height}, size_t{pitch}, &bytes) ||
      bytes > MemoryHelper::kMaxAllocation) {
    throw SizeRefused(width, height, format);
  }
  return Image::Pixels(new uint8_t[bytes]);
}

}  // namespace

Image::Image(uint32_t width, uint32_t height, uint32_t pitch, Pixels pixels)
    : width_(width),
      height_(height),
      pixelFormat_(PixelFormat::Rgbx),
      pitch_(pitch),
      pixels_(checkedPixels(width, height, std::move(pixels))) {}

Image::Image(uint32_t width, uint32_t height, PixelFormat pixelFormat)
    : width_(width),
      height_(height),
      pixelFormat_(pixelFormat),
      pitch_(packedPitch(width, height, pixelFormat)),
      pixels_(allocateRows(width, height, pixelFormat, pitch_)) {}

}  // namespace nubrik
