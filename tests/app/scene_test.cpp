#include "app/scene.h"

#include <gtest/gtest.h>

#include <thread>

#include "app/sprite_rules.h"
#include "nubrik/base/error_message.h"
#include "nubrik/base/exception.h"
#include "nubrik/screen/screen_internals.h"
#include "nubrik/screen/sprite_drawer.h"
#include "nubrik/screen/sprite_manager.h"
#include "nubrik/sprite/draw_command.h"
#include "nubrik/sprite/sprite_factory.h"
#include "nubrik/window/memory_window.h"

namespace nubrik {
namespace {

// Pictures come from the folder the build writes them to (the tests' working
// directory). The scene is built on a fresh thread, whose random sequence
// starts from the beginning, as the program's message thread does.
template <typename Body>
void withScene(MemoryWindow& window, Body body) {
  std::thread([&] {
    SceneOptions options;
    options.startFrameThread = false;
    Scene scene(window, std::move(options));
    body(scene);
  }).join();
}

TEST(SceneTest, FixedSpritesFollowTheTable) {
  MemoryWindow window(800, 600);
  withScene(window, [](Scene& scene) {
    auto manager = ScreenInternals::spriteManager(scene.getScreen());
    EXPECT_EQ(manager->size(), 2u + 50 + 1 + 900);
    auto background = manager->findSprite(0);
    EXPECT_EQ(SpriteCommands::of(*background).bounds, (Rect{0, 0, 800, 600}));
    EXPECT_EQ(background->getZOrder(), 0);
    auto red = SpriteCommands::of(*manager->findSprite(10));
    EXPECT_EQ(red.bounds, (Rect{50, 50, 160, 160}));
    EXPECT_EQ(red.colour.components[0], 255);
    for (int k = 0; k < 50; ++k) {
      if (k == 39) continue;  // identifier 50 is shared with the green square
      auto sprite = manager->findSprite(11 + k);
      EXPECT_EQ(sprite->getX(), 75 + 5 * k);
      EXPECT_EQ(sprite->getY(), 75 + 5 * k);
      EXPECT_EQ(sprite->getZOrder(), 3 + k);
      EXPECT_EQ(sprite->getOpacity(), 128);
      EXPECT_EQ(sprite->getBlendMode(), BlendMode::Normal);
      EXPECT_TRUE(sprite->isVisible());
    }
    // Both sprites with identifier 50 are there; the green square is on top.
    int fifties = 0;
    for (const auto& entry : *manager) fifties += entry.id == 50;
    EXPECT_EQ(fifties, 2);
  });
}

TEST(SceneTest, SnowIsLaidOutByTheGenerator) {
  MemoryWindow window(800, 600);
  withScene(window, [](Scene& scene) {
    const auto& flakes = scene.getSnowflakes();
    ASSERT_EQ(flakes.size(), 900u);
    // The generator written out independently: state * 214013 + 2531011.
    uint32_t state = 1;
    auto next = [&] {
      state = state * 214013u + 2531011u;
      return (state >> 16) & 0x7FFF;
    };
    for (int i = 0; i < 900; ++i) {
      const auto& flake = flakes[i];
      const uint32_t x = next() % 800, y = next() % 600, s = next() % 5;
      EXPECT_EQ(flake.id, 100 + i);
      EXPECT_EQ(flake.speed, s < 1 ? 1 : static_cast<int32_t>(s));
      EXPECT_EQ(flake.drift, 0);
      const int32_t opacities[] = {32, 64, 128, 192};
      EXPECT_EQ(flake.baseOpacity, opacities[i & 3]);
      EXPECT_EQ(flake.sprite->getX(), static_cast<int32_t>(x));
      EXPECT_EQ(flake.sprite->getY(), static_cast<int32_t>(y));
      EXPECT_EQ(flake.sprite->getOpacity(), flake.baseOpacity);
      EXPECT_EQ(flake.sprite->getBlendMode(), BlendMode::Add);
      EXPECT_TRUE(flake.sprite->isVisible());
      EXPECT_EQ(flake.sprite->getZOrder(), 500);
    }
    EXPECT_EQ(flakes[0].baseOpacity, 32);
    EXPECT_EQ(flakes[1].baseOpacity, 64);
    EXPECT_EQ(flakes[3].baseOpacity, 192);
  });
}

TEST(SceneTest, SnowStepWrapsAtTheBottomAndTheRight) {
  const Scene::Snowflake fast{100, 0, 4, 128, nullptr};
  // Odd draws step right and brighten by r % 3, even ones step left and fade.
  FlakeStep step = snowStep(fast, 10, 10, 100, 7, 800, 600);
  EXPECT_EQ(step.x, 11);
  EXPECT_EQ(step.y, 14);
  EXPECT_EQ(step.opacity, 101);
  step = snowStep(fast, 10, 10, 100, 8, 800, 600);
  EXPECT_EQ(step.x, 9);
  EXPECT_EQ(step.opacity, 98);
  // 597 + 4 = 601 > 600 re-enters at the top with its base opacity.
  step = snowStep(fast, 10, 597, 3, 5, 800, 600);
  EXPECT_EQ(step.y, -10);
  EXPECT_EQ(step.opacity, 128);
  // Reaching exactly 600 stays for this frame.
  EXPECT_EQ(snowStep(fast, 10, 596, 3, 5, 800, 600).y, 600);
  // 810 stays, 811 wraps to -10; no wrap on the left.
  EXPECT_EQ(snowStep(fast, 809, 0, 0, 1, 800, 600).x, 810);
  EXPECT_EQ(snowStep(fast, 810, 0, 0, 1, 800, 600).x, -10);
  EXPECT_EQ(snowStep(fast, -50, 0, 0, 2, 800, 600).x, -51);
  // Opacity stays within a byte.
  EXPECT_EQ(snowStep(fast, 0, 0, 254, 5, 800, 600).opacity, 255);
  EXPECT_EQ(snowStep(fast, 0, 0, 1, 2, 800, 600).opacity, 0);
}

TEST(SceneTest, CursorSpriteIsCentredOnTheCursor) {
  EXPECT_EQ(cursorSpritePosition({400, 300}, 64, 48), (Point{368, 276}));
  EXPECT_EQ(cursorSpritePosition({400, 300}, 65, 48), (Point{368, 276}));
  EXPECT_EQ(cursorSpritePosition({-20, 900}, 64, 48), (Point{-52, 876}));

  MemoryWindow window(800, 600);
  window.setCursorPosition({400, 300});
  withScene(window, [&](Scene& scene) {
    std::lock_guard lock(scene.getScreen().getSceneLock());
    scene.update();
    auto sprite = scene.getScreen().findSprite(Scene::kCursorSpriteId);
    EXPECT_EQ(sprite->getX(), 368);
    EXPECT_EQ(sprite->getY(), 276);
  });
}

TEST(SpriteRulesTest, HiddenOrInvisibleSpritesAreNotRedrawn) {
  auto manager = std::make_shared<SpriteManager>();
  auto drawer = std::make_shared<SpriteDrawer>(100, 100, 10, manager);
  const auto held = makeSprite<FillRectSprite>(manager, drawer, 1, Rect{0, 0, 10, 10}, 0, Colour{});
  FillRectSprite& sprite = *held;
  moveSprite(sprite, 20, 20);  // hidden: moved without redrawing
  changeBlendMode(sprite, BlendMode::Add);
  changeOpacity(sprite, 0);
  EXPECT_FALSE(drawer->isDirty());
  showSprite(sprite);  // opacity 0 draws nothing
  EXPECT_FALSE(drawer->isDirty());
  moveSprite(sprite, 30, 30);
  EXPECT_FALSE(drawer->isDirty());
  changeOpacity(sprite, 10);  // visible: redraw where it is now
  EXPECT_EQ(drawer->getBandRegion(3), (Rect{30, 30, 40, 40}));
  drawer->finishFrame();
  moveSprite(sprite, 30, 30);  // no move, no redraw
  EXPECT_FALSE(drawer->isDirty());
  moveSprite(sprite, 35, 30);
  EXPECT_EQ(drawer->getBandRegion(3), (Rect{30, 30, 45, 40}));
}

TEST(SceneTest, MissingPictureFailsCleanly) {
  MemoryWindow window(800, 600);
  try {
    Scene scene(window, SceneOptions{"/nonexistent-folder", {}, true});
    FAIL();
  } catch (const PictureError& e) {
    EXPECT_EQ(e.file(), "/nonexistent-folder/load.gra");
    EXPECT_NE(std::string(e.what()).find(makeMessage(messages::kCreateFileFailed,
                                                     "nubrik::FileStreamReader::FileStreamReader")
                                             .get()),
              std::string::npos);
  }
}

}  // namespace
}  // namespace nubrik
