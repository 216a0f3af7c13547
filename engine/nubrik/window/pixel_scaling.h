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

// The same, one pixel at a time: the reference the fast path is checked
// against.
void scalePixelsPlain(const uint8_t* src, size_t srcPitch, uint32_t width, uint32_t height,
                      uint32_t scale, uint8_t* dst, size_t dstPitch);

}  // namespace nubrik
