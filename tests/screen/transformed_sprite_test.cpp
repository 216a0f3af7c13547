// Flipped, turned (by quarters and by any angle), scaled, filtered and
// tinted sprites and texts changing over a background and each other, by
// setters alone or invalidated around them: after every composed frame the
// window equals a from-scratch composition of the sprites, so their damage
// is exactly their area and the compositor's shortcut over opaque ones holds.

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "nubrik/base/event.h"
#include "nubrik/screen/screen.h"
#include "nubrik/sprite/blit_loops.h"
#include "nubrik/text/font.h"
#include "nubrik/window/memory_window.h"
#include "screen/compose_helpers.h"

namespace nubrik {
namespace {

std::shared_ptr<Image> sheet(std::mt19937& random) {
  // Opaque layouts half the time, so that opaque Normal sprites hide what is below.
  const auto format = static_cast<PixelFormat>(random() % 2 ? random() % 5 : 1);
  auto image = std::make_shared<Image>(1 + random() % 48, 1 + random() % 24, format);
  for (size_t i = 0; i < size_t{image->getPitch()} * image->getHeight(); ++i) {
    image->lock()[i] = static_cast<uint8_t>(random());
  }
  return image;
}

// One random change of a transformed property, or a move.
void change(ImageSprite& sprite, std::mt19937& random) {
  const Rect whole{0, 0, int32_t(sprite.getImage()->getWidth()),
                   int32_t(sprite.getImage()->getHeight())};
  switch (random() % 10) {
    case 0: {
      const int32_t left = int32_t(random() % whole.right), top = int32_t(random() % whole.bottom);
      sprite.setSourceRect({left, top, left + 1 + int32_t(random() % (whole.right - left)),
                            top + 1 + int32_t(random() % (whole.bottom - top))});
      break;
    }
    case 1:
      sprite.setFlip(random() % 2, random() % 2);
      break;
    case 2:
      sprite.setQuarterTurns(random() % 4);
      break;
    case 3:
      sprite.setSize(1 + random() % 120, 1 + random() % 90);
      break;
    case 4:
      sprite.setTint(random() % 2 ? Colour{PixelFormat::Rgb, {255, uint8_t(random()), 90}}
                                  : Colour{PixelFormat::Rgba, {200, 255, 30, uint8_t(random())}});
      break;
    case 5:
      sprite.setRotation(random() % 4 ? double(random() % 3600) / 10 : 90.0 * (random() % 4));
      break;
    case 6:
      sprite.setPivot(int32_t(random() % 60) - 10, int32_t(random() % 40) - 10);
      break;
    case 7:
      sprite.setFilter(random() % 2 ? ImageFilter::Bilinear : ImageFilter::Nearest);
      break;
    default:
      sprite.setPosition(sprite.getX() + int(random() % 31) - 15,
                         sprite.getY() + int(random() % 31) - 15);
      break;
  }
}

// One random change of a text, or a move.
void change(TextSprite& sprite, std::mt19937& random) {
  switch (random() % 5) {
    case 0:
      sprite.setText(std::string(random() % 9, char('A' + random() % 26)) + "\xc3\xa9g");
      break;
    case 1:
      sprite.setColour(
          Colour{PixelFormat::Rgba,
                 {uint8_t(random()), uint8_t(random()), uint8_t(random()), uint8_t(random())}});
      break;
    case 2:
      sprite.setPixelSize(4 + random() % 30);
      break;
    case 3:
      sprite.setAlignment(static_cast<TextAlignment>(random() % 3));
      break;
    default:
      sprite.setPosition(int32_t(random() % 320) - 20, int32_t(random() % 150) - 20);
      break;
  }
}

TEST(TransformedSpriteTest, WindowEqualsFullCompositionAfterEveryFrame) {
  for (auto level : {blit::SimdLevel::Scalar, blit::bestSimdLevel()}) {
    blit::setActiveSimdLevel(level);
    MemoryWindow window(300, 130);
    Screen screen(window.getDC(), 300, 130);
    std::mt19937 random(21 + static_cast<int>(level));
    auto background =
        screen.createFillRectSprite(0, {0, 0, 300, 130}, 0, Colour{PixelFormat::Rgb, {9, 99, 199}});
    background->show();
    background->invalidate();
    std::vector<std::shared_ptr<ImageSprite>> sprites;
    for (int i = 0; i < 16; ++i) {
      auto sprite = screen.createImageSprite(i, int32_t(random() % 320) - 20,
                                             int32_t(random() % 150) - 20, 1, sheet(random));
      if (random() % 3 == 0) sprite->setBlendMode(static_cast<BlendMode>(random() % 5));
      if (random() % 3 == 0) sprite->setOpacity(static_cast<uint8_t>(random()));
      for (int c = 0; c < 3; ++c) change(*sprite, random);
      sprite->show();
      if (random() % 2) sprite->invalidate();
      sprites.push_back(sprite);
    }

    const auto font = Font::fromFile(NUBRIK_RUN_DIR "/DejaVuSans.ttf");
    std::vector<std::shared_ptr<TextSprite>> texts;
    for (int i = 0; i < 3; ++i) {
      texts.push_back(screen.createTextSprite(int32_t(random() % 300), int32_t(random() % 130), i,
                                              font, 10 + random() % 20, "Nubrik",
                                              Colour{PixelFormat::Rgb, {250, 240, 10}}));
      texts.back()->show();
    }

    Event done;
    uint64_t checked = 0, seen = 0;
    std::vector<uint64_t> mismatches;
    screen.addFrameCallback([&](Screen& s) {
      if (s.getComposedFrameCount() != seen) {
        seen = s.getComposedFrameCount();
        const auto expected = testing::plainComposition(
            testing::visibleCommands(*s.getSpriteManager()), s.getWidth(), s.getHeight());
        if (!testing::samePixels(window.getSurface().getFramebuffer(), *expected)) {
          mismatches.push_back(seen);
        }
        if (++checked == 60) done.set();
      }
      // Half the changes only call setters; the others invalidate around
      // them as well, which must draw the same.
      for (int c = int(random() % 3); c >= 0; --c) {
        ImageSprite& sprite = *sprites[random() % sprites.size()];
        const bool explicitly = random() % 2;
        if (explicitly) sprite.invalidate();
        change(sprite, random);
        if (explicitly) sprite.invalidate();
      }
      if (random() % 2) change(*texts[random() % texts.size()], random);
      return false;
    });
    screen.startFrameThread();
    ASSERT_TRUE(done.wait(60'000));
    screen.stopFrameThread();
    EXPECT_TRUE(mismatches.empty())
        << "level " << int(level) << ": first mismatch after frame " << mismatches.front();
  }
  blit::setActiveSimdLevel(blit::bestSimdLevel());
}

}  // namespace
}  // namespace nubrik
