// Text: drawing a text sprite (its glyphs, rendered once from the font's
// cache) against drawing a GreyAlpha image of the same pixels; rendering it
// again from the cached glyphs; and a frame that changes a 10-character
// score on the still 800 x 600 demonstration scene against a full frame and
// against a frame that redraws a single pixel (the compositor's floor).
// Each pair is interleaved in one loop; rows report medians and the ratio.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/demo_layout.h"
#include "nubrik/base/event.h"
#include "nubrik/image/pixel_lock.h"
#include "nubrik/screen/screen.h"
#include "nubrik/screen/screen_internals.h"
#include "nubrik/screen/sprite_drawer.h"
#include "nubrik/sprite/draw_command.h"
#include "nubrik/sprite/image_blitters.h"
#include "nubrik/sprite/sprite_factory.h"
#include "nubrik/sprite/sprite_owners.h"
#include "nubrik/window/memory_window.h"

namespace {

using namespace nubrik;
using Clock = std::chrono::steady_clock;

const std::string kFont = NUBRIK_RUN_DIR "/DejaVuSans.ttf";

double median(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  return samples.empty() ? 0 : samples[samples.size() / 2];
}

template <typename Body>
double nanoseconds(Body body) {
  const auto start = Clock::now();
  body();
  return std::chrono::duration<double, std::nano>(Clock::now() - start).count();
}

std::string score(uint64_t n) {
  char text[16];
  std::snprintf(text, sizeof text, "%010llu", static_cast<unsigned long long>(n));
  return text;
}

// Per pixel, for a 10-digit score: the text sprite's draw command into a
// target of its size, and a GreyAlpha image with the same coverage and
// colour drawn there instead; and the text rendered again (a new score).
void drawBench(benchmark::State& state, uint32_t pixelSize, Colour colour) {
  const auto font = Font::fromFile(kFont);
  const auto held =
      makeSprite<TextSprite>(std::weak_ptr<IOrderTarget>(), std::weak_ptr<IRedrawTarget>(), 0, 0, 0,
                             0, font, pixelSize, score(0), colour);
  TextSprite& sprite = *held;
  const uint32_t w = sprite.getImage()->getWidth(), h = sprite.getImage()->getHeight();
  // The same alphas as the text's, at level 30.
  Image grey(w, h, PixelFormat::GreyAlpha);
  const auto copyAlphas = [&] {
    const IImage& text = *sprite.getImage();
    ConstPixelLock from(text);
    PixelLock to(grey);
    const size_t size = bytesPerPixel(text.getPixelFormat());  // alpha last
    for (size_t i = 0; i < size_t{w} * h; ++i) {
      to.pixels()[2 * i] = 30;
      to.pixels()[2 * i + 1] = from.pixels()[size * i + size - 1];
    }
  };
  copyAlphas();
  Image target(w, h, PixelFormat::Rgbx);
  {
    PixelLock lock(target);
    std::fill_n(lock.pixels(), size_t{target.getPitch()} * h, uint8_t{200});
  }
  const BandClip clip{};
  const Rect at{0, 0, int32_t(w), int32_t(h)};
  const double pixels = double(w) * h;
  std::vector<double> glyphs, greyAlpha, rendering;
  uint64_t n = 0;
  for (auto _ : state) {
    // Taken afresh: a new text is a new image.
    DrawCommand c = SpriteCommands::of(sprite);
    c.bounds = at;
    const auto drawText = [&] {
      glyphs.push_back(nanoseconds([&] { drawCommand(target, clip, c); }) / pixels);
    };
    const auto drawGrey = [&] {
      greyAlpha.push_back(nanoseconds([&] {
                            drawImage(grey, {0, 0}, nullptr, target, BlendMode::Normal, at, 255);
                          }) /
                          pixels);
    };
    // Each goes first every other time: the first one meets the caches the
    // rendering left.
    if (n % 2 == 0) {
      drawText();
      drawGrey();
    } else {
      drawGrey();
      drawText();
    }
    rendering.push_back(nanoseconds([&] { sprite.setText(score(n += 7)); }) / pixels);
    copyAlphas();  // a score of the same width: the same size
    benchmark::ClobberMemory();
  }
  state.counters["text_ns_px"] = median(glyphs);
  state.counters["greyalpha_ns_px"] = median(greyAlpha);
  state.counters["text/greyalpha"] = median(glyphs) / median(greyAlpha);
  state.counters["render_ns_px"] = median(rendering);
  state.counters["render_us"] = median(rendering) * pixels / 1000;
  state.counters["pixels"] = pixels;
}

// The demonstration's picture standing still, with a score above it.
struct ScoreScene {
  MemoryWindow window{800, 600};
  Screen screen{window.getDC(), 800, 600};
  DemoPictures pictures = loadDemoPictures(NUBRIK_RUN_DIR);
  std::shared_ptr<TextSprite> scoreSprite;
  Event frameDone;
  uint64_t seen = 0;
  uint64_t points = 0;

  explicit ScoreScene(std::optional<uint32_t> workers) {
    screen.setWorkerCount(workers);
    std::thread([&] { buildDemoLayout(screen, pictures); }).join();
    scoreSprite = screen.createTextSprite(7, 600, 20, 10'000, Font::fromFile(kFont), 24, score(0),
                                          Colour{PixelFormat::Rgb, {0, 0, 0}});
    scoreSprite->show();
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
  ~ScoreScene() { screen.stopFrameThread(); }

  double waitForFrame() {
    frameDone.wait();
    frameDone.reset();
    return screen.getLastFrameMilliseconds();
  }
  double fullFrame() {
    screen.invalidateAll();  // takes the scene lock
    return waitForFrame();
  }
  // A frame that redraws one pixel: what any frame costs this compositor.
  double pixelFrame() {
    {
      std::lock_guard lock(screen.getSceneLock());
      ScreenInternals::spriteDrawer(screen)->invalidateRect(Rect{400, 300, 401, 301});
    }
    return waitForFrame();
  }
  // The frame's own time, and the time the new text took to render.
  std::pair<double, double> scoreFrame() {
    double renderMs;
    {
      std::lock_guard lock(screen.getSceneLock());
      scoreSprite->invalidate();
      renderMs = nanoseconds([&] { scoreSprite->setText(score(points += 7)); }) / 1e6;
      scoreSprite->invalidate();
    }
    return {waitForFrame(), renderMs};
  }
};

void scoreBench(benchmark::State& state, std::optional<uint32_t> workers) {
  ScoreScene scene(workers);
  std::vector<double> full, change, render, both, pixel;
  for (auto _ : state) {
    full.push_back(scene.fullFrame());
    pixel.push_back(scene.pixelFrame());
    const auto [frame, rendering] = scene.scoreFrame();
    change.push_back(frame);
    render.push_back(rendering);
    both.push_back(frame + rendering);
  }
  state.counters["full_ms"] = median(full);
  state.counters["score_ms"] = median(change);
  state.counters["render_ms"] = median(render);
  state.counters["score/full"] = median(change) / median(full);
  state.counters["(score+render)/full"] = median(both) / median(full);
  state.counters["pixel_ms"] = median(pixel);
  state.counters["pixel/full"] = median(pixel) / median(full);
}

}  // namespace

int main(int argc, char** argv) {
  // A grey text is drawn from a GreyAlpha image, a coloured one from Rgba.
  const struct {
    const char* name;
    Colour colour;
  } colours[] = {{"grey", Colour{PixelFormat::Grey, {30}}},
                 {"coloured", Colour{PixelFormat::Rgb, {30, 90, 200}}}};
  for (const auto& c : colours) {
    for (const uint32_t size : {16u, 24u, 48u}) {
      const std::string name =
          std::string(c.name) + " text sprite vs GreyAlpha image/" + std::to_string(size) + " px";
      benchmark::RegisterBenchmark(name.c_str(), drawBench, size, c.colour);
    }
  }
  benchmark::RegisterBenchmark("score change vs full frame/800x600, 1 worker", scoreBench, 1u);
  benchmark::RegisterBenchmark("score change vs full frame/800x600, worker per processor",
                               scoreBench, std::nullopt);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
