#include "nubrik/sprite/blend.h"

#include <gtest/gtest.h>

#include <random>

#include "nubrik/base/rect.h"
#include "nubrik/sprite/colour.h"
#include "sprite/pixel_reference.h"

namespace nubrik {
namespace {

constexpr BlendMode kModes[] = {BlendMode::Normal, BlendMode::Add, BlendMode::Subtract,
                                BlendMode::Multiply, BlendMode::InverseMultiply};

TEST(WeightTest, FullByteTakesEverything) {
  EXPECT_EQ(toWeight(0), 0u);
  EXPECT_EQ(toWeight(1), 1u);
  EXPECT_EQ(toWeight(128), 128u);
  EXPECT_EQ(toWeight(254), 254u);
  EXPECT_EQ(toWeight(255), 256u);
}

TEST(ColourTest, PacksEveryKind) {
  EXPECT_EQ(toPixel({PixelFormat::Grey, {200}}), 0x00C8C8C8u);
  EXPECT_EQ(toPixel({PixelFormat::Rgb, {255, 0, 0}}), 0x00FF0000u);
  EXPECT_EQ(toPixel({PixelFormat::GreyAlpha, {10, 128}}), 0x800A0A0Au);
  const Colour green{PixelFormat::Rgba, {0, 255, 0, 60}};
  EXPECT_EQ(toPixel(green), 0x3C00FF00u);
  EXPECT_TRUE(isTranslucent(green));
  EXPECT_EQ(colourAlpha(green), 60);
  EXPECT_FALSE(isTranslucent({PixelFormat::Rgba, {1, 2, 3, 255}}));
  // Kinds that are not colours draw black with alpha byte 0, as opaque.
  EXPECT_EQ(toPixel({PixelFormat::Rgbx, {1, 2, 3, 4}}), 0u);
  EXPECT_EQ(toPixel({static_cast<PixelFormat>(9), {1, 2, 3, 4}}), 0u);
  EXPECT_FALSE(isTranslucent({PixelFormat::Rgbx, {1, 2, 3, 4}}));
}

TEST(BlendTest, SaturatingAddAndSubtractWrapTheAlphaByte) {
  const uint32_t d = 0x80202020, s = 0x00F08010;
  EXPECT_EQ(blendPixel(BlendMode::Add, d, s), 0x80FFA030u);
  EXPECT_EQ(blendPixel(BlendMode::Subtract, d, s), 0x80000010u);
  EXPECT_EQ(blendPixel(BlendMode::Add, 0x80000000u, 0xFF000000u) >> 24, 127u);
}

TEST(BlendTest, MultiplyAndInverseMultiply) {
  EXPECT_EQ(blendPixel(BlendMode::Multiply, 0xFF123456u, 0x00FFFFFFu), 0x00123456u);
  EXPECT_EQ(blendPixel(BlendMode::Multiply, 0xFF123456u, 0xFF000000u), 0u);
  EXPECT_EQ(blendPixel(BlendMode::InverseMultiply, 0xFF123456u, 0x00FFFFFFu), 0u);
  EXPECT_EQ(blendPixel(BlendMode::InverseMultiply, 0u, 0u), 0x00FFFFFFu);
  EXPECT_EQ(blendPixel(static_cast<BlendMode>(5), 1u, 2u), 0u);
}

// Every pair of channel values in every channel position, the other channels
// random: the word-wide rules must equal the per-channel ones exactly.
TEST(BlendTest, WordWideRulesEqualPerChannelRulesExhaustively) {
  std::mt19937 random(1);
  for (BlendMode mode : kModes) {
    for (int c = 0; c < 4; ++c) {
      for (uint32_t dv = 0; dv < 256; ++dv) {
        for (uint32_t sv = 0; sv < 256; ++sv) {
          const uint32_t mask = ~(0xFFu << (8 * c));
          const uint32_t d = (random() & mask) | dv << (8 * c);
          const uint32_t s = (random() & mask) | sv << (8 * c);
          ASSERT_EQ(blendPixel(mode, d, s), reference::blend(mode, d, s))
              << "mode " << int(mode) << " d " << std::hex << d << " s " << s;
        }
      }
    }
  }
}

TEST(MixTest, EqualsPerChannelFormulaForEveryWeight) {
  for (uint32_t w = 0; w <= 256; ++w) {
    for (uint32_t dv = 0; dv < 256; ++dv) {
      for (uint32_t xv = 0; xv < 256; ++xv) {
        // Four different channel pairs per word, covering every pair in every lane.
        const uint32_t d = dv | (255 - dv) << 8 | xv << 16 | dv << 24;
        const uint32_t x = xv | xv << 8 | (255 - dv) << 16 | (255 - xv) << 24;
        ASSERT_EQ(mixPixels(d, x, w), reference::mix(d, x, w)) << w << " " << dv << " " << xv;
      }
    }
  }
  EXPECT_EQ(mixPixels(0x12345678u, 0x9ABCDEF0u, 0), 0x12345678u);
  EXPECT_EQ(mixPixels(0x12345678u, 0x9ABCDEF0u, 256), 0x9ABCDEF0u);
  EXPECT_EQ(mixPixels(0x00FF0080u, 0x00010080u, 128), 0x00800080u);
}

TEST(IntersectTest, EmptyDoesNotRestrictAndApartGivesZero) {
  EXPECT_EQ(intersect({0, 0, 0, 0}, {5, 5, 9, 9}), (Rect{5, 5, 9, 9}));
  EXPECT_EQ(intersect({5, 5, 9, 9}, {0, 0, 0, 0}), (Rect{5, 5, 9, 9}));
  EXPECT_EQ(intersect({1, 1, 1, 3}, {2, 2, 2, 5}), (Rect{2, 2, 2, 5}));
  const Rect touching = intersect({0, 0, 4, 4}, {4, 0, 8, 4});
  EXPECT_EQ(touching, (Rect{4, 0, 4, 4}));
  EXPECT_TRUE(touching.isEmpty());
  EXPECT_EQ(intersect({0, 0, 4, 4}, {5, 0, 8, 4}), (Rect{}));
  EXPECT_EQ(intersect({0, 0, 10, 10}, {2, 3, 20, 5}), (Rect{2, 3, 10, 5}));
  EXPECT_EQ(intersect({2, 3, 20, 5}, {0, 0, 10, 10}), (Rect{2, 3, 10, 5}));
  // Inverted rectangles are not empty, yet cover nothing.
  EXPECT_FALSE((Rect{5, 0, 1, 4}).isEmpty());
  EXPECT_FALSE((Rect{5, 0, 1, 4}).hasArea());
}

}  // namespace
}  // namespace nubrik
