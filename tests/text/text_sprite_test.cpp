// The text sprite against FreeType itself: the box and every pixel of
// strings laid out glyph by glyph from FreeType's own metrics (advances,
// kerning, bearings) and bitmaps, then drawn by the blend rules in every
// mode; its limits; and one font shared by threads through a small cache.

#include "nubrik/sprite/text_sprite.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "nubrik/image/pixel_lock.h"
#include "nubrik/sprite/draw_command.h"
#include "nubrik/sprite/sprite_factory.h"
#include "sprite/pixel_reference.h"
#include "text/font_reference.h"

namespace nubrik {
namespace {

const std::string kFontPath = NUBRIK_RUN_DIR "/DejaVuSans.ttf";

std::shared_ptr<TextSprite> makeSprite(std::shared_ptr<Font> font, uint32_t size,
                                       std::string_view text, const Colour& colour) {
  return makeSprite<TextSprite>(std::weak_ptr<IOrderTarget>(), std::weak_ptr<IRedrawTarget>(), 1, 0,
                                0, 0, std::move(font), size, text, colour);
}

uint32_t pixelAt(const IImage& image, uint32_t x, uint32_t y) {
  ConstPixelLock lock(image);
  return reference::loadTarget(lock.pixels(), image.getPitch(), static_cast<int>(x),
                               static_cast<int>(y));
}

TEST(TextSpriteTest, MatchesFreeTypeGlyphByGlyphInEveryModeAndAlignment) {
  reference::FreeTypeText freeType(kFontPath);
  ASSERT_EQ(FT_Get_Char_Index(freeType.face(), 0x4E2D), 0u) << "the font has U+4E2D now";
  const auto font = Font::fromFile(kFontPath);
  struct Case {
    std::string utf8;
    std::u32string text;
  };
  std::vector<Case> strings = {
      {"AVATAR Wavy To", U"AVATAR Wavy To"},  // kerned pairs
      {"fjord \xC3\x85ngstr\xC3\xB6m\nquick", U"fjord \u00C5ngstr\u00F6m\nquick"},
      {"x\xFFy\xE2\x82", U"x\uFFFDy\uFFFD\uFFFD"},  // bad bytes
      {"\xE4\xB8\xAD?\n\nend", U"\u4E2D?\n\nend"},  // a missing glyph
      {"", U""},
  };
  // Too many glyphs to be kept between measuring and drawing (only at the
  // smallest size, for time).
  Case many;
  for (int line = 0; line < 60; ++line) {
    for (int i = 0; i < 70; ++i) many.text += char32_t(U'!' + (line * 7 + i * 3) % 94);
    many.text += U'\n';
  }
  for (const char32_t c : many.text) many.utf8 += static_cast<char>(c);
  strings.push_back(many);
  const Colour colours[] = {{PixelFormat::Rgb, {250, 40, 10}},
                            {PixelFormat::Rgba, {20, 200, 90, 130}},
                            {PixelFormat::Grey, {77}},
                            {PixelFormat::GreyAlpha, {240, 60}}};
  std::mt19937 random(11);
  int cases = 0;
  for (const uint32_t size : {9u, 17u, 48u}) {
    for (const auto& s : strings) {
      if (s.text.size() > 1000 && size != 9) continue;
      SCOPED_TRACE(testing::PrintToString(s.utf8) + " at " + std::to_string(size));
      const auto sprite = makeSprite(font, size, s.utf8, {PixelFormat::Rgb, {255, 255, 255}});
      // Made left-aligned at (0, 0): the origin is where that puts the pen.
      const reference::RenderedText left = freeType.render(s.text, size, TextAlignment::Left);
      ASSERT_EQ(font->measureText(s.utf8, size), (Rect{int32_t(left.left), int32_t(left.top),
                                                       int32_t(left.right), int32_t(left.bottom)}));
      const Point origin{int32_t(-left.left), int32_t(-left.top)};
      for (const TextAlignment alignment :
           {TextAlignment::Left, TextAlignment::Centre, TextAlignment::Right}) {
        SCOPED_TRACE(static_cast<int>(alignment));
        const reference::RenderedText expected = freeType.render(s.text, size, alignment);
        const Colour colour = colours[cases % 4];
        const auto mode = static_cast<BlendMode>(random() % 5);
        const uint8_t opacity = cases % 3 == 0 ? 255 : static_cast<uint8_t>(random());
        sprite->setAlignment(alignment);
        sprite->setColour(colour);
        sprite->setBlendMode(mode);
        sprite->setOpacity(opacity);
        ++cases;

        // Its position is the text's box; it draws the ink's.
        EXPECT_EQ(sprite->getX(), origin.x + expected.left);
        EXPECT_EQ(sprite->getY(), origin.y + expected.top);
        const DrawCommand command = SpriteCommands::of(*sprite);
        ASSERT_EQ(
            command.bounds,
            (Rect{int32_t(origin.x + expected.inkLeft), int32_t(origin.y + expected.inkTop),
                  int32_t(origin.x + expected.inkRight), int32_t(origin.y + expected.inkBottom)}));
        // Drawn into a random target showing the whole box, with a margin.
        const int32_t margin = 3;
        const Rect b{int32_t(origin.x + expected.left), int32_t(origin.y + expected.top),
                     int32_t(origin.x + expected.right), int32_t(origin.y + expected.bottom)};
        const BandClip clip{Rect{}, margin - b.left, margin - b.top};
        Image target(uint32_t(b.right - b.left + 2 * margin),
                     uint32_t(b.bottom - b.top + 2 * margin), PixelFormat::Rgbx);
        std::vector<uint32_t> before;
        {
          PixelLock lock(target);
          for (uint32_t y = 0; y < target.getHeight(); ++y) {
            for (uint32_t x = 0; x < target.getWidth(); ++x) {
              before.push_back(random());
              reference::storeTarget(lock.pixels(), target.getPitch(), int(x), int(y),
                                     before.back());
            }
          }
        }
        drawCommand(target, clip, command);
        const uint32_t rgb = toPixel(colour) & 0xFFFFFF;
        for (uint32_t y = 0; y < target.getHeight(); ++y) {
          for (uint32_t x = 0; x < target.getWidth(); ++x) {
            const uint32_t d = before[y * target.getWidth() + x];
            const int64_t tx = int64_t(x) - margin + expected.left;
            const int64_t ty = int64_t(y) - margin + expected.top;
            uint32_t want = d;
            if (tx >= expected.left && tx < expected.right && ty >= expected.top &&
                ty < expected.bottom) {
              const uint32_t a = (expected.at(tx, ty) * colourAlpha(colour) + 127) / 255;
              const uint32_t w = opacity == 255 ? toWeight(a) : toWeight(a * opacity >> 8);
              want = reference::mix(d, reference::blend(mode, d, rgb | a << 24), w);
            }
            ASSERT_EQ(pixelAt(target, x, y), want) << "at " << tx << "," << ty;
          }
        }
      }
    }
  }
}

TEST(TextSpriteTest, RefusesOrBoundsBadInput) {
  const auto font = Font::fromFile(kFontPath);
  const Colour white{PixelFormat::Rgb, {255, 255, 255}};
  for (const uint32_t size : {0u, 10000u}) {
    const std::string value = std::to_string(size);
    const auto named = [&](const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find(value), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find("1 to 1024"), std::string::npos) << e.what();
    };
    try {
      font->measureText("x", size);
      ADD_FAILURE() << "measureText took size " << size;
    } catch (const std::invalid_argument& e) {
      named(e);
    }
    EXPECT_THROW(makeSprite(font, size, "x", white), std::invalid_argument);
    const auto sprite = makeSprite(font, 12, "kept", white);
    const auto image = sprite->getImage();
    const DrawCommand command = SpriteCommands::of(*sprite);
    try {
      sprite->setPixelSize(size);
      ADD_FAILURE() << "setPixelSize took size " << size;
    } catch (const std::invalid_argument& e) {
      named(e);
    }
    EXPECT_EQ(sprite->getImage(), image);
    EXPECT_EQ(sprite->getPixelSize(), 12u);
    EXPECT_EQ(SpriteCommands::of(*sprite).bounds, command.bounds);
  }
  EXPECT_THROW(makeSprite(nullptr, 12, "x", white), std::invalid_argument);
  // Colours text cannot be drawn in are refused, as for a tint, and leave
  // the sprite as it was.
  for (const auto kind : {PixelFormat::Rgbx, static_cast<PixelFormat>(9)}) {
    const Colour wrong{kind, {255, 0, 0, 255}};
    EXPECT_THROW(makeSprite(font, 12, "x", wrong), std::invalid_argument);
    const auto sprite = makeSprite(font, 12, "kept", white);
    const auto image = sprite->getImage();
    try {
      sprite->setColour(wrong);
      ADD_FAILURE() << "setColour took kind " << static_cast<int>(kind);
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find("kind " + std::to_string(static_cast<int>(kind))),
                std::string::npos)
          << e.what();
    }
    EXPECT_EQ(sprite->getImage(), image);
    EXPECT_EQ(sprite->getColour(), white);
  }

  // Anywhere in the coordinates, the text's area is its area at the origin
  // moved there in 64 bits and cut to 32, never wrapped, and what is cut at
  // the start is cut from the image too.
  {
    const auto sprite = makeSprite(font, 30, "Far away", white);
    const DrawCommand home = SpriteCommands::of(*sprite);
    const auto cut = [](int64_t v) {
      return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
    };
    std::mt19937 random(8);
    for (int round = 0; round < 2000; ++round) {
      const auto coordinate = [&]() -> int32_t {
        const int64_t edge = random() % 2 == 0 ? INT32_MIN : INT32_MAX;
        return random() % 3 == 0 ? static_cast<int32_t>(random())
                                 : cut(edge + static_cast<int32_t>(random() % 400) - 200);
      };
      const int32_t x = coordinate(), y = coordinate();
      sprite->setPosition(x, y);
      EXPECT_EQ(sprite->getX(), x);
      EXPECT_EQ(sprite->getY(), y);
      const DrawCommand command = SpriteCommands::of(*sprite);
      const Rect expected{cut(int64_t{x} + home.bounds.left), cut(int64_t{y} + home.bounds.top),
                          cut(int64_t{x} + home.bounds.right),
                          cut(int64_t{y} + home.bounds.bottom)};
      ASSERT_EQ(command.bounds, expected) << x << ", " << y;
      if (expected.hasArea()) {
        EXPECT_EQ(command.sourceOrigin.x, expected.left - (int64_t{x} + home.bounds.left));
        EXPECT_EQ(command.sourceOrigin.y, expected.top - (int64_t{y} + home.bounds.top));
      }
    }
  }

  // A million characters: measured whole, drawn within the caps.
  const std::string line(1'000'000, 'W');
  std::string lines;
  for (int i = 0; i < 500'000; ++i) lines += "W\n";
  std::string junk(1'000'000, '\0');
  std::mt19937 random(5);
  for (char& c : junk) c = static_cast<char>(random());
  const Rect oneW = font->measureText("W", 20);
  EXPECT_EQ(font->measureText(line, 20).right, oneW.right * 1'000'000);
  for (const std::string* text : std::vector<const std::string*>{&line, &lines, &junk}) {
    const auto sprite = makeSprite(font, 20, *text, white);
    const auto& image = *sprite->getImage();
    EXPECT_LE(image.getWidth(), TextSprite::kMaxExtent);
    EXPECT_LE(image.getHeight(), TextSprite::kMaxExtent);
    EXPECT_LE(uint64_t{image.getWidth()} * image.getHeight(), TextSprite::kMaxPixels);
    uint32_t ink = 0;
    for (uint32_t y = 0; y < std::min(image.getHeight(), 30u); ++y) {
      for (uint32_t x = 0; x < 30; ++x) {
        const uint32_t size = bytesPerPixel(image.getPixelFormat());  // alpha last
        ink |= image.pixels()[y * image.getPitch() + x * size + size - 1];
      }
    }
    EXPECT_NE(ink, 0u) << "the start is drawn";
  }
}

TEST(TextSpriteTest, ThreadsShareOneFontThroughABoundedCache) {
  // Every printable Latin character at sizes that make the cache turn over.
  std::vector<std::string> texts;
  for (char32_t first = 0x21; first < 0x180; first += 24) {
    std::u32string wide;
    for (char32_t c = first; c < first + 24; ++c) wide += c;
    std::string utf8;
    for (const char32_t c : wide) {
      if (c < 0x80) {
        utf8 += static_cast<char>(c);
      } else {
        utf8 += static_cast<char>(0xC0 | (c >> 6));
        utf8 += static_cast<char>(0x80 | (c & 0x3F));
      }
    }
    texts.push_back(utf8);
  }
  const uint32_t sizes[] = {11, 23, 40, 72};
  const Colour colour{PixelFormat::Rgb, {1, 2, 3}};
  // What each text looks like, from a font of its own with the default cache.
  const auto fresh = Font::fromFile(kFontPath);
  std::vector<std::vector<uint8_t>> expected;
  for (const uint32_t size : sizes) {
    for (const std::string& text : texts) {
      const auto image = makeSprite(fresh, size, text, colour)->getImage();
      const uint8_t* p = image->pixels().get();
      expected.emplace_back(p, p + size_t{image->getPitch()} * image->getHeight());
    }
  }

  const auto shared = Font::fromFile(kFontPath);
  constexpr size_t kLimit = 48 * 1024;
  shared->setGlyphCacheLimit(kLimit);
  std::vector<std::thread> threads;
  std::vector<int> mismatches(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 3; ++round) {
        for (size_t i = 0; i < expected.size(); ++i) {
          const size_t k = (i * 7 + size_t(t) * 5 + size_t(round)) % expected.size();
          const auto image =
              makeSprite(shared, sizes[k / texts.size()], texts[k % texts.size()], colour)
                  ->getImage();
          const uint8_t* p = image->pixels().get();
          if (std::vector<uint8_t>(p, p + size_t{image->getPitch()} * image->getHeight()) !=
              expected[k]) {
            ++mismatches[size_t(t)];
          }
          if (shared->getGlyphCacheBytes() > kLimit) ++mismatches[size_t(t)];
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(mismatches, std::vector<int>(4, 0));
  EXPECT_GT(shared->getGlyphCacheBytes(), kLimit / 2) << "the cache keeps what fits";
}

}  // namespace
}  // namespace nubrik
