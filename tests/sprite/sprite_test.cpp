#include <gtest/gtest.h>

#include <memory>

#include "nubrik/screen/sprite_drawer.h"
#include "nubrik/screen/sprite_manager.h"
#include "nubrik/sprite/fill_rect_sprite.h"
#include "nubrik/sprite/image_sprite.h"

namespace nubrik {
namespace {

struct Owners {
  std::shared_ptr<SpriteManager> manager = std::make_shared<SpriteManager>();
  std::shared_ptr<SpriteDrawer> drawer = std::make_shared<SpriteDrawer>(800, 600, 20, manager);
};

TEST(FillRectSpriteTest, StartsHiddenAndMovesKeepingItsSize) {
  Owners owners;
  const Colour red{PixelFormat::Rgb, {255, 0, 0, 7}};
  FillRectSprite sprite(owners.manager, owners.drawer, 10, {50, 50, 160, 160}, 2, red);
  EXPECT_FALSE(sprite.isVisible());
  EXPECT_EQ(sprite.getBlendMode(), BlendMode::Normal);
  EXPECT_EQ(sprite.getOpacity(), 255);
  sprite.setPosition(10, 20);
  EXPECT_EQ(sprite.getX(), 10);
  EXPECT_EQ(sprite.getY(), 20);
  const DrawCommand command = sprite.getDrawCommand();
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
  ImageSprite sprite(owners.manager, owners.drawer, 40, 75, 75, 32, image);
  DrawCommand command = sprite.getDrawCommand();
  EXPECT_EQ(command.kind, DrawCommandKind::Image);
  EXPECT_EQ(command.bounds, (Rect{75, 75, 91, 83}));
  EXPECT_EQ(command.sourceOrigin, (Point{0, 0}));
  EXPECT_EQ(command.image, image.get());
  sprite.setPosition(-5, 10);
  EXPECT_EQ(sprite.getDrawCommand().bounds, (Rect{-5, 10, 11, 18}));

  sprite.invalidate();
  EXPECT_EQ(owners.drawer->getBandRegion(0), (Rect{0, 10, 11, 18}));
  EXPECT_THROW(ImageSprite(owners.manager, owners.drawer, 1, 0, 0, 0, nullptr),
               std::invalid_argument);
}

TEST(SpriteTest, ExtremePositionsDoNotOverflow) {
  Owners owners;
  FillRectSprite fill(owners.manager, owners.drawer, 1, {0, 0, 100, 100}, 0, {});
  fill.setPosition(INT32_MAX - 10, INT32_MIN);
  fill.invalidate();  // wraps to an inverted rectangle: nothing on the surface
  EXPECT_FALSE(owners.drawer->isDirty());
}

TEST(SpriteTest, OutlivesItsOwnersQuietly) {
  Owners owners;
  auto image = std::make_shared<Image>(4, 4, PixelFormat::Grey);
  auto fill = std::make_shared<FillRectSprite>(owners.manager, owners.drawer, 1, Rect{0, 0, 10, 10},
                                               0, Colour{});
  auto picture = std::make_shared<ImageSprite>(owners.manager, owners.drawer, 2, 0, 0, 0, image);
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
