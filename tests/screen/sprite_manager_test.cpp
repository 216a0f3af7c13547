#include "nubrik/screen/sprite_manager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

#include "nubrik/sprite/fill_rect_sprite.h"
#include "nubrik/sprite/sprite_factory.h"

namespace nubrik {
namespace {

std::shared_ptr<ISprite> sprite(int32_t id, int32_t zOrder) {
  return makeSprite<FillRectSprite>(std::weak_ptr<IOrderTarget>{}, std::weak_ptr<IRedrawTarget>{},
                                    id, Rect{0, 0, 1, 1}, zOrder, Colour{});
}

std::vector<int32_t> ids(const SpriteManager& manager) {
  std::vector<int32_t> out;
  for (const auto& entry : manager) out.push_back(entry.id);
  return out;
}

// A sprite takes its place in the order when it is registered; a later
// z-order counts only once reported.
TEST(SpriteManagerTest, SortsOnlyWhenMarked) {
  SpriteManager manager;
  manager.sortIfDirty();  // empty: nothing happens
  EXPECT_FALSE(manager.isOrderDirty());
  manager.addSprite(sprite(5, 5));
  manager.addSprite(sprite(1, 1));
  manager.addSprite(sprite(3, 3));
  EXPECT_EQ(ids(manager), (std::vector<int32_t>{1, 3, 5}));

  auto moving = manager.findSprite(5);
  moving->setZOrder(-10);  // not reported yet
  manager.sortIfDirty();
  EXPECT_EQ(ids(manager), (std::vector<int32_t>{1, 3, 5}));
  manager.markOrderDirty();
  manager.sortIfDirty();
  EXPECT_EQ(ids(manager), (std::vector<int32_t>{5, 1, 3}));
}

// Whatever z-orders the sprites went through, the order is the one a fresh
// registry gives: by z-order, then by registration; removal keeps it.
TEST(SpriteManagerTest, OrderDependsOnlyOnZOrderAndRegistration) {
  std::mt19937 random(5);
  SpriteManager manager;
  std::vector<std::shared_ptr<ISprite>> registered;
  for (int32_t id = 0; id < 200; ++id) {
    registered.push_back(sprite(id, static_cast<int32_t>(random() % 4)));
    manager.addSprite(registered.back());
  }
  for (int round = 0; round < 30; ++round) {
    for (int c = 0; c < 10; ++c) {
      registered[random() % registered.size()]->setZOrder(static_cast<int32_t>(random() % 4));
    }
    if (round % 7 == 3) {
      const size_t victim = random() % registered.size();
      EXPECT_TRUE(manager.removeSprite(registered[victim]));
      EXPECT_FALSE(manager.removeSprite(registered[victim]));
      registered.erase(registered.begin() + static_cast<std::ptrdiff_t>(victim));
    }
    manager.markOrderDirty();
    manager.sortIfDirty();
    std::vector<std::shared_ptr<ISprite>> expected = registered;
    std::stable_sort(expected.begin(), expected.end(),
                     [](const auto& a, const auto& b) { return a->getZOrder() < b->getZOrder(); });
    std::vector<int32_t> expectedIds;
    for (const auto& s : expected) expectedIds.push_back(s->getId());
    ASSERT_EQ(ids(manager), expectedIds) << "round " << round;
  }
}

TEST(SpriteManagerTest, FindsTheFirstInDrawingOrder) {
  SpriteManager manager;
  manager.addSprite(sprite(50, 100));
  manager.addSprite(sprite(50, 3));
  EXPECT_EQ(manager.findSprite(50)->getZOrder(), 3);
  EXPECT_EQ(manager.findSprite(7), nullptr);
  EXPECT_THROW(manager.addSprite(nullptr), std::invalid_argument);
}

TEST(SpriteManagerTest, OwnsItsSpritesUntilDestroyed) {
  auto manager = std::make_unique<SpriteManager>();
  std::weak_ptr<ISprite> watch;
  {
    auto s = sprite(1, 1);
    watch = s;
    manager->addSprite(s);
  }
  EXPECT_FALSE(watch.expired());
  manager.reset();
  EXPECT_TRUE(watch.expired());
}

}  // namespace
}  // namespace nubrik
