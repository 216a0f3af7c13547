// The vector loops for AVX2: eight pixels per vector. Chosen at run time on
// processors that have it; everything in this file past the includes is
// compiled for AVX2, and only reached through avx2Loops().

#include <immintrin.h>

#include "nubrik/sprite/affine_loops.h"
#include "nubrik/sprite/blit_loops.h"

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif

namespace nubrik::blit {

namespace avx2 {

struct Vec {
  using V = __m256i;
  static constexpr uint32_t kPixels = 8;

  static V zero() { return _mm256_setzero_si256(); }
  static V set32(uint32_t v) { return _mm256_set1_epi32(static_cast<int>(v)); }
  static V set16(uint32_t v) { return _mm256_set1_epi16(static_cast<short>(v)); }
  static V load(const uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const V*>(p)); }
  static void store(uint8_t* p, V v) { _mm256_storeu_si256(reinterpret_cast<V*>(p), v); }

  static V and_(V a, V b) { return _mm256_and_si256(a, b); }
  static V or_(V a, V b) { return _mm256_or_si256(a, b); }
  static V xor_(V a, V b) { return _mm256_xor_si256(a, b); }
  static V add8(V a, V b) { return _mm256_add_epi8(a, b); }
  static V adds8(V a, V b) { return _mm256_adds_epu8(a, b); }
  static V sub8(V a, V b) { return _mm256_sub_epi8(a, b); }
  static V subs8(V a, V b) { return _mm256_subs_epu8(a, b); }
  static V add16(V a, V b) { return _mm256_add_epi16(a, b); }
  static V sub16(V a, V b) { return _mm256_sub_epi16(a, b); }
  static V mullo16(V a, V b) { return _mm256_mullo_epi16(a, b); }
  static V srl16by8(V a) { return _mm256_srli_epi16(a, 8); }
  static V add32(V a, V b) { return _mm256_add_epi32(a, b); }
  template <int N>
  static V srl32(V a) {
    return _mm256_srli_epi32(a, N);
  }
  static bool allEqual32(V a, V b) { return _mm256_movemask_epi8(_mm256_cmpeq_epi32(a, b)) == -1; }
  static V andnot(V a, V b) { return _mm256_andnot_si256(a, b); }
  static V min8(V a, V b) { return _mm256_min_epu8(a, b); }
  static V max8(V a, V b) { return _mm256_max_epu8(a, b); }
  static V cmpeq8(V a, V b) { return _mm256_cmpeq_epi8(a, b); }
  static V cmpeq16(V a, V b) { return _mm256_cmpeq_epi16(a, b); }
  static V mulhi16(V a, V b) { return _mm256_mulhi_epu16(a, b); }
  static V sll16by8(V a) { return _mm256_slli_epi16(a, 8); }
  // The first `words` 32-bit words at `p`; the others read as 0 and are
  // never touched, so a row's tail may end anywhere.
  static V wordMask(uint32_t words) {
    return _mm256_cmpgt_epi32(_mm256_set1_epi32(static_cast<int>(words)),
                              _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
  }
  // The first `bytes` bytes at `p` (at most 32), the rest 0; not a byte
  // beyond is read. Built in a register: a copy assembled in memory from
  // small stores could not be forwarded to the loads that follow.
  static V loadBytes(const uint8_t* p, uint32_t bytes) {
    const uint32_t words = bytes / 4;
    const V whole = _mm256_maskload_epi32(reinterpret_cast<const int*>(p), wordMask(words));
    uint32_t last = 0;
    for (uint32_t i = words * 4; i < bytes; ++i) last |= uint32_t{p[i]} << (8 * (i - words * 4));
    const V at = _mm256_cmpeq_epi32(_mm256_set1_epi32(static_cast<int>(words)),
                                    _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
    return _mm256_blendv_epi8(whole, _mm256_set1_epi32(static_cast<int>(last)), at);
  }
  static void storeFirst(uint8_t* p, V v, uint32_t words) {
    _mm256_maskstore_epi32(reinterpret_cast<int*>(p), wordMask(words), v);
  }

  // Whether every pixel's alpha byte is 0, or every one is 255.
  static bool noAlpha(V s) { return _mm256_testz_si256(s, _mm256_set1_epi32(0xFF000000u)); }
  static bool fullAlpha(V s) { return _mm256_testc_si256(s, _mm256_set1_epi32(0xFF000000u)); }
  // Each pixel's alpha in both of its 16-bit lanes.
  static V alphaPairs(V s) {
    return _mm256_shuffle_epi8(
        s, _mm256_setr_epi8(3, -1, 3, -1, 7, -1, 7, -1, 11, -1, 11, -1, 15, -1, 15, -1, 3, -1, 3,
                            -1, 7, -1, 7, -1, 11, -1, 11, -1, 15, -1, 15, -1));
  }

  // Within each 128-bit half, as the unpacks work: pixels 0, 1 and 4, 5
  // (lo), 2, 3 and 6, 7 (hi); pack16 puts them back in order.
  static V lo16(V v) { return _mm256_unpacklo_epi8(v, _mm256_setzero_si256()); }
  static V hi16(V v) { return _mm256_unpackhi_epi8(v, _mm256_setzero_si256()); }
  static V pack16(V lo, V hi) { return _mm256_packus_epi16(lo, hi); }
  static V spreadLo(V w) {
    const V both = _mm256_or_si256(w, _mm256_slli_epi32(w, 16));
    return _mm256_unpacklo_epi32(both, both);
  }
  static V spreadHi(V w) {
    const V both = _mm256_or_si256(w, _mm256_slli_epi32(w, 16));
    return _mm256_unpackhi_epi32(both, both);
  }

  // Both halves hold the same 16 source bytes; each half's shuffle spreads
  // its four pixels, level to blue, green and red.
  static V grey(const uint8_t* p) {
    const V bytes =
        _mm256_broadcastsi128_si256(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
    return _mm256_shuffle_epi8(
        bytes, _mm256_setr_epi8(0, 0, 0, -1, 1, 1, 1, -1, 2, 2, 2, -1, 3, 3, 3, -1, 4, 4, 4, -1, 5,
                                5, 5, -1, 6, 6, 6, -1, 7, 7, 7, -1));
  }
  static V greyAlpha(const uint8_t* p) {
    const V bytes =
        _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    return _mm256_shuffle_epi8(
        bytes, _mm256_setr_epi8(0, 0, 0, 1, 2, 2, 2, 3, 4, 4, 4, 5, 6, 6, 6, 7, 8, 8, 8, 9, 10, 10,
                                10, 11, 12, 12, 12, 13, 14, 14, 14, 15));
  }
  // Sampled sources: lanes permuted across the whole vector, and pixels
  // wherever they are.
  static constexpr bool kPermutes = true;
  static V sub32(V a, V b) { return _mm256_sub_epi32(a, b); }
  static V permute(V v, V lanes) { return _mm256_permutevar8x32_epi32(v, lanes); }
  static V greater32(V a, V b) { return _mm256_cmpgt_epi32(a, b); }
  // Per byte: b where `mask` is set, a elsewhere.
  static V select(V mask, V b, V a) { return _mm256_blendv_epi8(a, b, mask); }
  static V reverse(V v) { return permute(v, _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0)); }
  // Eight words from `p`, last first: the halves loaded crosswise, then
  // reversed within each, which is cheaper than a permutation across them.
  static V loadReversed(const uint8_t* p) {
    const V crossed = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), 1);
    return _mm256_shuffle_epi32(crossed, _MM_SHUFFLE(0, 1, 2, 3));
  }
  // Eight loads into one vector: on the processors measured, faster than
  // the gather instruction.
  template <typename Reader>
  static V gather(const uint8_t* row, const size_t* offsets) {
    auto at = [&](int i) { return static_cast<int>(Reader::pixel(row + offsets[i])); };
    return _mm256_setr_epi32(at(0), at(1), at(2), at(3), at(4), at(5), at(6), at(7));
  }

  static V rgb(const uint8_t* p) {
    using Reader = SourceReader<PixelFormat::Rgb>;
    return _mm256_setr_epi32(
        static_cast<int>(Reader::pixel(p)), static_cast<int>(Reader::pixel(p + 3)),
        static_cast<int>(Reader::pixel(p + 6)), static_cast<int>(Reader::pixel(p + 9)),
        static_cast<int>(Reader::pixel(p + 12)), static_cast<int>(Reader::pixel(p + 15)),
        static_cast<int>(Reader::pixel(p + 18)), static_cast<int>(Reader::pixel(p + 21)));
  }
};

#include "nubrik/sprite/simd_loops.inc"

// Rotated drawing's loops, with the few operations they need beyond Vec.
struct AffineVec : Vec {
  static V madd16(V a, V b) { return _mm256_madd_epi16(a, b); }
  static V mullo32(V a, V b) { return _mm256_mullo_epi32(a, b); }
  static bool none(V mask) { return _mm256_testz_si256(mask, mask) != 0; }
  // One pshufb where Vec spreads with three operations.
  static V spreadLo(V w) {
    return _mm256_shuffle_epi8(w, _mm256_setr_epi8(0, 1, 0, 1, 0, 1, 0, 1, 4, 5, 4, 5, 4, 5, 4, 5,
                                                   0, 1, 0, 1, 0, 1, 0, 1, 4, 5, 4, 5, 4, 5, 4, 5));
  }
  static V spreadHi(V w) {
    return _mm256_shuffle_epi8(
        w, _mm256_setr_epi8(8, 9, 8, 9, 8, 9, 8, 9, 12, 13, 12, 13, 12, 13, 12, 13, 8, 9, 8, 9, 8,
                            9, 8, 9, 12, 13, 12, 13, 12, 13, 12, 13));
  }
  template <typename Reader>
  static V gather(const uint8_t* base, V offsets) {
    alignas(32) int32_t at[8];
    _mm256_store_si256(reinterpret_cast<V*>(at), offsets);
    auto pixel = [&](int i) { return static_cast<int>(Reader::pixel(base + at[i])); };
    return _mm256_setr_epi32(pixel(0), pixel(1), pixel(2), pixel(3), pixel(4), pixel(5), pixel(6),
                             pixel(7));
  }
};

#include "nubrik/sprite/affine_loops.inc"

}  // namespace avx2

const LoopTable& avx2Loops() { return avx2::kLoops; }
const AffineLoopTable& avx2AffineLoops() { return avx2::kAffineLoops; }

}  // namespace nubrik::blit

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
