#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

#include "nubrik/screen/sprite_drawer.h"
#include "nubrik/screen/sprite_manager.h"
#include "nubrik/sprite/draw_command.h"
#include "nubrik/sprite/fill_rect_sprite.h"
#include "nubrik/sprite/hit_test.h"
#include "nubrik/sprite/image_sprite.h"
#include "nubrik/sprite/sprite_factory.h"

namespace nubrik {
namespace {

std::shared_ptr<Image> randomImage(std::mt19937& random) {
  auto image = std::make_shared<Image>(1 + random() % 30, 1 + random() % 30,
                                       static_cast<PixelFormat>(random() % 5));
  for (size_t i = 0; i < size_t{image->getPitch()} * image->getHeight(); ++i) {
    // Mostly transparent or opaque alpha, so that picking sees through.
    image->lock()[i] = static_cast<uint8_t>(random() % 3 == 0 ? 0 : random());
  }
  return image;
}

// Random scenes of fills and pictures (flipped, turned, scaled, tinted,
// faded), changed between questions: the sprite picked at a point is the
// topmost whose command marks it, as a walk of every sprite in drawing
// order finds.
TEST(PickingTest, FindsTheTopmostSpriteThatMarksThePoint) {
  constexpr int32_t kWidth = 300, kHeight = 120;
  for (uint32_t seed = 1; seed <= 8; ++seed) {
    std::mt19937 random(seed);
    auto manager = std::make_shared<SpriteManager>();
    auto drawer = std::make_shared<SpriteDrawer>(kWidth, kHeight, 7, manager);
    std::vector<std::shared_ptr<ISprite>> sprites;
    auto coordinate = [&](int32_t extent) {
      return static_cast<int32_t>(random() % (extent + 40)) - 20;
    };
    for (int i = 0; i < 60; ++i) {
      std::shared_ptr<ISprite> sprite;
      if (random() % 3 == 0) {
        const int32_t x = coordinate(kWidth), y = coordinate(kHeight);
        sprite = makeSprite<FillRectSprite>(
            manager, drawer, i,
            Rect{x, y, x + 1 + int32_t(random() % 90), y + 1 + int32_t(random() % 60)},
            static_cast<int32_t>(random() % 5),
            Colour{PixelFormat::Rgba, {1, 2, 3, uint8_t(random() % 2 ? 0 : 255)}});
      } else {
        auto image =
            makeSprite<ImageSprite>(manager, drawer, i, coordinate(kWidth), coordinate(kHeight),
                                    static_cast<int32_t>(random() % 5), randomImage(random));
        if (random() % 2) {
          image->setFlip(random() % 2, random() % 2);
          image->setQuarterTurns(random() % 4);
          image->setSize(1 + random() % 50, 1 + random() % 50);
          image->setTint(
              Colour{PixelFormat::Rgba, {200, 200, 200, uint8_t(random() % 2 ? 255 : 1)}});
        }
        sprite = image;
      }
      sprite->setOpacity(random() % 5 ? 255 : static_cast<uint8_t>(random() % 2));
      manager->addSprite(sprite);
      if (random() % 6) sprite->show();
      sprites.push_back(sprite);
    }
    for (int round = 0; round < 20; ++round) {
      for (int c = 0; c < 5; ++c) {
        ISprite& s = *sprites[random() % sprites.size()];
        s.setPosition(s.getX() + int32_t(random() % 31) - 15,
                      s.getY() + int32_t(random() % 31) - 15);
        if (random() % 4 == 0) {
          s.setZOrder(static_cast<int32_t>(random() % 5));
          s.invalidateOrder();
        }
      }
      if (round % 3 == 0) {
        drawer->invalidateAll();
        drawer->prepareFrame();
        drawer->finishFrame();
      }
      for (int q = 0; q < 200; ++q) {
        const int32_t x = static_cast<int32_t>(random() % kWidth);
        const int32_t y = static_cast<int32_t>(random() % kHeight);
        manager->sortIfDirty();
        std::shared_ptr<ISprite> expected;
        for (const auto& entry : *manager) {
          if (entry.sprite->isVisible() && drawsAt(SpriteCommands::of(*entry.sprite), x, y)) {
            expected = entry.sprite;
          }
        }
        const std::optional<uint32_t> slot = drawer->pick(x, y);
        ISprite* picked = slot ? manager->spriteAt(*slot) : nullptr;
        ASSERT_EQ(picked, expected.get())
            << "seed " << seed << " round " << round << " at " << x << "," << y;
      }
    }
  }
}

// Where drawsAt says a command leaves no mark, drawing it changes nothing
// there, on any background; where it says it does, an opaque Normal draw
// changes the white or the black background there (a pixel cannot equal
// both, and any weight moves white's alpha).
TEST(PickingTest, MarksAreWhereDrawingChangesPixels) {
  std::mt19937 random(3);
  for (int i = 0; i < 3000; ++i) {
    auto image = randomImage(random);
    DrawCommand command;
    command.kind = random() % 4 ? DrawCommandKind::Image : DrawCommandKind::Fill;
    command.blendMode = static_cast<BlendMode>(random() % 5);
    command.opacity = static_cast<uint8_t>(random() % 3 ? 255 : random());
    command.bounds = Rect{int32_t(random() % 8), int32_t(random() % 8), 8 + int32_t(random() % 30),
                          8 + int32_t(random() % 30)};
    command.colour = Colour{PixelFormat::Rgba, {9, 8, 7, uint8_t(random() % 2 ? 0 : random())}};
    command.image = image.get();
    if (random() % 2) {
      command.sourceWidth = 1 + random() % image->getWidth();
      command.sourceHeight = 1 + random() % image->getHeight();
      command.orientation = static_cast<uint8_t>(random() % 16);
      command.tint = random() % 2 ? kNoTint : 0x01FFFFFFu | (random() % 2) << 24;
    }
    const bool plain = command.blendMode == BlendMode::Normal && command.opacity == 255;
    std::vector<bool> changed(40 * 40);
    for (uint32_t background : {0x00000000u, 0xFFFFFFFFu, 0x80402010u}) {
      Image target(40, 40, PixelFormat::Rgbx);
      std::fill_n(reinterpret_cast<uint32_t*>(target.lock()), 40 * 40, background);
      drawCommand(target, BandClip{Rect{0, 0, 40, 40}, 0, 0}, command);
      const uint32_t* pixels = reinterpret_cast<const uint32_t*>(target.lockConst());
      for (int32_t p = 0; p < 40 * 40; ++p) {
        const bool marked = drawsAt(command, p % 40, p / 40);
        if (!marked) {
          ASSERT_EQ(pixels[p], background) << "case " << i << " at " << p;
        }
        if (background != 0x80402010u && pixels[p] != background) changed[p] = true;
      }
    }
    for (int32_t p = 0; p < 40 * 40 && plain; ++p) {
      if (drawsAt(command, p % 40, p / 40)) {
        ASSERT_TRUE(changed[p]) << "case " << i << " at " << p;
      }
    }
  }
}

}  // namespace
}  // namespace nubrik
