// The demonstration's picture through the whole frame pipeline onto an
// in-memory window, against the code a user would write instead (pixman on
// one thread, redrawing every sprite every frame) and against the bound of
// touching every pixel once (memset of the frame), all in one run.
//
// Two sizes: 800 x 600 with the demonstration's 953 sprites, and 1920 x 1080
// with 10,000 flakes. Three kinds of frame: everything redrawn, every flake
// moved by one pixel, twenty of the 64 x 48 pictures moved by one pixel.
// Screen times are the frame thread's own measure of composing and
// presenting one frame; a summary of medians and ratios closes the run.
//
// The compare/ rows put, in interleaved rounds, the Screen with one and N
// threads beside the composition alone (drawBand on one thread, and split
// statically between N spinning threads: the machine's bound for this work)
// and pixman, with the ratios as counters. The composition alone is measured
// twice: into band images, which stay in the cache, and into the window's
// rows, as the Screen composes (in place, or streaming wide bands as the
// pipeline may): with prepareFrame, the latter bound the Screen.

#include <benchmark/benchmark.h>
#include <pixman.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/demo_layout.h"
#include "app/sprite_rules.h"
#include "nubrik/base/event.h"
#include "nubrik/image/memory_helper.h"
#include "nubrik/image/pixel_lock.h"
#include "nubrik/image/streamed_copy.h"
#include "nubrik/screen/band_damage.h"
#include "nubrik/screen/screen.h"
#include "nubrik/screen/sprite_drawer.h"
#include "nubrik/sprite/blit_loops.h"
#include "nubrik/window/memory_window.h"

namespace {

using namespace nubrik;

struct Size {
  const char* name;
  uint32_t width;
  uint32_t height;
  int32_t flakes;
};
constexpr Size kSizes[] = {{"800x600", 800, 600, 900}, {"1920x1080", 1920, 1080, 10000}};

enum class Change { Everything, Flakes, Pictures };
const char* const kChangeNames[] = {"full frame", "every flake moved", "20 pictures moved"};

const DemoPictures& pictures() {
  static const DemoPictures loaded = loadDemoPictures(NUBRIK_RUN_DIR);
  return loaded;
}

// The layout on a Screen bound to an in-memory window; built on a fresh
// thread so that every instance draws the same random positions.
struct DemoScreen {
  MemorySurface window;
  Screen screen;
  std::vector<Snowflake> flakes;
  std::vector<std::shared_ptr<ISprite>> movingPictures;
  Event frameDone;
  uint64_t seen = 0;
  int step = 1;

  // `lends`: composed in place in the window's memory, or in band images
  // copied there.
  DemoScreen(const Size& size, std::optional<uint32_t> workers, bool lends = true)
      : window(size.width, size.height, lends), screen(&window, size.width, size.height) {
    screen.setWorkerCount(workers);
    std::thread([&] { flakes = buildDemoLayout(screen, pictures(), size.flakes); }).join();
    for (int32_t id = 11; id < 31; ++id) {
      movingPictures.push_back(screen.getSpriteManager()->findSprite(id));
    }
    screen.addFrameCallback([this](Screen& s) {
      if (s.getComposedFrameCount() != seen) {
        seen = s.getComposedFrameCount();
        frameDone.set();
      }
      return false;
    });
  }

  void start() {
    screen.startFrameThread();
    waitForFrame();
  }

  double waitForFrame() {
    frameDone.wait();
    frameDone.reset();
    return screen.getLastFrameMilliseconds();
  }

  double frame(Change change) {
    apply(change);
    return waitForFrame();
  }

  void apply(Change change) {
    {
      std::lock_guard lock(screen.getSceneLock());
      switch (change) {
        case Change::Everything:
          screen.invalidateAll();
          break;
        case Change::Flakes:
          for (const Snowflake& flake : flakes) {
            moveSprite(*flake.sprite, flake.sprite->getX() + step, flake.sprite->getY() + step);
          }
          break;
        case Change::Pictures:
          for (const auto& sprite : movingPictures) {
            moveSprite(*sprite, sprite->getX() + step, sprite->getY());
          }
          break;
      }
      step = -step;
    }
  }
};

// The composition alone, with no pipeline around it: drawBand over a
// frame's bands on the calling thread, or split statically (band i to
// thread i % n) between n threads that spin between frames, so that no
// waking is paid. What the machine gives for this work, measured beside the
// Screen in the same rounds. Bands go to band images, which stay in the
// cache, or (given a window) straight into the window's rows, as the Screen
// composes them.
class BareComposition {
 public:
  BareComposition(SpriteDrawer& drawer, uint32_t threads, const MemorySurface* window = nullptr,
                  bool stream = false)
      : drawer_(drawer), threads_(threads), window_(window), stream_(stream) {
    for (uint32_t t = 0; t < threads; ++t) {
      const uint32_t pitch = drawer.getWidth() * 4;
      images_.push_back(
          std::make_unique<Image>(drawer.getWidth(), drawer.getBandHeight(), pitch,
                                  MemoryHelper::allocate(size_t{pitch} * drawer.getBandHeight())));
    }
    for (uint32_t t = 1; t < threads; ++t) helpers_.emplace_back([this, t] { spin(t); });
  }
  ~BareComposition() {
    stop_ = true;
    for (auto& helper : helpers_) helper.join();
  }

  // Composes what is marked; returns the milliseconds, and those of
  // preparing the frame in `prepareMs`.
  double frame(double* prepareMs = nullptr) {
    const auto prepared = std::chrono::steady_clock::now();
    drawer_.prepareFrame();
    const auto start = std::chrono::steady_clock::now();
    if (prepareMs) *prepareMs = std::chrono::duration<double, std::milli>(start - prepared).count();
    go_.fetch_add(1, std::memory_order_release);
    composeShare(0);
    for (int spins = 0; done_.load(std::memory_order_acquire) != threads_ - 1; ++spins) {
      // A helper the host took away is let back in rather than spun against.
      if (spins > 4096) std::this_thread::yield();
    }
    done_.store(0, std::memory_order_relaxed);
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    drawer_.finishFrame();
    return ms;
  }

 private:
  void composeShare(uint32_t t) {
    const std::vector<uint32_t>& bands = drawer_.getDirtyBands();
    for (size_t i = t; i < bands.size(); i += threads_) {
      if (window_ == nullptr) {
        drawer_.drawBand(bands[i], *images_[t]);
        continue;
      }
      const Image& frame = window_->getFramebuffer();
      const uint32_t top = bands[i] * drawer_.getBandHeight();
      const uint32_t rows = std::min(drawer_.getBandHeight(), frame.getHeight() - top);
      const BandDamage& damage = drawer_.getBandDamage(bands[i]);
      if (stream_ && std::all_of(damage.begin(), damage.end(), [](const Rect& r) {
            return size_t(r.right - r.left) * 4 >= kMinStreamedRowBytes;
          })) {
        // As the pipeline streams wide bands: composed in the band image,
        // streamed into the window's rows.
        Image& image = *images_[t];
        drawer_.drawBand(bands[i], image);
        for (const Rect& r : damage) {
          copyRowsStreamed(
              frame.pixels().get() + size_t(r.top) * frame.getPitch() + size_t(r.left) * 4,
              frame.getPitch(),
              image.pixels().get() + size_t(r.top - top) * image.getPitch() + size_t(r.left) * 4,
              image.getPitch(), size_t(r.right - r.left) * 4, uint32_t(r.bottom - r.top));
        }
        continue;
      }
      Image view(
          frame.getWidth(), rows, frame.getPitch(),
          Image::Pixels(Image::Pixels(), frame.pixels().get() + size_t{top} * frame.getPitch()));
      drawer_.drawBand(bands[i], view);
    }
  }
  void spin(uint32_t t) {
    uint32_t seen = 0;
    for (int spins = 0; !stop_.load(std::memory_order_relaxed); ++spins) {
      const uint32_t go = go_.load(std::memory_order_acquire);
      if (go == seen) {
        if (spins > 4096) std::this_thread::yield();
        continue;
      }
      spins = 0;
      seen = go;
      composeShare(t);
      done_.fetch_add(1, std::memory_order_acq_rel);
    }
  }

  SpriteDrawer& drawer_;
  uint32_t threads_;
  const MemorySurface* window_;
  bool stream_;
  std::vector<std::unique_ptr<Image>> images_;
  alignas(64) std::atomic<uint32_t> go_{0};
  alignas(64) std::atomic<uint32_t> done_{0};
  alignas(64) std::atomic<bool> stop_{false};
  std::vector<std::thread> helpers_;
};

// Every sprite redrawn with pixman onto a full-size a8r8g8b8 frame, in the
// registry's order; pictures are converted to premultiplied a8r8g8b8 once.
class PixmanRedraw {
 public:
  explicit PixmanRedraw(const Size& size)
      : width_(size.width),
        height_(size.height),
        frameBytes_(MemoryHelper::allocate(size_t{width_} * height_ * 4)),
        frame_(pixman_image_create_bits(
            PIXMAN_a8r8g8b8, static_cast<int>(width_), static_cast<int>(height_),
            reinterpret_cast<uint32_t*>(frameBytes_.get()), static_cast<int>(width_ * 4))) {
    DemoScreen scene(size, 0);
    auto manager = scene.screen.getSpriteManager();
    manager->sortIfDirty();
    for (const auto& entry : *manager) {
      if (entry.sprite->isVisible()) commands_.push_back(entry.sprite->getDrawCommand());
    }
    for (const DrawCommand& command : commands_) {
      if (command.kind == DrawCommandKind::Image && !images_.count(command.image)) {
        images_[command.image] = convert(*command.image);
      }
    }
    keepAlive_ = pictures();
  }
  ~PixmanRedraw() {
    for (auto& [source, image] : images_) pixman_image_unref(image);
    for (auto& [opacity, mask] : masks_) pixman_image_unref(mask);
    pixman_image_unref(frame_);
  }

  void redraw() {
    for (const DrawCommand& c : commands_) {
      const Rect& b = c.bounds;
      const pixman_op_t op = c.blendMode == BlendMode::Add ? PIXMAN_OP_ADD : PIXMAN_OP_OVER;
      if (c.kind == DrawCommandKind::Fill) {
        const uint16_t alpha = static_cast<uint16_t>(colourAlpha(c.colour) * c.opacity / 255 * 257);
        const uint32_t p = toPixel(c.colour);
        auto channel = [&](int shift) {
          return static_cast<uint16_t>(((p >> shift) & 0xFF) * 257u * alpha / 65535u);
        };
        const pixman_color_t colour{channel(16), channel(8), channel(0), alpha};
        const pixman_box32_t box{b.left, b.top, b.right, b.bottom};
        pixman_image_fill_boxes(alpha == 0xFFFF && op == PIXMAN_OP_OVER ? PIXMAN_OP_SRC : op,
                                frame_, &colour, 1, &box);
      } else {
        pixman_image_composite32(op, images_[c.image], mask(c.opacity), frame_, 0, 0, 0, 0, b.left,
                                 b.top, b.right - b.left, b.bottom - b.top);
      }
    }
  }

 private:
  static pixman_image_t* convert(const IImage& source) {
    const uint32_t w = source.getWidth(), h = source.getHeight();
    auto* bits = static_cast<uint32_t*>(std::malloc(size_t{w} * h * 4));
    const uint8_t* p = source.lockConst();
    for (uint32_t y = 0; y < h; ++y) {
      for (uint32_t x = 0; x < w; ++x) {
        const uint8_t* px = p + y * source.getPitch() + x * bytesPerPixel(source.getPixelFormat());
        uint32_t r, g, bl, a = 255;
        switch (source.getPixelFormat()) {
          case PixelFormat::Grey:
            r = g = bl = px[0];
            break;
          case PixelFormat::GreyAlpha:
            r = g = bl = px[0];
            a = px[1];
            break;
          default:
            bl = px[0], g = px[1], r = px[2];
            if (source.getPixelFormat() == PixelFormat::Rgba) a = px[3];
        }
        bits[y * w + x] = (a << 24) | (r * a / 255 << 16) | (g * a / 255 << 8) | (bl * a / 255);
      }
    }
    source.unlockConst();
    pixman_image_t* image = pixman_image_create_bits(
        PIXMAN_a8r8g8b8, static_cast<int>(w), static_cast<int>(h), bits, static_cast<int>(w * 4));
    pixman_image_set_destroy_function(
        image, [](pixman_image_t*, void* data) { std::free(data); }, bits);
    return image;
  }

  pixman_image_t* mask(uint8_t opacity) {
    if (opacity == 255) return nullptr;
    auto& m = masks_[opacity];
    if (m == nullptr) {
      const pixman_color_t colour{0, 0, 0, static_cast<uint16_t>(opacity * 257)};
      m = pixman_image_create_solid_fill(&colour);
    }
    return m;
  }

  uint32_t width_, height_;
  Image::Pixels frameBytes_;
  pixman_image_t* frame_;
  std::vector<DrawCommand> commands_;
  std::map<const IImage*, pixman_image_t*> images_;
  std::map<uint8_t, pixman_image_t*> masks_;
  DemoPictures keepAlive_;
};

// Medians of every row, for the closing summary.
std::map<std::string, double> medians;

double median(std::vector<double> samples) {
  if (samples.empty()) return 0;
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];
}

void record(benchmark::State& state, const std::string& name, std::vector<double>& samples) {
  const double m = median(samples);
  auto it = medians.find(name);
  // Repeated runs keep the best median: the machine is shared.
  if (it == medians.end() || m < it->second) medians[name] = m;
  state.counters["median_ms"] = m;
}

template <typename Body>
void timeEach(benchmark::State& state, const std::string& name, Body body) {
  std::vector<double> samples;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    body();
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(ms / 1000);
    samples.push_back(ms);
  }
  record(state, name, samples);
}

void pixmanBench(benchmark::State& state, Size size, std::string name) {
  PixmanRedraw peer(size);
  timeEach(state, name, [&] { peer.redraw(); });
}

void memsetBench(benchmark::State& state, Size size, std::string name) {
  const size_t bytes = size_t{size.width} * size.height * 4;
  auto frame = MemoryHelper::allocate(bytes);
  int value = 0;
  timeEach(state, name, [&] {
    std::memset(frame.get(), ++value & 0xFF, bytes);
    benchmark::ClobberMemory();
  });
}

void screenBench(benchmark::State& state, Size size, std::optional<uint32_t> workers, Change change,
                 std::string name) {
  DemoScreen scene(size, workers);
  scene.start();
  std::vector<double> samples;
  for (auto _ : state) {
    const double ms = scene.frame(change);
    state.SetIterationTime(ms / 1000);
    samples.push_back(ms);
  }
  scene.screen.stopFrameThread();
  record(state, name, samples);
}

std::string rowName(const Size& size, const std::string& what) {
  return std::string(size.name) + "/" + what;
}

void printSummary() {
  std::printf("\nmedian ms per frame, and the ratio to pixman's full redraw at the same size\n");
  for (const Size& size : kSizes) {
    const double peer = medians[rowName(size, "pixman full redraw")];
    std::printf("%s\n", size.name);
    for (const auto& [name, ms] : medians) {
      if (name.rfind(size.name + std::string("/"), 0) != 0) continue;
      std::printf("  %-52s %8.3f ms  %6.3f\n", name.c_str() + std::strlen(size.name) + 1, ms,
                  peer > 0 ? ms / peer : 0);
    }
  }
}

// Interleaved rounds of every way to make the same frames: each round runs
// `frames` frames of each way, in an order that turns from round to round,
// and keeps each way's median; the result is the median of the rounds.
// Ratios are taken of those medians.
struct Comparison {
  Size size;
  Change change;
  int rounds;
  int frames;
};

const char* const kWays[] = {"pixman full redraw",
                             "drawBand, 1 thread",
                             "static split, N threads",
                             "Screen, 1 thread",
                             "Screen, N threads",
                             "Screen, 1 thread, band images",
                             "Screen, N threads, band images",
                             "drawBand into the window, 1 thread",
                             "static split into the window, N threads",
                             "static split streaming wide bands, N threads"};
constexpr int kWayCount = 10;

void compareBench(benchmark::State& state, Comparison c) {
  const uint32_t n = std::max(platform::logicalProcessorCount(), 2u);
  PixmanRedraw peer(c.size);
  DemoScreen bare(c.size, 1);
  DemoScreen one(c.size, 1);
  DemoScreen many(c.size, n);
  DemoScreen oneCopied(c.size, 1, false);
  DemoScreen manyCopied(c.size, n, false);
  DemoScreen* screens[] = {&one, &many, &oneCopied, &manyCopied};
  // A Screen waits paced, a second at a time, while the others run: its
  // frame thread would otherwise look for work every millisecond and take
  // the processors from the way being measured (a program has one Screen).
  constexpr std::chrono::seconds kParked{1};
  for (DemoScreen* screen : screens) {
    screen->start();
    screen->screen.setFrameInterval(kParked);
  }
  std::vector<double> rounds[kWayCount];
  std::vector<double> prepares;
  for (auto _ : state) {
    for (int round = 0; round < c.rounds; ++round) {
      for (int k = 0; k < kWayCount; ++k) {
        const int way = (k + round) % kWayCount;
        std::vector<double> samples;
        if (way == 1 || way == 2 || way >= 7) {
          BareComposition split(*bare.screen.getSpriteDrawer(), way == 1 || way == 7 ? 1 : n,
                                way >= 7 ? &bare.window : nullptr, way == 9);
          std::lock_guard lock(bare.screen.getSceneLock());
          for (int f = 0; f < c.frames; ++f) {
            bare.apply(c.change);
            double prepareMs = 0;
            samples.push_back(split.frame(&prepareMs));
            if (way == 1) prepares.push_back(prepareMs);
          }
        } else {
          Screen* screen = way == 0 ? nullptr : &screens[way - 3]->screen;
          if (screen != nullptr) {
            screen->setFrameInterval(std::chrono::nanoseconds(0));
            screen->wakeFrameThread();
          }
          for (int f = 0; f < c.frames; ++f) {
            if (way == 0) {
              const auto start = std::chrono::steady_clock::now();
              peer.redraw();
              samples.push_back(std::chrono::duration<double, std::milli>(
                                    std::chrono::steady_clock::now() - start)
                                    .count());
            } else {
              samples.push_back(screens[way - 3]->frame(c.change));
            }
          }
          if (screen != nullptr) screen->setFrameInterval(kParked);
        }
        rounds[way].push_back(median(samples));
      }
    }
  }
  for (DemoScreen* screen : screens) screen->screen.stopFrameThread();
  double ms[kWayCount];
  for (int way = 0; way < kWayCount; ++way) {
    ms[way] = median(rounds[way]);
    state.counters[kWays[way]] = ms[way];
  }
  const double splitGain = ms[1] / ms[2], screenGain = ms[3] / ms[4];
  state.counters["split speedup"] = splitGain;
  state.counters["Screen speedup"] = screenGain;
  state.counters["Screen 1 / drawBand"] = ms[3] / ms[1];
  state.counters["Screen N / split"] = ms[4] / ms[2];
  state.counters["Screen N / pixman"] = ms[4] / ms[0];
  const double prepare = median(prepares);
  state.counters["prepareFrame"] = prepare;
  // Into the window's rows, as the Screen composes: one thread, and the
  // better of the two splits, each with the frame's preparation, bound the
  // Screen with one and N threads.
  const double oneBound = prepare + ms[7];
  const double manyBound = prepare + std::min(ms[8], ms[9]);
  state.counters["Screen 1 / its bound"] = ms[3] / oneBound;
  state.counters["Screen N / its bound"] = ms[4] / manyBound;
  std::printf(
      "%s, %s (%u threads)\n"
      "  pixman %.3f; drawBand %.3f, static split %.3f (x%.2f)\n"
      "  Screen 1 %.3f (%.2f of drawBand), Screen N %.3f (x%.2f of Screen 1, %.2f of the split, "
      "%.2f of pixman)\n"
      "  band images: Screen 1 %.3f, Screen N %.3f (x%.2f)\n"
      "  into the window's rows: prepareFrame %.3f, drawBand %.3f, split %.3f (x%.2f), split "
      "streaming wide bands %.3f (x%.2f); Screen 1 %.2f of prepare + drawBand, Screen N %.2f of "
      "prepare + the better split (x%.2f)\n",
      c.size.name, kChangeNames[static_cast<int>(c.change)], n, ms[0], ms[1], ms[2], splitGain,
      ms[3], ms[3] / ms[1], ms[4], screenGain, ms[4] / ms[2], ms[4] / ms[0], ms[5], ms[6],
      ms[5] / ms[6], prepare, ms[7], ms[8], ms[7] / ms[8], ms[9], ms[7] / ms[9], ms[3] / oneBound,
      ms[4] / manyBound, oneBound / manyBound);
}

}  // namespace

int main(int argc, char** argv) {
  const Size large{"3840x2160", 3840, 2160, 100000};
  const Comparison comparisons[] = {{kSizes[0], Change::Everything, 11, 15},
                                    {kSizes[0], Change::Flakes, 11, 15},
                                    {kSizes[1], Change::Everything, 11, 15},
                                    {kSizes[1], Change::Flakes, 11, 15},
                                    {large, Change::Pictures, 5, 9}};
  for (const Comparison& c : comparisons) {
    const std::string name =
        std::string("compare/") + c.size.name + "/" + kChangeNames[static_cast<int>(c.change)];
    benchmark::RegisterBenchmark(name.c_str(), compareBench, c)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
  }
  for (const Size& size : kSizes) {
    const std::string peer = rowName(size, "pixman full redraw");
    const std::string bound = rowName(size, "memset of the frame");
    benchmark::RegisterBenchmark(peer.c_str(), pixmanBench, size, peer)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(bound.c_str(), memsetBench, size, bound)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    const struct {
      const char* name;
      std::optional<uint32_t> count;
    } workerCases[] = {{"1 worker", 1u}, {"worker per processor", std::nullopt}};
    for (int c = 0; c < 3; ++c) {
      for (const auto& workers : workerCases) {
        const std::string name =
            rowName(size, std::string("Screen ") + kChangeNames[c] + ", " + workers.name);
        benchmark::RegisterBenchmark(name.c_str(), screenBench, size, workers.count,
                                     static_cast<Change>(c), name)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
      }
    }
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  printSummary();
  return 0;
}
