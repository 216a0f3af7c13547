// The demonstration's picture through the whole frame pipeline onto an
// in-memory window, against the code a user would write instead (pixman and,
// when the build found it, Blend2D, each on one thread, redrawing every
// sprite every frame) and against the bound of touching every pixel once
// (memset of the frame), all in one run.
//
// Sizes: 800 x 600 with the demonstration's 953 sprites, 1920 x 1080 with
// 10,000 flakes (in Add, and drawn Normal), 3840 x 2160 with 100,000.
// Three kinds of frame: everything redrawn, every flake moved by one pixel,
// twenty of the 64 x 48 pictures moved by one pixel.
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
#if NUBRIK_HAVE_BLEND2D
#include <blend2d/blend2d.h>
#endif

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
  // The flakes' blend mode: the demonstration's Add, or Normal, which every
  // peer draws the same way (their own add is a plain saturating one).
  BlendMode flakeMode = BlendMode::Add;
};
constexpr Size kSizes[] = {{"800x600", 800, 600, 900}, {"1920x1080", 1920, 1080, 10000}};
constexpr Size kNormalFlakes{"1920x1080 Normal", 1920, 1080, 10000, BlendMode::Normal};
constexpr Size kLarge{"3840x2160", 3840, 2160, 100000};

// Flakes move as the demonstration moves them (invalidated around the move),
// or by their setter alone, which must cost the same.
enum class Change { Everything, Flakes, Pictures, FlakesBySetter };
const char* const kChangeNames[] = {"full frame", "every flake moved", "20 pictures moved",
                                    "every flake moved by its setter"};

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
    for (const Snowflake& flake : flakes) changeBlendMode(*flake.sprite, size.flakeMode);
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
        case Change::FlakesBySetter:
          for (const Snowflake& flake : flakes) {
            flake.sprite->setPosition(flake.sprite->getX() + step, flake.sprite->getY() + step);
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
    if (window_ != nullptr && !stream_) {
      // Runs of bands into the window's rows, as the Screen composes them.
      const std::vector<SpriteDrawer::BandRun>& runs = drawer_.getDirtyRuns();
      const Image& frame = window_->getFramebuffer();
      for (size_t i = t; i < runs.size(); i += threads_) {
        const uint32_t top = runs[i].first * drawer_.getBandHeight();
        const uint32_t rows =
            std::min(drawer_.getBandHeight() * runs[i].count, frame.getHeight() - top);
        Image view(
            frame.getWidth(), rows, frame.getPitch(),
            Image::Pixels(Image::Pixels(), frame.pixels().get() + size_t{top} * frame.getPitch()));
        drawer_.drawRun(runs[i], view);
      }
      return;
    }
    const std::vector<uint32_t>& bands = drawer_.getDirtyBands();
    for (size_t i = t; i < bands.size(); i += threads_) {
      if (window_ == nullptr) {
        drawer_.drawBand(bands[i], *images_[t]);
        continue;
      }
      const Image& frame = window_->getFramebuffer();
      const uint32_t top = bands[i] * drawer_.getBandHeight();
      const BandDamage& damage = drawer_.getBandDamage(bands[i]);
      if (!std::all_of(damage.begin(), damage.end(), [](const Rect& r) {
            return size_t(r.right - r.left) * 4 >= kMinStreamedRowBytes;
          })) {
        const uint32_t rows = std::min(drawer_.getBandHeight(), frame.getHeight() - top);
        Image view(
            frame.getWidth(), rows, frame.getPitch(),
            Image::Pixels(Image::Pixels(), frame.pixels().get() + size_t{top} * frame.getPitch()));
        drawer_.drawBand(bands[i], view);
        continue;
      }
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

// The frame's sprites as draw commands in drawing order, the way a peer
// that redraws everything every frame gets them.
std::vector<DrawCommand> sceneCommands(const Size& size) {
  DemoScreen scene(size, 0);
  auto manager = scene.screen.getSpriteManager();
  manager->sortIfDirty();
  std::vector<DrawCommand> commands;
  for (const auto& entry : *manager) {
    if (entry.sprite->isVisible()) commands.push_back(entry.sprite->getDrawCommand());
  }
  return commands;
}

// A picture as premultiplied 0xAARRGGBB words, the peers' layout.
std::vector<uint32_t> premultiplied(const IImage& source) {
  const uint32_t w = source.getWidth(), h = source.getHeight();
  std::vector<uint32_t> bits(size_t{w} * h);
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
  return bits;
}

// The largest difference of any channel between two frames of the same
// size (0xAARRGGBB words), and how many pixels differ.
std::pair<uint32_t, size_t> frameDifference(const uint32_t* a, const uint32_t* b, size_t count) {
  uint32_t most = 0;
  size_t differing = 0;
  for (size_t i = 0; i < count; ++i) {
    if (a[i] == b[i]) continue;
    ++differing;
    for (int shift = 0; shift < 32; shift += 8) {
      const int d = int((a[i] >> shift) & 0xFF) - int((b[i] >> shift) & 0xFF);
      most = std::max<uint32_t>(most, static_cast<uint32_t>(d < 0 ? -d : d));
    }
  }
  return {most, differing};
}

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
    commands_ = sceneCommands(size);
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

  const uint32_t* pixels() const { return reinterpret_cast<const uint32_t*>(frameBytes_.get()); }

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
    const std::vector<uint32_t> words = premultiplied(source);
    auto* bits = static_cast<uint32_t*>(std::malloc(words.size() * 4));
    std::memcpy(bits, words.data(), words.size() * 4);
    pixman_image_t* image = pixman_image_create_bits(
        PIXMAN_a8r8g8b8, static_cast<int>(source.getWidth()), static_cast<int>(source.getHeight()),
        bits, static_cast<int>(source.getWidth() * 4));
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

#if NUBRIK_HAVE_BLEND2D
// Every sprite redrawn with Blend2D (synchronous context: one thread) onto a
// full-size PRGB32 frame, as PixmanRedraw draws it.
class Blend2DRedraw {
 public:
  explicit Blend2DRedraw(const Size& size) : commands_(sceneCommands(size)) {
    frame_.create(static_cast<int>(size.width), static_cast<int>(size.height), BL_FORMAT_PRGB32);
    for (const DrawCommand& command : commands_) {
      if (command.kind != DrawCommandKind::Image || images_.count(command.image)) continue;
      std::vector<uint32_t> bits = premultiplied(*command.image);
      BLImage& image = images_[command.image];
      image.create(static_cast<int>(command.image->getWidth()),
                   static_cast<int>(command.image->getHeight()), BL_FORMAT_PRGB32);
      BLImageData data;
      image.make_mutable(&data);
      for (uint32_t y = 0; y < command.image->getHeight(); ++y) {
        std::memcpy(static_cast<uint8_t*>(data.pixel_data) + y * data.stride,
                    bits.data() + size_t{y} * command.image->getWidth(),
                    size_t{command.image->getWidth()} * 4);
      }
    }
    keepAlive_ = pictures();
  }

  void redraw() {
    BLContext context(frame_);
    for (const DrawCommand& c : commands_) {
      const Rect& b = c.bounds;
      context.set_comp_op(c.blendMode == BlendMode::Add ? BL_COMP_OP_PLUS : BL_COMP_OP_SRC_OVER);
      if (c.kind == DrawCommandKind::Fill) {
        const uint32_t p = toPixel(c.colour);
        const uint32_t alpha = colourAlpha(c.colour) * c.opacity / 255;
        context.set_global_alpha(1.0);
        context.fill_rect(BLRectI(b.left, b.top, b.right - b.left, b.bottom - b.top),
                          BLRgba32((p & 0x00FFFFFFu) | (alpha << 24)));
      } else {
        context.set_global_alpha(c.opacity / 255.0);
        context.blit_image(BLPointI(b.left, b.top), images_[c.image]);
      }
    }
    context.end();
  }

  const uint32_t* pixels() {
    BLImageData data;
    frame_.get_data(&data);
    return static_cast<const uint32_t*>(data.pixel_data);
  }

 private:
  std::vector<DrawCommand> commands_;
  BLImage frame_;
  std::map<const IImage*, BLImage> images_;
  DemoPictures keepAlive_;
};
#endif

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

enum Way {
  kPixman,
  kBlend2D,
  kDrawBand,
  kSplit,
  kScreen1,
  kScreenN,
  kScreen1Copied,
  kScreenNCopied,
  kDrawBandWindow,
  kSplitWindow,
  kSplitStreamed,
  kWayCount
};
const char* const kWays[] = {"pixman full redraw",
                             "Blend2D full redraw",
                             "drawBand, 1 thread",
                             "static split, N threads",
                             "Screen, 1 thread",
                             "Screen, N threads",
                             "Screen, 1 thread, band images",
                             "Screen, N threads, band images",
                             "drawBand into the window, 1 thread",
                             "static split into the window, N threads",
                             "static split streaming wide bands, N threads"};

// The peer table: per size, each way's median for each kind of frame.
struct PeerRow {
  double ms[3][kWayCount] = {};
  bool measured[3] = {};
};
std::map<std::string, PeerRow> peerTable;
std::vector<std::string> peerOrder;

#if NUBRIK_HAVE_BLEND2D
constexpr bool kHaveBlend2D = true;
#else
constexpr bool kHaveBlend2D = false;
#endif

void compareBench(benchmark::State& state, Comparison c) {
  const uint32_t n = std::max(platform::logicalProcessorCount(), 2u);
  PixmanRedraw peer(c.size);
#if NUBRIK_HAVE_BLEND2D
  Blend2DRedraw blend2d(c.size);
  {
    // Both peers must draw the same picture before either is timed.
    peer.redraw();
    blend2d.redraw();
    const auto [most, differing] =
        frameDifference(peer.pixels(), blend2d.pixels(), size_t{c.size.width} * c.size.height);
    if (most > 1) {
      state.SkipWithError(("Blend2D's frame differs from pixman's by up to " +
                           std::to_string(most) + " in " + std::to_string(differing) + " pixels")
                              .c_str());
      return;
    }
  }
#endif
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
        if (way == kBlend2D && !kHaveBlend2D) continue;
        std::vector<double> samples;
        auto timed = [&](auto&& body) {
          const auto start = std::chrono::steady_clock::now();
          body();
          samples.push_back(
              std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                  .count());
        };
        if (way == kPixman) {
          for (int f = 0; f < c.frames; ++f) timed([&] { peer.redraw(); });
        } else if (way == kBlend2D) {
#if NUBRIK_HAVE_BLEND2D
          for (int f = 0; f < c.frames; ++f) timed([&] { blend2d.redraw(); });
#endif
        } else if (way == kDrawBand || way == kSplit || way >= kDrawBandWindow) {
          const bool window = way >= kDrawBandWindow;
          BareComposition split(*bare.screen.getSpriteDrawer(),
                                way == kDrawBand || way == kDrawBandWindow ? 1 : n,
                                window ? &bare.window : nullptr, way == kSplitStreamed);
          std::lock_guard lock(bare.screen.getSceneLock());
          for (int f = 0; f < c.frames; ++f) {
            bare.apply(c.change);
            double prepareMs = 0;
            samples.push_back(split.frame(&prepareMs));
            if (way == kDrawBand) prepares.push_back(prepareMs);
          }
        } else {
          DemoScreen& scene = *screens[way - kScreen1];
          scene.screen.setFrameInterval(std::chrono::nanoseconds(0));
          scene.screen.wakeFrameThread();
          for (int f = 0; f < c.frames; ++f) samples.push_back(scene.frame(c.change));
          scene.screen.setFrameInterval(kParked);
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
  PeerRow& row = peerTable[c.size.name];
  if (std::find(peerOrder.begin(), peerOrder.end(), c.size.name) == peerOrder.end()) {
    peerOrder.push_back(c.size.name);
  }
  std::copy(ms, ms + kWayCount, row.ms[static_cast<int>(c.change)]);
  row.measured[static_cast<int>(c.change)] = true;

  const double splitGain = ms[kDrawBand] / ms[kSplit], screenGain = ms[kScreen1] / ms[kScreenN];
  state.counters["split speedup"] = splitGain;
  state.counters["Screen speedup"] = screenGain;
  state.counters["Screen 1 / drawBand"] = ms[kScreen1] / ms[kDrawBand];
  state.counters["Screen N / split"] = ms[kScreenN] / ms[kSplit];
  state.counters["Screen N / pixman"] = ms[kScreenN] / ms[kPixman];
  const double prepare = median(prepares);
  state.counters["prepareFrame"] = prepare;
  // Into the window's rows, as the Screen composes: one thread, and the
  // better of the two splits, each with the frame's preparation, bound the
  // Screen with one and N threads.
  const double oneBound = prepare + ms[kDrawBandWindow];
  const double manyBound = prepare + std::min(ms[kSplitWindow], ms[kSplitStreamed]);
  state.counters["Screen 1 / its bound"] = ms[kScreen1] / oneBound;
  state.counters["Screen N / its bound"] = ms[kScreenN] / manyBound;
  std::printf(
      "%s, %s (%u threads)\n"
      "  pixman %.3f; Blend2D %.3f; drawBand %.3f, static split %.3f (x%.2f)\n"
      "  Screen 1 %.3f (%.2f of drawBand), Screen N %.3f (x%.2f of Screen 1, %.2f of the split, "
      "%.2f of pixman)\n"
      "  band images: Screen 1 %.3f, Screen N %.3f (x%.2f)\n"
      "  into the window's rows: prepareFrame %.3f, drawBand %.3f, split %.3f (x%.2f), split "
      "streaming wide bands %.3f (x%.2f); Screen 1 %.2f of prepare + drawBand, Screen N %.2f of "
      "prepare + the better split (x%.2f)\n",
      c.size.name, kChangeNames[static_cast<int>(c.change)], n, ms[kPixman], ms[kBlend2D],
      ms[kDrawBand], ms[kSplit], splitGain, ms[kScreen1], ms[kScreen1] / ms[kDrawBand],
      ms[kScreenN], screenGain, ms[kScreenN] / ms[kSplit], ms[kScreenN] / ms[kPixman],
      ms[kScreen1Copied], ms[kScreenNCopied], ms[kScreen1Copied] / ms[kScreenNCopied], prepare,
      ms[kDrawBandWindow], ms[kSplitWindow], ms[kDrawBandWindow] / ms[kSplitWindow],
      ms[kSplitStreamed], ms[kDrawBandWindow] / ms[kSplitStreamed], ms[kScreen1] / oneBound,
      ms[kScreenN] / manyBound, oneBound / manyBound);
}

// The peers beside the Screen, size by size: ms per frame, and in brackets
// the ratio to Blend2D's full redraw (to pixman's without Blend2D).
void printPeerTable() {
  if (peerOrder.empty()) return;
  std::printf("\nms per frame, one thread unless N (a thread per processor); [ratio to %s]\n",
              kHaveBlend2D ? "Blend2D's full redraw" : "pixman's full redraw");
  if (!kHaveBlend2D) {
    std::printf("(Blend2D skipped: not found at configure time; see bench/CMakeLists.txt)\n");
  }
  std::printf("%-18s %8s %8s %16s %16s %16s %16s %16s %16s\n", "", "pixman", "Blend2D", "drawBand",
              "Screen full 1", "Screen full N", "flakes moved 1", "flakes moved N",
              "20 pictures 1");
  for (const std::string& name : peerOrder) {
    const PeerRow& row = peerTable[name];
    const int full = static_cast<int>(Change::Everything);
    const double* base = row.ms[row.measured[full] ? full : static_cast<int>(Change::Pictures)];
    const double reference = kHaveBlend2D ? base[kBlend2D] : base[kPixman];
    auto cell = [&](int change, int way) {
      char text[32] = "-";
      if (row.measured[change] && reference > 0) {
        std::snprintf(text, sizeof text, "%.3f [%.2f]", row.ms[change][way],
                      row.ms[change][way] / reference);
      }
      std::printf(" %16s", text);
    };
    std::printf("%-18s %8.3f %8.3f", name.c_str(), base[kPixman], base[kBlend2D]);
    cell(full, kDrawBand);
    cell(full, kScreen1);
    cell(full, kScreenN);
    cell(static_cast<int>(Change::Flakes), kScreen1);
    cell(static_cast<int>(Change::Flakes), kScreenN);
    cell(static_cast<int>(Change::Pictures), kScreen1);
    std::printf("\n");
  }
}

}  // namespace

int main(int argc, char** argv) {
  const Comparison comparisons[] = {{kSizes[0], Change::Everything, 11, 15},
                                    {kSizes[0], Change::Flakes, 11, 15},
                                    {kSizes[1], Change::Everything, 11, 15},
                                    {kSizes[1], Change::Flakes, 11, 15},
                                    {kNormalFlakes, Change::Everything, 9, 15},
                                    {kNormalFlakes, Change::Flakes, 9, 15},
                                    {kSizes[1], Change::Pictures, 9, 15},
                                    {kLarge, Change::Everything, 5, 5},
                                    {kLarge, Change::Flakes, 5, 5},
                                    {kLarge, Change::Pictures, 5, 9}};
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
    for (int c = 0; c < 4; ++c) {
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
  printPeerTable();
  return 0;
}
