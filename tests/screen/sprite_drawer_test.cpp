#include "nubrik/screen/sprite_drawer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "nubrik/screen/sprite_manager.h"
#include "nubrik/sprite/fill_rect_sprite.h"
#include "nubrik/sprite/image_sprite.h"
#include "screen/compose_helpers.h"

namespace nubrik {
namespace {

using testing::composeFrame;
using testing::plainComposition;
using testing::rgbxImage;
using testing::samePixels;
using testing::visibleCommands;

struct Surface800 {
  std::shared_ptr<SpriteManager> manager = std::make_shared<SpriteManager>();
  SpriteDrawer drawer{800, 600, 65536 / (800 * 4), manager};
};

TEST(SpriteDrawerTest, CutsTheSurfaceIntoBands) {
  Surface800 s;
  EXPECT_EQ(s.drawer.getBandHeight(), 20u);
  EXPECT_EQ(s.drawer.getBandCount(), 30u);
  SpriteDrawer short_(800, 10, 20, s.manager);
  EXPECT_EQ(short_.getBandHeight(), 10u);
  EXPECT_EQ(short_.getBandCount(), 1u);
  SpriteDrawer odd(50, 45, 20, s.manager);  // the last band is 5 rows
  EXPECT_EQ(odd.getBandCount(), 3u);
  odd.invalidateRect({0, 0, 0, 0});
  EXPECT_EQ(odd.getBandRegion(2), (Rect{0, 40, 50, 45}));
  EXPECT_EQ(odd.getBandRegion(3), Rect{});  // no such band
  EXPECT_THROW(SpriteDrawer(0, 10, 10, s.manager), std::invalid_argument);
  EXPECT_THROW(SpriteDrawer(10, 0, 10, s.manager), std::invalid_argument);
  EXPECT_THROW(SpriteDrawer(10, 10, 0, s.manager), std::invalid_argument);
}

TEST(SpriteDrawerTest, InvalidationMarksBandRegions) {
  Surface800 s;
  s.drawer.invalidateRect({-50, -50, 10, 10});
  EXPECT_EQ(s.drawer.getBandRegion(0), (Rect{0, 0, 10, 10}));
  EXPECT_EQ(s.drawer.getBandRegion(1), Rect{});
  s.drawer.finishFrame();

  s.drawer.invalidateRect({0, 15, 800, 25});
  EXPECT_EQ(s.drawer.getBandRegion(0), (Rect{0, 15, 800, 20}));
  EXPECT_EQ(s.drawer.getBandRegion(1), (Rect{0, 20, 800, 25}));
  s.drawer.finishFrame();
  EXPECT_FALSE(s.drawer.isDirty());
  for (uint32_t b = 0; b < 30; ++b) EXPECT_EQ(s.drawer.getBandRegion(b), Rect{});

  // Two far-apart changes in one band redraw the span between them.
  s.drawer.invalidateRect({10, 10, 20, 20});
  s.drawer.invalidateRect({100, 5, 110, 8});
  EXPECT_EQ(s.drawer.getBandRegion(0), (Rect{10, 5, 110, 20}));
  s.drawer.finishFrame();

  // Ending on a band boundary marks only the bands above it.
  s.drawer.invalidateRect({0, 0, 5, 40});
  EXPECT_FALSE(s.drawer.getBandRegion(1).isEmpty());
  EXPECT_TRUE(s.drawer.getBandRegion(2).isEmpty());
  s.drawer.finishFrame();

  // The last band, and the empty rectangle that marks everything.
  s.drawer.invalidateRect({5, 5, 5, 9});
  EXPECT_EQ(s.drawer.getBandRegion(29), (Rect{0, 580, 800, 600}));
  EXPECT_EQ(s.drawer.getBandRegion(0), (Rect{0, 0, 800, 20}));
}

TEST(SpriteDrawerTest, OutsideTouchingOrInvertedMarksNothing) {
  Surface800 s;
  for (const Rect& r : {Rect{800, 0, 900, 10}, Rect{0, 600, 10, 700}, Rect{-20, -20, 0, 0},
                        Rect{900, 900, 950, 950}, Rect{50, 10, 20, 30}, Rect{10, 30, 20, 10}}) {
    s.drawer.invalidateRect(r);
    EXPECT_FALSE(s.drawer.isDirty()) << r.left << "," << r.top << "," << r.right << "," << r.bottom;
  }
}

TEST(SpriteDrawerTest, DrawBandClipsToTheRegionAndShiftsByTheBandTop) {
  auto manager = std::make_shared<SpriteManager>();
  auto drawer = std::make_shared<SpriteDrawer>(100, 100, 20, manager);
  auto fill = std::make_shared<FillRectSprite>(manager, drawer, 1, Rect{0, 0, 100, 100}, 0,
                                               Colour{PixelFormat::Grey, {9}});
  manager->addSprite(fill);
  auto band = rgbxImage(100, 20, 0);
  drawer->drawBand(3, *band);  // clean: draws nothing
  EXPECT_TRUE(samePixels(*band, *rgbxImage(100, 20, 0)));

  fill->show();
  drawer->invalidateRect({5, 65, 50, 70});
  drawer->prepareFrame();
  EXPECT_EQ(drawer->getListedCount(), 1u);
  drawer->drawBand(3, *band);
  for (uint32_t y = 0; y < 20; ++y) {
    for (uint32_t x = 0; x < 100; ++x) {
      const bool inside = x >= 5 && x < 50 && y >= 5 && y < 10;
      EXPECT_EQ(band->lockConst()[y * 400 + x * 4] == 9, inside) << x << "," << y;
    }
  }
  drawer->finishFrame();
  EXPECT_FALSE(drawer->isDirty());

  fill->hide();  // hidden sprites add no command
  drawer->invalidateRect({});
  drawer->prepareFrame();
  EXPECT_EQ(drawer->getListedCount(), 0u);
}

// Random scenes changed through the change protocol: composing only what was
// invalidated, band by band, into a persistent surface must give exactly the
// picture that composing everything from scratch gives.
// Without a background, what no sprite covers must read as cleared (0).
class CompositionProperty {
 public:
  CompositionProperty(uint32_t seed, bool background) : random_(seed) {
    if (background) {
      auto sprite =
          std::make_shared<FillRectSprite>(manager_, drawer_, 0, Rect{0, 0, kWidth, kHeight}, 0,
                                           Colour{PixelFormat::Rgb, {200, 180, 160}});
      manager_->addSprite(sprite);
      sprite->show();
    }
    for (int i = 0; i < 24; ++i) addRandomSprite();
    drawer_->invalidateRect({});
  }

  void run(int frames) {
    for (int frame = 0; frame < frames; ++frame) {
      const int changes = static_cast<int>(random_() % 6);
      for (int c = 0; c < changes; ++c) change();
      composeFrame(*drawer_, surface_);
      const auto reference = plainComposition(visibleCommands(*manager_), kWidth, kHeight);
      ASSERT_TRUE(samePixels(surface_.getFramebuffer(), *reference)) << "frame " << frame;
    }
  }

 private:
  static constexpr int32_t kWidth = 97, kHeight = 71;
  static constexpr uint32_t kBandHeight = 9;  // the last band is 8 rows

  int32_t coordinate(int32_t extent) {
    return static_cast<int32_t>(random_() % (extent + 40)) - 20;
  }

  void addRandomSprite() {
    std::shared_ptr<ISprite> sprite;
    const int32_t zOrder = static_cast<int32_t>(random_() % 4);
    if (random_() % 2) {
      const int32_t x = coordinate(kWidth), y = coordinate(kHeight);
      const Colour colour{static_cast<PixelFormat>(random_() % 4),
                          {uint8_t(random_()), uint8_t(random_()), uint8_t(random_()),
                           uint8_t(random_() % 2 ? 255 : random_())}};
      sprite = std::make_shared<FillRectSprite>(
          manager_, drawer_, 1,
          Rect{x, y, x + 1 + int32_t(random_() % 40), y + 1 + int32_t(random_() % 30)}, zOrder,
          colour);
    } else {
      const auto format = static_cast<PixelFormat>(random_() % 5);
      auto image = std::make_shared<Image>(1 + random_() % 30, 1 + random_() % 25, format);
      for (size_t i = 0; i < size_t{image->getPitch()} * image->getHeight(); ++i)
        image->lock()[i] = static_cast<uint8_t>(random_());
      sprite = std::make_shared<ImageSprite>(manager_, drawer_, 2, coordinate(kWidth),
                                             coordinate(kHeight), zOrder, image);
    }
    sprite->setBlendMode(static_cast<BlendMode>(random_() % 5));
    sprite->setOpacity(random_() % 3 ? 255 : static_cast<uint8_t>(random_()));
    manager_->addSprite(sprite);
    sprites_.push_back(sprite);
    if (random_() % 4) {
      sprite->show();
      sprite->invalidate();
    }
  }

  void change() {
    if (random_() % 10 == 0) return addRandomSprite();
    ISprite& s = *sprites_[random_() % sprites_.size()];
    s.invalidate();
    switch (random_() % 5) {
      case 0:
        s.setPosition(s.getX() + int32_t(random_() % 21) - 10,
                      s.getY() + int32_t(random_() % 21) - 10);
        break;
      case 1:
        s.setOpacity(static_cast<uint8_t>(random_()));
        break;
      case 2:
        s.setBlendMode(static_cast<BlendMode>(random_() % 5));
        break;
      case 3:
        s.isVisible() ? s.hide() : s.show();
        break;
      case 4:
        s.setZOrder(static_cast<int32_t>(random_() % 4));
        s.invalidateOrder();
        break;
    }
    s.invalidate();
  }

  std::mt19937 random_;
  std::shared_ptr<SpriteManager> manager_ = std::make_shared<SpriteManager>();
  std::shared_ptr<SpriteDrawer> drawer_ =
      std::make_shared<SpriteDrawer>(kWidth, kHeight, kBandHeight, manager_);
  std::vector<std::shared_ptr<ISprite>> sprites_;
  MemorySurface surface_{kWidth, kHeight};
};

TEST(SpriteDrawerTest, IncrementalCompositionEqualsFullComposition) {
  for (uint32_t seed = 1; seed <= 12; ++seed) {
    SCOPED_TRACE(::testing::Message() << "seed " << seed);
    CompositionProperty(seed, seed % 3 != 0).run(120);
  }
}

}  // namespace
}  // namespace nubrik
