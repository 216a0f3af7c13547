#include "nubrik/window/pixel_scaling.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

#include "nubrik/screen/screen.h"
#include "nubrik/window/window_options.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace nubrik {

namespace {

inline uint32_t load(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

inline void store(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

// One row widened `K` times; the factor known at compile time lets the
// stores be unrolled.
template <uint32_t K>
void widenRow(const uint8_t* src, uint32_t width, uint8_t* dst) {
  uint32_t x = 0;
#if defined(__SSE2__)
  if constexpr (K == 2 || K == 4) {
    for (; x + 4 <= width; x += 4) {
      const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + size_t{x} * 4));
      __m128i* out = reinterpret_cast<__m128i*>(dst + size_t{x} * K * 4);
      const __m128i low = _mm_unpacklo_epi32(p, p);   // p0 p0 p1 p1
      const __m128i high = _mm_unpackhi_epi32(p, p);  // p2 p2 p3 p3
      if constexpr (K == 2) {
        _mm_storeu_si128(out, low);
        _mm_storeu_si128(out + 1, high);
      } else {
        _mm_storeu_si128(out, _mm_unpacklo_epi64(low, low));
        _mm_storeu_si128(out + 1, _mm_unpackhi_epi64(low, low));
        _mm_storeu_si128(out + 2, _mm_unpacklo_epi64(high, high));
        _mm_storeu_si128(out + 3, _mm_unpackhi_epi64(high, high));
      }
    }
  }
#endif
  for (; x < width; ++x) {
    const uint32_t v = load(src + size_t{x} * 4);
    uint8_t* out = dst + size_t{x} * K * 4;
    for (uint32_t i = 0; i < K; ++i) store(out + i * 4, v);
  }
}

using WidenRow = void (*)(const uint8_t*, uint32_t, uint8_t*);

void widenRowAny(const uint8_t* src, uint32_t width, uint32_t scale, uint8_t* dst) {
  for (uint32_t x = 0; x < width; ++x) {
    const uint32_t v = load(src + size_t{x} * 4);
    for (uint32_t i = 0; i < scale; ++i) store(dst + (size_t{x} * scale + i) * 4, v);
  }
}

}  // namespace

void scalePixels(const uint8_t* src, size_t srcPitch, uint32_t width, uint32_t height,
                 uint32_t scale, uint8_t* dst, size_t dstPitch) {
  if (scale == 0 || width == 0) return;
  static constexpr WidenRow kRows[] = {widenRow<1>, widenRow<2>, widenRow<3>, widenRow<4>,
                                       widenRow<5>, widenRow<6>, widenRow<7>, widenRow<8>};
  const size_t rowBytes = size_t{width} * scale * 4;
  for (uint32_t y = 0; y < height; ++y) {
    const uint8_t* in = src + y * srcPitch;
    uint8_t* first = dst + size_t{y} * scale * dstPitch;
    if (scale <= 8) {
      kRows[scale - 1](in, width, first);
    } else {
      widenRowAny(in, width, scale, first);
    }
    // The other rows of the block are copies of the first.
    for (uint32_t i = 1; i < scale; ++i) std::memcpy(first + i * dstPitch, first, rowBytes);
  }
}

void checkScale(uint32_t scale) {
  if (scale < 1 || scale > WindowOptions::kMaxScale) {
    throw std::invalid_argument("a window's scale is 1 to " +
                                std::to_string(WindowOptions::kMaxScale) + ", not " +
                                std::to_string(scale));
  }
}

void surfaceForClient(uint32_t clientWidth, uint32_t clientHeight, uint32_t scale, uint32_t& width,
                      uint32_t& height) {
  scale = std::max(scale, 1u);
  width = std::clamp<uint32_t>(clientWidth / scale, 1, Screen::kMaxWidth);
  height = std::clamp<uint32_t>(clientHeight / scale, 1,
                                static_cast<uint32_t>(Screen::kMaxPixels / width));
}

void scalePixelsPlain(const uint8_t* src, size_t srcPitch, uint32_t width, uint32_t height,
                      uint32_t scale, uint8_t* dst, size_t dstPitch) {
  for (size_t y = 0; y < size_t{height} * scale; ++y) {
    for (size_t x = 0; x < size_t{width} * scale; ++x) {
      store(dst + y * dstPitch + x * 4, load(src + (y / scale) * srcPitch + (x / scale) * 4));
    }
  }
}

}  // namespace nubrik
