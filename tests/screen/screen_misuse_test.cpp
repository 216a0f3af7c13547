#include <gtest/gtest.h>

#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "nubrik/screen/screen.h"
#include "nubrik/screen/sprite_drawer.h"

namespace nubrik {
namespace {

// Changing a sprite or the registry without the scene lock while frames are
// composed is refused by name, before anything is stored; with the lock, or
// once the frame thread stopped, the same calls go through.
TEST(ScreenMisuseTest, ChangesWithoutTheLockWhileFramesRunAreRefused) {
  Screen screen(nullptr, 64, 48);
  auto square = screen.createFillRectSprite(1, {0, 0, 8, 8}, 1, Colour{});
  auto other = screen.createFillRectSprite(2, {0, 0, 8, 8}, 1, Colour{});
  square->show();
  square->invalidate();
  screen.startFrameThread();
  std::thread([&] {
    EXPECT_THROW(square->setPosition(5, 5), std::logic_error);
    EXPECT_EQ(square->getX(), 0);  // refused before storing
    EXPECT_THROW(square->invalidate(), std::logic_error);
    EXPECT_THROW(other->setOpacity(3), std::logic_error);
    EXPECT_THROW(screen.getSpriteManager()->markOrderDirty(), std::logic_error);
    EXPECT_THROW(screen.getSpriteDrawer()->invalidateRect({0, 0, 4, 4}), std::logic_error);
    std::lock_guard lock(screen.getSceneLock());
    square->setPosition(5, 5);
    square->invalidate();
  }).join();
  screen.stopFrameThread();
  other->setOpacity(3);
  EXPECT_EQ(square->getX(), 5);
}

// Surfaces beyond the cap are refused with the size and the limit, before
// anything is allocated for them.
TEST(ScreenMisuseTest, SurfacesBeyondTheCapAreRefusedByName) {
  for (auto [width, height] : {std::pair<uint32_t, uint32_t>{16384, 10'000'000},
                               {16384, INT32_MAX},
                               {16384, UINT32_MAX},
                               {1, UINT32_MAX}}) {
    try {
      Screen screen(nullptr, width, height);
      ADD_FAILURE() << width << " x " << height << " was accepted";
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find(std::to_string(height)), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(std::to_string(Screen::kMaxPixels)), std::string::npos);
    }
  }
  Screen largest(nullptr, 16384, 16384);
  EXPECT_EQ(largest.getSpriteDrawer()->getBandCount(), 16384u);
}

}  // namespace
}  // namespace nubrik
