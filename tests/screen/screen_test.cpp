#include "nubrik/screen/screen.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>
#include <stdexcept>
#include <thread>
#include <vector>

#include "nubrik/screen/memory_window.h"
#include "screen/compose_helpers.h"

namespace nubrik {
namespace {

using namespace std::chrono_literals;

// Polls `done` (under the scene lock) until it holds, for at most 20 seconds.
template <typename Predicate>
bool eventually(Screen& screen, Predicate done) {
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (std::chrono::steady_clock::now() < deadline) {
    {
      std::lock_guard lock(screen.getSceneLock());
      if (done()) return true;
    }
    std::this_thread::sleep_for(1ms);
  }
  return false;
}

int threadCount() {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
    (void)entry;
    ++count;
  }
  return count;
}

// A joined thread can stay listed for a moment while the kernel finishes its
// exit; wait for the count to settle.
int settledThreadCount(int expected) {
  for (int i = 0; i < 2000 && threadCount() != expected; ++i) std::this_thread::sleep_for(1ms);
  return threadCount();
}

// A full composition of the registry's current state, from scratch.
std::shared_ptr<Image> fullComposition(Screen& screen) {
  return testing::plainComposition(testing::visibleCommands(*screen.getSpriteManager()),
                                   screen.getWidth(), screen.getHeight());
}

std::shared_ptr<Image> randomImage(std::mt19937& random) {
  const auto format = static_cast<PixelFormat>(random() % 5);
  auto image = std::make_shared<Image>(1 + random() % 40, 1 + random() % 40, format);
  for (size_t i = 0; i < size_t{image->getPitch()} * image->getHeight(); ++i) {
    image->lock()[i] = static_cast<uint8_t>(random());
  }
  return image;
}

TEST(ScreenTest, RefusesSurfacesItCannotCut) {
  MemorySurface surface(1, 1);
  EXPECT_THROW(Screen(&surface, 0, 10), std::invalid_argument);
  EXPECT_THROW(Screen(&surface, 16385, 10), std::invalid_argument);
  EXPECT_THROW(Screen(&surface, 10, 0), std::invalid_argument);
  Screen widest(&surface, 16384, 3);
  EXPECT_EQ(widest.getSpriteDrawer()->getBandHeight(), 1u);
  Screen demo(&surface, 800, 600);
  EXPECT_EQ(demo.getSpriteDrawer()->getBandHeight(), 20u);
  EXPECT_EQ(demo.getSpriteDrawer()->getBandCount(), 30u);
}

// Every frame of random changes made by a frame callback: after each composed
// frame the window equals a from-scratch composition of the sprites.
void runEndToEnd(std::optional<uint32_t> workers) {
  MemoryWindow window(400, 150);  // 40-row bands, the last one 30 rows
  Screen screen(window.getDC(), 400, 150);
  screen.setWorkerCount(workers);
  std::mt19937 random(3);
  auto background =
      screen.createFillRectSprite(0, {0, 0, 400, 150}, 0, Colour{PixelFormat::Rgb, {9, 99, 199}});
  background->show();
  background->invalidate();
  std::vector<std::shared_ptr<ISprite>> sprites;
  for (int i = 0; i < 30; ++i) {
    auto s = screen.createImageSprite(i, random() % 400, random() % 150, 1 + random() % 3,
                                      randomImage(random));
    s->setBlendMode(static_cast<BlendMode>(random() % 5));
    s->setOpacity(random() % 2 ? 255 : static_cast<uint8_t>(random()));
    s->show();
    s->invalidate();
    sprites.push_back(s);
  }

  uint64_t checkedFrames = 0, seenFrames = 0;
  std::vector<uint64_t> mismatches;
  screen.addFrameCallback([&](Screen& s) {
    if (s.getComposedFrameCount() != seenFrames) {
      seenFrames = s.getComposedFrameCount();
      if (!testing::samePixels(window.getSurface().getFramebuffer(), *fullComposition(s))) {
        mismatches.push_back(seenFrames);
      }
      ++checkedFrames;
    }
    for (int c = static_cast<int>(random() % 4); c > 0; --c) {
      ISprite& sprite = *sprites[random() % sprites.size()];
      sprite.invalidate();
      sprite.setPosition(sprite.getX() + int(random() % 9) - 4,
                         sprite.getY() + int(random() % 9) - 4);
      if (random() % 4 == 0) sprite.setOpacity(static_cast<uint8_t>(random()));
      if (random() % 8 == 0) {
        sprite.setZOrder(static_cast<int32_t>(random() % 4));
        sprite.invalidateOrder();
      }
      sprite.invalidate();
    }
    return false;
  });
  screen.startFrameThread();
  ASSERT_TRUE(eventually(screen, [&] { return checkedFrames >= 150; }));
  screen.stopFrameThread();
  EXPECT_TRUE(mismatches.empty()) << "first mismatch after frame " << mismatches.front();
}

TEST(ScreenTest, WindowEqualsFullCompositionAfterEveryFrame) { runEndToEnd(std::nullopt); }
TEST(ScreenTest, OneWorkerComposesEveryFrame) { runEndToEnd(1); }
TEST(ScreenTest, WithoutWorkersTheFrameThreadComposes) { runEndToEnd(0); }

TEST(ScreenTest, OnlyDirtyBandsArePresented) {
  MemoryWindow window(800, 600);
  Screen screen(window.getDC(), 800, 600);
  auto background =
      screen.createFillRectSprite(0, {0, 0, 800, 600}, 0, Colour{PixelFormat::Grey, {255}});
  auto square =
      screen.createFillRectSprite(1, {10, 145, 30, 150}, 1, Colour{PixelFormat::Grey, {0}});
  background->show();
  square->show();
  screen.invalidateAll();
  std::atomic<int> callbacks{0};
  screen.addFrameCallback([&](Screen&) { return ++callbacks, false; });
  screen.startFrameThread();
  ASSERT_TRUE(eventually(screen, [&] { return screen.getComposedFrameCount() == 1; }));
  EXPECT_EQ(window.getSurface().getPresented().size(), 30u);

  // Idle iterations present nothing, yet run the callbacks.
  {
    std::lock_guard lock(screen.getSceneLock());
    window.getSurface().clearPresented();
  }
  const int before = callbacks;
  ASSERT_TRUE(eventually(screen, [&] { return callbacks > before + 5; }));
  EXPECT_EQ(screen.getComposedFrameCount(), 1u);
  EXPECT_TRUE(window.getSurface().getPresented().empty());

  // A change inside band 7 (rows 140 to 159) presents exactly that rectangle.
  {
    std::lock_guard lock(screen.getSceneLock());
    square->invalidate();
    square->setPosition(12, 145);
    square->invalidate();
  }
  ASSERT_TRUE(eventually(screen, [&] { return screen.getComposedFrameCount() == 2; }));
  screen.stopFrameThread();
  ASSERT_EQ(window.getSurface().getPresented().size(), 1u);
  EXPECT_EQ(window.getSurface().getPresented()[0], (Rect{10, 145, 32, 150}));
}

TEST(ScreenTest, OneWorkerPresentsBandsInOrder) {
  MemoryWindow window(100, 2000);  // 163-row bands: 13 of them
  Screen screen(window.getDC(), 100, 2000);
  screen.setWorkerCount(1);
  screen.invalidateAll();
  screen.startFrameThread();
  ASSERT_TRUE(eventually(screen, [&] { return screen.getComposedFrameCount() == 1; }));
  screen.stopFrameThread();
  const auto& presented = window.getSurface().getPresented();
  ASSERT_EQ(presented.size(), 13u);
  for (size_t i = 0; i < presented.size(); ++i) EXPECT_EQ(presented[i].top, int32_t(i) * 163);
}

TEST(ScreenTest, CallbacksRunInOrderAndRemoveThemselves) {
  MemorySurface surface(10, 10);
  Screen screen(&surface, 10, 10);
  std::vector<int> calls;
  std::atomic<int> rounds{0};
  screen.addFrameCallback([&](Screen&) { return calls.push_back(1), false; });
  screen.addFrameCallback([&](Screen&) { return calls.push_back(2), true; });
  screen.addFrameCallback([&](Screen&) {
    calls.push_back(3);
    if (++rounds == 2) throw std::runtime_error("a failing callback");
    return false;
  });
  screen.addFrameCallback([&](Screen&) { return calls.push_back(4), false; });
  EXPECT_THROW(screen.addFrameCallback(nullptr), std::invalid_argument);
  screen.startFrameThread();
  ASSERT_TRUE(eventually(screen, [&] { return rounds >= 4; }));
  screen.stopFrameThread();
  // Round 1 all four; round 2 stops at the thrower; later rounds without 2.
  const std::vector<int> start{1, 2, 3, 4, 1, 3, 1, 3, 4, 1, 3, 4};
  ASSERT_GE(calls.size(), start.size());
  EXPECT_EQ(std::vector<int>(calls.begin(), calls.begin() + start.size()), start);
  // The lock is free after a throwing callback.
  EXPECT_TRUE(screen.getSceneLock().try_lock());
  screen.getSceneLock().unlock();
}

// Restarting from a frame callback would make the frame thread join itself:
// it is refused, and the loop goes on.
TEST(ScreenTest, CallbackCannotRestartItsOwnFrameThread) {
  MemorySurface surface(10, 10);
  Screen screen(&surface, 10, 10);
  std::atomic<int> rounds{0};
  screen.addFrameCallback([&](Screen& s) {
    if (++rounds == 2) s.startFrameThread();
    return false;
  });
  screen.startFrameThread();
  ASSERT_TRUE(eventually(screen, [&] { return rounds > 5; }));
  screen.stopFrameThread();
}

TEST(ScreenTest, StopsMidFrameRestartsAndLeavesNoThread) {
  // A first thread makes a sanitizer start its own helper thread now, not
  // in the middle of the count.
  std::thread([] {}).join();
  const int threadsBefore = settledThreadCount(threadCount());
  MemoryWindow window(800, 600);
  {
    Screen idle(window.getDC(), 800, 600);  // never started
  }
  {
    Screen screen(window.getDC(), 800, 600);
    std::mt19937 random(8);
    for (int i = 0; i < 400; ++i) {
      auto s = screen.createImageSprite(i, random() % 800, random() % 600, 0, randomImage(random));
      s->setOpacity(100);
      s->show();
    }
    screen.setWorkerCount(3);
    for (int round = 0; round < 5; ++round) {
      screen.invalidateAll();
      screen.startFrameThread();  // restarts: a fresh set of workers each time
      EXPECT_TRUE(screen.isFrameThreadRunning());
      if (round % 2) std::this_thread::sleep_for(2ms);
      screen.stopFrameThread();
      EXPECT_EQ(settledThreadCount(threadsBefore), threadsBefore);
    }
    screen.invalidateAll();
    screen.startFrameThread();
  }  // destroyed while running
  EXPECT_EQ(settledThreadCount(threadsBefore), threadsBefore);
}

// An image whose pixels cannot be had: the worker drops the band, the frame
// still ends, and later frames go on.
TEST(ScreenTest, FailingBandDoesNotStallTheFrame) {
  struct Failing : IImage {
    uint32_t getWidth() const override { return 10; }
    uint32_t getHeight() const override { return 10; }
    PixelFormat getPixelFormat() const override { return PixelFormat::Rgba; }
    uint32_t getPitch() const override { return 40; }
    uint8_t* lock() override { throw std::runtime_error("no pixels"); }
    const uint8_t* lockConst() const override { throw std::runtime_error("no pixels"); }
    void unlock() override {}
    void unlockConst() const override {}
  };
  MemoryWindow window(100, 100);
  Screen screen(window.getDC(), 100, 100);
  auto broken = screen.createImageSprite(1, 0, 0, 0, std::make_shared<Failing>());
  broken->show();
  screen.invalidateAll();
  screen.startFrameThread();
  ASSERT_TRUE(eventually(screen, [&] { return screen.getComposedFrameCount() == 1; }));
  screen.invalidateAll();
  ASSERT_TRUE(eventually(screen, [&] { return screen.getComposedFrameCount() == 2; }));
  screen.stopFrameThread();
}

// The owner's thread invalidates and creates sprites while frames run.
TEST(ScreenTest, OwnerThreadWorksWhileFramesRun) {
  MemoryWindow window(320, 240);
  Screen screen(window.getDC(), 320, 240);
  auto image = std::make_shared<Image>(8, 8, PixelFormat::Rgba);
  std::memset(image->lock(), 0x80, 8 * 8 * 4);
  std::atomic<int> moved{0};
  screen.addFrameCallback([&](Screen& s) {
    auto sprite = s.getSpriteManager()->findSprite(7);
    if (sprite) {
      sprite->invalidate();
      sprite->setPosition((sprite->getX() + 3) % 320, sprite->getY());
      sprite->invalidate();
      ++moved;
    }
    return false;
  });
  screen.startFrameThread();
  for (int i = 0; i < 200; ++i) {
    auto s = screen.createImageSprite(i % 10, i % 320, i % 240, i % 3, image);
    {
      std::lock_guard lock(screen.getSceneLock());
      s->show();
      s->invalidate();
    }
    if (i % 10 == 0) screen.invalidateAll();
    if (i % 50 == 0) std::this_thread::sleep_for(1ms);
  }
  ASSERT_TRUE(eventually(screen, [&] { return moved > 20; }));
  screen.stopFrameThread();
  EXPECT_EQ(screen.getSpriteManager()->size(), 200u);
}

}  // namespace
}  // namespace nubrik
