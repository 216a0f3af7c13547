// What a registered sprite costs, and what the registry's operations cost at
// scale: the heap bytes one sprite adds (the sprite, its handle, its slot in
// the registry, its kept command and its places in the sprite index, the
// image aside), removals among a million sprites, and preparing a frame in
// which twenty sprites moved among ten thousand and among a hundred
// thousand (the rest standing still), or moved and changed z-order, with
// nothing presented.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <random>
#include <vector>

#include "nubrik/screen/screen.h"
#include "nubrik/screen/screen_internals.h"
#include "nubrik/screen/sprite_drawer.h"

namespace {

// Every heap byte the program holds, counted by the allocation functions
// below.
std::atomic<int64_t> liveBytes{0};

}  // namespace

void* operator new(std::size_t size) {
  void* p = std::malloc(size + 16);
  if (p == nullptr) throw std::bad_alloc();
  *static_cast<std::size_t*>(p) = size;
  liveBytes += static_cast<int64_t>(size);
  return static_cast<char*>(p) + 16;
}
void operator delete(void* p) noexcept {
  if (p == nullptr) return;
  void* block = static_cast<char*>(p) - 16;
  liveBytes -= static_cast<int64_t>(*static_cast<std::size_t*>(block));
  std::free(block);
}
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete[](void* p) noexcept { operator delete(p); }
void operator delete[](void* p, std::size_t) noexcept { operator delete(p); }

namespace {

using namespace nubrik;

std::shared_ptr<Image> flake() {
  auto image = std::make_shared<Image>(9, 9, PixelFormat::GreyAlpha);
  std::fill_n(image->lock(), size_t{image->getPitch()} * 9, uint8_t{200});
  return image;
}

// Sprites scattered over a surface, each shown and reported, and one frame
// prepared so that every command is kept and listed.
struct Scattered {
  Screen screen;
  std::vector<std::shared_ptr<ImageSprite>> sprites;

  Scattered(uint32_t width, uint32_t height, size_t count) : screen(nullptr, width, height) {
    std::mt19937 random(3);
    const auto image = flake();
    sprites.reserve(count);
    for (size_t i = 0; i < count; ++i) {
      auto sprite = screen.createImageSprite(static_cast<int32_t>(i), random() % width,
                                             random() % height, 500, image);
      sprite->show();
      sprite->invalidate();
      sprites.push_back(std::move(sprite));
    }
    frame();
  }

  void frame() {
    SpriteDrawer& drawer = *ScreenInternals::spriteDrawer(screen);
    drawer.prepareFrame();
    drawer.finishFrame();
  }
};

void bytesPerSprite(benchmark::State& state) {
  const auto count = static_cast<size_t>(state.range(0));
  double perSprite = 0;
  for (auto _ : state) {
    const int64_t before = liveBytes.load();
    Scattered scene(3840, 2160, count);
    // The program's own list of handles is not the engine's.
    const int64_t handles =
        static_cast<int64_t>(scene.sprites.capacity() * sizeof(scene.sprites[0]));
    perSprite =
        static_cast<double>(liveBytes.load() - before - handles) / static_cast<double>(count);
  }
  state.counters["bytes_per_sprite"] = perSprite;
  std::printf("bytes per registered sprite (%zu sprites): %.1f\n", count, perSprite);
}

void removals(benchmark::State& state) {
  const auto count = static_cast<size_t>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    auto scene = std::make_unique<Scattered>(3840, 2160, count);
    std::shuffle(scene->sprites.begin(), scene->sprites.end(), std::mt19937(5));
    state.ResumeTiming();
    for (size_t i = 0; i < count / 5; ++i) scene->screen.removeSprite(scene->sprites[i]);
    scene->frame();
    state.PauseTiming();  // not the teardown
    scene.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(count / 5));
}

// Twenty sprites moved by a pixel every frame; with `reorder`, each also
// changes z-order, so that the area composed is the same either way.
void twenty(benchmark::State& state, bool reorder) {
  const auto count = static_cast<size_t>(state.range(0));
  const uint32_t width = count > 20'000 ? 3840 : 1920, height = count > 20'000 ? 2160 : 1080;
  Scattered scene(width, height, count);
  int step = 1;
  for (auto _ : state) {
    for (size_t i = 0; i < 20; ++i) {
      ImageSprite& s = *scene.sprites[i * 997 % count];
      s.invalidate();
      s.setPosition(s.getX() + step, s.getY());
      if (reorder) s.setZOrder(500 + step * static_cast<int32_t>(i + 1));
      s.invalidate();
    }
    step = -step;
    scene.frame();
  }
}

void twentyMoved(benchmark::State& state) { twenty(state, false); }
void twentyReordered(benchmark::State& state) { twenty(state, true); }

}  // namespace

BENCHMARK(bytesPerSprite)->Arg(100'000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(removals)->Arg(1'000'000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(twentyMoved)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMicrosecond);
BENCHMARK(twentyReordered)->Arg(100'000)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
