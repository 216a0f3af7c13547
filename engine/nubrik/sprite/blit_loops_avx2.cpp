// The vector loops for AVX2: eight pixels per vector. Chosen at run time on
// processors that have it; everything in this file past the includes is
// compiled for AVX2, and only reached through avx2Loops().

#include <immintrin.h>

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

}  // namespace avx2

const LoopTable& avx2Loops() { return avx2::kLoops; }

}  // namespace nubrik::blit

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
