#include "nubrik/screen/screen.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#ifdef __linux__
#include <sched.h>
#endif

#include "nubrik/screen/screen_internals.h"
#include "nubrik/screen/sprite_drawer.h"
#include "nubrik/sprite/blit_loops.h"
#include "nubrik/window/memory_window.h"
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
  return testing::plainComposition(
      testing::visibleCommands(*ScreenInternals::spriteManager(screen)), screen.getWidth(),
      screen.getHeight());
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
  EXPECT_EQ(ScreenInternals::spriteDrawer(widest)->getBandHeight(), 1u);
  Screen demo(&surface, 800, 600);
  EXPECT_EQ(ScreenInternals::spriteDrawer(demo)->getBandHeight(), 20u);
  EXPECT_EQ(ScreenInternals::spriteDrawer(demo)->getBandCount(), 30u);
  // A resize takes the same sizes, and a refused one changes nothing.
  for (const auto& [w, h] : {std::pair{0u, 10u}, {16385u, 10u}, {10u, 0u}, {16384u, 16385u}}) {
    try {
      demo.resize(w, h);
      ADD_FAILURE() << w << " x " << h << " taken";
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find(std::to_string(w) + " x " + std::to_string(h)),
                std::string::npos)
          << e.what();
    }
    EXPECT_EQ(demo.getWidth(), 800u);
    EXPECT_EQ(demo.getHeight(), 600u);
    EXPECT_EQ(surface.getFramebuffer().getWidth(), 1u);
  }
  demo.resize(16384, 3);
  EXPECT_EQ(ScreenInternals::spriteDrawer(demo)->getBandHeight(), 1u);
  EXPECT_EQ(surface.getFramebuffer().getWidth(), 16384u);
}

std::shared_ptr<ISprite> randomSprite(Screen& screen, std::mt19937& random) {
  const int32_t x = static_cast<int32_t>(random() % 440) - 20;
  const int32_t y = static_cast<int32_t>(random() % 190) - 20;
  const int32_t zOrder = static_cast<int32_t>(random() % 3);
  std::shared_ptr<ISprite> sprite;
  if (random() % 3 == 0) {
    const Colour colour{static_cast<PixelFormat>(random() % 4),
                        {uint8_t(random()), uint8_t(random()), uint8_t(random()),
                         uint8_t(random() % 2 ? 255 : random())}};
    sprite = screen.createFillRectSprite(
        0, {x, y, x + 1 + int32_t(random() % 120), y + 1 + int32_t(random() % 60)}, zOrder, colour);
  } else {
    sprite = screen.createImageSprite(0, x, y, zOrder, randomImage(random));
  }
  sprite->setBlendMode(static_cast<BlendMode>(random() % 5));
  sprite->setOpacity(random() % 2 ? 255 : static_cast<uint8_t>(random()));
  if (random() % 5) {
    sprite->show();
    sprite->invalidate();
  }
  return sprite;
}

// One random change through the change protocol: report the old area,
// change, report the new one.
void changeSprite(Screen& screen, std::vector<std::shared_ptr<ISprite>>& sprites,
                  std::mt19937& random) {
  const size_t index = random() % sprites.size();
  ISprite& sprite = *sprites[index];
  sprite.invalidate();
  switch (random() % 8) {
    case 0:
      sprite.setOpacity(static_cast<uint8_t>(random()));
      break;
    case 1:
      sprite.setZOrder(static_cast<int32_t>(random() % 3));
      sprite.invalidateOrder();
      break;
    case 2:
      sprite.isVisible() ? sprite.hide() : sprite.show();
      break;
    case 3:
      if (auto fill = dynamic_cast<FillRectSprite*>(&sprite)) {
        const Rect r = fill->getRect();
        fill->setRect(
            {r.left, r.top, r.left + 1 + int(random() % 150), r.top + 1 + int(random() % 70)});
        fill->setColour({PixelFormat::Rgba, {uint8_t(random()), 0, 200, uint8_t(random())}});
      } else {
        static_cast<ImageSprite&>(sprite).setImage(randomImage(random));
      }
      break;
    case 4:
      screen.removeSprite(sprites[index]);
      sprites[index] = randomSprite(screen, random);
      return;
    default:
      sprite.setPosition(sprite.getX() + int(random() % 9) - 4,
                         sprite.getY() + int(random() % 9) - 4);
      break;
  }
  sprite.invalidate();
}

// Every frame of random changes made by a frame callback (sprites that
// overshoot every edge, equal z-orders, hidden ones, removals, new images
// and colours): after each composed frame the window equals a from-scratch
// composition of the sprites onto a cleared surface.
// Resizing, the surface takes random sizes, from the frame callbacks and
// from the owner's thread while frames run: the first frame composed after
// a resize equals the composition at the new size.
void runEndToEnd(std::optional<uint32_t> workers, blit::SimdLevel level, bool background,
                 bool lends = true, bool resizing = false) {
  blit::setActiveSimdLevel(level);
  MemorySurface surface(400, 150, lends);  // 40-row bands, the last one 30 rows
  Screen screen(&surface, 400, 150);
  screen.setWorkerCount(workers);
  std::mt19937 random(3 + (background ? 1 : 0) + 2 * static_cast<int>(level));
  if (background) {
    auto sprite =
        screen.createFillRectSprite(0, {0, 0, 400, 150}, 0, Colour{PixelFormat::Rgb, {9, 99, 199}});
    sprite->show();
    sprite->invalidate();
  }
  std::vector<std::shared_ptr<ISprite>> sprites;
  for (int i = 0; i < 30; ++i) sprites.push_back(randomSprite(screen, random));

  uint64_t checkedFrames = 0, seenFrames = 0;
  std::vector<uint64_t> mismatches;
  screen.addFrameCallback([&](Screen& s) {
    if (s.getComposedFrameCount() != seenFrames) {
      seenFrames = s.getComposedFrameCount();
      if (!testing::samePixels(surface.getFramebuffer(), *fullComposition(s))) {
        mismatches.push_back(seenFrames);
      }
      ++checkedFrames;
    }
    for (int c = static_cast<int>(random() % 4); c > 0; --c) changeSprite(s, sprites, random);
    if (resizing && random() % 6 == 0) s.resize(1 + random() % 500, 1 + random() % 200);
    return false;
  });
  screen.startFrameThread();
  std::atomic<bool> done{false};
  std::thread owner([&] {
    std::mt19937 sizes(5);
    while (resizing && !done) {
      screen.resize(1 + sizes() % 700, 1 + sizes() % 180);
      std::this_thread::sleep_for(3ms);
    }
  });
  EXPECT_TRUE(eventually(screen, [&] { return checkedFrames >= 80; }));
  done = true;
  owner.join();
  screen.stopFrameThread();
  blit::setActiveSimdLevel(blit::bestSimdLevel());
  EXPECT_TRUE(mismatches.empty()) << "first mismatch after frame " << mismatches.front();
}

TEST(ScreenTest, WindowEqualsFullCompositionAfterEveryFrame) {
  const std::optional<uint32_t> workerCounts[] = {std::nullopt, 1u, 3u};
  for (int l = 0; l <= static_cast<int>(blit::bestSimdLevel()); ++l) {
    for (const auto workers : workerCounts) {
      for (bool background : {true, false}) {
        SCOPED_TRACE(::testing::Message()
                     << "level " << l << ", workers " << (workers ? int(*workers) : -1)
                     << ", background " << background);
        runEndToEnd(workers, static_cast<blit::SimdLevel>(l), background);
      }
    }
  }
}

TEST(ScreenTest, ResizedWindowEqualsFullCompositionAfterEveryFrame) {
  for (const bool lends : {true, false}) {
    for (const std::optional<uint32_t> workers : {std::optional<uint32_t>(), {3u}}) {
      SCOPED_TRACE(::testing::Message()
                   << "lends " << lends << ", workers " << (workers ? int(*workers) : -1));
      runEndToEnd(workers, blit::bestSimdLevel(), lends, lends, /*resizing=*/true);
    }
  }
}

// Band images instead of lent rows, and more threads than processors.
TEST(ScreenTest, WindowWithoutLentRowsEqualsFullComposition) {
  for (uint32_t workers : {1u, 2u, 4u}) {
    SCOPED_TRACE(::testing::Message() << "workers " << workers);
    runEndToEnd(workers, blit::bestSimdLevel(), workers != 2, false);
  }
}

// A thousand threads asked for: no more than the bound start, and frames
// still come. The count may be set and the thread's state read from any
// thread while frames run (a sanitizer build checks).
TEST(ScreenTest, WorkerCountIsBoundedAndSetFromAnyThread) {
  std::thread([] {}).join();
  const int threadsBefore = settledThreadCount(threadCount());
  MemoryWindow window(64, 64);
  Screen screen(window.getDC(), 64, 64);
  screen.setWorkerCount(1000);
  EXPECT_EQ(screen.getWorkerCount(), Screen::maxWorkerCount());
  EXPECT_LE(Screen::maxWorkerCount(), Screen::kMaxWorkerCount);
  std::atomic<bool> seenRunning{false};
  screen.addFrameCallback([&](Screen& s) {
    seenRunning = s.isFrameThreadRunning();
    return false;
  });
  screen.invalidateAll();
  screen.startFrameThread();
  ASSERT_TRUE(eventually(screen, [&] { return screen.getComposedFrameCount() >= 1; }));
  EXPECT_LE(threadCount() - threadsBefore, static_cast<int>(Screen::maxWorkerCount()));
  std::thread other([&] {
    for (int i = 0; i < 100; ++i) screen.setWorkerCount(i % 5);
  });
  other.join();
  screen.startFrameThread();  // takes the last count
  EXPECT_TRUE(eventually(screen, [&] { return seenRunning.load(); }));
  screen.stopFrameThread();
  EXPECT_FALSE(screen.isFrameThreadRunning());
  screen.setWorkerCount(std::nullopt);
  EXPECT_EQ(screen.getWorkerCount(), platform::logicalProcessorCount());
}

// The engine's own first example: one square moving over nothing. No trail
// of earlier frames may be left behind.
TEST(ScreenTest, AMovingSquareLeavesNoTrail) {
  MemoryWindow window(320, 200);
  Screen screen(window.getDC(), 320, 200);
  auto square = screen.createFillRectSprite(1, {50, 50, 160, 160}, 2,
                                            {nubrik::PixelFormat::Rgb, {255, 0, 0}});
  square->show();
  square->invalidate();
  int mismatches = 0, frames = 0;
  screen.addFrameCallback([&](Screen& s) {
    mismatches += !testing::samePixels(window.getSurface().getFramebuffer(), *fullComposition(s));
    square->invalidate();
    square->setPosition(square->getX() + 1, square->getY() + (frames % 2));
    square->invalidate();
    return ++frames == 100;
  });
  screen.startFrameThread();
  ASSERT_TRUE(eventually(screen, [&] { return frames == 100; }));
  screen.stopFrameThread();
  EXPECT_EQ(mismatches, 0);
}

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

// A callback may add callbacks while the round runs: they join after it,
// each runs from the next round on, and nothing of the running one moves.
TEST(ScreenTest, CallbacksAddedByCallbacksJoinAfterTheRound) {
  MemorySurface surface(10, 10);
  Screen screen(&surface, 10, 10);
  int round = 0;
  std::vector<std::pair<int, int>> addedAndRan;  // (round added, round run)
  screen.addFrameCallback([&](Screen& s) {
    ++round;
    if (round <= 40) {
      const int added = round;
      s.addFrameCallback([&, added](Screen&) {
        addedAndRan.emplace_back(added, round);
        return true;
      });
    }
    return false;
  });
  screen.startFrameThread();
  ASSERT_TRUE(eventually(screen, [&] { return round > 45; }));
  screen.stopFrameThread();
  ASSERT_EQ(addedAndRan.size(), 40u);
  for (const auto& [added, ran] : addedAndRan) EXPECT_EQ(ran, added + 1);
}

// The frame thread may be waiting for the scene lock: stopping it while
// holding that lock is refused instead of hanging.
TEST(ScreenTest, StopWhileHoldingTheSceneLockIsRefused) {
  MemorySurface surface(10, 10);
  Screen screen(&surface, 10, 10);
  screen.startFrameThread();
  {
    std::lock_guard lock(screen.getSceneLock());
    EXPECT_THROW(screen.stopFrameThread(), std::logic_error);
    EXPECT_TRUE(screen.isFrameThreadRunning());
  }
  screen.stopFrameThread();
  EXPECT_FALSE(screen.isFrameThreadRunning());
}

// The frame thread cannot join itself: a Screen whose last handle goes in
// its own callback says why before the process ends.
TEST(ScreenDeathTest, DestroyedFromItsOwnFrameThreadSaysWhy) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        MemorySurface surface(10, 10);
        auto screen = std::make_shared<Screen>(&surface, 10, 10);
        std::shared_ptr<Screen>* holder = &screen;
        screen->addFrameCallback([holder](Screen&) {
          holder->reset();
          return false;
        });
        screen->startFrameThread();
        std::this_thread::sleep_for(10s);
      },
      "destroyed from its own frame thread");
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

// An image whose pixels cannot be had: the frame still ends, the failure is
// counted, the band stays marked for the next frame, and later frames go on.
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
  ASSERT_TRUE(eventually(screen, [&] { return screen.getComposedFrameCount() >= 1; }));
  screen.invalidateAll();
  ASSERT_TRUE(eventually(screen, [&] { return screen.getComposedFrameCount() >= 2; }));
  ASSERT_TRUE(eventually(screen, [&] { return ScreenInternals::spriteDrawer(screen)->isDirty(); }));
  screen.stopFrameThread();
  EXPECT_GE(screen.getFailedFrameCount(), 2u);
}

// A band that fails every time is tried again less and less often while
// nothing changes (each wait twice the one before), while the callbacks go
// on at their pace; a change is drawn, and the band tried, at once.
TEST(ScreenTest, ABandThatAlwaysFailsIsRetriedLessAndLessOften) {
  static std::atomic<int> tries{0};
  struct Failing : IImage {
    uint32_t getWidth() const override { return 10; }
    uint32_t getHeight() const override { return 10; }
    PixelFormat getPixelFormat() const override { return PixelFormat::Rgba; }
    uint32_t getPitch() const override { return 40; }
    uint8_t* lock() override { throw std::runtime_error("no pixels"); }
    const uint8_t* lockConst() const override {
      ++tries;
      throw std::runtime_error("no pixels");
    }
    void unlock() override {}
    void unlockConst() const override {}
  };
  tries = 0;
  MemoryWindow window(100, 100);
  Screen screen(window.getDC(), 100, 100);
  auto broken = screen.createImageSprite(1, 0, 0, 0, std::make_shared<Failing>());
  broken->show();
  broken->invalidate();
  std::atomic<int> rounds{0};
  screen.addFrameCallback([&](Screen&) {
    ++rounds;
    return false;
  });
  screen.startFrameThread();
  // Tries at about 0, 1, 3, 7, ... 1023 ms.
  std::this_thread::sleep_for(1100ms);
  const int idleTries = tries;
  EXPECT_GE(idleTries, 3);
  EXPECT_LE(idleTries, 14);
  // Far fewer than the pace's thousand on a busy machine, yet not stalled.
  EXPECT_GE(rounds, 30);
  const auto changed = std::chrono::steady_clock::now();
  {
    std::lock_guard lock(screen.getSceneLock());
    broken->invalidate();
    broken->setPosition(5, 5);
    broken->invalidate();
  }
  ASSERT_TRUE(eventually(screen, [&] { return tries > idleTries; }));
  EXPECT_LT(std::chrono::steady_clock::now() - changed, 400ms);
  screen.stopFrameThread();
  EXPECT_GE(screen.getFailedFrameCount(), uint64_t(idleTries));
}

// A callback error handler that replaces itself while it runs (with one
// that does the same) finishes its call with what it holds, and the next
// failure goes to its successor.
TEST(ScreenTest, ACallbackErrorHandlerMayReplaceItself) {
  Screen screen(nullptr, 16, 16);
  std::vector<std::string> told;  // the frame thread's, read once it stopped
  std::function<CallbackErrorHandler(int)> make = [&](int n) {
    auto name = std::make_shared<std::string>("handler " + std::to_string(n) +
                                              std::string(64, '.'));  // on the heap
    return CallbackErrorHandler([&, n, name](std::exception_ptr) {
      screen.setCallbackErrorHandler(make(n + 1));
      told.push_back(*name);
    });
  };
  screen.setCallbackErrorHandler(make(0));
  screen.addFrameCallback([](Screen&) -> bool { throw std::runtime_error("fails"); });
  screen.startFrameThread();
  ASSERT_TRUE(eventually(screen, [&] { return screen.getCallbackFailureCount() >= 5; }));
  screen.stopFrameThread();
  ASSERT_GE(told.size(), 5u);
  EXPECT_EQ(screen.getCallbackFailureCount(), told.size());
  for (size_t i = 0; i < told.size(); ++i) {
    EXPECT_EQ(told[i], "handler " + std::to_string(i) + std::string(64, '.'));
  }
}

// The owner's thread invalidates and creates sprites while frames run.
TEST(ScreenTest, OwnerThreadWorksWhileFramesRun) {
  MemoryWindow window(320, 240);
  Screen screen(window.getDC(), 320, 240);
  auto image = std::make_shared<Image>(8, 8, PixelFormat::Rgba);
  std::memset(image->lock(), 0x80, 8 * 8 * 4);
  std::atomic<int> moved{0};
  screen.addFrameCallback([&](Screen& s) {
    auto sprite = s.findSprite(7);
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
  EXPECT_EQ(ScreenInternals::spriteManager(screen)->size(), 200u);
}

#ifdef __linux__
// The processors each thread of the process may run on.
std::vector<std::string> threadProcessorSets() {
  std::vector<std::string> sets;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(std::stoi(entry.path().filename().string()), sizeof set, &set) != 0) {
      continue;  // the thread has just ended
    }
    std::string bits;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) bits += CPU_ISSET(cpu, &set) ? '1' : '0';
    sets.push_back(bits);
  }
  return sets;
}

// A program that pins its threads, or measures, may have the Screen leave
// every thread's processors alone: through frames shared by more workers
// than processors, which join late, no thread's set of processors changes.
TEST(ScreenTest, WorkersLeftToTheSystemAreNeverMoved) {
  const std::vector<std::string> before = threadProcessorSets();
  ASSERT_FALSE(before.empty());
  MemoryWindow window(640, 480);
  Screen screen(window.getDC(), 640, 480);
  EXPECT_EQ(screen.getWorkerPlacement(), WorkerPlacement::Steered);
  screen.setWorkerPlacement(WorkerPlacement::LeftToSystem);
  screen.setWorkerCount(2 * platform::logicalProcessorCount());
  screen.setFrameInterval(2ms);
  auto sprite = screen.createFillRectSprite({0, 0, 640, 480}, 0, Colour{PixelFormat::Rgb, {9}});
  sprite->show();
  screen.addFrameCallback([](Screen& s) {
    s.invalidateAll();
    return false;
  });
  screen.startFrameThread();
  std::vector<std::string> changed;
  while (screen.getComposedFrameCount() < 300 && changed.empty()) {
    for (const std::string& set : threadProcessorSets()) {
      if (set != before.front()) changed.push_back(set);
    }
    std::this_thread::sleep_for(100us);
  }
  screen.stopFrameThread();
  EXPECT_TRUE(changed.empty()) << changed.front();
}
#endif

// Sprites made without an id get ids of their own, none of which findSprite
// mistakes for the program's; spriteAt picks through the Screen what is
// drawn on top at a point, after changes made through setters alone.
TEST(ScreenTest, OwnIdsStayApartAndPickingFollowsSetters) {
  MemoryWindow window(100, 60);
  Screen screen(window.getDC(), 100, 60);
  auto named = screen.createFillRectSprite(7, {0, 0, 100, 60}, 0, Colour{PixelFormat::Rgb, {1}});
  std::vector<std::shared_ptr<ISprite>> own;
  for (int i = 0; i < 50; ++i) {
    own.push_back(screen.createFillRectSprite({i, 0, i + 1, 1}, 1, Colour{PixelFormat::Rgb, {2}}));
  }
  for (size_t i = 1; i < own.size(); ++i) EXPECT_NE(own[i]->getId(), own[i - 1]->getId());
  for (const auto& sprite : own) {
    const std::shared_ptr<ISprite> found = screen.findSprite(sprite->getId());
    EXPECT_TRUE(found == nullptr || found == named);
  }
  EXPECT_EQ(screen.findSprite(7), named);

  auto top = screen.createImageSprite(10, 10, 5, testing::rgbxImage(4, 4, 9));
  named->show();
  EXPECT_EQ(screen.spriteAt(12, 12), named);
  top->show();
  EXPECT_EQ(screen.spriteAt(12, 12), top);
  top->setPosition(50, 30);
  EXPECT_EQ(screen.spriteAt(12, 12), named);
  EXPECT_EQ(screen.spriteAt(51, 31), top);
  top->setOpacity(0);
  EXPECT_EQ(screen.spriteAt(51, 31), named);
  EXPECT_EQ(screen.spriteAt(-1, 5), nullptr);
}

}  // namespace
}  // namespace nubrik
