// The vector loops for processors with AVX-512 (F, BW and VL): sixteen
// pixels per vector, and the partial vectors at the end of a row loaded and
// stored through mask registers. Narrow sprites, whose rows are mostly such
// ends, gain the most. Chosen at run time on processors that have it;
// everything in this file past the includes is compiled for them, and only
// reached through avx512Loops().

#include <immintrin.h>

#include "nubrik/sprite/blit_loops.h"

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2,avx512f,avx512bw,avx512vl"))), \
                             apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2,avx512f,avx512bw,avx512vl")
// GCC 12 takes the undefined vectors inside its own AVX-512 intrinsics
// (broadcasts, permutations) for uninitialised variables.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

namespace nubrik::blit {

namespace avx512 {

struct Vec {
  using V = __m512i;
  static constexpr uint32_t kPixels = 16;

  static V zero() { return _mm512_setzero_si512(); }
  static V set32(uint32_t v) { return _mm512_set1_epi32(static_cast<int>(v)); }
  static V set16(uint32_t v) { return _mm512_set1_epi16(static_cast<short>(v)); }
  static V load(const uint8_t* p) { return _mm512_loadu_si512(p); }
  static void store(uint8_t* p, V v) { _mm512_storeu_si512(p, v); }

  static V and_(V a, V b) { return _mm512_and_si512(a, b); }
  static V or_(V a, V b) { return _mm512_or_si512(a, b); }
  static V xor_(V a, V b) { return _mm512_xor_si512(a, b); }
  static V andnot(V a, V b) { return _mm512_andnot_si512(a, b); }
  static V add8(V a, V b) { return _mm512_add_epi8(a, b); }
  static V adds8(V a, V b) { return _mm512_adds_epu8(a, b); }
  static V sub8(V a, V b) { return _mm512_sub_epi8(a, b); }
  static V subs8(V a, V b) { return _mm512_subs_epu8(a, b); }
  static V min8(V a, V b) { return _mm512_min_epu8(a, b); }
  static V max8(V a, V b) { return _mm512_max_epu8(a, b); }
  static V cmpeq8(V a, V b) { return _mm512_movm_epi8(_mm512_cmpeq_epi8_mask(a, b)); }
  static V add16(V a, V b) { return _mm512_add_epi16(a, b); }
  static V sub16(V a, V b) { return _mm512_sub_epi16(a, b); }
  static V mullo16(V a, V b) { return _mm512_mullo_epi16(a, b); }
  static V mulhi16(V a, V b) { return _mm512_mulhi_epu16(a, b); }
  static V cmpeq16(V a, V b) { return _mm512_movm_epi16(_mm512_cmpeq_epi16_mask(a, b)); }
  static V srl16by8(V a) { return _mm512_srli_epi16(a, 8); }
  static V sll16by8(V a) { return _mm512_slli_epi16(a, 8); }
  static V add32(V a, V b) { return _mm512_add_epi32(a, b); }
  static V sub32(V a, V b) { return _mm512_sub_epi32(a, b); }
  template <int N>
  static V srl32(V a) {
    return _mm512_srli_epi32(a, N);
  }
  static bool allEqual32(V a, V b) { return _mm512_cmpeq_epi32_mask(a, b) == 0xFFFF; }

  // The first `bytes` bytes at `p` (at most 64), the rest 0; not a byte
  // beyond is read.
  static V loadBytes(const uint8_t* p, uint32_t bytes) {
    const __mmask64 mask = bytes >= 64 ? ~__mmask64{0} : (__mmask64{1} << bytes) - 1;
    return _mm512_maskz_loadu_epi8(mask, p);
  }
  static void storeFirst(uint8_t* p, V v, uint32_t words) {
    _mm512_mask_storeu_epi32(p, static_cast<__mmask16>((1u << words) - 1), v);
  }

  // Whether every pixel's alpha byte is 0, or every one is 255.
  static bool noAlpha(V s) { return _mm512_test_epi32_mask(s, set32(0xFF000000u)) == 0; }
  static bool fullAlpha(V s) {
    return _mm512_cmpeq_epi32_mask(_mm512_and_si512(s, set32(0xFF000000u)), set32(0xFF000000u)) ==
           0xFFFF;
  }
  // Each pixel's alpha in both of its 16-bit lanes.
  static V alphaPairs(V s) {
    return _mm512_shuffle_epi8(s, _mm512_broadcast_i32x4(_mm_setr_epi8(
                                      3, -1, 3, -1, 7, -1, 7, -1, 11, -1, 11, -1, 15, -1, 15, -1)));
  }

  // Within each 128-bit quarter, as the unpacks work: pixels 0, 1, 4, 5, 8,
  // 9, 12, 13 (lo) and the others (hi); pack16 puts them back in order.
  static V lo16(V v) { return _mm512_unpacklo_epi8(v, _mm512_setzero_si512()); }
  static V hi16(V v) { return _mm512_unpackhi_epi8(v, _mm512_setzero_si512()); }
  static V pack16(V lo, V hi) { return _mm512_packus_epi16(lo, hi); }
  static V spreadLo(V w) {
    const V both = _mm512_or_si512(w, _mm512_slli_epi32(w, 16));
    return _mm512_unpacklo_epi32(both, both);
  }
  static V spreadHi(V w) {
    const V both = _mm512_or_si512(w, _mm512_slli_epi32(w, 16));
    return _mm512_unpackhi_epi32(both, both);
  }

  // Sixteen levels, widened to a pixel each and copied into blue, green
  // and red.
  static V grey(const uint8_t* p) {
    return spreadLevels(_mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))));
  }
  static V spreadLevels(V level) {
    return _mm512_or_si512(_mm512_or_si512(level, _mm512_slli_epi32(level, 8)),
                           _mm512_slli_epi32(level, 16));
  }
  // Sixteen level and alpha pairs, widened to a pixel each, then spread.
  static V greyAlpha(const uint8_t* p) {
    return spreadPairs(
        _mm512_cvtepu16_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p))));
  }
  static V spreadPairs(V pairs) {
    return _mm512_shuffle_epi8(pairs, _mm512_broadcast_i32x4(_mm_setr_epi8(
                                          0, 0, 0, 1, 4, 4, 4, 5, 8, 8, 8, 9, 12, 12, 12, 13)));
  }
  // Sixteen three-byte pixels: each quarter takes its twelve bytes, then
  // spreads them.
  static V rgb(const uint8_t* p) {
    return spreadTriples(_mm512_maskz_loadu_epi8((__mmask64{1} << 48) - 1, p));
  }
  static V spreadTriples(V bytes) {
    const V quarters = _mm512_permutexvar_epi32(
        _mm512_setr_epi32(0, 1, 2, 0, 3, 4, 5, 0, 6, 7, 8, 0, 9, 10, 11, 0), bytes);
    return _mm512_shuffle_epi8(
        quarters, _mm512_broadcast_i32x4(
                      _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1)));
  }

  // Sampled sources: lanes permuted across the whole vector, and pixels
  // wherever they are.
  static constexpr bool kPermutes = true;
  static V permute(V v, V lanes) { return _mm512_permutexvar_epi32(lanes, v); }
  static V greater32(V a, V b) {
    return _mm512_maskz_mov_epi32(_mm512_cmpgt_epi32_mask(a, b), _mm512_set1_epi32(-1));
  }
  // Per byte: b where `mask` is set, a elsewhere.
  static V select(V mask, V b, V a) {
    return _mm512_mask_blend_epi8(_mm512_movepi8_mask(mask), a, b);
  }
  static V reverse(V v) {
    return permute(v, _mm512_setr_epi32(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0));
  }
  static V loadReversed(const uint8_t* p) { return reverse(load(p)); }
  template <typename Reader>
  static V gather(const uint8_t* row, const size_t* offsets) {
    auto at = [&](int i) { return static_cast<int>(Reader::pixel(row + offsets[i])); };
    return _mm512_setr_epi32(at(0), at(1), at(2), at(3), at(4), at(5), at(6), at(7), at(8), at(9),
                             at(10), at(11), at(12), at(13), at(14), at(15));
  }

  // The first `pixels` (fewer than kPixels) source pixels of a layout at
  // `p`, as loadSource reads whole vectors; not a byte beyond is read.
  template <PixelFormat Format>
  static V loadFirst(const uint8_t* p, uint32_t pixels) {
    const auto mask = static_cast<__mmask16>((1u << pixels) - 1);
    if constexpr (Format == PixelFormat::Grey) {
      return spreadLevels(_mm512_cvtepu8_epi32(_mm_maskz_loadu_epi8(mask, p)));
    } else if constexpr (Format == PixelFormat::GreyAlpha) {
      return spreadPairs(_mm512_cvtepu16_epi32(_mm256_maskz_loadu_epi16(mask, p)));
    } else if constexpr (Format == PixelFormat::Rgb) {
      return spreadTriples(_mm512_maskz_loadu_epi8((__mmask64{1} << (3 * pixels)) - 1, p));
    } else {
      return _mm512_maskz_loadu_epi32(mask, p);
    }
  }
};

#include "nubrik/sprite/simd_loops.inc"

}  // namespace avx512

const LoopTable& avx512Loops() { return avx512::kLoops; }

}  // namespace nubrik::blit

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC diagnostic pop
#pragma GCC pop_options
#endif
