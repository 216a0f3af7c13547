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

#include "nubrik/sprite/avx2_vec.inc"

using Vec = Avx2Vec;

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
