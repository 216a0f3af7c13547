#pragma once

#include <cstdint>
#include <stdexcept>

#include "nubrik/image/pixel_format.h"

namespace nubrik {

// Decodes a picture row by row: ask for the size and layout, allocate, then
// pull getHeight() rows, top first, with load().
class IImageLoader {
 public:
  virtual ~IImageLoader() = default;
  virtual uint32_t getWidth() const = 0;
  virtual uint32_t getHeight() const = 0;
  virtual PixelFormat getPixelFormat() const = 0;
  virtual uint32_t getRowBytes() const = 0;
  // Decodes the next row into `buffer`, which holds `size` bytes; returns the
  // number of bytes written. `buffer` must not be null (std::invalid_argument).
  uint32_t load(uint8_t* buffer, uint32_t size) {
    if (buffer == nullptr)
      throw std::invalid_argument("nubrik::IImageLoader::load: buffer is null");
    return loadImpl(buffer, size);
  }

 protected:
  virtual uint32_t loadImpl(uint8_t* buffer, uint32_t size) = 0;
};

}  // namespace nubrik
