// The X11 window on virtual X servers: what is presented reaches the window
// on every kind of TrueColor display, through shared memory and through the
// socket; and the program ends in order, with one line, when its window or
// its server goes, or when it cannot draw on the display.

#include "nubrik/window/x11_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/virtual_display.h"
#include "nubrik/window/memory_window.h"

// Last: Xlib defines macros (None, Bool) that clash with the names above.
#include <X11/Xutil.h>

namespace nubrik {
namespace {

using testing::spawn;
using testing::VirtualDisplay;

const std::string kRunDir = NUBRIK_RUN_DIR;

struct ChannelMask {
  unsigned long mask;
  int shift = 0, bits = 0;
  explicit ChannelMask(unsigned long m) : mask(m) {
    while (m != 0 && !(m & 1)) m >>= 1, ++shift;
    while (m & 1) m >>= 1, ++bits;
  }
  // True when the window's channel shows the 8-bit `expected` as exactly as
  // the visual can: narrower channels within one of their steps, wider ones
  // with the same top eight bits.
  bool shows(unsigned long pixel, uint32_t expected) const {
    const auto value = static_cast<uint32_t>((pixel & mask) >> shift);
    if (bits >= 8) return value >> (bits - 8) == expected;
    const uint32_t top = (1u << bits) - 1;
    const uint32_t wide = (value * 255 + top / 2) / top;  // back to eight bits
    const int step = 1 << (8 - bits);
    return std::abs(static_cast<int>(wide) - static_cast<int>(expected)) < step;
  }
};

// Compares the window, read back, with what memory holds shown `scale`
// times (each pixel a scale x scale block); the number of window pixels
// that differ, and the first one in `where`.
int differences(Display* display, Window window, const Image& expected, std::string& where,
                uint32_t scale = 1) {
  const uint32_t w = expected.getWidth() * scale, h = expected.getHeight() * scale;
  XImage* image = XGetImage(display, window, 0, 0, w, h, AllPlanes, ZPixmap);
  if (image == nullptr) {
    where = "XGetImage failed";
    return -1;
  }
  const ChannelMask red(image->red_mask), green(image->green_mask), blue(image->blue_mask);
  int count = 0;
  for (uint32_t y = 0; y < h; ++y) {
    const auto* row =
        reinterpret_cast<const uint32_t*>(expected.lockConst() + y / scale * expected.getPitch());
    for (uint32_t x = 0; x < w; ++x) {
      const unsigned long pixel = XGetPixel(image, static_cast<int>(x), static_cast<int>(y));
      const uint32_t word = row[x / scale];
      if (red.shows(pixel, (word >> 16) & 0xFF) && green.shows(pixel, (word >> 8) & 0xFF) &&
          blue.shows(pixel, word & 0xFF)) {
        continue;
      }
      if (count++ == 0) {
        char text[96];
        std::snprintf(text, sizeof text, "(%u, %u): window 0x%lx, memory 0x%06x", x, y, pixel,
                      word & 0xFFFFFF);
        where = text;
      }
    }
  }
  XDestroyImage(image);
  return count;
}

// Sends bands to the window's device context and to memory alike. The band
// is scribbled over as soon as each call returns, as a worker reuses it.
struct Presenter {
  IDeviceContext& dc;
  MemorySurface& memory;
  uint32_t width, height;
  std::mt19937& random;
  std::vector<uint32_t> band;

  void present(uint32_t pitchWords, uint32_t rows, int32_t bandTop, const Rect& rect) {
    band.resize(size_t{pitchWords} * rows);
    for (uint32_t& word : band) word = random();
    const auto* pixels = reinterpret_cast<const uint8_t*>(band.data());
    dc.presentBand(pixels, pitchWords * 4, width, rows, bandTop, rect);
    memory.presentBand(pixels, pitchWords * 4, width, rows, bandTop, rect);
    for (uint32_t& word : band) word = ~word;
  }
  void wholeBands(int32_t rows, int32_t from, int32_t to) {
    for (int32_t top = from; top < to; top += rows) {
      present(width, uint32_t(rows), top, Rect{0, top, int32_t(width), top + rows});
    }
  }
  // Composes a rectangle in place, where the device context lends rows
  // (as the pipeline does, inside the band); false where it lends none.
  bool lend(uint32_t rows, int32_t bandTop, const Rect& rect) {
    LentBand lent;
    if (!dc.lendBand(bandTop, rows, lent)) return false;
    const Rect inside{std::max(rect.left, 0), std::max(rect.top, bandTop),
                      std::min(rect.right, int32_t(lent.width)),
                      std::min(rect.bottom, bandTop + int32_t(lent.rows))};
    if (inside.top >= inside.bottom) return true;
    // Changed in column-disjoint pieces, near and far apart, as bands are.
    for (int32_t left = inside.left; left < inside.right;) {
      const Rect piece{left, inside.top, std::min(inside.right, left + 1 + int32_t(random() % 200)),
                       inside.bottom};
      for (int32_t y = piece.top; y < piece.bottom; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(lent.pixels + size_t(y - bandTop) * lent.pitch);
        for (int32_t x = piece.left; x < piece.right; ++x) row[x] = random();
      }
      dc.bandChanged(bandTop, piece);
      memory.presentBand(lent.pixels, lent.pitch, lent.width, lent.rows, bandTop, piece);
      left = piece.right + int32_t(random() % 3 * 60);
    }
    return true;
  }
  // Random bands and rectangles, partly outside the band or the window,
  // presented or (every other one, where rows are lent) composed in place.
  void randomBands(int count) {
    for (int i = 0; i < count; ++i) {
      const uint32_t rows = 1 + random() % 40;
      const uint32_t pitchWords = width + random() % 3 * 8;
      const int32_t bandTop = int32_t(random() % (height + 20)) - 10;
      const int32_t left = int32_t(random() % (width + 40)) - 20;
      const int32_t right = left + 1 + int32_t(random() % (width + 20));
      const int32_t top = bandTop - 4 + int32_t(random() % (rows + 4));
      const int32_t bottom = top + 1 + int32_t(random() % (rows + 8));
      if (i % 2 == 1 && lend(rows, bandTop, Rect{left, top, right, bottom})) continue;
      present(pitchWords, rows, bandTop, Rect{left, top, right, bottom});
    }
    dc.endFrame();
  }
};

TEST(X11WindowTest, PresentedBandsReachTheWindowOnEveryTrueColorVisual) {
  const struct {
    const char* screen;
    std::vector<std::string> extra;
  } displays[] = {
      {"640x480x24", {}},           // 8 bits a channel, words as they are
      {"640x480x16", {}},           // 565
      {"640x480x15", {}},           // 555
      {"640x480x8", {"-cc", "4"}},  // 8-bit TrueColor
      {"640x480x30", {}},           // 10 bits a channel
  };
  constexpr uint32_t kWidth = 320, kHeight = 200;
  std::mt19937 random(12);
  for (const auto& d : displays) {
    VirtualDisplay x(d.screen, d.extra);
    if (!x.display()) GTEST_SKIP() << "no virtual X server (Xvfb) here";
    // Scaled: the window shows each pixel as a block, against memory
    // replicated the same way (2 takes the vector path, 3 the general one).
    using Way = std::pair<bool, uint32_t>;
    for (const auto& [sharedMemory, scale] :
         std::initializer_list<Way>{{true, 1}, {false, 1}, {true, 2}, {true, 3}, {false, 3}}) {
      SCOPED_TRACE(std::string(d.screen) + (sharedMemory ? ", shared memory" : ", socket") +
                   ", scale " + std::to_string(scale));
      const std::string title = "presentation " + std::string(sharedMemory ? "shm" : "socket") +
                                " " + std::to_string(scale);
      X11WindowOptions options;
      options.display = x.name();
      options.sharedMemory = sharedMemory;
      WindowOptions shape;
      shape.title = title;
      shape.className = "test";
      // About the same window whatever the scale.
      const uint32_t width = kWidth / scale, height = kHeight / scale;
      shape.width = width;
      shape.height = height;
      shape.scale = scale;
      auto window = X11Window::create(shape, options);
      ASSERT_TRUE(window);
      ASSERT_EQ(window->getSurfaceWidth(), width);
      ASSERT_EQ(window->getClientWidth(), width * scale);
      window->show();
      const Window id = x.find(title);
      ASSERT_NE(id, 0u);
      MemorySurface memory(width, height);
      // Each round ends with the device context released, after which the
      // server has drawn everything it was sent. Enough rounds and bands
      // that the shared segment is gone round several times.
      // In the last round the server stands still for a while: the window
      // is covered twice over and then its top again and again, far more
      // than the shared memory holds, so that the presenting side must wait
      // before it writes again where the server has yet to read.
      for (int round = 0; round < 3; ++round) {
        IDeviceContext* dc = window->getDC();
        ASSERT_NE(dc, nullptr);
        EXPECT_EQ(window->getSlowPathReason().empty(), sharedMemory) << window->getSlowPathReason();
        Presenter presenter{*dc, memory, width, height, random, {}};
        // The segment is the window's picture where its pixels are our words
        // and each is shown as one.
        LentBand probe;
        const bool lends = sharedMemory && scale == 1 && &d == &displays[0];
        EXPECT_EQ(dc->lendBand(0, 1, probe), lends);
        if (round == 0) presenter.wholeBands(20, 0, int32_t(height));
        if (round == 2 && sharedMemory && &d == &displays[0]) {
          x.pause();
          std::atomic<bool> resumed{false};
          std::thread resume([&x, &resumed] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            resumed = true;
            x.resume();
          });
          if (lends) {
            // Rows the server has yet to read are lent only once it has.
            ASSERT_TRUE(presenter.lend(40, 0, Rect{0, 0, int32_t(width), 40}));
            dc->endFrame();
            ASSERT_TRUE(presenter.lend(40, 0, Rect{10, 10, 20, 20}));
            EXPECT_TRUE(resumed);
          }
          for (int pass = 0; pass < 2; ++pass) presenter.wholeBands(40, 0, int32_t(height));
          for (int pass = 0; pass < 8; ++pass) presenter.wholeBands(40, 0, 80 / int32_t(scale));
          resume.join();
        } else {
          presenter.randomBands(300);
        }
        window->releaseDC(dc);
        std::string where;
        EXPECT_EQ(differences(x.display(), id, memory.getFramebuffer(), where, scale), 0)
            << "round " << round << ", first at " << where;
      }
      EXPECT_EQ(window->getFailure(), "");
    }
  }
}

size_t lineCount(const std::string& text) { return std::count(text.begin(), text.end(), '\n'); }

// The window program is destroyed from another connection, or its server
// ends: either way it stops its threads, releases everything and exits with
// 1 and one line naming what happened. Arguments change nothing.
TEST(X11ProgramTest, EndsInOrderWhenItsWindowOrItsServerGoes) {
  {
    VirtualDisplay x;
    if (!x.display()) GTEST_SKIP() << "no virtual X server (Xvfb) here";
    auto program =
        spawn({kRunDir + "/nubrik", "--ignored", "argument"}, kRunDir, {"DISPLAY=" + x.name()});
    const Window window = x.find("Nubrik");
    ASSERT_NE(window, 0u) << program.output();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // frames under way
    XDestroyWindow(x.display(), window);
    XFlush(x.display());
    EXPECT_EQ(program.wait(30), 1) << program.output();
    EXPECT_NE(program.output().find("destroyed from outside"), std::string::npos)
        << program.output();
    EXPECT_EQ(lineCount(program.output()), 1u) << program.output();
  }
  VirtualDisplay x;
  auto program = spawn({kRunDir + "/nubrik"}, kRunDir, {"DISPLAY=" + x.name()});
  ASSERT_NE(x.find("Nubrik"), 0u) << program.output();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  x.kill();
  EXPECT_EQ(program.wait(30), 1) << program.output();
  EXPECT_NE(program.output().find("lost the connection to the X server"), std::string::npos)
      << program.output();
  EXPECT_EQ(lineCount(program.output()), 1u) << program.output();
}

// Without shared memory the program says once that it takes the slower path
// and still shows its picture; a display it cannot draw on is refused.
TEST(X11ProgramTest, SlowPathIsNamedAndOtherVisualsAreRefused) {
  {
    VirtualDisplay x("1024x768x24", {"-extension", "MIT-SHM"});
    if (!x.display()) GTEST_SKIP() << "no virtual X server (Xvfb) here";
    auto program = spawn({kRunDir + "/nubrik", "ignored"}, kRunDir, {"DISPLAY=" + x.name()});
    const Window window = x.find("Nubrik");
    ASSERT_NE(window, 0u) << program.output();
    bool white = false;  // a corner that only the background covers, between snowflakes
    for (int i = 0; i < 500 && !white; ++i) {
      for (auto [px, py] : {std::pair{790, 10}, {700, 500}, {20, 580}, {600, 40}}) {
        XImage* image = XGetImage(x.display(), window, px, py, 1, 1, AllPlanes, ZPixmap);
        white = white || (image && (XGetPixel(image, 0, 0) & 0xFFFFFF) == 0xFFFFFF);
        if (image) XDestroyImage(image);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(white);
    x.requestClose(window);
    EXPECT_EQ(program.wait(30), 0) << program.output();
    EXPECT_NE(program.output().find("XPutImage"), std::string::npos) << program.output();
    EXPECT_NE(program.output().find("MIT-SHM"), std::string::npos) << program.output();
    EXPECT_EQ(lineCount(program.output()), 1u) << program.output();
  }
  VirtualDisplay x("1024x768x8");  // PseudoColor
  auto program = spawn({kRunDir + "/nubrik"}, kRunDir, {"DISPLAY=" + x.name()});
  EXPECT_EQ(program.wait(30), 1) << program.output();
  EXPECT_NE(program.output().find("PseudoColor, depth 8"), std::string::npos) << program.output();
  EXPECT_EQ(lineCount(program.output()), 1u) << program.output();
}

}  // namespace
}  // namespace nubrik
