#include "nubrik/sprite/affine_geometry.h"

#include <stdexcept>
#include <string>

namespace nubrik::blit {

namespace {

std::string describe(const Rect& r) {
  std::string text = "(";
  text += std::to_string(r.left) + ", " + std::to_string(r.top) + ", ";
  text += std::to_string(r.right) + ", " + std::to_string(r.bottom) + ")";
  return text;
}

// Round(n / d) for n >= 0 and d > 0, halves up, where n + d / 2 fits.
int64_t roundedQuotient(uint64_t n, uint64_t d) { return static_cast<int64_t>((n + d / 2) / d); }

}  // namespace

void checkRotation(const ImageTransform& transform, const ImageRotation& rotation,
                   const char* operation) {
  auto name = [operation] { return std::string(operation); };  // built only to refuse
  if (!transform.sourceRect.hasArea()) {
    throw std::invalid_argument(name() + ": the source rectangle " +
                                describe(transform.sourceRect) + " covers no pixel");
  }
  if (transform.quarterTurns > 3) {
    throw std::invalid_argument(name() + ": " + std::to_string(transform.quarterTurns) +
                                " quarter turns; 0 to 3 are allowed");
  }
  constexpr uint32_t kMost = INT32_MAX;
  if (rotation.width == 0 || rotation.height == 0 || rotation.width > kMost ||
      rotation.height > kMost) {
    throw std::invalid_argument(name() + ": a box of " + std::to_string(rotation.width) + " x " +
                                std::to_string(rotation.height) + "; each must be 1 to " +
                                std::to_string(kMost));
  }
  if (rotation.angle >= kAngleUnitsPerTurn) {
    throw std::invalid_argument(name() + ": the angle " + std::to_string(rotation.angle) +
                                " units is a turn or more (a turn is " +
                                std::to_string(kAngleUnitsPerTurn) + ")");
  }
  if (rotation.filter != ImageFilter::Nearest && rotation.filter != ImageFilter::Bilinear) {
    throw std::invalid_argument(name() + ": unknown filter " +
                                std::to_string(static_cast<int>(rotation.filter)));
  }
}

bool isValidRotation(const ImageTransform& transform, const ImageRotation& rotation) {
  constexpr uint32_t kMost = INT32_MAX;
  return transform.sourceRect.hasArea() && transform.quarterTurns <= 3 && rotation.width != 0 &&
         rotation.height != 0 && rotation.width <= kMost && rotation.height <= kMost &&
         rotation.angle < kAngleUnitsPerTurn &&
         (rotation.filter == ImageFilter::Nearest || rotation.filter == ImageFilter::Bilinear);
}

void frameToSource(const ImageTransform& t, uint32_t frameTurns, int64_t u, int64_t v,
                   int64_t& column, int64_t& row) {
  const int64_t sw = t.sourceRect.right - t.sourceRect.left;
  const int64_t sh = t.sourceRect.bottom - t.sourceRect.top;
  int64_t a = u, b = v;
  switch (frameTurns) {
    case 1:
      a = v, b = sh - 1 - u;
      break;
    case 2:
      a = sw - 1 - u, b = sh - 1 - v;
      break;
    case 3:
      a = sw - 1 - v, b = u;
      break;
    default:
      break;
  }
  if (t.flipHorizontal) a = sw - 1 - a;
  if (t.flipVertical) b = sh - 1 - b;
  column = t.sourceRect.left + a;
  row = t.sourceRect.top + b;
}

AffineGeometry affineGeometry(const ImageTransform& transform, const ImageRotation& rotation) {
  AffineGeometry g;
  g.quarterTurns = rotation.angle / kAngleUnitsPerQuarter;
  g.remainder = rotation.angle % kAngleUnitsPerQuarter;
  g.trig = quarterSineCosine(g.remainder);
  g.frameTurns = (transform.quarterTurns + g.quarterTurns) & 3;

  // The box turned clockwise by whole quarter turns about the pivot: a turn
  // takes the offset (ex, ey) from the pivot to (-ey, ex).
  const int64_t w2 = 2 * int64_t{rotation.width}, h2 = 2 * int64_t{rotation.height};
  const int64_t px2 = rotation.pivotX2, py2 = rotation.pivotY2;
  const bool sideways = g.quarterTurns % 2 == 1;
  g.boxWidth = sideways ? rotation.height : rotation.width;
  g.boxHeight = sideways ? rotation.width : rotation.height;
  switch (g.quarterTurns) {
    case 0:
      g.pivotX2 = px2, g.pivotY2 = py2;
      break;
    case 1:
      g.pivotX2 = h2 - py2, g.pivotY2 = px2;
      break;
    case 2:
      g.pivotX2 = w2 - px2, g.pivotY2 = h2 - py2;
      break;
    default:
      g.pivotX2 = py2, g.pivotY2 = w2 - px2;
      break;
  }
  g.surfacePivotX2 = 2 * int64_t{rotation.x} + px2;
  g.surfacePivotY2 = 2 * int64_t{rotation.y} + py2;

  const uint32_t sw = static_cast<uint32_t>(transform.sourceRect.right - transform.sourceRect.left);
  const uint32_t sh = static_cast<uint32_t>(transform.sourceRect.bottom - transform.sourceRect.top);
  g.frameWidth = g.frameTurns % 2 ? sh : sw;
  g.frameHeight = g.frameTurns % 2 ? sw : sh;

  // A box half pixel is frame / (2 box) frame pixels, 2^23 frame / box units.
  const uint64_t c = static_cast<uint64_t>(g.trig.cosine), s = static_cast<uint64_t>(g.trig.sine);
  const uint64_t across = uint64_t{g.boxWidth} << 7, down = uint64_t{g.boxHeight} << 7;
  g.uPerX = roundedQuotient(c * g.frameWidth, across);
  g.uPerY = roundedQuotient(s * g.frameWidth, across);
  g.vPerX = -roundedQuotient(s * g.frameHeight, down);
  g.vPerY = roundedQuotient(c * g.frameHeight, down);
  g.uAtPivot = divideRounded(multiplyWide(g.pivotX2, int64_t{g.frameWidth} << 23), g.boxWidth);
  g.vAtPivot = divideRounded(multiplyWide(g.pivotY2, int64_t{g.frameHeight} << 23), g.boxHeight);
  return g;
}

bool turnsWhole(const AffineGeometry& g, ImageFilter filter) {
  if (g.remainder != 0) return false;
  if (filter == ImageFilter::Nearest) return true;
  // Bilinear samples then fall on pixel centres, each at full weight.
  return g.boxWidth == g.frameWidth && g.boxHeight == g.frameHeight && g.boxLeft2() % 2 == 0 &&
         g.boxTop2() % 2 == 0;
}

}  // namespace nubrik::blit
