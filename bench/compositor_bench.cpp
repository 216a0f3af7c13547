// drawBand over every band of an 800 x 600 surface holding a scene of the
// demonstration's shape, with and without skipping commands that miss the
// band. Rates are in composed pixels per second.

#include <benchmark/benchmark.h>

#include <cstring>

#include "bench/demo_scene.h"
#include "nubrik/image/memory_helper.h"
#include "nubrik/sprite/blit_loops.h"

namespace {

using namespace nubrik;

constexpr uint32_t kWidth = 800, kHeight = 600;

void composeAllBands(benchmark::State& state, bool culling, blit::SimdLevel level) {
  blit::setActiveSimdLevel(level);
  auto manager = std::make_shared<SpriteManager>();
  auto drawer = std::make_shared<SpriteDrawer>(kWidth, kHeight, 65536 / (kWidth * 4), manager);
  drawer->setCulling(culling);
  auto add = [&](std::shared_ptr<ISprite> s) {
    manager->addSprite(s);
    return s;
  };
  bench::buildDemoScene(
      kWidth, kHeight,
      [&](int32_t id, Rect r, int32_t z, Colour c) {
        return add(std::make_shared<FillRectSprite>(manager, drawer, id, r, z, c));
      },
      [&](int32_t id, int32_t x, int32_t y, int32_t z, std::shared_ptr<Image> image) {
        return add(std::make_shared<ImageSprite>(manager, drawer, id, x, y, z, image));
      });
  auto bytes = MemoryHelper::allocate(size_t{kWidth} * 4 * drawer->getBandHeight());
  Image band(kWidth, drawer->getBandHeight(), kWidth * 4, bytes);

  drawer->invalidateRect({});
  drawer->prepareFrame();
  for (auto _ : state) {
    for (uint32_t b = 0; b < drawer->getBandCount(); ++b) drawer->drawBand(b, band);
    benchmark::ClobberMemory();
  }
  drawer->finishFrame();
  state.SetItemsProcessed(state.iterations() * int64_t{kWidth} * kHeight);
}

const auto kBest = blit::bestSimdLevel();
const auto kScalar = blit::SimdLevel::Scalar;
BENCHMARK_CAPTURE(composeAllBands, every command, false, kBest)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(composeAllBands, culled, true, kBest)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(composeAllBands, every command scalar, false, kScalar)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(composeAllBands, culled scalar, true, kScalar)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
