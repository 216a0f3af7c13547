#include "nubrik/screen/sprite_drawer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <tuple>
#include <vector>

#include "nubrik/screen/sprite_manager.h"
#include "nubrik/sprite/blit_loops.h"
#include "nubrik/sprite/fill_rect_sprite.h"
#include "nubrik/sprite/image_sprite.h"
#include "nubrik/sprite/sprite_factory.h"
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
  auto fill = makeSprite<FillRectSprite>(manager, drawer, 1, Rect{0, 0, 100, 100}, 0,
                                         Colour{PixelFormat::Grey, {9}});
  manager->addSprite(fill);
  auto band = rgbxImage(100, 20, 0);
  drawer->drawBand(3, *band);  // clean: draws nothing
  EXPECT_TRUE(samePixels(*band, *rgbxImage(100, 20, 0)));

  fill->show();  // drawn everywhere, once
  drawer->prepareFrame();
  drawer->finishFrame();
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

// A sprite with no area reports nothing, instead of the whole surface that
// an empty rectangle means to the compositor.
TEST(SpriteDrawerTest, ASpriteWithoutAreaRedrawsNothing) {
  auto manager = std::make_shared<SpriteManager>();
  auto drawer = std::make_shared<SpriteDrawer>(1000, 1000, 16, manager);
  for (const Rect& r : {Rect{5, 5, 5, 50}, Rect{5, 5, 50, 5}, Rect{0, 0, 0, 0}, Rect{9, 9, 3, 3}}) {
    makeSprite<FillRectSprite>(manager, drawer, 1, r, 0, Colour{})->invalidate();
  }
  makeSprite<ImageSprite>(manager, drawer, 2, 10, 10, 0,
                          std::make_shared<Image>(0, 0, PixelFormat::Rgb))
      ->invalidate();
  EXPECT_FALSE(drawer->isDirty());
}

// A surface whose last band ends at the largest coordinate: marking and
// composing it must neither overflow nor miss that band.
TEST(SpriteDrawerTest, TheLastBandOfTheTallestSurfaceIsDrawn) {
  auto manager = std::make_shared<SpriteManager>();
  SpriteDrawer drawer(1, INT32_MAX, 16384, manager);
  const uint32_t last = drawer.getBandCount() - 1;
  auto fill = makeSprite<FillRectSprite>(manager, std::weak_ptr<IRedrawTarget>{}, 1,
                                         Rect{0, INT32_MAX - 3, 1, INT32_MAX}, 0,
                                         Colour{PixelFormat::Grey, {7}});
  manager->addSprite(fill);
  fill->show();
  drawer.invalidateRect({0, INT32_MAX - 5, 1, INT32_MAX});
  drawer.prepareFrame();
  ASSERT_EQ(drawer.getDirtyBands(), std::vector<uint32_t>{last});
  auto band = rgbxImage(1, drawer.getBandHeight(), 0xEE);
  drawer.drawBand(last, *band);
  const uint32_t rows = INT32_MAX - last * drawer.getBandHeight();
  const uint8_t* p = band->lockConst();
  EXPECT_EQ(p[(rows - 5) * 4], 0);  // cleared: no sprite there
  EXPECT_EQ(p[(rows - 1) * 4], 7);
  EXPECT_EQ(p[(rows - 6) * 4], 0xEE);  // outside the damage: untouched
}

// A sprite that fails while the frame is prepared (an Add fill above it
// shows any command drawn twice), while another sprite's image is replaced
// between the tries: no try leaves a trace, and the frame that finally
// succeeds equals a composition from scratch.
TEST(SpriteDrawerTest, AFailedPrepareLeavesNoTrace) {
  class Failing final : public ISprite {
   public:
    int failures = 5;
    int32_t getId() const override { return 9; }
    void setPosition(int32_t, int32_t) override {}
    int32_t getX() const override { return 0; }
    int32_t getY() const override { return 0; }
    void setZOrder(int32_t) override {}
    int32_t getZOrder() const override { return 3; }
    DrawCommand getDrawCommand() const override {
      if (failures > 0) throw std::runtime_error("not now");
      DrawCommand command;
      command.bounds = {0, 0, 10, 10};
      command.colour = Colour{PixelFormat::Grey, {1}};
      return command;
    }
    void show() override {}
    void hide() override {}
    bool isVisible() const override { return true; }
    void setBlendMode(BlendMode) override {}
    BlendMode getBlendMode() const override { return BlendMode::Normal; }
    void setOpacity(uint8_t) override {}
    uint8_t getOpacity() const override { return 255; }
    void invalidate() override {}
    void invalidateOrder() override {}
  };
  auto manager = std::make_shared<SpriteManager>();
  auto drawer = std::make_shared<SpriteDrawer>(20, 20, 4, manager);
  auto add = makeSprite<FillRectSprite>(manager, drawer, 1, Rect{0, 0, 20, 20}, 5,
                                        Colour{PixelFormat::Grey, {10}});
  add->setBlendMode(BlendMode::Add);
  auto picture = makeSprite<ImageSprite>(manager, drawer, 2, 2, 2, 4, rgbxImage(6, 6, 90));
  auto failing = std::make_shared<Failing>();
  for (const std::shared_ptr<ISprite>& s :
       std::vector<std::shared_ptr<ISprite>>{add, failing, picture}) {
    manager->addSprite(s);
    s->show();
  }
  drawer->invalidateAll();
  MemorySurface surface(20, 20);
  for (; failing->failures > 0; --failing->failures) {
    EXPECT_THROW(composeFrame(*drawer, surface), std::runtime_error);
    picture->invalidate();
    picture->setImage(rgbxImage(6, 6, static_cast<uint8_t>(failing->failures)));
    EXPECT_TRUE(drawer->isDirty());
  }
  composeFrame(*drawer, surface);
  EXPECT_TRUE(
      samePixels(surface.getFramebuffer(), *plainComposition(visibleCommands(*manager), 20, 20)));
  EXPECT_EQ(drawer->getListedCount(), 3u);
}

// Random scenes changed through the change protocol: composing only what was
// invalidated, band by band, into a persistent surface must give exactly the
// picture that composing everything from scratch gives. Sprites of every
// size (from a pixel to wider than the surface, so that every level of the
// sprite index is used) move, change, hide, swap places in the order, swap
// images, come and go; now and then most of them move at once, so that
// bands are redrawn whole and in runs. Changes go through setters alone, or
// with the explicit invalidate calls around them as well. Without a background, what no sprite
// covers must read as cleared (0). With `composers` threads, into a surface
// that lends its rows or one that takes band images; either way every
// rectangle to redraw is reported exactly once. Frames composed from the
// index, from bins, or as the drawer measures.
class CompositionProperty {
 public:
  using Composition = SpriteDrawer::Composition;
  CompositionProperty(uint32_t seed, bool background, uint32_t composers = 1, bool lends = true,
                      FramePipeline::Sharing sharing = FramePipeline::Sharing::Always,
                      Composition composition = Composition::Measured)
      : random_(seed),
        explicitRedraws_(seed % 2 == 0),
        composers_(composers),
        sharing_(sharing),
        surface_(kWidth, kHeight, lends) {
    drawer_->setComposition(composition);
    if (background) {
      auto sprite = makeSprite<FillRectSprite>(manager_, drawer_, 0, Rect{0, 0, kWidth, kHeight}, 0,
                                               Colour{PixelFormat::Rgb, {200, 180, 160}});
      manager_->addSprite(sprite);
      sprite->show();
    }
    for (int i = 0; i < 40; ++i) addRandomSprite();
    drawer_->invalidateRect({});
  }

  void run(int frames) {
    for (int frame = 0; frame < frames; ++frame) {
      const int changes = static_cast<int>(random_() % 8 ? random_() % 8 : 4 * sprites_.size());
      for (int c = 0; c < changes; ++c) change();
      // Now and then the surface is cut anew, as a resize does.
      if (frame % 40 == 39) {
        pipeline_.reset();  // its band images fit the old bands
        drawer_->resize(kWidth, kHeight, 1 + random_() % 20);
      }
      if (!pipeline_) {
        pipeline_ = std::make_unique<FramePipeline>(*drawer_, &surface_, composers_);
        // Small frames would mostly be composed alone.
        pipeline_->setSharing(sharing_);
      }
      // What the sprites' changes mark is known once they are read.
      drawer_->prepareFrame();
      std::vector<Rect> expected;
      for (uint32_t band = 0; band < drawer_->getBandCount(); ++band) {
        for (const Rect& r : drawer_->getBandDamage(band)) expected.push_back(r);
      }
      surface_.clearPresented();
      pipeline_->composeFrame();
      std::vector<Rect> reported = surface_.getPresented();
      const auto order = [](const Rect& a, const Rect& b) {
        return std::tie(a.top, a.left, a.bottom, a.right) <
               std::tie(b.top, b.left, b.bottom, b.right);
      };
      std::sort(expected.begin(), expected.end(), order);
      std::sort(reported.begin(), reported.end(), order);
      ASSERT_EQ(reported, expected) << "frame " << frame;
      const auto reference = plainComposition(visibleCommands(*manager_), kWidth, kHeight);
      ASSERT_TRUE(samePixels(surface_.getFramebuffer(), *reference)) << "frame " << frame;
    }
  }

 private:
  // Wider than a cell of the index, and bands of 9 rows (the last is 5).
  static constexpr int32_t kWidth = 600, kHeight = 95;
  static constexpr uint32_t kBandHeight = 9;

  int32_t coordinate(int32_t extent) {
    return static_cast<int32_t>(random_() % (extent + 40)) - 20;
  }
  // Mostly small, sometimes as large as the surface or larger.
  int32_t extent(int32_t surface) {
    return 1 + static_cast<int32_t>(random_() % (random_() % 4 ? 40 : surface + 60));
  }

  std::shared_ptr<Image> randomImage() {
    auto image = std::make_shared<Image>(extent(kWidth), extent(kHeight),
                                         static_cast<PixelFormat>(random_() % 5));
    for (size_t i = 0; i < size_t{image->getPitch()} * image->getHeight(); ++i)
      image->lock()[i] = static_cast<uint8_t>(random_());
    return image;
  }

  Rect randomRect() {
    const int32_t x = coordinate(kWidth), y = coordinate(kHeight);
    return Rect{x, y, x + extent(kWidth), y + extent(kHeight)};
  }

  Colour randomColour() {
    return Colour{static_cast<PixelFormat>(random_() % 4),
                  {uint8_t(random_()), uint8_t(random_()), uint8_t(random_()),
                   uint8_t(random_() % 2 ? 255 : random_())}};
  }

  void addRandomSprite() {
    std::shared_ptr<ISprite> sprite;
    const int32_t zOrder = static_cast<int32_t>(random_() % 4);
    if (random_() % 2) {
      sprite =
          makeSprite<FillRectSprite>(manager_, drawer_, 1, randomRect(), zOrder, randomColour());
    } else {
      sprite = makeSprite<ImageSprite>(manager_, drawer_, 2, coordinate(kWidth),
                                       coordinate(kHeight), zOrder, randomImage());
    }
    sprite->setBlendMode(static_cast<BlendMode>(random_() % 5));
    sprite->setOpacity(random_() % 3 ? 255 : static_cast<uint8_t>(random_()));
    manager_->addSprite(sprite);
    sprites_.push_back(sprite);
    if (random_() % 4) {
      sprite->show();
      if (explicitRedraws_) sprite->invalidate();
    }
  }

  void change() {
    if (random_() % 10 == 0) return addRandomSprite();
    const size_t index = random_() % sprites_.size();
    ISprite& s = *sprites_[index];
    if (explicitRedraws_) s.invalidate();
    switch (random_() % 8) {
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
        if (explicitRedraws_) s.invalidateOrder();
        break;
      case 5:
        if (auto* image = dynamic_cast<ImageSprite*>(&s)) {
          image->setImage(randomImage());
        } else {
          static_cast<FillRectSprite&>(s).setRect(randomRect());
        }
        break;
      case 6:
        if (auto* fill = dynamic_cast<FillRectSprite*>(&s)) fill->setColour(randomColour());
        break;
      case 7:
        if (sprites_.size() > 1) {
          ASSERT_TRUE(manager_->removeSprite(sprites_[index]));
          sprites_.erase(sprites_.begin() + static_cast<std::ptrdiff_t>(index));
          return;  // where it was is redrawn
        }
        break;
    }
    if (explicitRedraws_) s.invalidate();
  }

  std::mt19937 random_;
  bool explicitRedraws_;
  std::shared_ptr<SpriteManager> manager_ = std::make_shared<SpriteManager>();
  std::shared_ptr<SpriteDrawer> drawer_ =
      std::make_shared<SpriteDrawer>(kWidth, kHeight, kBandHeight, manager_);
  std::vector<std::shared_ptr<ISprite>> sprites_;
  uint32_t composers_;
  FramePipeline::Sharing sharing_;
  MemorySurface surface_;
  std::unique_ptr<FramePipeline> pipeline_;
};

TEST(SpriteDrawerTest, IncrementalCompositionEqualsFullComposition) {
  using Composition = SpriteDrawer::Composition;
  for (blit::SimdLevel level : {blit::SimdLevel::Scalar, blit::SimdLevel::Sse2,
                                blit::SimdLevel::Avx2, blit::SimdLevel::Avx512}) {
    blit::setActiveSimdLevel(level);
    for (uint32_t seed = 1; seed <= 6; ++seed) {
      const auto composition = static_cast<Composition>(seed % 3);
      SCOPED_TRACE(::testing::Message() << "level " << static_cast<int>(level) << " seed " << seed
                                        << " composition " << static_cast<int>(composition));
      CompositionProperty(seed, seed % 3 != 1, 1, true, FramePipeline::Sharing::Always, composition)
          .run(100);
    }
  }
  blit::setActiveSimdLevel(blit::bestSimdLevel());
}

TEST(SpriteDrawerTest, EveryPipelineComposesLikeOneThread) {
  using Sharing = FramePipeline::Sharing;
  for (uint32_t composers : {1u, 2u, 4u}) {
    for (bool lends : {true, false}) {
      for (Sharing sharing : {Sharing::Always, Sharing::AlwaysStreamed, Sharing::Measured}) {
        SCOPED_TRACE(::testing::Message() << composers << " threads, lends " << lends
                                          << ", sharing " << static_cast<int>(sharing));
        for (auto composition :
             {SpriteDrawer::Composition::Indexed, SpriteDrawer::Composition::Binned}) {
          CompositionProperty(7 + composers, composers != 2, composers, lends, sharing, composition)
              .run(60);
        }
      }
    }
  }
}

}  // namespace
}  // namespace nubrik
