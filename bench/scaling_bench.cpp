// Integer pixel scaling of a 320 x 240 surface, as a window at scale k
// presents a whole frame: the fast path, the plain loop, and a memcpy of
// the same destination bytes (what writing them costs at the least).

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "nubrik/window/pixel_scaling.h"

namespace {

constexpr uint32_t kWidth = 320, kHeight = 240;

struct Frame {
  std::vector<uint8_t> src, dst, copy;
  explicit Frame(uint32_t k)
      : src(size_t{kWidth} * kHeight * 4), dst(src.size() * k * k), copy(dst.size()) {
    std::mt19937 random(1);
    for (uint8_t& b : src) b = static_cast<uint8_t>(random());
  }
};

template <bool Fast>
void scale(benchmark::State& state) {
  const auto k = static_cast<uint32_t>(state.range(0));
  Frame f(k);
  for (auto _ : state) {
    if (Fast) {
      nubrik::scalePixels(f.src.data(), kWidth * 4, kWidth, kHeight, k, f.dst.data(),
                          size_t{kWidth} * k * 4);
    } else {
      nubrik::scalePixelsPlain(f.src.data(), kWidth * 4, kWidth, kHeight, k, f.dst.data(),
                               size_t{kWidth} * k * 4);
    }
    benchmark::DoNotOptimize(f.dst.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.dst.size()));
}

void copyBound(benchmark::State& state) {
  Frame f(static_cast<uint32_t>(state.range(0)));
  std::memset(f.copy.data(), 1, f.copy.size());
  for (auto _ : state) {
    std::memcpy(f.dst.data(), f.copy.data(), f.dst.size());
    benchmark::DoNotOptimize(f.dst.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.dst.size()));
}

}  // namespace

// Interleaved by scale, so that the three ways meet the same machine; run
// with --benchmark_repetitions and read the medians.
int main(int argc, char** argv) {
  for (const int k : {1, 2, 3, 4, 8}) {
    char name[3][16];
    std::snprintf(name[0], sizeof name[0], "fast/%d", k);
    std::snprintf(name[1], sizeof name[1], "plain/%d", k);
    std::snprintf(name[2], sizeof name[2], "memcpy/%d", k);
    benchmark::RegisterBenchmark(name[0], scale<true>)->Arg(k);
    benchmark::RegisterBenchmark(name[1], scale<false>)->Arg(k);
    benchmark::RegisterBenchmark(name[2], copyBound)->Arg(k);
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
