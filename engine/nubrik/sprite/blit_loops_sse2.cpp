// The vector loops for SSE2: four pixels per vector. SSE2 is the x86-64
// baseline; a 32-bit x86 processor may lack it, so everything in this file
// past the includes is compiled for SSE2 and only reached through
// sse2Loops(), which is chosen at run time.

#include <emmintrin.h>

#include <cstring>

#include "nubrik/sprite/affine_loops.h"
#include "nubrik/sprite/blit_loops.h"

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("sse2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("sse2")
#endif

namespace nubrik::blit {

namespace sse2 {

struct Vec {
  using V = __m128i;
  static constexpr uint32_t kPixels = 4;

  static V zero() { return _mm_setzero_si128(); }
  static V set32(uint32_t v) { return _mm_set1_epi32(static_cast<int>(v)); }
  static V set16(uint32_t v) { return _mm_set1_epi16(static_cast<short>(v)); }
  static V load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const V*>(p)); }
  static void store(uint8_t* p, V v) { _mm_storeu_si128(reinterpret_cast<V*>(p), v); }

  static V and_(V a, V b) { return _mm_and_si128(a, b); }
  static V or_(V a, V b) { return _mm_or_si128(a, b); }
  static V xor_(V a, V b) { return _mm_xor_si128(a, b); }
  static V add8(V a, V b) { return _mm_add_epi8(a, b); }
  static V adds8(V a, V b) { return _mm_adds_epu8(a, b); }
  static V sub8(V a, V b) { return _mm_sub_epi8(a, b); }
  static V subs8(V a, V b) { return _mm_subs_epu8(a, b); }
  static V add16(V a, V b) { return _mm_add_epi16(a, b); }
  static V sub16(V a, V b) { return _mm_sub_epi16(a, b); }
  static V mullo16(V a, V b) { return _mm_mullo_epi16(a, b); }
  static V srl16by8(V a) { return _mm_srli_epi16(a, 8); }
  static V add32(V a, V b) { return _mm_add_epi32(a, b); }
  template <int N>
  static V srl32(V a) {
    return _mm_srli_epi32(a, N);
  }
  static bool allEqual32(V a, V b) { return _mm_movemask_epi8(_mm_cmpeq_epi32(a, b)) == 0xFFFF; }
  static V andnot(V a, V b) { return _mm_andnot_si128(a, b); }
  static V min8(V a, V b) { return _mm_min_epu8(a, b); }
  static V max8(V a, V b) { return _mm_max_epu8(a, b); }
  static V cmpeq8(V a, V b) { return _mm_cmpeq_epi8(a, b); }
  static V cmpeq16(V a, V b) { return _mm_cmpeq_epi16(a, b); }
  static V mulhi16(V a, V b) { return _mm_mulhi_epu16(a, b); }
  static V sll16by8(V a) { return _mm_slli_epi16(a, 8); }
  // The first `words` 32-bit words at `p`; the others read as 0 and are
  // never touched, so a row's tail may end anywhere.
  // The first `bytes` bytes at `p` (at most 16), the rest 0; not a byte
  // beyond is read.
  static V loadBytes(const uint8_t* p, uint32_t bytes) {
    alignas(16) uint8_t copy[16] = {};
    std::memcpy(copy, p, bytes);
    return _mm_load_si128(reinterpret_cast<const V*>(copy));
  }
  static void storeFirst(uint8_t* p, V v, uint32_t words) {
    alignas(16) uint8_t copy[16];
    _mm_store_si128(reinterpret_cast<V*>(copy), v);
    std::memcpy(p, copy, size_t{words} * 4);
  }

  // Whether every pixel's alpha byte is 0, or every one is 255.
  static bool noAlpha(V s) {
    return _mm_movemask_epi8(_mm_cmpeq_epi32(_mm_srli_epi32(s, 24), _mm_setzero_si128())) == 0xFFFF;
  }
  static bool fullAlpha(V s) {
    return (_mm_movemask_epi8(_mm_cmpeq_epi8(s, _mm_set1_epi8(-1))) & 0x8888) == 0x8888;
  }
  // Each pixel's alpha in both of its 16-bit lanes.
  static V alphaPairs(V s) {
    const V alpha = _mm_srli_epi32(s, 24);
    return _mm_or_si128(alpha, _mm_slli_epi32(alpha, 16));
  }

  // Bytes to 16-bit lanes: pixels 0 and 1 (lo), 2 and 3 (hi), and back.
  static V lo16(V v) { return _mm_unpacklo_epi8(v, _mm_setzero_si128()); }
  static V hi16(V v) { return _mm_unpackhi_epi8(v, _mm_setzero_si128()); }
  static V pack16(V lo, V hi) { return _mm_packus_epi16(lo, hi); }
  // One weight per 32-bit lane to that pixel's four 16-bit channel lanes.
  static V spreadLo(V w) {
    const V both = _mm_or_si128(w, _mm_slli_epi32(w, 16));
    return _mm_unpacklo_epi32(both, both);
  }
  static V spreadHi(V w) {
    const V both = _mm_or_si128(w, _mm_slli_epi32(w, 16));
    return _mm_unpackhi_epi32(both, both);
  }

  static V grey(const uint8_t* p) {
    V v = _mm_cvtsi32_si128(static_cast<int>(load32(p)));
    v = _mm_unpacklo_epi8(v, v);
    return _mm_and_si128(_mm_unpacklo_epi16(v, v), _mm_set1_epi32(0x00FFFFFF));
  }
  static V greyAlpha(const uint8_t* p) {
    V v = _mm_loadl_epi64(reinterpret_cast<const V*>(p));
    v = _mm_unpacklo_epi16(v, v);  // level, alpha, level, alpha
    const V level = _mm_and_si128(v, _mm_set1_epi32(0xFF));
    return _mm_or_si128(_mm_and_si128(v, _mm_set1_epi32(static_cast<int>(0xFFFF00FFu))),
                        _mm_slli_epi32(level, 8));
  }
  // Sampled sources: lanes in reverse order, and pixels wherever they are.
  // Without a variable permutation, upscaled rows are gathered too.
  static constexpr bool kPermutes = false;
  static V sub32(V a, V b) { return _mm_sub_epi32(a, b); }
  static V reverse(V v) { return _mm_shuffle_epi32(v, _MM_SHUFFLE(0, 1, 2, 3)); }
  static V loadReversed(const uint8_t* p) { return reverse(load(p)); }
  static V permute(V v, V) { return v; }
  static V greater32(V a, V b) { return _mm_cmpgt_epi32(a, b); }
  static V select(V mask, V b, V a) {
    return _mm_or_si128(_mm_and_si128(mask, b), _mm_andnot_si128(mask, a));
  }
  template <typename Reader>
  static V gather(const uint8_t* row, const size_t* offsets) {
    return _mm_setr_epi32(static_cast<int>(Reader::pixel(row + offsets[0])),
                          static_cast<int>(Reader::pixel(row + offsets[1])),
                          static_cast<int>(Reader::pixel(row + offsets[2])),
                          static_cast<int>(Reader::pixel(row + offsets[3])));
  }

  static V rgb(const uint8_t* p) {
    using Reader = SourceReader<PixelFormat::Rgb>;
    return _mm_setr_epi32(
        static_cast<int>(Reader::pixel(p)), static_cast<int>(Reader::pixel(p + 3)),
        static_cast<int>(Reader::pixel(p + 6)), static_cast<int>(Reader::pixel(p + 9)));
  }
};

#include "nubrik/sprite/simd_loops.inc"

// Rotated drawing's loops, with the few operations they need beyond Vec.
struct AffineVec : Vec {
  static V madd16(V a, V b) { return _mm_madd_epi16(a, b); }
  // The low 32 bits of each lane's product, from the even and odd lanes' full products.
  static V mullo32(V a, V b) {
    const V even = _mm_mul_epu32(a, b);
    const V odd = _mm_mul_epu32(_mm_srli_epi64(a, 32), _mm_srli_epi64(b, 32));
    return _mm_unpacklo_epi32(_mm_shuffle_epi32(even, _MM_SHUFFLE(0, 0, 2, 0)),
                              _mm_shuffle_epi32(odd, _MM_SHUFFLE(0, 0, 2, 0)));
  }
  static bool none(V mask) { return _mm_movemask_epi8(mask) == 0; }
  template <typename Reader>
  static V gather(const uint8_t* base, V offsets) {
    alignas(16) int32_t at[4];
    _mm_store_si128(reinterpret_cast<V*>(at), offsets);
    return _mm_setr_epi32(static_cast<int>(Reader::pixel(base + at[0])),
                          static_cast<int>(Reader::pixel(base + at[1])),
                          static_cast<int>(Reader::pixel(base + at[2])),
                          static_cast<int>(Reader::pixel(base + at[3])));
  }
};

#include "nubrik/sprite/affine_loops.inc"

}  // namespace sse2

const LoopTable& sse2Loops() { return sse2::kLoops; }
const AffineLoopTable& sse2AffineLoops() { return sse2::kAffineLoops; }

}  // namespace nubrik::blit

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
