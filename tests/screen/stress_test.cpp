// Screens under load from every side at once: frame threads started,
// stopped and destroyed while running, sprites changed from another thread
// under the scene lock, callbacks that throw, add callbacks and remove
// themselves. Runs for NUBRIK_STRESS_SECONDS (2 unless set); meant for the
// sanitizer builds. What it checks besides them: no hang, and after all of
// it, a full redraw still equals a fresh composition.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <random>
#include <stdexcept>
#include <thread>
#include <vector>

#include "nubrik/screen/screen.h"
#include "nubrik/screen/screen_internals.h"
#include "nubrik/window/memory_window.h"
#include "screen/compose_helpers.h"

namespace nubrik {
namespace {

using namespace std::chrono_literals;

double stressSeconds() {
  const char* text = std::getenv("NUBRIK_STRESS_SECONDS");
  const double seconds = text != nullptr ? std::atof(text) : 2.0;
  return seconds > 0 ? seconds : 2.0;
}

std::shared_ptr<Image> smallImage(std::mt19937& random) {
  auto image = std::make_shared<Image>(1 + random() % 30, 1 + random() % 30, PixelFormat::Rgba);
  for (size_t i = 0; i < size_t{image->getPitch()} * image->getHeight(); ++i) {
    image->lock()[i] = static_cast<uint8_t>(random());
  }
  return image;
}

// Waits until the Screen has composed one more frame, for at most 20 s.
bool nextFrame(Screen& screen) {
  const uint64_t before = screen.getComposedFrameCount();
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (screen.getComposedFrameCount() == before) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

TEST(StressTest, ScreensSurviveEverythingAtOnce) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::duration<double>(stressSeconds());
  std::mt19937 random(21);
  int cycles = 0;
  while (std::chrono::steady_clock::now() < deadline || cycles < 3) {
    ++cycles;
    MemoryWindow window(160 + random() % 200, 40 + random() % 100);
    const uint32_t width = window.getClientWidth(), height = window.getClientHeight();
    auto screen = std::make_unique<Screen>(window.getDC(), width, height);
    screen->setWorkerCount(random() % 5);
    std::vector<std::shared_ptr<ISprite>> sprites;
    for (int i = 0; i < 40; ++i) {
      auto s = screen->createImageSprite(i, random() % width, random() % height, random() % 3,
                                         smallImage(random));
      s->setOpacity(static_cast<uint8_t>(random()));
      s->show();
      s->invalidate();
      sprites.push_back(s);
    }
    std::atomic<int> rounds{0};
    screen->addFrameCallback([&rounds](Screen& s) {
      const int round = ++rounds;
      if (round % 7 == 0) throw std::runtime_error("a failing callback");
      if (round % 5 == 0) s.addFrameCallback([](Screen&) { return true; });
      if (round % 3 == 0) s.invalidateAll();
      return false;
    });
    screen->startFrameThread();

    // Another thread changes sprites under the scene lock meanwhile.
    std::atomic<bool> done{false};
    std::thread changer([&, seed = random()] {
      std::mt19937 local(seed);
      while (!done) {
        {
          std::lock_guard lock(screen->getSceneLock());
          ISprite& s = *sprites[local() % sprites.size()];
          s.invalidate();
          s.setPosition(s.getX() + int(local() % 7) - 3, s.getY() + int(local() % 7) - 3);
          if (local() % 9 == 0) {
            s.setZOrder(int(local() % 3));
            s.invalidateOrder();
          }
          s.invalidate();
        }
        std::this_thread::yield();
      }
    });
    for (int i = static_cast<int>(random() % 4); i > 0; --i) {
      std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
      if (random() % 2) {
        screen->stopFrameThread();
      }
      screen->startFrameThread();
    }
    done = true;
    changer.join();

    if (random() % 3 == 0) {
      screen.reset();  // destroyed while running
      continue;
    }
    // Quiet now: one more full frame must show exactly the sprites.
    screen->invalidateAll();
    ASSERT_TRUE(nextFrame(*screen)) << "cycle " << cycles;
    screen->stopFrameThread();
    EXPECT_TRUE(testing::samePixels(
        window.getSurface().getFramebuffer(),
        *testing::plainComposition(
            testing::visibleCommands(*ScreenInternals::spriteManager(*screen)), width, height)))
        << "cycle " << cycles;
  }
}

}  // namespace
}  // namespace nubrik
