// Internal header: the engine's own, not installed (see cmake/install.cmake).
#pragma once

#include <stdexcept>
#include <string>

#include "nubrik/image/image.h"

namespace nubrik::blit {

// The pixel loops trust the images' layout to stay inside their rows; these
// refuse, with std::invalid_argument, images whose rows they would overrun.

// A drawing target has 4 bytes per pixel and rows at least 4 x width apart.
inline void requireTarget(const IImage& target, const char* operation) {
  const PixelFormat format = target.getPixelFormat();
  if (format != PixelFormat::Rgba && format != PixelFormat::Rgbx) {
    throw std::invalid_argument(std::string(operation) + ": the target's pixel format " +
                                std::to_string(static_cast<int>(format)) +
                                " does not have 4 bytes per pixel");
  }
  if (uint64_t{target.getPitch()} < uint64_t{target.getWidth()} * 4) {
    throw std::invalid_argument(std::string(operation) + ": the target's pitch " +
                                std::to_string(target.getPitch()) + " is below 4 x its width " +
                                std::to_string(target.getWidth()));
  }
}

// A source's rows are at least width x bytes per pixel apart.
inline void requireSource(const IImage& source, const char* operation) {
  const uint64_t rowBytes = uint64_t{source.getWidth()} * bytesPerPixel(source.getPixelFormat());
  if (source.getPitch() < rowBytes) {
    throw std::invalid_argument(std::string(operation) + ": the source's pitch " +
                                std::to_string(source.getPitch()) + " is below its row size " +
                                std::to_string(rowBytes));
  }
}

}  // namespace nubrik::blit
