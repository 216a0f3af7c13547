#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <stdexcept>
#include <vector>

#include "nubrik/image/memory_helper.h"
#include "nubrik/sprite/blit_loops.h"
#include "nubrik/sprite/fill_blitters.h"
#include "nubrik/sprite/image_blitters.h"
#include "sprite/pixel_reference.h"

namespace nubrik {
namespace {

// Channel values biased toward the edges, where arithmetic changes behaviour.
uint8_t edgyByte(std::mt19937& random) {
  switch (random() % 4) {
    case 0:
      return 0;
    case 1:
      return 255;
    default:
      return static_cast<uint8_t>(random());
  }
}

std::shared_ptr<Image> randomImage(std::mt19937& random, PixelFormat format, uint32_t width,
                                   uint32_t height, uint32_t padding) {
  const uint32_t pitch = width * bytesPerPixel(format) + padding;
  auto bytes = MemoryHelper::allocate(size_t{pitch} * height);
  for (size_t i = 0; i < size_t{pitch} * height; ++i) bytes[i] = edgyByte(random);
  if (format == PixelFormat::Rgbx) return std::make_shared<Image>(width, height, pitch, bytes);
  auto image = std::make_shared<Image>(width, height, format);
  std::memcpy(image->lock(), bytes.get(), size_t{image->getPitch()} * height);
  return image;
}

std::shared_ptr<Image> copyOf(const Image& image) {
  const size_t size = size_t{image.getPitch()} * image.getHeight();
  auto bytes = MemoryHelper::allocate(size);
  std::memcpy(bytes.get(), image.lockConst(), size);
  return std::make_shared<Image>(image.getWidth(), image.getHeight(), image.getPitch(), bytes);
}

bool samePixels(const Image& a, const Image& b) {
  return std::memcmp(a.lockConst(), b.lockConst(), size_t{a.getPitch()} * a.getHeight()) == 0;
}

// A rectangle around a target of `width` x `height`, overshooting every edge
// now and then, moved by (dx, dy) into surface coordinates.
Rect randomRect(std::mt19937& random, int32_t width, int32_t height, int32_t dx = 0,
                int32_t dy = 0) {
  Rect r{static_cast<int32_t>(random() % (width + 12)) - 6 - dx,
         static_cast<int32_t>(random() % (height + 12)) - 6 - dy, 0, 0};
  r.right = r.left + static_cast<int32_t>(random() % (width + 8));
  r.bottom = r.top + static_cast<int32_t>(random() % (height + 8));
  if (random() % 16 == 0) std::swap(r.left, r.right);  // inverted now and then
  return r;
}

uint8_t randomOpacity(std::mt19937& random) {
  const uint8_t picks[] = {0, 1, 128, 254, 255, 255, 255};
  return random() % 2 ? picks[random() % 7] : static_cast<uint8_t>(random());
}

// A band clip in the shape the compositor makes, or none, or a "no clip" one.
std::unique_ptr<BandClip> randomClip(std::mt19937& random, int32_t width, int32_t height) {
  const int32_t dx = static_cast<int32_t>(random() % 9) - 4;
  const int32_t dy = -static_cast<int32_t>(random() % 100);
  switch (random() % 4) {
    case 0:
      return nullptr;
    case 1:
      return std::make_unique<BandClip>(BandClip{Rect{}, dx, dy});
    default: {
      Rect clip = randomRect(random, width, height);
      if (random() % 2) clip = Rect{0, 0, width, height};
      return std::make_unique<BandClip>(BandClip{clip, 0, dy});
    }
  }
}

TEST(FillBlittersTest, EveryLoopMatchesTheReference) {
  constexpr int kRounds = 10000;
  int changed = 0;
  for (int round = 0; round < kRounds; ++round) {
    std::mt19937 random(round);
    SCOPED_TRACE(::testing::Message() << "seed " << round);
    const uint32_t width = 1 + random() % 40, height = 1 + random() % 12;
    auto target = randomImage(random, PixelFormat::Rgbx, width, height, 4 * (random() % 3));
    auto expected = copyOf(*target);
    const auto clip = randomClip(random, width, height);
    const BlendMode mode = static_cast<BlendMode>(random() % 16 == 0 ? 5 : random() % 5);
    const Rect bounds = clip ? randomRect(random, width, height, clip->dx, clip->dy)
                             : randomRect(random, width, height);
    const Colour colour{static_cast<PixelFormat>(random() % 5),
                        {edgyByte(random), edgyByte(random), edgyByte(random), edgyByte(random)}};
    const uint8_t opacity = randomOpacity(random);

    auto before = copyOf(*target);
    fillRect(*target, clip.get(), mode, bounds, colour, opacity);
    if (!samePixels(*target, *before)) ++changed;
    reference::fillRect(*expected, clip.get(), mode, bounds, colour, opacity);
    ASSERT_TRUE(samePixels(*target, *expected))
        << "mode " << int(mode) << " kind " << int(colour.kind) << " opacity " << int(opacity);
  }
  EXPECT_GT(changed, kRounds / 8);  // a fair share of the cases must draw
}

TEST(ImageBlittersTest, EveryLoopMatchesTheReference) {
  constexpr int kRounds = 12000;
  int changed = 0;
  for (int round = 0; round < kRounds; ++round) {
    std::mt19937 random(round);
    SCOPED_TRACE(::testing::Message() << "seed " << round);
    const uint32_t width = 1 + random() % 40, height = 1 + random() % 12;
    auto target = randomImage(random, PixelFormat::Rgbx, width, height, 4 * (random() % 3));
    auto expected = copyOf(*target);
    const PixelFormat format = static_cast<PixelFormat>(random() % 5);
    const uint32_t sourceWidth = random() % 24 == 0 ? 0 : 1 + random() % 30;
    const uint32_t sourceHeight = random() % 24 == 0 ? 0 : 1 + random() % 20;
    auto source = randomImage(random, format, sourceWidth, sourceHeight, 4);
    const auto clip = randomClip(random, width, height);
    const BlendMode mode = static_cast<BlendMode>(random() % 16 == 0 ? -1 : random() % 5);
    const Rect bounds = clip ? randomRect(random, width, height, clip->dx, clip->dy)
                             : randomRect(random, width, height);
    const Point origin{static_cast<int32_t>(random() % 9) - 4,
                       static_cast<int32_t>(random() % 9) - 4};
    const uint8_t opacity = randomOpacity(random);

    auto before = copyOf(*target);
    drawImage(*source, origin, clip.get(), *target, mode, bounds, opacity);
    if (!samePixels(*target, *before)) ++changed;
    reference::drawImage(*source, origin, clip.get(), *expected, mode, bounds, opacity);
    ASSERT_TRUE(samePixels(*target, *expected))
        << "mode " << int(mode) << " format " << int(format) << " opacity " << int(opacity);
  }
  EXPECT_GT(changed, kRounds / 8);  // a fair share of the cases must draw
}

// Random transformed draws against the sampling rule, pixel by pixel, at
// every loop level. `vary` sets the feature under test from the random
// source rectangle; the draw's target, clip, placement (overshooting every
// edge now and then), layout, mode and opacity are random.
template <typename Vary>
void checkTransformedDraws(uint32_t seed, Vary vary) {
  constexpr int kRounds = 1500;
  std::vector<blit::SimdLevel> levels;
  for (auto level : {blit::SimdLevel::Scalar, blit::SimdLevel::Sse2, blit::SimdLevel::Avx2,
                     blit::SimdLevel::Avx512}) {
    if (level <= blit::bestSimdLevel()) levels.push_back(level);
  }
  int changed = 0;
  for (int round = 0; round < kRounds; ++round) {
    std::mt19937 random(seed * 100000 + round);
    SCOPED_TRACE(::testing::Message() << "seed " << seed * 100000 + round);
    const bool wide = random() % 8 == 0;  // past one column table and every vector
    const uint32_t width = 1 + random() % (wide ? 600 : 48), height = 1 + random() % 10;
    auto original = randomImage(random, PixelFormat::Rgbx, width, height, 4 * (random() % 3));
    const PixelFormat format = static_cast<PixelFormat>(random() % 5);
    const uint32_t sourceWidth = 1 + random() % (wide ? 300 : 24);
    const uint32_t sourceHeight = 1 + random() % 16;
    auto source = randomImage(random, format, sourceWidth, sourceHeight, random() % 5);
    ImageTransform t;
    t.sourceRect.left = static_cast<int32_t>(random() % sourceWidth);
    t.sourceRect.top = static_cast<int32_t>(random() % sourceHeight);
    t.sourceRect.right =
        t.sourceRect.left + 1 + static_cast<int32_t>(random() % (sourceWidth - t.sourceRect.left));
    t.sourceRect.bottom =
        t.sourceRect.top + 1 + static_cast<int32_t>(random() % (sourceHeight - t.sourceRect.top));
    int64_t drawWidth = 0, drawHeight = 0;
    vary(random, t, drawWidth, drawHeight);
    const auto clip = randomClip(random, width, height);
    const int32_t dx = clip ? clip->dx : 0, dy = clip ? clip->dy : 0;
    Rect bounds;
    bounds.left =
        static_cast<int32_t>(random() % (width + drawWidth)) - int32_t(drawWidth) - dx + 1;
    bounds.top =
        static_cast<int32_t>(random() % (height + drawHeight)) - int32_t(drawHeight) - dy + 1;
    bounds.right = bounds.left + int32_t(drawWidth);
    bounds.bottom = bounds.top + int32_t(drawHeight);
    const BlendMode mode = static_cast<BlendMode>(random() % 32 == 0 ? 5 : random() % 5);
    const uint8_t opacity = randomOpacity(random);

    auto expected = copyOf(*original);
    reference::drawTransformedImage(*source, t, clip.get(), *expected, mode, bounds, opacity);
    if (!samePixels(*expected, *original)) ++changed;
    for (blit::SimdLevel level : levels) {
      blit::setActiveSimdLevel(level);
      auto target = copyOf(*original);
      drawTransformedImage(*source, t, clip.get(), *target, mode, bounds, opacity);
      ASSERT_TRUE(samePixels(*target, *expected))
          << "level " << int(level) << " mode " << int(mode) << " format " << int(format)
          << " opacity " << int(opacity) << " turns " << t.quarterTurns << " flips "
          << t.flipHorizontal << t.flipVertical << " tint " << std::hex << t.tint << std::dec
          << " size " << drawWidth << " x " << drawHeight;
    }
  }
  blit::setActiveSimdLevel(blit::bestSimdLevel());
  EXPECT_GT(changed, kRounds / 4);  // a fair share of the cases must draw
}

int64_t sourceWidthOf(const ImageTransform& t) { return t.sourceRect.right - t.sourceRect.left; }
int64_t sourceHeightOf(const ImageTransform& t) { return t.sourceRect.bottom - t.sourceRect.top; }

// A size for one axis of `length` source pixels: the same, an integer
// multiple up to 4, or anything from a sixth to three times the length.
int64_t randomScale(std::mt19937& random, int64_t length) {
  switch (random() % 4) {
    case 0:
      return length;
    case 1:
      return length * (2 + random() % 3);
    default:
      return 1 + random() % (3 * length + 1);
  }
}

uint32_t randomTint(std::mt19937& random) {
  if (random() % 4 == 0) return kNoTint;
  uint32_t tint = 0;
  for (int c = 0; c < 4; ++c) tint |= uint32_t{edgyByte(random)} << (8 * c);
  return tint;
}

TEST(TransformedBlittersTest, SourceRectanglesAtTheirOwnSize) {
  checkTransformedDraws(1, [](std::mt19937&, ImageTransform& t, int64_t& w, int64_t& h) {
    w = sourceWidthOf(t), h = sourceHeightOf(t);
  });
}

TEST(TransformedBlittersTest, Flips) {
  checkTransformedDraws(2, [](std::mt19937& random, ImageTransform& t, int64_t& w, int64_t& h) {
    t.flipHorizontal = random() % 2, t.flipVertical = random() % 2;
    t.quarterTurns = 2 * (random() % 2);
    w = sourceWidthOf(t), h = sourceHeightOf(t);
  });
}

TEST(TransformedBlittersTest, QuarterTurns) {
  checkTransformedDraws(3, [](std::mt19937& random, ImageTransform& t, int64_t& w, int64_t& h) {
    t.flipHorizontal = random() % 2, t.flipVertical = random() % 2;
    t.quarterTurns = random() % 4;
    const bool turned = t.quarterTurns % 2;
    w = turned ? sourceHeightOf(t) : sourceWidthOf(t);
    h = turned ? sourceWidthOf(t) : sourceHeightOf(t);
    if (random() % 2) w = randomScale(random, w), h = randomScale(random, h);
  });
}

TEST(TransformedBlittersTest, Sizes) {
  checkTransformedDraws(4, [](std::mt19937& random, ImageTransform& t, int64_t& w, int64_t& h) {
    t.flipHorizontal = random() % 2, t.flipVertical = random() % 2;
    t.quarterTurns = random() % 4 == 0 ? random() % 4 : 0;
    const bool turned = t.quarterTurns % 2;
    w = randomScale(random, turned ? sourceHeightOf(t) : sourceWidthOf(t));
    h = randomScale(random, turned ? sourceWidthOf(t) : sourceHeightOf(t));
  });
}

TEST(TransformedBlittersTest, Tints) {
  checkTransformedDraws(5, [](std::mt19937& random, ImageTransform& t, int64_t& w, int64_t& h) {
    t.tint = randomTint(random);
    t.flipHorizontal = random() % 2, t.flipVertical = random() % 2;
    t.quarterTurns = random() % 4;
    const bool turned = t.quarterTurns % 2;
    w = randomScale(random, turned ? sourceHeightOf(t) : sourceWidthOf(t));
    h = randomScale(random, turned ? sourceWidthOf(t) : sourceHeightOf(t));
  });
}

// A solid Rgbx target of `width` x `height` pixels, all `value`.
std::shared_ptr<Image> solid(uint32_t width, uint32_t height, uint32_t value) {
  auto bytes = MemoryHelper::allocate(size_t{width} * height * 4);
  for (size_t i = 0; i < size_t{width} * height; ++i) std::memcpy(&bytes[i * 4], &value, 4);
  return std::make_shared<Image>(width, height, width * 4, bytes);
}

uint32_t pixelAt(const Image& image, uint32_t x, uint32_t y) {
  uint32_t v;
  std::memcpy(&v, image.lockConst() + y * image.getPitch() + x * 4, 4);
  return v;
}

TEST(FillBlittersTest, WeightsOfTheFourCases) {
  auto target = solid(2, 1, 0xFF000000u);
  fillRect(*target, nullptr, BlendMode::Normal, {0, 0, 1, 1}, {PixelFormat::Rgb, {1, 2, 3}}, 255);
  EXPECT_EQ(pixelAt(*target, 0, 0), 0x00010203u);  // a plain store, alpha byte 0
  fillRect(*target, nullptr, BlendMode::Normal, {0, 0, 1, 1}, {PixelFormat::Rgba, {1, 2, 3, 255}},
           255);
  EXPECT_EQ(pixelAt(*target, 0, 0), 0xFF010203u);

  // Alpha 60 at full opacity: (d * 196 + p * 60) >> 8 per channel, alpha byte too.
  target = solid(1, 1, 0xC8C8C8C8u);
  fillRect(*target, nullptr, BlendMode::Normal, {0, 0, 1, 1}, {PixelFormat::Rgba, {0, 255, 0, 60}},
           255);
  const uint32_t keep = (200 * 196) >> 8, a = (200 * 196 + 60 * 60) >> 8;
  EXPECT_EQ(pixelAt(*target, 0, 0),
            a << 24 | keep << 16 | ((200 * 196 + 255 * 60) >> 8) << 8 | keep);

  // Alpha 60 at opacity 128 weighs (60 * 128) >> 8 = 30.
  target = solid(1, 1, 0u);
  fillRect(*target, nullptr, BlendMode::Normal, {0, 0, 1, 1}, {PixelFormat::GreyAlpha, {200, 60}},
           128);
  EXPECT_EQ(pixelAt(*target, 0, 0) & 0xFF, (200u * 30) >> 8);

  // Nothing draws at alpha 0, opacity 0 or an unknown mode.
  target = solid(1, 1, 0x11223344u);
  fillRect(*target, nullptr, BlendMode::Normal, {0, 0, 1, 1}, {PixelFormat::Rgba, {9, 9, 9, 0}},
           255);
  fillRect(*target, nullptr, BlendMode::Add, {0, 0, 1, 1}, {PixelFormat::Rgb, {9, 9, 9}}, 0);
  fillRect(*target, nullptr, static_cast<BlendMode>(5), {0, 0, 1, 1}, {PixelFormat::Rgb, {9}}, 255);
  fillRect(*target, nullptr, static_cast<BlendMode>(-1), {0, 0, 1, 1}, {PixelFormat::Rgb, {9}},
           255);
  EXPECT_EQ(pixelAt(*target, 0, 0), 0x11223344u);
}

TEST(FillBlittersTest, BandClipTranslatesAndClips) {
  // A band starting at surface row 64: bounds (10, 70, 20, 80) fill rows 6 to 15.
  auto target = solid(30, 20, 0u);
  const BandClip band{Rect{0, 0, 30, 20}, 0, -64};
  fillRect(*target, &band, BlendMode::Normal, {10, 70, 20, 80}, {PixelFormat::Grey, {7}}, 255);
  for (uint32_t y = 0; y < 20; ++y) {
    EXPECT_EQ(pixelAt(*target, 10, y) != 0, y >= 6 && y < 16) << y;
    EXPECT_EQ(pixelAt(*target, 9, y), 0u);
    EXPECT_EQ(pixelAt(*target, 20, y), 0u);
  }

  // A clip that only touches the bounds, or misses them, draws nothing.
  target = solid(30, 20, 0u);
  const BandClip touching{Rect{20, 0, 30, 20}, 0, 0};
  const BandClip apart{Rect{25, 0, 30, 20}, 0, 0};
  fillRect(*target, &touching, BlendMode::Normal, {10, 0, 20, 5}, {PixelFormat::Grey, {7}}, 255);
  fillRect(*target, &apart, BlendMode::Normal, {10, 0, 20, 5}, {PixelFormat::Grey, {7}}, 255);
  // Empty bounds never stand for the whole clip.
  const BandClip whole{Rect{0, 0, 30, 20}, 0, 0};
  fillRect(*target, &whole, BlendMode::Normal, {5, 5, 5, 9}, {PixelFormat::Grey, {7}}, 255);
  auto blank = solid(30, 20, 0u);
  EXPECT_TRUE(samePixels(*target, *blank));
}

TEST(FillBlittersTest, ExtremeCoordinatesNeitherOverflowNorWriteOutside) {
  auto target = solid(8, 4, 0u);
  const BandClip band{Rect{}, INT32_MIN, INT32_MIN};
  fillRect(*target, &band, BlendMode::Add, {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX},
           {PixelFormat::Grey, {1}}, 255);
  fillRect(*target, nullptr, BlendMode::Add, {INT32_MAX, 0, INT32_MIN, 4}, {PixelFormat::Grey, {1}},
           255);
  fillRect(*target, nullptr, BlendMode::Add, {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX},
           {PixelFormat::Grey, {1}}, 255);
  for (uint32_t y = 0; y < 4; ++y)
    for (uint32_t x = 0; x < 8; ++x) EXPECT_EQ(pixelAt(*target, x, y), 0x010101u);
}

TEST(ImageBlittersTest, SourceMappingAndWeights) {
  // A clip cutting 3 columns off the left starts at source column origin.x + 3.
  Image ramp(16, 1, PixelFormat::Grey);
  for (uint8_t i = 0; i < 16; ++i) ramp.lock()[i] = i;
  auto target = solid(20, 1, 0u);
  const BandClip clip{Rect{8, 0, 20, 1}, 0, 0};
  drawImage(ramp, {2, 0}, &clip, *target, BlendMode::Normal, {5, 0, 21, 1}, 255);
  EXPECT_EQ(pixelAt(*target, 7, 0), 0u);
  EXPECT_EQ(pixelAt(*target, 8, 0), 5u * 0x010101u);
  EXPECT_EQ(pixelAt(*target, 18, 0), 15u * 0x010101u);
  EXPECT_EQ(pixelAt(*target, 19, 0), 0u);  // past the source's last column

  // At opacity 128 an Rgb pixel weighs 128 and an opaque Rgba pixel 127.
  Image rgb(1, 1, PixelFormat::Rgb), rgba(1, 1, PixelFormat::Rgba);
  std::memset(rgb.lock(), 255, 3);
  std::memset(rgba.lock(), 255, 4);
  target = solid(2, 1, 0u);
  drawImage(rgb, {}, nullptr, *target, BlendMode::Normal, {0, 0, 1, 1}, 128);
  drawImage(rgba, {}, nullptr, *target, BlendMode::Normal, {1, 0, 2, 1}, 128);
  EXPECT_EQ(pixelAt(*target, 0, 0), 0x007F7F7Fu);
  EXPECT_EQ(pixelAt(*target, 1, 0), 0x7E7E7E7Eu);

  // Grey level 100 at alpha 128 over white: (255 * 128 + 100 * 128) >> 8 = 177.
  Image greyAlpha(1, 1, PixelFormat::GreyAlpha);
  greyAlpha.lock()[0] = 100, greyAlpha.lock()[1] = 128;
  target = solid(1, 1, 0x00FFFFFFu);
  drawImage(greyAlpha, {}, nullptr, *target, BlendMode::Normal, {0, 0, 1, 1}, 255);
  EXPECT_EQ(pixelAt(*target, 0, 0) & 0x00FFFFFFu, 177u * 0x010101u);

  // An Rgbx source copies its words unchanged, fourth byte included.
  auto words = solid(3, 1, 0xA1B2C3D4u);
  target = solid(3, 1, 0u);
  drawImage(*words, {}, nullptr, *target, BlendMode::Normal, {0, 0, 3, 1}, 255);
  EXPECT_TRUE(samePixels(*target, *words));
}

TEST(ImageBlittersTest, NothingDrawsFromEmptyOrUnknownSources) {
  auto target = solid(4, 4, 0x55u);
  Image empty(0, 3, PixelFormat::Rgba);
  drawImage(empty, {}, nullptr, *target, BlendMode::Normal, {0, 0, 4, 4}, 255);
  const BandClip none{Rect{}, 0, 0};
  drawImage(empty, {}, &none, *target, BlendMode::Normal, {0, 0, 4, 4}, 255);

  struct BadFormat : IImage {
    uint8_t bytes[64] = {};
    uint32_t getWidth() const override { return 4; }
    uint32_t getHeight() const override { return 4; }
    PixelFormat getPixelFormat() const override { return static_cast<PixelFormat>(5); }
    uint32_t getPitch() const override { return 16; }
    uint8_t* lock() override { return bytes; }
    const uint8_t* lockConst() const override { return bytes; }
    void unlock() override {}
    void unlockConst() const override {}
  } bad;
  drawImage(bad, {}, nullptr, *target, BlendMode::Normal, {0, 0, 4, 4}, 255);
  EXPECT_TRUE(samePixels(*target, *solid(4, 4, 0x55u)));
}

TEST(BlittersTest, RefuseImagesTheyWouldOverrun) {
  auto bytes = MemoryHelper::allocate(4096);
  const Colour white{PixelFormat::Grey, {255}};
  auto source = solid(16, 4, 0x80808080u);
  // Rgbx rows of 16 pixels are 64 bytes; these are 60 bytes apart.
  Image underPitched(16, 4, 60, bytes);
  Image grey(16, 4, PixelFormat::Grey), rgb(16, 4, PixelFormat::Rgb),
      greyAlpha(16, 4, PixelFormat::GreyAlpha);
  for (IImage* target : std::initializer_list<IImage*>{&underPitched, &grey, &rgb, &greyAlpha}) {
    EXPECT_THROW(fillRect(*target, nullptr, BlendMode::Normal, {0, 0, 16, 4}, white, 255),
                 std::invalid_argument);
    EXPECT_THROW(drawImage(*source, {}, nullptr, *target, BlendMode::Normal, {0, 0, 16, 4}, 255),
                 std::invalid_argument);
  }
  // A source whose rows overlap would be read past its end.
  auto target = solid(16, 4, 0u);
  EXPECT_THROW(drawImage(underPitched, {}, nullptr, *target, BlendMode::Normal, {0, 0, 16, 4}, 255),
               std::invalid_argument);
  // Rgba targets with packed rows are drawn into.
  Image rgba(16, 4, PixelFormat::Rgba);
  fillRect(rgba, nullptr, BlendMode::Normal, {0, 0, 16, 4}, white, 255);
  drawImage(*source, {}, nullptr, rgba, BlendMode::Normal, {0, 0, 8, 4}, 255);
  EXPECT_EQ(rgba.lockConst()[0], 0x80);
  EXPECT_EQ(rgba.lockConst()[63], 0x00);  // white Grey: alpha byte 0
}

TEST(TransformedBlittersTest, RefusesWhatItCannotSample) {
  auto target = solid(8, 8, 0u);
  Image source(6, 4, PixelFormat::Rgb);
  for (const Rect& r : {Rect{0, 0, 7, 4}, Rect{-1, 0, 3, 3}, Rect{2, 2, 2, 3}, Rect{0, 3, 6, 5}}) {
    ImageTransform t;
    t.sourceRect = r;
    EXPECT_THROW(
        drawTransformedImage(source, t, nullptr, *target, BlendMode::Normal, {0, 0, 8, 8}, 255),
        std::invalid_argument);
  }
  ImageTransform turns;
  turns.sourceRect = {0, 0, 6, 4};
  turns.quarterTurns = 4;
  EXPECT_THROW(
      drawTransformedImage(source, turns, nullptr, *target, BlendMode::Normal, {0, 0, 8, 8}, 255),
      std::invalid_argument);
}

}  // namespace
}  // namespace nubrik
