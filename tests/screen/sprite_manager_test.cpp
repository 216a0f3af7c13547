#include "nubrik/screen/sprite_manager.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "nubrik/sprite/fill_rect_sprite.h"

namespace nubrik {
namespace {

std::shared_ptr<ISprite> sprite(int32_t id, int32_t zOrder) {
  return std::make_shared<FillRectSprite>(std::weak_ptr<IOrderTarget>{},
                                          std::weak_ptr<IRedrawTarget>{}, id, Rect{0, 0, 1, 1},
                                          zOrder, Colour{});
}

std::vector<int32_t> ids(const SpriteManager& manager) {
  std::vector<int32_t> out;
  for (const auto& entry : manager) out.push_back(entry.id);
  return out;
}

TEST(SpriteManagerTest, SortsOnlyWhenMarked) {
  SpriteManager manager;
  manager.sortIfDirty();  // empty: nothing happens
  EXPECT_FALSE(manager.isOrderDirty());
  manager.addSprite(sprite(5, 5));
  manager.addSprite(sprite(1, 1));
  manager.addSprite(sprite(3, 3));
  EXPECT_EQ(ids(manager), (std::vector<int32_t>{5, 1, 3}));
  manager.sortIfDirty();
  EXPECT_EQ(ids(manager), (std::vector<int32_t>{1, 3, 5}));

  auto moving = manager.findSprite(5);
  moving->setZOrder(-10);  // not reported yet
  manager.sortIfDirty();
  EXPECT_EQ(ids(manager), (std::vector<int32_t>{1, 3, 5}));
  manager.markOrderDirty();
  manager.sortIfDirty();
  EXPECT_EQ(ids(manager), (std::vector<int32_t>{5, 1, 3}));
}

TEST(SpriteManagerTest, EqualZOrdersKeepRegistrationOrderAcrossSorts) {
  SpriteManager manager;
  for (int32_t id = 0; id < 200; ++id) manager.addSprite(sprite(id, id % 3 == 0 ? 1 : 500));
  std::vector<int32_t> first;
  for (int round = 0; round < 5; ++round) {
    manager.markOrderDirty();
    manager.sortIfDirty();
    if (round == 0) first = ids(manager);
    EXPECT_EQ(ids(manager), first);
  }
  // Registration order within each z-order.
  for (size_t i = 1; i < first.size(); ++i) {
    if ((first[i] % 3 == 0) == (first[i - 1] % 3 == 0)) {
      EXPECT_LT(first[i - 1], first[i]);
    }
  }
}

TEST(SpriteManagerTest, FindsTheFirstInDrawingOrder) {
  SpriteManager manager;
  manager.addSprite(sprite(50, 100));
  manager.addSprite(sprite(50, 3));
  EXPECT_EQ(manager.findSprite(50)->getZOrder(), 100);
  manager.sortIfDirty();
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
