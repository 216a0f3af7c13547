#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>

#include "nubrik/image/memory_helper.h"
#include "nubrik/screen/sprite_drawer.h"
#include "nubrik/screen/sprite_manager.h"
#include "nubrik/sprite/draw_command.h"
#include "nubrik/sprite/fill_rect_sprite.h"
#include "nubrik/sprite/image_sprite.h"
#include "nubrik/sprite/sprite_factory.h"

namespace nubrik {
namespace {

struct Owners {
  std::shared_ptr<SpriteManager> manager = std::make_shared<SpriteManager>();
  std::shared_ptr<SpriteDrawer> drawer = std::make_shared<SpriteDrawer>(800, 600, 20, manager);
};

TEST(FillRectSpriteTest, StartsHiddenAndMovesKeepingItsSize) {
  Owners owners;
  const Colour red{PixelFormat::Rgb, {255, 0, 0, 7}};
  const auto held =
      makeSprite<FillRectSprite>(owners.manager, owners.drawer, 10, Rect{50, 50, 160, 160}, 2, red);
  FillRectSprite& sprite = *held;
  EXPECT_FALSE(sprite.isVisible());
  EXPECT_EQ(sprite.getBlendMode(), BlendMode::Normal);
  EXPECT_EQ(sprite.getOpacity(), 255);
  sprite.setPosition(10, 20);
  EXPECT_EQ(sprite.getX(), 10);
  EXPECT_EQ(sprite.getY(), 20);
  const DrawCommand command = SpriteCommands::of(sprite);
  EXPECT_EQ(command.kind, DrawCommandKind::Fill);
  EXPECT_EQ(command.bounds, (Rect{10, 20, 120, 130}));
  EXPECT_EQ(command.colour, red);  // the unread fourth byte travels unchanged
  EXPECT_EQ(command.image, nullptr);
  // Setters store without reporting anything.
  EXPECT_FALSE(owners.drawer->isDirty());
}

TEST(ImageSpriteTest, BoundsFollowTheImage) {
  Owners owners;
  auto image = std::make_shared<Image>(16, 8, PixelFormat::Rgba);
  const auto held = makeSprite<ImageSprite>(owners.manager, owners.drawer, 40, 75, 75, 32, image);
  ImageSprite& sprite = *held;
  DrawCommand command = SpriteCommands::of(sprite);
  EXPECT_EQ(command.kind, DrawCommandKind::Image);
  EXPECT_EQ(command.bounds, (Rect{75, 75, 91, 83}));
  EXPECT_EQ(command.sourceOrigin, (Point{0, 0}));
  EXPECT_EQ(command.image, image.get());
  sprite.setPosition(-5, 10);
  EXPECT_EQ(SpriteCommands::of(sprite).bounds, (Rect{-5, 10, 11, 18}));

  sprite.invalidate();
  EXPECT_EQ(owners.drawer->getBandRegion(0), (Rect{0, 10, 11, 18}));
  EXPECT_THROW(makeSprite<ImageSprite>(owners.manager, owners.drawer, 1, 0, 0, 0, nullptr),
               std::invalid_argument);
}

TEST(ImageSpriteTest, TransformsAreCheckedAndShapeTheArea) {
  Owners owners;
  auto sheet = std::make_shared<Image>(64, 16, PixelFormat::Rgb);
  const auto held = makeSprite<ImageSprite>(owners.manager, owners.drawer, 1, 10, 20, 0, sheet);
  ImageSprite& sprite = *held;
  // A new sprite draws as it always did: the whole image, unchanged.
  const DrawCommand plain = SpriteCommands::of(sprite);
  EXPECT_FALSE(plain.isTransformed());
  EXPECT_EQ(plain.bounds, (Rect{10, 20, 74, 36}));
  EXPECT_EQ(sprite.getSourceRect(), (Rect{0, 0, 64, 16}));

  auto refused = [](auto call, const char* words) {
    try {
      call();
      ADD_FAILURE() << "accepted: " << words;
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find(words), std::string::npos) << e.what();
    }
  };
  refused(
      [&] {
        sprite.setSourceRect({60, 0, 68, 8});
      },
      "(60, 0, 68, 8) is not inside the image (0, 0, 64, 16)");
  refused([&] { sprite.setSourceRect({8, 8, 8, 12}); }, "(8, 8, 8, 12)");
  refused([&] { sprite.setQuarterTurns(4); }, "4 quarter turns");
  refused([&] { sprite.setSize(0, 5); }, "0 x 5");
  refused([&] { sprite.setSize(5, 1u << 31); }, "5 x 2147483648");
  refused([&] { sprite.setTint({PixelFormat::Rgbx, {}}); }, "kind 4");
  EXPECT_EQ(SpriteCommands::of(sprite).bounds, plain.bounds);  // nothing was stored

  // A frame of the sheet, turned a quarter: its size turns with it, and the
  // area (its damage) is the position and that size.
  sprite.setSourceRect({16, 0, 32, 8});
  sprite.setQuarterTurns(1);
  EXPECT_EQ(SpriteCommands::of(sprite).bounds, (Rect{10, 20, 18, 36}));
  sprite.setSize(40, 3);
  sprite.setFlip(true, false);
  sprite.setTint({PixelFormat::Rgb, {255, 0, 255}});
  const DrawCommand command = SpriteCommands::of(sprite);
  EXPECT_EQ(command.bounds, (Rect{10, 20, 50, 23}));
  EXPECT_EQ(command.transform().sourceRect, (Rect{16, 0, 32, 8}));
  EXPECT_EQ(command.transform().quarterTurns, 1u);
  EXPECT_TRUE(command.transform().flipHorizontal);
  EXPECT_EQ(command.tint, 0xFFFF00FFu);  // an Rgb tint has alpha 255
  sprite.invalidate();
  EXPECT_EQ(owners.drawer->getBandRegion(1), (Rect{10, 20, 50, 23}));

  // A bad image is refused where it enters, and a sheet the frame does not
  // fit in is refused without changing the sprite.
  auto bytes = MemoryHelper::allocate(4096);
  auto underPitched = std::make_shared<Image>(16, 4, 60, bytes);
  refused([&] { makeSprite<ImageSprite>(owners.manager, owners.drawer, 1, 0, 0, 0, underPitched); },
          "pitch 60 is below its row size 64");
  refused([&] { sprite.setImage(underPitched); }, "pitch 60 is below its row size 64");
  refused([&] { sprite.setImage(std::make_shared<Image>(20, 8, PixelFormat::Grey)); },
          "(16, 0, 32, 8) is not inside the new image (0, 0, 20, 8)");
  EXPECT_EQ(sprite.getImage(), sheet);
}

// Whatever hidesBelow says is hidden comes out the same over any background.
TEST(DrawCommandTest, WhatHidesBelowDoesNotDependOnWhatIsBelow) {
  int hiding = 0;
  for (int round = 0; round < 3000; ++round) {
    std::mt19937 random(round);
    auto image = std::make_shared<Image>(1 + random() % 12, 1 + random() % 12,
                                         static_cast<PixelFormat>(random() % 5));
    for (size_t i = 0; i < size_t{image->getPitch()} * image->getHeight(); ++i) {
      image->lock()[i] = static_cast<uint8_t>(random());
    }
    DrawCommand command;
    command.kind = DrawCommandKind::Image;
    command.image = image.get();
    command.blendMode = random() % 4 ? BlendMode::Normal : BlendMode::Add;
    command.opacity = random() % 4 ? 255 : 200;
    const int32_t left = int32_t(random() % image->getWidth());
    const int32_t top = int32_t(random() % image->getHeight());
    command.sourceOrigin = {left, top};
    command.sourceWidth = 1 + random() % (image->getWidth() - left);
    command.sourceHeight = 1 + random() % (image->getHeight() - top);
    command.orientation = static_cast<uint8_t>(random() % 16);
    command.tint = random() % 2 ? kNoTint : 0x00FFFFFFu | (random() % 2 ? 0xFF000000u : 0u);
    const int32_t x = int32_t(random() % 20) - 5, y = int32_t(random() % 20) - 5;
    command.bounds = {x, y, x + 1 + int32_t(random() % 30), y + 1 + int32_t(random() % 30)};
    const Rect area{int32_t(random() % 24), int32_t(random() % 24), 0, 0};
    const Rect cut{area.left, area.top, area.left + 1 + int32_t(random() % 8),
                   area.top + 1 + int32_t(random() % 8)};
    if (!hidesBelow(command, cut)) continue;
    ++hiding;
    Image below1(32, 32, PixelFormat::Rgbx), below2(32, 32, PixelFormat::Rgbx);
    for (size_t i = 0; i < size_t{32} * 32 * 4; ++i) {
      below1.lock()[i] = static_cast<uint8_t>(random());
      below2.lock()[i] = static_cast<uint8_t>(~below1.lock()[i]);
    }
    const BandClip clip{Rect{0, 0, 32, 32}, 0, 0};
    drawCommand(below1, clip, command);
    drawCommand(below2, clip, command);
    for (int32_t py = cut.top; py < cut.bottom; ++py) {
      ASSERT_EQ(0, std::memcmp(below1.lockConst() + py * 128 + cut.left * 4,
                               below2.lockConst() + py * 128 + cut.left * 4,
                               size_t(cut.right - cut.left) * 4))
          << "seed " << round;
    }
  }
  EXPECT_GT(hiding, 100);
}

TEST(SpriteTest, ExtremePositionsDoNotOverflow) {
  Owners owners;
  const auto heldFill = makeSprite<FillRectSprite>(owners.manager, owners.drawer, 1,
                                                   Rect{0, 0, 100, 100}, 0, Colour{});
  FillRectSprite& fill = *heldFill;
  fill.setPosition(INT32_MAX - 10, INT32_MIN);
  fill.invalidate();  // cut at the end of the coordinates: nothing on the surface
  EXPECT_FALSE(owners.drawer->isDirty());
}

// Whatever the position and size, a sprite's area is the 64-bit one cut to
// the 32-bit coordinates, never wrapped: an image sprite as wide as 2^31 - 1
// at x = 1 is drawn, a fill moved to the end of the coordinates and back is
// whole again, and an inverted one covers nothing wherever it goes. Images
// wider than the coordinates are refused.
TEST(SpriteTest, AreasAreCutAtTheEndOfTheCoordinatesNeverWrapped) {
  Owners owners;
  std::mt19937 random(17);
  const auto coordinate = [&]() -> int32_t {
    static constexpr int32_t kEdges[] = {INT32_MIN, INT32_MIN + 1, -1,       0,
                                         1,         INT32_MAX - 1, INT32_MAX};
    return random() % 2 == 0 ? kEdges[random() % 7] : static_cast<int32_t>(random());
  };
  const auto extent = [&]() -> uint32_t {
    return random() % 2 == 0 ? INT32_MAX - random() % 3 : 1 + random() % 100000;
  };
  const auto cut = [](int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
  };
  auto image = std::make_shared<Image>(16, 8, PixelFormat::Rgba);
  const auto heldPicture =
      makeSprite<ImageSprite>(owners.manager, owners.drawer, 1, 0, 0, 0, image);
  ImageSprite& picture = *heldPicture;
  const auto heldFill = makeSprite<FillRectSprite>(owners.manager, owners.drawer, 2,
                                                   Rect{0, 0, 100, 60}, 0, Colour{});
  FillRectSprite& fill = *heldFill;
  for (int round = 0; round < 20000; ++round) {
    const int32_t x = coordinate(), y = coordinate();
    const uint32_t width = extent(), height = extent();
    picture.setSize(width, height);
    picture.setPosition(x, y);
    ASSERT_EQ(SpriteCommands::of(picture).bounds,
              (Rect{x, y, cut(int64_t{x} + width), cut(int64_t{y} + height)}))
        << round;
    const Rect set{coordinate(), coordinate(), coordinate(), coordinate()};
    fill.setRect(set);
    fill.setPosition(x, y);
    const Rect moved{x, y, cut(int64_t{x} + (int64_t{set.right} - set.left)),
                     cut(int64_t{y} + (int64_t{set.bottom} - set.top))};
    ASSERT_EQ(SpriteCommands::of(fill).bounds, moved) << round;
    ASSERT_EQ(fill.getRect(), moved) << round;
    fill.setPosition(set.left, set.top);
    ASSERT_EQ(fill.getRect(), set) << round;
  }

  // At x = 1 and 2^31 - 1 wide, every column from 1 on shows the image's
  // first column, sampled down its rows.
  for (uint32_t y = 0; y < 8; ++y) {
    for (uint32_t x = 0; x < 16; ++x) {
      const uint32_t pixel = 0xFF000000u | (y * 0x1F) << 16 | x << 8 | 0x40;
      std::memcpy(image->lock() + y * image->getPitch() + x * 4, &pixel, 4);
    }
  }
  picture.setPosition(1, 0);
  picture.setSize(INT32_MAX, 10);
  auto target = std::make_shared<Image>(32, 10, PixelFormat::Rgbx);
  std::memset(target->lock(), 0, size_t{target->getPitch()} * 10);
  drawCommand(*target, BandClip{Rect{0, 0, 32, 10}, 0, 0}, SpriteCommands::of(picture));
  for (uint32_t j = 0; j < 10; ++j) {
    const uint32_t v = (2 * j + 1) * 8 / 20;
    for (uint32_t i = 0; i < 32; ++i) {
      uint32_t shown, expected = 0;
      std::memcpy(&shown, target->lockConst() + j * target->getPitch() + i * 4, 4);
      if (i > 0) std::memcpy(&expected, image->lockConst() + v * image->getPitch(), 4);
      ASSERT_EQ(shown, expected) << i << ", " << j;
    }
  }

  struct Huge : IImage {
    uint32_t width, height;
    Huge(uint32_t w, uint32_t h) : width(w), height(h) {}
    uint32_t getWidth() const override { return width; }
    uint32_t getHeight() const override { return height; }
    PixelFormat getPixelFormat() const override { return PixelFormat::Grey; }
    uint32_t getPitch() const override { return width; }
    uint8_t* lock() override { throw std::runtime_error("not here"); }
    const uint8_t* lockConst() const override { throw std::runtime_error("not here"); }
    void unlock() override {}
    void unlockConst() const override {}
  };
  for (auto [w, h] : {std::pair<uint32_t, uint32_t>{1u << 31, 1}, {1, 1u << 31}}) {
    EXPECT_THROW(makeSprite<ImageSprite>(owners.manager, owners.drawer, 1, 0, 0, 0,
                                         std::make_shared<Huge>(w, h)),
                 std::invalid_argument);
  }
}

TEST(SpriteTest, OutlivesItsOwnersQuietly) {
  Owners owners;
  auto image = std::make_shared<Image>(4, 4, PixelFormat::Grey);
  auto fill =
      makeSprite<FillRectSprite>(owners.manager, owners.drawer, 1, Rect{0, 0, 10, 10}, 0, Colour{});
  auto picture = makeSprite<ImageSprite>(owners.manager, owners.drawer, 2, 0, 0, 0, image);
  owners.manager->addSprite(fill);
  fill->invalidateOrder();
  picture->invalidate();
  EXPECT_TRUE(owners.drawer->isDirty());

  owners = Owners{};  // the registry and the compositor are gone
  fill->setZOrder(3);
  fill->invalidate();
  fill->invalidateOrder();
  picture->invalidate();
  picture->invalidateOrder();
  EXPECT_EQ(fill->getZOrder(), 3);
  EXPECT_EQ(image.use_count(), 2);  // the sprite still holds its picture
}

}  // namespace
}  // namespace nubrik
