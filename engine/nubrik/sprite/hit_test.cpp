#include "nubrik/sprite/hit_test.h"

#include "nubrik/image/pixel_lock.h"
#include "nubrik/sprite/affine_geometry.h"
#include "nubrik/sprite/affine_loops.h"

namespace nubrik {

namespace {

// The alpha of the pixel at `p` of a source layout: 255 for the layouts
// without one.
uint32_t alphaAt(const uint8_t* p, PixelFormat format) {
  switch (format) {
    case PixelFormat::GreyAlpha:
      return p[1];
    case PixelFormat::Rgba:
      return p[3];
    default:
      return 255;
  }
}

// The source pixel that target pixel (i, j) of a `width` x `height` area
// shows under the sampling rule (see ImageTransform), from the source
// rectangle's top-left.
void samplePosition(const ImageTransform& t, uint64_t i, uint64_t j, uint64_t width,
                    uint64_t height, uint64_t& a, uint64_t& b) {
  const uint64_t sw = uint64_t(t.sourceRect.right - t.sourceRect.left);
  const uint64_t sh = uint64_t(t.sourceRect.bottom - t.sourceRect.top);
  const bool turned = t.quarterTurns % 2 == 1;
  const uint64_t w = turned ? sh : sw, h = turned ? sw : sh;
  const uint64_t u = (2 * i + 1) * w / (2 * width);
  const uint64_t v = (2 * j + 1) * h / (2 * height);
  switch (t.quarterTurns) {
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
      a = u, b = v;
  }
  if (t.flipHorizontal) a = sw - 1 - a;
  if (t.flipVertical) b = sh - 1 - b;
}

// A turned or filtered command (the rotation rule): whole quarter turns as
// the sheet rule's command on the turned box; otherwise whether any source
// pixel the rule samples there has a part in it (share x weight at full
// opacity, the weight of its alpha after the tint).
bool rotatedDrawsAt(const DrawCommand& command, int32_t x, int32_t y) {
  const IImage& image = *command.image;
  const ImageTransform t = command.transform();
  const ImageRotation& r = command.rotation;
  const Rect& s = t.sourceRect;
  if (!blit::isValidRotation(t, r) || s.left < 0 || s.top < 0 ||
      uint32_t(s.right) > image.getWidth() || uint32_t(s.bottom) > image.getHeight()) {
    return false;
  }
  const blit::AffineGeometry g = blit::affineGeometry(t, r);
  if (blit::turnsWhole(g, r.filter)) {
    DrawCommand turned = command;
    turned.rotation = ImageRotation{};
    turned.orientation =
        static_cast<uint8_t>((command.orientation & (kFlipHorizontal | kFlipVertical)) |
                             g.frameTurns << kQuarterTurnShift);
    turned.bounds = rotatedImageArea(t, r);
    return drawsAt(turned, x, y);
  }
  const int64_t ex = 2 * int64_t{x} + 1 - g.surfacePivotX2;
  const int64_t ey = 2 * int64_t{y} + 1 - g.surfacePivotY2;
  const bool bilinear = r.filter == ImageFilter::Bilinear;
  const Int128 half(bilinear ? int64_t{1} << 23 : 0);
  constexpr int64_t kFar = int64_t{1} << 60;
  const int64_t u = (g.u(ex, ey) - half).clamped(-kFar, kFar);
  const int64_t v = (g.v(ex, ey) - half).clamped(-kFar, kFar);
  uint32_t shares[4] = {256, 0, 0, 0};
  if (bilinear) {
    blit::bilinearShares(static_cast<uint32_t>(u >> 16) & 255, static_cast<uint32_t>(v >> 16) & 255,
                         shares);
  }
  const PixelFormat format = image.getPixelFormat();
  ConstPixelLock lock(image);
  for (int k = 0; k < 4; ++k) {
    const int64_t fu = (u >> blit::kFrameFractionBits) + (k & 1);
    const int64_t fv = (v >> blit::kFrameFractionBits) + (k >> 1);
    if (shares[k] == 0 || fu < 0 || fv < 0 || fu >= g.frameWidth || fv >= g.frameHeight) continue;
    int64_t column, row;
    blit::frameToSource(t, g.frameTurns, fu, fv, column, row);
    uint32_t alpha = alphaAt(
        lock.pixels() + size_t(row) * image.getPitch() + size_t(column) * bytesPerPixel(format),
        format);
    const uint32_t tintAlpha = command.tint >> 24;
    if (tintAlpha != 255) {
      const uint32_t w = alpha * tintAlpha + 128;
      alpha = (w + (w >> 8)) >> 8;
    }
    if (((shares[k] * toWeight(alpha)) >> 8) != 0) return true;
  }
  return false;
}

}  // namespace

bool drawsAt(const DrawCommand& command, int32_t x, int32_t y) {
  const Rect& bounds = command.bounds;
  if (command.opacity == 0 || !isValidBlendMode(command.blendMode) || x < bounds.left ||
      x >= bounds.right || y < bounds.top || y >= bounds.bottom) {
    return false;
  }
  if (command.kind == DrawCommandKind::Fill) return colourAlpha(command.colour) != 0;
  if (command.kind != DrawCommandKind::Image || command.image == nullptr) return false;
  const IImage& image = *command.image;
  const PixelFormat format = image.getPixelFormat();
  if (!isValidPixelFormat(format)) return false;
  if (command.isRotated()) return rotatedDrawsAt(command, x, y);
  int64_t column, row;
  if (command.isTransformed()) {
    const ImageTransform t = command.transform();
    const Rect& r = t.sourceRect;
    if (!r.hasArea() || r.left < 0 || r.top < 0 || uint32_t(r.right) > image.getWidth() ||
        uint32_t(r.bottom) > image.getHeight() || t.quarterTurns > 3) {
      return false;
    }
    uint64_t a = 0, b = 0;
    samplePosition(t, uint64_t(int64_t{x} - bounds.left), uint64_t(int64_t{y} - bounds.top),
                   uint64_t(int64_t{bounds.right} - bounds.left),
                   uint64_t(int64_t{bounds.bottom} - bounds.top), a, b);
    column = r.left + int64_t(a);
    row = r.top + int64_t(b);
  } else {
    column = int64_t{x} - bounds.left + command.sourceOrigin.x;
    row = int64_t{y} - bounds.top + command.sourceOrigin.y;
    if (column < 0 || row < 0 || column >= image.getWidth() || row >= image.getHeight()) {
      return false;
    }
  }
  ConstPixelLock lock(image);
  uint32_t alpha = alphaAt(
      lock.pixels() + size_t(row) * image.getPitch() + size_t(column) * bytesPerPixel(format),
      format);
  // Tinted, alpha is multiplied as the other channels are, rounded.
  const uint32_t tintAlpha = command.tint >> 24;
  if (command.isTransformed() && tintAlpha != 255) {
    const uint32_t v = alpha * tintAlpha + 128;
    alpha = (v + (v >> 8)) >> 8;
  }
  return alpha != 0;
}

}  // namespace nubrik
