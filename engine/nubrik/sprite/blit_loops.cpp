#include "nubrik/sprite/blit_loops.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>

namespace nubrik::blit {

Area visibleArea(const Rect& bounds, const BandClip* clip, uint32_t targetWidth,
                 uint32_t targetHeight) {
  Area area{bounds.left, bounds.top, bounds.right, bounds.bottom};
  if (clip != nullptr) {
    area = Area{area.left + clip->dx, area.top + clip->dy, area.right + clip->dx,
                area.bottom + clip->dy};
    const Rect& c = clip->clipRect;
    if (!c.isEmpty()) area = area.clippedTo(c.left, c.top, c.right, c.bottom);
  }
  return area.clippedTo(0, 0, targetWidth, targetHeight);
}

namespace {

template <typename Rule>
struct ScalarLoops {
  template <WeightCase Case>
  static void fill(const RowWalk& walk, uint32_t pixel, uint32_t weight) {
    fillLoop<Rule, Case>(walk, pixel, weight);
  }
  template <bool Faded, PixelFormat Format>
  static void image(const RowWalk& walk, uint32_t opacityWeight) {
    imageLoop<Rule, Faded, Format>(walk, opacityWeight);
  }
  template <bool Faded, PixelFormat Format, bool Tinted>
  static void sampled(const SampledWalk& walk, uint32_t opacityWeight) {
    if (!Tinted && walk.kind == SampledColumns::Forward) {
      // Whole source rows at scale 1: the plain image rows.
      const size_t first = walk.columns.at(walk.firstColumn) * walk.columnStride;
      AxisStepper rows(walk.rows, walk.firstRow);
      for (uint32_t y = 0; y < walk.height; ++y) {
        imageRow<Rule, Faded, Format>(walk.target + y * walk.targetPitch,
                                      walk.source + rows.next() * walk.rowStride + first,
                                      walk.width, opacityWeight);
      }
      return;
    }
    sampledLoop<Rule, Faded, Format, Tinted>(walk, opacityWeight);
  }
};

constexpr LoopTable kScalarLoops = makeLoopTable<ScalarLoops>();

}  // namespace

#if NUBRIK_SIMD_X86
const LoopTable& sse2Loops();
const LoopTable& avx2Loops();
const LoopTable& avx512Loops();
#endif

SimdLevel bestSimdLevel() {
#if NUBRIK_SIMD_X86
  // SSE2 is always there on x86-64, not on every 32-bit x86 processor.
  static const SimdLevel best =
      __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
              __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx2")
          ? SimdLevel::Avx512
      : __builtin_cpu_supports("avx2") ? SimdLevel::Avx2
      : __builtin_cpu_supports("sse2") ? SimdLevel::Sse2
                                       : SimdLevel::Scalar;
  return best;
#else
  return SimdLevel::Scalar;
#endif
}

const LoopTable& loopTable(SimdLevel level) {
  if (level > bestSimdLevel()) level = bestSimdLevel();
  switch (level) {
#if NUBRIK_SIMD_X86
    case SimdLevel::Avx512:
      return avx512Loops();
    case SimdLevel::Avx2:
      return avx2Loops();
    case SimdLevel::Sse2:
      return sse2Loops();
#endif
    default:
      return kScalarLoops;
  }
}

namespace {

// NUBRIK_SIMD=scalar (or sse2, avx2) caps the loops used, to compare or to
// rule the vector loops out when hunting a fault.
SimdLevel startLevel() {
  const char* wanted = std::getenv("NUBRIK_SIMD");
  if (wanted != nullptr && std::strcmp(wanted, "scalar") == 0) return SimdLevel::Scalar;
  if (wanted != nullptr && std::strcmp(wanted, "sse2") == 0) return SimdLevel::Sse2;
  if (wanted != nullptr && std::strcmp(wanted, "avx2") == 0) {
    return std::min(SimdLevel::Avx2, bestSimdLevel());
  }
  return bestSimdLevel();
}

std::atomic<const LoopTable*>& activeTable() {
  static std::atomic<const LoopTable*> table{&loopTable(startLevel())};
  return table;
}

}  // namespace

const LoopTable& activeLoops() { return *activeTable().load(std::memory_order_relaxed); }

void setActiveSimdLevel(SimdLevel level) { activeTable().store(&loopTable(level)); }

}  // namespace nubrik::blit
