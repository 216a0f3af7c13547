#include "nubrik/sprite/affine_blitters.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "nubrik/image/pixel_lock.h"
#include "nubrik/sprite/affine_geometry.h"
#include "nubrik/sprite/affine_loops.h"
#include "nubrik/sprite/blit_checks.h"

namespace nubrik {

namespace blit {

namespace {

template <typename Rule>
struct ScalarAffineLoops {
  template <bool Faded, PixelFormat Format, bool Tinted, ImageFilter Filter>
  static void affine(const AffineWalk& walk, uint32_t opacityWeight) {
    affineLoop<Rule, Faded, Format, Tinted, Filter>(walk, opacityWeight);
  }
};

constexpr AffineLoopTable kScalarAffineLoops = makeAffineLoopTable<ScalarAffineLoops>();

}  // namespace

#if NUBRIK_SIMD_X86
const AffineLoopTable& sse2AffineLoops();
const AffineLoopTable& avx2AffineLoops();
#endif

const AffineLoopTable& affineLoopTable(SimdLevel level) {
  if (level > bestSimdLevel()) level = bestSimdLevel();
  switch (level) {
#if NUBRIK_SIMD_X86
    case SimdLevel::Avx512:
      // Lanes fetched one at a time bound these loops more than the vector
      // width: the AVX2 ones serve.
    case SimdLevel::Avx2:
      return avx2AffineLoops();
    case SimdLevel::Sse2:
      return sse2AffineLoops();
#endif
    default:
      return kScalarAffineLoops;
  }
}

const AffineLoopTable& activeAffineLoops() {
  // The level the image loops use: the tables of each level are distinct
  // where the processor has that level.
  const LoopTable* active = &activeLoops();
  if (active == &loopTable(SimdLevel::Scalar)) return affineLoopTable(SimdLevel::Scalar);
  if (active == &loopTable(SimdLevel::Sse2)) return affineLoopTable(SimdLevel::Sse2);
  return affineLoopTable(SimdLevel::Avx2);
}

}  // namespace blit

namespace {

std::string describe(const Rect& r) {
  std::string text = "(";
  text += std::to_string(r.left) + ", " + std::to_string(r.top) + ", ";
  text += std::to_string(r.right) + ", " + std::to_string(r.bottom) + ")";
  return text;
}

int32_t clampToInt32(int64_t v) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

// Ceil(n / d) for d > 0.
Int128 ceilQuotient(Int128 n, uint32_t d) { return divideFloor(n + Int128(int64_t{d} - 1), d); }

// Bounds in 64 bits of what a rotated draw can reach, before it is cut to a
// Rect: the turned box widened by the filter's reach and by the most the
// rule's rounding can move an edge, turned, boxed, and taken to the pixels
// whose centres lie inside.
struct Reach {
  int64_t left, top, right, bottom;
};

Reach rotatedReach(const ImageTransform& transform, const ImageRotation& rotation) {
  const blit::AffineGeometry g = blit::affineGeometry(transform, rotation);
  // The rule's coefficients are rounded to half a unit a half pixel: over
  // offsets up to e half pixels from the pivot, frame coordinates move by
  // at most (1 + e) / 2^25 frame pixels, that is (1 + e) * box / (frame * 2^24)
  // box half pixels. e is bounded by twice the sum of the box's distances.
  const int64_t left = -g.pivotX2, right = 2 * int64_t{g.boxWidth} - g.pivotX2;
  const int64_t top = -g.pivotY2, bottom = 2 * int64_t{g.boxHeight} - g.pivotY2;
  auto magnitude = [](int64_t v) { return v < 0 ? -v : v; };
  const int64_t reach =
      2 * (magnitude(left) + magnitude(right) + magnitude(top) + magnitude(bottom)) + 64;
  auto margin = [&](uint32_t box, uint32_t frame) {
    const Int128 drift =
        ceilQuotient(multiplyWide(reach + 1, box).shiftedRight(24) + Int128(1), frame);
    // The bilinear filter reaches half a frame pixel out: box / frame half pixels.
    const int64_t filter =
        rotation.filter == ImageFilter::Bilinear ? (int64_t{box} + frame - 1) / frame : 0;
    return drift.clamped(0, INT64_MAX / 8) + filter;
  };
  const int64_t mx = margin(g.boxWidth, g.frameWidth), my = margin(g.boxHeight, g.frameHeight);
  const int64_t c = g.trig.cosine, s = g.trig.sine;
  Int128 minX, maxX, minY, maxY;
  bool start = true;
  for (int64_t bx : {left - mx, right + mx}) {
    for (int64_t by : {top - my, bottom + my}) {
      // Turned clockwise: (bx, by) to (c bx - s by, s bx + c by), 2^-30 half pixels.
      const Int128 ex = multiplyWide(bx, c) - multiplyWide(by, s);
      const Int128 ey = multiplyWide(bx, s) + multiplyWide(by, c);
      if (start || ex < minX) minX = ex;
      if (start || ex > maxX) maxX = ex;
      if (start || ey < minY) minY = ey;
      if (start || ey > maxY) maxY = ey;
      start = false;
    }
  }
  // Target pixel X has its centre 2X + 1 - pivot half pixels from the pivot:
  // it is reached when that lies between the extremes, here in 2^-30 half
  // pixels, so X from ceil((min + pivot - 1) / 2) to floor((max + pivot - 1) / 2).
  auto first = [](Int128 e, int64_t pivot2) {
    const Int128 n = e + multiplyWide(pivot2 - 1, int64_t{1} << 30);
    return (n + Int128((int64_t{1} << 31) - 1))
        .shiftedRight(31)
        .clamped(INT64_MIN / 4, INT64_MAX / 4);
  };
  auto last = [](Int128 e, int64_t pivot2) {
    const Int128 n = e + multiplyWide(pivot2 - 1, int64_t{1} << 30);
    return n.shiftedRight(31).clamped(INT64_MIN / 4, INT64_MAX / 4);
  };
  return Reach{first(minX, g.surfacePivotX2), first(minY, g.surfacePivotY2),
               last(maxX, g.surfacePivotX2) + 1, last(maxY, g.surfacePivotY2) + 1};
}

// Refuses a source rectangle that is not inside the image.
void requireInside(const Rect& r, const IImage& source) {
  if (r.left < 0 || r.top < 0 || uint32_t(r.right) > source.getWidth() ||
      uint32_t(r.bottom) > source.getHeight()) {
    throw std::invalid_argument("drawRotatedImage: the source rectangle " + describe(r) +
                                " is not inside the image (0, 0, " +
                                std::to_string(source.getWidth()) + ", " +
                                std::to_string(source.getHeight()) + ")");
  }
}

// The turned box of a rotation that turnsWhole, on the pixel grid (one half
// a pixel off it moved up and left); empty beyond 32-bit coordinates, where
// no surface is.
Rect turnedBoxBounds(const blit::AffineGeometry& g) {
  const int64_t left = g.boxLeft2() >> 1, top = g.boxTop2() >> 1;
  const int64_t right = left + g.boxWidth, bottom = top + g.boxHeight;
  if (left < INT32_MIN || top < INT32_MIN || right > INT32_MAX || bottom > INT32_MAX) return Rect{};
  return Rect{static_cast<int32_t>(left), static_cast<int32_t>(top), static_cast<int32_t>(right),
              static_cast<int32_t>(bottom)};
}

}  // namespace

Rect rotatedImageArea(const ImageTransform& transform, const ImageRotation& rotation) {
  blit::checkRotation(transform, rotation, "rotatedImageArea");
  const blit::AffineGeometry g = blit::affineGeometry(transform, rotation);
  if (blit::turnsWhole(g, rotation.filter)) return turnedBoxBounds(g);
  const Reach r = rotatedReach(transform, rotation);
  return Rect{clampToInt32(r.left), clampToInt32(r.top), clampToInt32(r.right),
              clampToInt32(r.bottom)};
}

void drawRotatedImage(const IImage& source, const ImageTransform& transform,
                      const ImageRotation& rotation, const BandClip* clip, IImage& target,
                      BlendMode mode, const Rect& area, uint8_t opacity) {
  blit::checkRotation(transform, rotation, "drawRotatedImage");
  const blit::AffineGeometry g = blit::affineGeometry(transform, rotation);
  if (!blit::turnsWhole(g, rotation.filter)) {
    blit::drawAffineImage(source, transform, rotation, clip, target, mode, area, opacity);
    return;
  }
  // Whole quarter turns: the sheet rule on the turned box, kept inside `area`.
  blit::requireTarget(target, "drawRotatedImage");
  requireInside(transform.sourceRect, source);
  const Rect box = turnedBoxBounds(g);
  if (area.isEmpty() || !box.hasArea()) return;
  const int64_t dx = clip != nullptr ? clip->dx : 0, dy = clip != nullptr ? clip->dy : 0;
  blit::Area allowed{int64_t{area.left} + dx, int64_t{area.top} + dy, int64_t{area.right} + dx,
                     int64_t{area.bottom} + dy};
  if (clip != nullptr && !clip->clipRect.isEmpty()) {
    const Rect& c = clip->clipRect;
    allowed = allowed.clippedTo(c.left, c.top, c.right, c.bottom);
  }
  allowed = allowed.clippedTo(0, 0, target.getWidth(), target.getHeight());
  if (!allowed.hasArea()) return;
  const BandClip cut{
      Rect{static_cast<int32_t>(allowed.left), static_cast<int32_t>(allowed.top),
           static_cast<int32_t>(allowed.right), static_cast<int32_t>(allowed.bottom)},
      static_cast<int32_t>(dx), static_cast<int32_t>(dy)};
  ImageTransform turned = transform;
  turned.quarterTurns = g.frameTurns;
  drawTransformedImage(source, turned, &cut, target, mode, box, opacity);
}

namespace blit {

void drawAffineImage(const IImage& source, const ImageTransform& transform,
                     const ImageRotation& rotation, const BandClip* clip, IImage& target,
                     BlendMode mode, const Rect& area, uint8_t opacity) {
  requireTarget(target, "drawRotatedImage");
  checkRotation(transform, rotation, "drawRotatedImage");
  requireInside(transform.sourceRect, source);
  const Rect& r = transform.sourceRect;
  if (area.isEmpty()) return;
  const PixelFormat format = source.getPixelFormat();
  if (opacity == 0 || !isValidBlendMode(mode) || !isValidPixelFormat(format)) return;
  requireSource(source, "drawRotatedImage");

  const Area visible = visibleArea(area, clip, target.getWidth(), target.getHeight());
  if (!visible.hasArea()) return;
  const AffineGeometry g = affineGeometry(transform, rotation);

  // The first visible pixel's centre, in half pixels from the pivot (surface
  // coordinates are target coordinates less the band's offset).
  const int64_t dx = clip != nullptr ? clip->dx : 0, dy = clip != nullptr ? clip->dy : 0;
  const int64_t ex = 2 * (visible.left - dx) + 1 - g.surfacePivotX2;
  const int64_t ey = 2 * (visible.top - dy) + 1 - g.surfacePivotY2;
  const int64_t lastX = 2 * (visible.right - visible.left - 1);
  const int64_t lastY = 2 * (visible.bottom - visible.top - 1);

  // The frame pixel (0, 0) and the byte steps along the frame: the frame is
  // the source rectangle flipped, then turned by frameTurns.
  const int64_t sw = r.right - r.left, sh = r.bottom - r.top;
  int64_t a0 = 0, aU = 1, aV = 0, b0 = 0, bU = 0, bV = 1;  // a = a0 + u aU + v aV, b likewise
  switch (g.frameTurns) {
    case 1:
      a0 = 0, aU = 0, aV = 1, b0 = sh - 1, bU = -1, bV = 0;
      break;
    case 2:
      a0 = sw - 1, aU = -1, aV = 0, b0 = sh - 1, bU = 0, bV = -1;
      break;
    case 3:
      a0 = sw - 1, aU = 0, aV = -1, b0 = 0, bU = 1, bV = 0;
      break;
    default:
      break;
  }
  if (transform.flipHorizontal) a0 = sw - 1 - a0, aU = -aU, aV = -aV;
  if (transform.flipVertical) b0 = sh - 1 - b0, bU = -bU, bV = -bV;
  const int64_t bpp = bytesPerPixel(format), pitch = source.getPitch();

  PixelLock targetLock(target);
  ConstPixelLock sourceLock(source);
  AffineWalk walk;
  walk.targetPitch = target.getPitch();
  walk.target = targetLock.pixels() + static_cast<size_t>(visible.top) * walk.targetPitch +
                static_cast<size_t>(visible.left) * 4;
  walk.width = static_cast<uint32_t>(visible.right - visible.left);
  walk.height = static_cast<uint32_t>(visible.bottom - visible.top);
  walk.frameWidth = g.frameWidth;
  walk.frameHeight = g.frameHeight;
  walk.frame = sourceLock.pixels() + (r.top + b0) * pitch + (r.left + a0) * bpp;
  walk.frameColumn = static_cast<ptrdiff_t>(bU * pitch + aU * bpp);
  walk.frameRow = static_cast<ptrdiff_t>(bV * pitch + aV * bpp);
  walk.tint = transform.tint;
  walk.uStepX = 2 * g.uPerX, walk.uStepY = 2 * g.uPerY;
  walk.vStepX = 2 * g.vPerX, walk.vStepY = 2 * g.vPerY;
  const int64_t half = rotation.filter == ImageFilter::Bilinear ? int64_t{1} << 23 : 0;

  const bool faded = opacity != 255;
  const bool tinted = transform.tint != kNoTint;
  const int filter = static_cast<int>(rotation.filter);
  const uint32_t weight = toWeight(opacity);

  // An affine map's extremes over a rectangle are at its corners: when they
  // fit, so does every pixel between, and 64-bit steps are exact.
  constexpr int64_t kExact = int64_t{1} << 61, kNarrow = int64_t{1} << 52;
  bool exact = true, narrow = true;
  for (int64_t cx : {int64_t{0}, lastX}) {
    for (int64_t cy : {int64_t{0}, lastY}) {
      for (const Int128& value : {g.u(ex + cx, ey + cy), g.v(ex + cx, ey + cy)}) {
        exact = exact && value > Int128(-kExact) && value < Int128(kExact);
        narrow = narrow && value > Int128(-kNarrow) && value < Int128(kNarrow);
      }
    }
  }
  // Byte offsets of frame pixels, for 32-bit lanes.
  const int64_t spread =
      (int64_t{g.frameWidth} - 1) * (walk.frameColumn < 0 ? -walk.frameColumn : walk.frameColumn) +
      (int64_t{g.frameHeight} - 1) * (walk.frameRow < 0 ? -walk.frameRow : walk.frameRow);
  // A vector's lanes reach up to 8 pixels past the area's last column.
  constexpr int64_t kSmallStep = int64_t{1} << 48;
  walk.narrow = narrow && spread < (int64_t{1} << 31) && walk.uStepX > -kSmallStep &&
                walk.uStepX < kSmallStep && walk.vStepX > -kSmallStep && walk.vStepX < kSmallStep;

  if (exact) {
    walk.u = static_cast<int64_t>(g.u(ex, ey).lo) - half;
    walk.v = static_cast<int64_t>(g.v(ex, ey).lo) - half;
    activeAffineLoops().loops[filter][static_cast<int>(mode)][faded][static_cast<int>(format)]
                             [tinted](walk, weight);
    return;
  }
  // Coordinates beyond 64 bits (a box sampling a vastly larger frame): each
  // pixel is placed exactly and drawn alone. Anything more than a frame away
  // from the frame draws nothing, so coordinates are cut to within 2^60.
  const AffineLoop loop =
      affineLoopTable(SimdLevel::Scalar)
          .loops[filter][static_cast<int>(mode)][faded][static_cast<int>(format)][tinted];
  constexpr int64_t kFar = int64_t{1} << 60;
  AffineWalk one = walk;
  one.width = one.height = 1;
  for (uint32_t y = 0; y < walk.height; ++y) {
    for (uint32_t x = 0; x < walk.width; ++x) {
      one.target = walk.target + y * walk.targetPitch + size_t{x} * 4;
      const int64_t px = ex + 2 * int64_t{x}, py = ey + 2 * int64_t{y};
      one.u = g.u(px, py).clamped(-kFar, kFar) - half;
      one.v = g.v(px, py).clamped(-kFar, kFar) - half;
      loop(one, weight);
    }
  }
}

}  // namespace blit

}  // namespace nubrik
