// The vector loops for processors with AVX-512 (F, BW and VL): the AVX2
// loops, eight pixels per vector, whose partial loads and stores at the end
// of a row use mask registers instead of assembling the pixels. Narrow
// sprites, whose rows are mostly such ends, gain the most. Chosen at run
// time on processors that have it; everything in this file past the
// includes is compiled for them, and only reached through avx512Loops().

#include <immintrin.h>

#include "nubrik/sprite/blit_loops.h"

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2,avx512f,avx512bw,avx512vl"))), \
                             apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2,avx512f,avx512bw,avx512vl")
#endif

namespace nubrik::blit {

namespace avx512 {

#include "nubrik/sprite/avx2_vec.inc"

struct Vec : Avx2Vec {
  // The first `bytes` bytes at `p` (at most 32), the rest 0; not a byte
  // beyond is read.
  static V loadBytes(const uint8_t* p, uint32_t bytes) {
    return _mm256_maskz_loadu_epi8(static_cast<__mmask32>(bytes >= 32 ? ~0u : (1u << bytes) - 1),
                                   p);
  }
  static void storeFirst(uint8_t* p, V v, uint32_t words) {
    _mm256_mask_storeu_epi32(p, static_cast<__mmask8>((1u << words) - 1), v);
  }
};

#include "nubrik/sprite/simd_loops.inc"

}  // namespace avx512

const LoopTable& avx512Loops() { return avx512::kLoops; }

}  // namespace nubrik::blit

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
