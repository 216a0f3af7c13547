#include "nubrik/image/streamed_copy.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace nubrik {

void copyRowsStreamed(uint8_t* target, size_t targetPitch, const uint8_t* source,
                      size_t sourcePitch, size_t rowBytes, uint32_t rows) {
#if defined(__SSE2__)
  if (rowBytes >= kMinStreamedRowBytes) {
    for (uint32_t y = 0; y < rows; ++y) {
      uint8_t* to = target + y * targetPitch;
      const uint8_t* from = source + y * sourcePitch;
      // The row's partial cache lines go through the cache; the whole lines
      // between them are streamed.
      const size_t head = (64 - reinterpret_cast<uintptr_t>(to) % 64) % 64;
      const size_t lines = (rowBytes - head) / 64;
      std::memcpy(to, from, head);
      for (size_t i = head; i < head + lines * 64; i += 64) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i + 16));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i + 32));
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i + 48));
        _mm_stream_si128(reinterpret_cast<__m128i*>(to + i), a);
        _mm_stream_si128(reinterpret_cast<__m128i*>(to + i + 16), b);
        _mm_stream_si128(reinterpret_cast<__m128i*>(to + i + 32), c);
        _mm_stream_si128(reinterpret_cast<__m128i*>(to + i + 48), d);
      }
      const size_t done = head + lines * 64;
      std::memcpy(to + done, from + done, rowBytes - done);
    }
    // Streamed stores are weakly ordered: whoever is told the rows are
    // written next must see them.
    _mm_sfence();
    return;
  }
#endif
  for (uint32_t y = 0; y < rows; ++y) {
    std::memcpy(target + y * targetPitch, source + y * sourcePitch, rowBytes);
  }
}

}  // namespace nubrik
