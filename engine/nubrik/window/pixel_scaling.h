// Internal header: the engine's own, not installed (see cmake/install.cmake).
#pragma once

#include <cstddef>
#include <cstdint>

namespace nubrik {

// Writes each 32-bit pixel of a `width` x `height` rectangle as a `scale` x
// `scale` block: the destination is width * scale pixels wide and height *
// scale rows high, `dstPitch` bytes apart. Source and destination must not
// overlap. A scale of 0 writes nothing.
void scalePixels(const uint8_t* src, size_t srcPitch, uint32_t width, uint32_t height,
                 uint32_t scale, uint8_t* dst, size_t dstPitch);

// Throws std::invalid_argument naming `scale` unless it is 1 to
// WindowOptions::kMaxScale.
void checkScale(uint32_t scale);

// A window coordinate in surface pixels at `scale`: rounded down, also
// left of and above the window.
inline int32_t windowToSurface(int32_t coordinate, uint32_t scale) {
  const auto k = static_cast<int64_t>(scale);
  const int64_t c = coordinate;
  return static_cast<int32_t>(c >= 0 ? c / k : -((-c + k - 1) / k));
}

// The surface a client area of `clientWidth` x `clientHeight` window
// pixels shows at `scale` (at least 1): the client over the scale, rounded
// down, at least 1 x 1 and no more than a Screen takes (what lies beyond is
// not drawn).
void surfaceForClient(uint32_t clientWidth, uint32_t clientHeight, uint32_t scale, uint32_t& width,
                      uint32_t& height);

// The same, one pixel at a time: the reference the fast path is checked
// against.
void scalePixelsPlain(const uint8_t* src, size_t srcPitch, uint32_t width, uint32_t height,
                      uint32_t scale, uint8_t* dst, size_t dstPitch);

}  // namespace nubrik
