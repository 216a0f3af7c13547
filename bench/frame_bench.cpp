// The demonstration-shaped scene through the real frame pipeline onto an
// in-memory window: one full frame (every band dirty) with one worker and
// with one per logical processor, and one animation frame (every flake moved
// by a pixel, back and forth). Times are the frame thread's own measure of composing and
// presenting one frame.

#include <benchmark/benchmark.h>

#include <mutex>

#include "bench/demo_scene.h"
#include "nubrik/base/event.h"
#include "nubrik/screen/memory_window.h"
#include "nubrik/screen/screen.h"
#include "nubrik/sprite/blit_loops.h"

namespace {

using namespace nubrik;

constexpr uint32_t kWidth = 800, kHeight = 600;

struct Pipeline {
  MemoryWindow window{kWidth, kHeight};
  Screen screen{window.getDC(), kWidth, kHeight};
  std::vector<std::shared_ptr<ISprite>> flakes;
  Event frameDone;
  uint64_t seen = 0;

  explicit Pipeline(std::optional<uint32_t> workers) {
    screen.setWorkerCount(workers);
    flakes = bench::buildDemoScene(
        kWidth, kHeight,
        [&](int32_t id, Rect r, int32_t z, Colour c) {
          return std::shared_ptr<ISprite>(screen.createFillRectSprite(id, r, z, c));
        },
        [&](int32_t id, int32_t x, int32_t y, int32_t z, std::shared_ptr<Image> image) {
          return std::shared_ptr<ISprite>(screen.createImageSprite(id, x, y, z, image));
        });
    screen.addFrameCallback([this](Screen& s) {
      if (s.getComposedFrameCount() != seen) {
        seen = s.getComposedFrameCount();
        frameDone.set();
      }
      return false;
    });
    screen.startFrameThread();
    waitForFrame();
  }

  double waitForFrame() {
    frameDone.wait();
    frameDone.reset();
    return screen.getLastFrameMilliseconds();
  }
};

void fullFrame(benchmark::State& state, std::optional<uint32_t> workers, blit::SimdLevel level) {
  blit::setActiveSimdLevel(level);
  Pipeline pipeline(workers);
  for (auto _ : state) {
    pipeline.screen.invalidateAll();
    state.SetIterationTime(pipeline.waitForFrame() / 1000);
  }
  pipeline.screen.stopFrameThread();
}

void animationFrame(benchmark::State& state, std::optional<uint32_t> workers,
                    blit::SimdLevel level) {
  blit::setActiveSimdLevel(level);
  Pipeline pipeline(workers);
  int step = 1;
  for (auto _ : state) {
    {
      std::lock_guard lock(pipeline.screen.getSceneLock());
      for (auto& flake : pipeline.flakes) {
        flake->invalidate();
        flake->setPosition(flake->getX() + step, flake->getY() + step);
        flake->invalidate();
      }
      step = -step;
    }
    state.SetIterationTime(pipeline.waitForFrame() / 1000);
  }
  pipeline.screen.stopFrameThread();
}

}  // namespace

int main(int argc, char** argv) {
  // The blitters the processor runs best, and the plain scalar ones for comparison.
  const auto best = blit::bestSimdLevel(), scalar = blit::SimdLevel::Scalar;
  const std::optional<uint32_t> one = 1u, perProcessor = std::nullopt;
  using Run = void (*)(benchmark::State&, std::optional<uint32_t>, blit::SimdLevel);
  const struct {
    const char* name;
    Run run;
    std::optional<uint32_t> workers;
    blit::SimdLevel level;
  } cases[] = {
      {"fullFrame/1 worker", fullFrame, one, best},
      {"fullFrame/worker per processor", fullFrame, perProcessor, best},
      {"fullFrame/worker per processor scalar", fullFrame, perProcessor, scalar},
      {"animationFrame/1 worker", animationFrame, one, best},
      {"animationFrame/worker per processor", animationFrame, perProcessor, best},
      {"animationFrame/worker per processor scalar", animationFrame, perProcessor, scalar},
  };
  for (const auto& c : cases) {
    benchmark::RegisterBenchmark(c.name, c.run, c.workers, c.level)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
