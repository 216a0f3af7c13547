// Rotated drawing against a plain per-pixel model of the rotation rule, the
// vector loops against the plain ones, and the rule's promises: whole
// quarter turns are the sheet rule's, no angle at the source's size is the
// plain image, turning there and back keeps a shape, a uniform picture stays
// uniform, and the area holds every pixel drawn. All over generated cases.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "nubrik/image/memory_helper.h"
#include "nubrik/screen/sprite_drawer.h"
#include "nubrik/screen/sprite_manager.h"
#include "nubrik/sprite/affine_blitters.h"
#include "nubrik/sprite/affine_geometry.h"
#include "nubrik/sprite/affine_loops.h"
#include "nubrik/sprite/draw_command.h"
#include "nubrik/sprite/hit_test.h"
#include "nubrik/sprite/image_sprite.h"
#include "nubrik/sprite/sprite_factory.h"
#include "sprite/pixel_reference.h"

namespace nubrik {
namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kScale = 4;  // sanitizers are slow: fewer cases
#else
constexpr int kScale = 1;
#endif

std::vector<blit::SimdLevel> levels() {
  std::vector<blit::SimdLevel> all;
  for (auto level : {blit::SimdLevel::Scalar, blit::SimdLevel::Sse2, blit::SimdLevel::Avx2,
                     blit::SimdLevel::Avx512}) {
    if (level <= blit::bestSimdLevel()) all.push_back(level);
  }
  return all;
}

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
  auto bytes = MemoryHelper::allocate(size_t{pitch} * height + 1);
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

uint32_t pixelAt(const Image& image, int64_t x, int64_t y) {
  uint32_t v;
  std::memcpy(&v, image.lockConst() + y * image.getPitch() + x * 4, 4);
  return v;
}

// The rotation rule's general sampling (drawAffineImage), pixel by pixel in
// exact 128-bit arithmetic and per channel. The map's coefficients come from
// affineGeometry; everything after them is written here from the rule.
void modelDraw(const IImage& source, const ImageTransform& t, const ImageRotation& r,
               const BandClip* clip, IImage& target, BlendMode mode, const Rect& area,
               uint8_t opacity) {
  if (static_cast<int>(mode) < 0 || static_cast<int>(mode) > 4 || opacity == 0) return;
  const blit::AffineGeometry g = blit::affineGeometry(t, r);
  const int64_t sw = t.sourceRect.right - t.sourceRect.left;
  const int64_t sh = t.sourceRect.bottom - t.sourceRect.top;
  const int64_t frameW = g.frameWidth, frameH = g.frameHeight;
  PixelLock lock(target);
  ConstPixelLock src(source);
  const int64_t dx = clip ? clip->dx : 0, dy = clip ? clip->dy : 0;
  // A frame pixel's source pixel and its weight alone, or none outside the frame.
  auto sample = [&](int64_t iu, int64_t iv, reference::SourcePixel& s) {
    if (iu < 0 || iv < 0 || iu >= frameW || iv >= frameH) return false;
    int64_t a = iu, b = iv;
    if (g.frameTurns == 1) a = iv, b = sh - 1 - iu;
    if (g.frameTurns == 2) a = sw - 1 - iu, b = sh - 1 - iv;
    if (g.frameTurns == 3) a = sw - 1 - iv, b = iu;
    if (t.flipHorizontal) a = sw - 1 - a;
    if (t.flipVertical) b = sh - 1 - b;
    s = reference::readSource(source, src.pixels(), t.sourceRect.left + a, t.sourceRect.top + b);
    if (t.tint != kNoTint) {
      if (!s.hasAlpha) s.value |= 0xFF000000u;
      uint32_t tinted = 0;
      for (int c = 0; c < 4; ++c) {
        tinted |= (reference::channel(s.value, c) * reference::channel(t.tint, c) + 127) / 255
                  << (8 * c);
      }
      s = reference::SourcePixel{tinted, tinted >> 24, true};
    }
    return true;
  };
  auto weight = [&](const reference::SourcePixel& s) {
    if (!s.hasAlpha) return reference::weightOf(opacity);
    return opacity == 255 ? reference::weightOf(s.alpha)
                          : reference::weightOf((s.alpha * reference::weightOf(opacity)) >> 8);
  };
  for (int y = 0; y < int(target.getHeight()); ++y) {
    for (int x = 0; x < int(target.getWidth()); ++x) {
      if (!reference::covers(area, clip, x, y)) continue;
      const int64_t ex = 2 * (x - dx) + 1 - g.surfacePivotX2;
      const int64_t ey = 2 * (y - dy) + 1 - g.surfacePivotY2;
      const Int128 u = g.u(ex, ey), v = g.v(ex, ey);
      const uint32_t d = reference::loadTarget(lock.pixels(), target.getPitch(), x, y);
      if (r.filter == ImageFilter::Nearest) {
        const int64_t iu = u.shiftedRight(24).clamped(-(1ll << 40), 1ll << 40);
        const int64_t iv = v.shiftedRight(24).clamped(-(1ll << 40), 1ll << 40);
        reference::SourcePixel s;
        if (!sample(iu, iv, s)) continue;
        reference::storeTarget(lock.pixels(), target.getPitch(), x, y,
                               reference::mix(d, reference::blend(mode, d, s.value), weight(s)));
        continue;
      }
      const Int128 uu = u - Int128(1 << 23), vv = v - Int128(1 << 23);
      const int64_t x0 = uu.shiftedRight(24).clamped(-(1ll << 40), 1ll << 40);
      const int64_t y0 = vv.shiftedRight(24).clamped(-(1ll << 40), 1ll << 40);
      const uint32_t fx = (uu.lo >> 16) & 255, fy = (vv.lo >> 16) & 255;
      const uint32_t topRight = ((256 - fy) * fx + 128) >> 8, bottomRight = (fy * fx + 128) >> 8;
      const uint32_t shares[4] = {256 - fy - topRight, topRight, fy - bottomRight, bottomRight};
      uint32_t g4[4] = {}, x4[4] = {}, total = 0;
      for (int k = 0; k < 4; ++k) {
        reference::SourcePixel s;
        if (!sample(x0 + (k & 1), y0 + (k >> 1), s)) continue;
        g4[k] = (shares[k] * weight(s)) >> 8;
        x4[k] = reference::blend(mode, d, s.value);
        total += g4[k];
      }
      uint32_t out = 0;
      for (int c = 0; c < 4; ++c) {
        uint32_t sum = reference::channel(d, c) * (256 - total);
        for (int k = 0; k < 4; ++k) sum += reference::channel(x4[k], c) * g4[k];
        out |= (sum >> 8) << (8 * c);
      }
      reference::storeTarget(lock.pixels(), target.getPitch(), x, y, out);
    }
  }
}

// A box size for `length` frame pixels: the same, a multiple, or anything
// from far smaller to a few times larger.
uint32_t randomScale(std::mt19937& random, uint32_t length) {
  switch (random() % 4) {
    case 0:
      return length;
    case 1:
      return length * (2 + random() % 3);
    default:
      return 1 + random() % (3 * length + 1);
  }
}

uint32_t randomAngle(std::mt19937& random) {
  switch (random() % 5) {
    case 0:
      return (random() % 4) * kAngleUnitsPerQuarter;  // whole quarter turns
    case 1:
      return ((random() % 4) * kAngleUnitsPerQuarter + random() % 5 - 2 + kAngleUnitsPerTurn) %
             kAngleUnitsPerTurn;  // just beside them
    case 2:
      return (random() % 360) * kAngleUnitsPerDegree;
    default:
      return random() % kAngleUnitsPerTurn;
  }
}

struct Case {
  std::shared_ptr<Image> source, target;
  ImageTransform transform;
  ImageRotation rotation;
  std::unique_ptr<BandClip> clip;
  BlendMode mode = BlendMode::Normal;
  uint8_t opacity = 255;
  Rect area;
  bool far = false;  // a map beyond 64 bits
};

// A random rotated draw onto a target of up to `maxWidth` columns: any layout,
// source rectangle, flip, turn, tint, box, pivot, angle, filter, band clip,
// mode and opacity; now and then a pivot and a scale so far out that the
// map needs more than 64 bits.
Case randomCase(std::mt19937& random, uint32_t maxWidth) {
  Case c;
  const uint32_t width = 1 + random() % maxWidth, height = 1 + random() % 24;
  c.target = randomImage(random, PixelFormat::Rgbx, width, height, 4 * (random() % 3));
  const PixelFormat format = static_cast<PixelFormat>(random() % 5);
  const uint32_t sourceWidth = 1 + random() % 24, sourceHeight = 1 + random() % 16;
  c.source = randomImage(random, format, sourceWidth, sourceHeight, random() % 5);
  ImageTransform& t = c.transform;
  t.sourceRect.left = static_cast<int32_t>(random() % sourceWidth);
  t.sourceRect.top = static_cast<int32_t>(random() % sourceHeight);
  t.sourceRect.right =
      t.sourceRect.left + 1 + static_cast<int32_t>(random() % (sourceWidth - t.sourceRect.left));
  t.sourceRect.bottom =
      t.sourceRect.top + 1 + static_cast<int32_t>(random() % (sourceHeight - t.sourceRect.top));
  t.flipHorizontal = random() % 2, t.flipVertical = random() % 2;
  t.quarterTurns = random() % 4;
  if (random() % 3 == 0) {
    for (int n = 0; n < 4; ++n) t.tint = (t.tint << 8) | edgyByte(random);
  }
  switch (random() % 3) {
    case 0:
      break;
    case 1:
      c.clip = std::make_unique<BandClip>(BandClip{Rect{}, 0, -int32_t(random() % 30)});
      break;
    default: {
      const int32_t left = int32_t(random() % width), top = int32_t(random() % height);
      c.clip =
          std::make_unique<BandClip>(BandClip{Rect{left, top, left + 1 + int32_t(random() % width),
                                                   top + 1 + int32_t(random() % height)},
                                              int32_t(random() % 5) - 2, -int32_t(random() % 30)});
    }
  }
  const int32_t dx = c.clip ? c.clip->dx : 0, dy = c.clip ? c.clip->dy : 0;
  ImageRotation& r = c.rotation;
  const bool sideways = t.quarterTurns % 2;
  const uint32_t sw = uint32_t(t.sourceRect.right - t.sourceRect.left);
  const uint32_t sh = uint32_t(t.sourceRect.bottom - t.sourceRect.top);
  r.width = randomScale(random, sideways ? sh : sw);
  r.height = randomScale(random, sideways ? sw : sh);
  // Around the target, in surface coordinates.
  r.x = static_cast<int32_t>(random() % (width + r.width + 8)) - int32_t(r.width) / 2 - 4 - dx;
  r.y = static_cast<int32_t>(random() % (height + r.height + 8)) - int32_t(r.height) / 2 - 4 - dy;
  r.pivotX2 = static_cast<int32_t>(r.width), r.pivotY2 = static_cast<int32_t>(r.height);
  if (random() % 2) {
    r.pivotX2 = static_cast<int32_t>(random() % (4 * r.width + 1)) - int32_t(r.width);
    r.pivotY2 = static_cast<int32_t>(random() % (4 * r.height + 1)) - int32_t(r.height);
  }
  if (random() % 40 == 0) {
    // The pivot 2^31 pixels off and a box of a pixel or two showing a frame
    // hundreds of pixels wide: frame coordinates past 2^61, drawn exactly.
    c.source = randomImage(random, format, 256 + random() % 64, 1 + random() % 3, 0);
    t = ImageTransform{Rect{0, 0, int32_t(c.source->getWidth()), int32_t(c.source->getHeight())}};
    r.width = 1 + random() % 2, r.height = 1 + random() % 2;
    r.pivotX2 = INT32_MIN + static_cast<int32_t>(random() % 64);
    r.x = INT32_MAX - static_cast<int32_t>(random() % 64);
    c.far = true;
  }
  r.angle = randomAngle(random);
  r.filter = random() % 2 ? ImageFilter::Bilinear : ImageFilter::Nearest;
  c.mode = static_cast<BlendMode>(random() % 32 == 0 ? 5 : random() % 5);
  const uint8_t opacities[] = {0, 1, 128, 200, 254, 255, 255, 255};
  c.opacity = random() % 2 ? opacities[random() % 8] : static_cast<uint8_t>(random());
  c.area = random() % 8 ? rotatedImageArea(t, r)
                        : Rect{-8 - dx, -8 - dy, int32_t(width) + 8 - dx, int32_t(height) + 8 - dy};
  return c;
}

// Every level against the model on small targets, and the vector levels
// against the plain one on wide rows (past many vectors and every tail).
TEST(RotationTest, EveryLevelFollowsTheRule) {
  const auto all = levels();
  int changed = 0;
  const int rounds = 8000 / kScale;
  for (int round = 0; round < rounds; ++round) {
    std::mt19937 random(round);
    SCOPED_TRACE(::testing::Message() << "seed " << round);
    const bool wide = round % 5 == 0;
    Case c = randomCase(random, wide ? 400 : 40);
    auto expected = copyOf(*c.target);
    if (wide) {
      blit::setActiveSimdLevel(blit::SimdLevel::Scalar);
      blit::drawAffineImage(*c.source, c.transform, c.rotation, c.clip.get(), *expected, c.mode,
                            c.area, c.opacity);
    } else {
      modelDraw(*c.source, c.transform, c.rotation, c.clip.get(), *expected, c.mode, c.area,
                c.opacity);
    }
    if (!samePixels(*expected, *c.target)) ++changed;
    for (blit::SimdLevel level : all) {
      blit::setActiveSimdLevel(level);
      auto target = copyOf(*c.target);
      blit::drawAffineImage(*c.source, c.transform, c.rotation, c.clip.get(), *target, c.mode,
                            c.area, c.opacity);
      ASSERT_TRUE(samePixels(*target, *expected))
          << "level " << int(level) << " mode " << int(c.mode) << " format "
          << int(c.source->getPixelFormat()) << " opacity " << int(c.opacity) << " angle "
          << c.rotation.angle << " filter " << int(c.rotation.filter) << " box " << c.rotation.width
          << " x " << c.rotation.height << " pivot " << c.rotation.pivotX2 << ", "
          << c.rotation.pivotY2 << " tint " << std::hex << c.transform.tint;
    }
  }
  blit::setActiveSimdLevel(blit::bestSimdLevel());
  EXPECT_GT(changed, rounds / 5);  // a fair share of the cases must draw
}

// Whole quarter turns with Nearest are the sheet rule on the turned box
// (the general sampling agrees where the box stays on the grid at the
// frame's size), and no angle with Bilinear at the frame's size is the sheet
// rule itself (the plain image, untransformed).
TEST(RotationTest, QuarterTurnsAndNoTurnAreThePlainRules) {
  const auto all = levels();
  for (int round = 0; round < 3000 / kScale; ++round) {
    std::mt19937 random(100000 + round);
    SCOPED_TRACE(::testing::Message() << "seed " << 100000 + round);
    Case c = randomCase(random, 40);
    if (c.mode == BlendMode(5) || c.far) continue;
    ImageRotation& r = c.rotation;
    const bool zero = round % 2 == 0;
    const bool sideways = c.transform.quarterTurns % 2;
    const uint32_t sw = uint32_t(c.transform.sourceRect.right - c.transform.sourceRect.left);
    const uint32_t sh = uint32_t(c.transform.sourceRect.bottom - c.transform.sourceRect.top);
    r.width = sideways ? sh : sw, r.height = sideways ? sw : sh;
    r.pivotX2 &= ~1, r.pivotY2 &= ~1;  // on the grid: the turned box stays on it
    r.angle = zero ? 0 : (random() % 4) * kAngleUnitsPerQuarter;
    r.filter = zero ? ImageFilter::Bilinear : ImageFilter::Nearest;

    const blit::AffineGeometry g = blit::affineGeometry(c.transform, r);
    ImageTransform turned = c.transform;
    turned.quarterTurns = g.frameTurns;
    const Rect box{int32_t(g.boxLeft2() / 2), int32_t(g.boxTop2() / 2),
                   int32_t(g.boxLeft2() / 2 + g.boxWidth), int32_t(g.boxTop2() / 2 + g.boxHeight)};
    ASSERT_EQ(rotatedImageArea(c.transform, r), box);
    auto expected = copyOf(*c.target);
    blit::setActiveSimdLevel(blit::SimdLevel::Scalar);
    if (zero && !turned.flipHorizontal && !turned.flipVertical && turned.quarterTurns == 0 &&
        turned.tint == kNoTint) {
      drawImage(*c.source, {turned.sourceRect.left, turned.sourceRect.top}, c.clip.get(), *expected,
                c.mode, box, c.opacity);
    } else {
      drawTransformedImage(*c.source, turned, c.clip.get(), *expected, c.mode, box, c.opacity);
    }
    for (blit::SimdLevel level : all) {
      blit::setActiveSimdLevel(level);
      auto general = copyOf(*c.target), folded = copyOf(*c.target);
      blit::drawAffineImage(*c.source, c.transform, r, c.clip.get(), *general, c.mode, box,
                            c.opacity);
      drawRotatedImage(*c.source, c.transform, r, c.clip.get(), *folded, c.mode, box, c.opacity);
      ASSERT_TRUE(samePixels(*general, *expected))
          << "level " << int(level) << " angle " << r.angle;
      ASSERT_TRUE(samePixels(*folded, *expected)) << "level " << int(level) << " angle " << r.angle;
    }
  }
  blit::setActiveSimdLevel(blit::bestSimdLevel());
}

// A picture whose alpha is a random blob, turned by a and then its picture
// turned back by -a about the same point, lands within one pixel of where it
// was: every pixel whose alpha changed lies on the blob's edge.
TEST(RotationTest, TurningThereAndBackKeepsTheShape) {
  for (int round = 0; round < 300 / kScale; ++round) {
    std::mt19937 random(200000 + round);
    SCOPED_TRACE(::testing::Message() << "seed " << 200000 + round);
    const uint32_t w = 4 + random() % 40, h = 4 + random() % 40;
    const int32_t side = 2 * int32_t(w + h);
    // An ellipse-like blob with a notch: a shape with straight and curved edges.
    Image picture(w, h, PixelFormat::Rgba);
    const double cx = w / 2.0, cy = h / 2.0;
    for (uint32_t y = 0; y < h; ++y) {
      for (uint32_t x = 0; x < w; ++x) {
        const double nx = (x + 0.5 - cx) / cx, ny = (y + 0.5 - cy) / cy;
        const bool in = nx * nx + ny * ny < 1 && !(x > w / 2 && y > h / 2 && y < h / 2 + 3);
        const uint32_t pixel = in ? 0xFF000000u | static_cast<uint32_t>(random() & 0xFFFFFF) : 0;
        std::memcpy(picture.lock() + y * picture.getPitch() + x * 4, &pixel, 4);
      }
    }
    auto canvas = [&] {
      auto bytes = MemoryHelper::allocate(size_t(side) * side * 4);
      std::memset(bytes.get(), 0, size_t(side) * side * 4);
      return std::make_shared<Image>(side, side, side * 4, bytes);
    };
    const ImageTransform plain{Rect{0, 0, int32_t(w), int32_t(h)}};
    ImageRotation there;
    there.x = (side - int32_t(w)) / 2, there.y = (side - int32_t(h)) / 2;
    there.width = w, there.height = h;
    there.pivotX2 = side - 2 * there.x, there.pivotY2 = side - 2 * there.y;  // the canvas centre
    there.angle = random() % kAngleUnitsPerTurn;
    auto turned = canvas();
    drawRotatedImage(picture, plain, there, nullptr, *turned, BlendMode::Normal,
                     rotatedImageArea(plain, there), 255);
    ImageRotation back;
    back.width = back.height = uint32_t(side);
    back.pivotX2 = back.pivotY2 = side;
    back.angle = (kAngleUnitsPerTurn - there.angle) % kAngleUnitsPerTurn;
    auto result = canvas();
    const ImageTransform whole{Rect{0, 0, side, side}};
    drawRotatedImage(*turned, whole, back, nullptr, *result, BlendMode::Normal,
                     rotatedImageArea(whole, back), 255);
    auto opaque = [&](int64_t x, int64_t y) {
      x -= there.x, y -= there.y;
      if (x < 0 || y < 0 || x >= w || y >= h) return false;
      return (pixelAt(picture, x, y) >> 24) != 0;
    };
    for (int32_t y = 0; y < side; ++y) {
      for (int32_t x = 0; x < side; ++x) {
        if (((pixelAt(*result, x, y) >> 24) != 0) == opaque(x, y)) continue;
        bool edge = false;
        for (int32_t ny = y - 1; ny <= y + 1; ++ny) {
          for (int32_t nx = x - 1; nx <= x + 1; ++nx) edge = edge || opaque(nx, ny) != opaque(x, y);
        }
        ASSERT_TRUE(edge) << "pixel (" << x << ", " << y << ") at angle " << there.angle;
      }
    }
  }
}

// An opaque picture of one colour, scaled and turned with Bilinear: every
// pixel whose four neighbours lie well inside the frame is that colour
// exactly, whatever was below; and nothing outside the area is touched.
TEST(RotationTest, UniformPictureStaysUniformInsideItsArea) {
  for (int round = 0; round < 600 / kScale; ++round) {
    std::mt19937 random(300000 + round);
    SCOPED_TRACE(::testing::Message() << "seed " << 300000 + round);
    const PixelFormat format = std::vector<PixelFormat>{
        PixelFormat::Grey, PixelFormat::Rgb, PixelFormat::Rgba, PixelFormat::Rgbx}[random() % 4];
    const uint32_t sw = 1 + random() % 20, sh = 1 + random() % 20;
    Image picture(sw, sh, format);
    const uint32_t colour = static_cast<uint32_t>(random()) & 0xFFFFFF;
    uint32_t expected = colour;
    for (uint32_t y = 0; y < sh; ++y) {
      for (uint32_t x = 0; x < sw; ++x) {
        uint8_t* p = picture.lock() + y * picture.getPitch() + x * bytesPerPixel(format);
        const uint32_t v = format == PixelFormat::Rgba ? colour | 0xFF000000u : colour;
        if (format == PixelFormat::Grey) {
          p[0] = uint8_t(colour);
          expected = (colour & 0xFF) * 0x010101u;
        } else {
          std::memcpy(p, &v, bytesPerPixel(format));
        }
      }
    }
    if (format == PixelFormat::Rgba) expected |= 0xFF000000u;
    if (format == PixelFormat::Rgbx) expected = colour;  // its fourth byte, as stored: 0
    auto target = randomImage(random, PixelFormat::Rgbx, 64, 64, 0);
    auto before = copyOf(*target);
    const ImageTransform t{Rect{0, 0, int32_t(sw), int32_t(sh)}};
    ImageRotation r;
    r.width = randomScale(random, sw), r.height = randomScale(random, sh);
    r.x = int32_t(random() % 40) - 8, r.y = int32_t(random() % 40) - 8;
    r.pivotX2 = int32_t(random() % (2 * r.width + 1)),
    r.pivotY2 = int32_t(random() % (2 * r.height + 1));
    r.angle = random() % kAngleUnitsPerTurn;
    r.filter = ImageFilter::Bilinear;
    const Rect area = rotatedImageArea(t, r);
    drawRotatedImage(picture, t, r, nullptr, *target, BlendMode::Normal, area, 255);
    // Frame coordinates of pixel centres, in floating point: the check keeps
    // well clear of the edges, where the rule's rounding could matter.
    const double angle = r.angle / double(kAngleUnitsPerDegree) * std::numbers::pi / 180;
    const double c = std::cos(angle), s = std::sin(angle);
    const double px = r.x + r.pivotX2 / 2.0, py = r.y + r.pivotY2 / 2.0;
    for (int32_t y = 0; y < 64; ++y) {
      for (int32_t x = 0; x < 64; ++x) {
        const double ex = x + 0.5 - px, ey = y + 0.5 - py;
        const double bx = c * ex + s * ey + r.pivotX2 / 2.0,
                     by = -s * ex + c * ey + r.pivotY2 / 2.0;
        const double u = bx * sw / r.width, v = by * sh / r.height;
        const bool inArea = x >= area.left && x < area.right && y >= area.top && y < area.bottom;
        if (!inArea) {
          ASSERT_EQ(pixelAt(*target, x, y), pixelAt(*before, x, y)) << x << ", " << y;
        } else if (u > 0.51 && v > 0.51 && u < sw - 0.51 && v < sh - 0.51) {
          ASSERT_EQ(pixelAt(*target, x, y), expected)
              << x << ", " << y << " frame " << u << ", " << v << " angle " << r.angle;
        }
      }
    }
  }
}

// Drawn without an area's limit, a rotation changes no pixel outside
// rotatedImageArea, which stays within a few pixels of what it covers.
TEST(RotationTest, AreaHoldsEveryDrawnPixel) {
  int tight = 0;
  for (int round = 0; round < 1500 / kScale; ++round) {
    std::mt19937 random(400000 + round);
    SCOPED_TRACE(::testing::Message() << "seed " << 400000 + round);
    Case c = randomCase(random, 48);
    if (c.far) continue;
    // An opaque source drawn Normal changes every pixel it reaches.
    Image opaque(c.source->getWidth(), c.source->getHeight(), PixelFormat::Rgba);
    for (uint32_t y = 0; y < opaque.getHeight(); ++y) {
      for (uint32_t x = 0; x < opaque.getWidth(); ++x) {
        const uint32_t pixel = 0xFF123456u;
        std::memcpy(opaque.lock() + y * opaque.getPitch() + x * 4, &pixel, 4);
      }
    }
    const auto target = std::make_shared<Image>(200, 120, PixelFormat::Rgbx);
    std::memset(target->lock(), 0, size_t(target->getPitch()) * 120);
    c.rotation.x += 60, c.rotation.y += 40;
    c.transform.tint = kNoTint;
    const BandClip none{Rect{}, 0, 0};
    drawRotatedImage(opaque, c.transform, c.rotation, &none, *target, BlendMode::Normal,
                     Rect{-100000, -100000, 100000, 100000}, 255);
    const Rect area = rotatedImageArea(c.transform, c.rotation);
    Rect drawn{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
    for (int32_t y = 0; y < 120; ++y) {
      for (int32_t x = 0; x < 200; ++x) {
        if (pixelAt(*target, x, y) == 0) continue;
        ASSERT_TRUE(x >= area.left && x < area.right && y >= area.top && y < area.bottom)
            << "pixel (" << x << ", " << y << ") outside (" << area.left << ", " << area.top << ", "
            << area.right << ", " << area.bottom << ")";
        drawn = Rect{std::min(drawn.left, x), std::min(drawn.top, y), std::max(drawn.right, x + 1),
                     std::max(drawn.bottom, y + 1)};
      }
    }
    const bool inside = area.left >= 0 && area.top >= 0 && area.right <= 200 && area.bottom <= 120;
    if (inside && drawn.hasArea()) {
      // A pixel, and for Bilinear its reach: up to half a source pixel,
      // where the weights may round to nothing.
      const blit::AffineGeometry g = blit::affineGeometry(c.transform, c.rotation);
      const uint32_t stretch = std::max((g.boxWidth + g.frameWidth - 1) / g.frameWidth,
                                        (g.boxHeight + g.frameHeight - 1) / g.frameHeight);
      const int32_t slack =
          2 + (c.rotation.filter == ImageFilter::Bilinear ? int32_t(stretch + 1) / 2 + 1 : 0);
      EXPECT_LE(drawn.left - area.left, slack);
      EXPECT_LE(drawn.top - area.top, slack);
      EXPECT_LE(area.right - drawn.right, slack);
      EXPECT_LE(area.bottom - drawn.bottom, slack);
      ++tight;
    }
  }
  EXPECT_GT(tight, 300 / kScale);
}

// Picking a turned sprite follows the rule: where drawsAt sees no mark,
// drawing the command changes nothing, on any background, in any mode.
TEST(RotationTest, PickingFollowsTheRule) {
  int marked = 0;
  for (int round = 0; round < 1500 / kScale; ++round) {
    std::mt19937 random(500000 + round);
    SCOPED_TRACE(::testing::Message() << "seed " << 500000 + round);
    Case c = randomCase(random, 40);
    if (c.far || c.mode == BlendMode(5)) continue;
    DrawCommand command;
    command.kind = DrawCommandKind::Image;
    command.image = c.source.get();
    command.blendMode = c.mode;
    command.opacity = c.opacity;
    command.bounds = rotatedImageArea(c.transform, c.rotation);
    command.sourceOrigin = {c.transform.sourceRect.left, c.transform.sourceRect.top};
    command.sourceWidth = uint32_t(c.transform.sourceRect.right - c.transform.sourceRect.left);
    command.sourceHeight = uint32_t(c.transform.sourceRect.bottom - c.transform.sourceRect.top);
    command.orientation = static_cast<uint8_t>((c.transform.flipHorizontal ? kFlipHorizontal : 0) |
                                               (c.transform.flipVertical ? kFlipVertical : 0) |
                                               c.transform.quarterTurns << kQuarterTurnShift);
    command.tint = c.transform.tint;
    command.rotation = c.rotation;
    const int32_t w = int32_t(c.target->getWidth()), h = int32_t(c.target->getHeight());
    for (uint32_t background : {0x00000000u, 0xFFFFFFFFu, 0x80402010u}) {
      Image target(uint32_t(w), uint32_t(h), PixelFormat::Rgbx);
      std::fill_n(reinterpret_cast<uint32_t*>(target.lock()), size_t(w) * h, background);
      drawCommand(target, BandClip{Rect{0, 0, w, h}, 0, 0}, command);
      for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
          if (drawsAt(command, x, y)) {
            ++marked;
            continue;
          }
          ASSERT_EQ(pixelAt(target, x, y), background) << "at " << x << ", " << y;
        }
      }
    }
  }
  EXPECT_GT(marked, 10000 / kScale);
}

// Refusals name the value, at either path (whole quarter turns or not).
TEST(RotationTest, RefusesWhatItCannotDraw) {
  Image source(8, 6, PixelFormat::Rgba), target(16, 16, PixelFormat::Rgbx);
  Image grey(16, 16, PixelFormat::Grey);
  const ImageTransform inside{Rect{0, 0, 8, 6}};
  for (uint32_t angle : {0u, 30 * kAngleUnitsPerDegree}) {
    ImageRotation r;
    r.width = 8, r.height = 6, r.angle = angle;
    auto refused = [&](const ImageTransform& t, const ImageRotation& rotation, IImage& onto,
                       const std::string& words) {
      try {
        drawRotatedImage(source, t, rotation, nullptr, onto, BlendMode::Normal, Rect{0, 0, 16, 16},
                         255);
        ADD_FAILURE() << "accepted: " << words;
      } catch (const std::invalid_argument& e) {
        EXPECT_NE(std::string(e.what()).find(words), std::string::npos) << e.what();
      }
    };
    refused(ImageTransform{Rect{4, 0, 9, 6}}, r, target, "(4, 0, 9, 6) is not inside the image");
    refused(ImageTransform{Rect{2, 2, 2, 5}}, r, target, "(2, 2, 2, 5) covers no pixel");
    refused(ImageTransform{Rect{0, 0, 8, 6}, false, false, 4}, r, target, "4 quarter turns");
    ImageRotation bad = r;
    bad.height = 0;
    refused(inside, bad, target, "a box of 8 x 0");
    bad = r, bad.angle = kAngleUnitsPerTurn;
    refused(inside, bad, target, "the angle 23592960 units");
    bad = r, bad.filter = static_cast<ImageFilter>(7);
    refused(inside, bad, target, "unknown filter 7");
    refused(inside, r, grey, "does not have 4 bytes per pixel");
  }
}

TEST(FixedAngleTest, UnitsAndSineCosine) {
  EXPECT_EQ(angleUnits(-90), 270 * kAngleUnitsPerDegree);
  EXPECT_EQ(angleUnits(720.5), kAngleUnitsPerDegree / 2);
  EXPECT_EQ(angleUnits(-1e-9), 0u);
  EXPECT_EQ(angleUnits(359.9999999), 0u);
  EXPECT_EQ(angleUnits(1e300), angleUnits(std::fmod(1e300, 360.0)));
  EXPECT_THROW(angleUnits(NAN), std::invalid_argument);
  EXPECT_THROW(angleUnits(-INFINITY), std::invalid_argument);
  for (uint32_t units = 0; units < kAngleUnitsPerQuarter; units += 997) {
    const FixedSineCosine f = quarterSineCosine(units);
    const double radians = angleDegrees(units) * std::numbers::pi / 180;
    ASSERT_NEAR(f.sine, std::sin(radians) * (1 << 30), 2.0) << units;
    ASSERT_NEAR(f.cosine, std::cos(radians) * (1 << 30), 2.0) << units;
  }
  EXPECT_EQ(quarterSineCosine(0).sine, 0);
  EXPECT_EQ(quarterSineCosine(0).cosine, 1 << 30);
}

struct Owners {
  std::shared_ptr<SpriteManager> manager = std::make_shared<SpriteManager>();
  std::shared_ptr<SpriteDrawer> drawer = std::make_shared<SpriteDrawer>(800, 600, 20, manager);
};

TEST(ImageSpriteRotationTest, SettersCheckAndBoundsFollowTheTurn) {
  Owners owners;
  auto image = std::make_shared<Image>(16, 10, PixelFormat::Rgba);
  const auto held = makeSprite<ImageSprite>(owners.manager, owners.drawer, 1, 100, 50, 0, image);
  ImageSprite& sprite = *held;
  EXPECT_EQ(sprite.getPivot(), (Point{8, 5}));
  EXPECT_EQ(sprite.getFilter(), ImageFilter::Nearest);
  EXPECT_THROW(sprite.setRotation(NAN), std::invalid_argument);
  EXPECT_THROW(sprite.setPivot(1 << 30, 0), std::invalid_argument);
  EXPECT_THROW(sprite.setFilter(static_cast<ImageFilter>(2)), std::invalid_argument);
  EXPECT_FALSE(SpriteCommands::of(sprite).isRotated());  // nothing was stored

  // A quarter turn about the centre: the 16 x 10 box becomes 10 x 16 about
  // (108, 55), the sheet rule's quarter turn.
  sprite.setRotation(-270);
  EXPECT_EQ(sprite.getRotation(), 90.0);
  DrawCommand command = SpriteCommands::of(sprite);
  EXPECT_EQ(command.bounds, (Rect{103, 47, 113, 63}));
  EXPECT_EQ(sprite.getX(), 100);  // the position stays the box's corner

  // Any other angle: the bounding box, reported for redrawing and drawn
  // within; 30 degrees about the corner (100, 50).
  sprite.setRotation(30);
  sprite.setPivot(0, 0);
  command = SpriteCommands::of(sprite);
  // The corners land at (0, 0), (13.9, 8), (-5, 8.7) and (8.9, 16.7) from
  // the pivot: pixels 95 to 113 across and 50 to 66 down, and a pixel more.
  const Rect covered{95, 50, 114, 67};
  EXPECT_TRUE(contains(command.bounds, covered));
  EXPECT_TRUE(contains(Rect{94, 49, 115, 68}, command.bounds));
  sprite.invalidate();
  EXPECT_EQ(
      owners.drawer->getBandRegion(2),
      (Rect{command.bounds.left, std::max(command.bounds.top, 40), command.bounds.right, 60}));

  // The draw command draws what drawRotatedImage draws.
  sprite.setFilter(ImageFilter::Bilinear);
  command = SpriteCommands::of(sprite);
  Image viaCommand(200, 100, PixelFormat::Rgbx), direct(200, 100, PixelFormat::Rgbx);
  std::memset(viaCommand.lock(), 0, 200 * 100 * 4);
  std::memset(direct.lock(), 0, 200 * 100 * 4);
  drawCommand(viaCommand, BandClip{Rect{0, 0, 200, 100}, 0, 0}, command);
  drawRotatedImage(*image, ImageTransform{Rect{0, 0, 16, 10}}, command.rotation, nullptr, direct,
                   BlendMode::Normal, command.bounds, 255);
  EXPECT_TRUE(samePixels(viaCommand, direct));
  EXPECT_FALSE(hidesBelow(command, Rect{105, 55, 106, 56}));
}

}  // namespace
}  // namespace nubrik
