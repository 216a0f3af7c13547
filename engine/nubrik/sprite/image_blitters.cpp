#include "nubrik/sprite/image_blitters.h"

#include <stdexcept>
#include <string>

#include "nubrik/image/pixel_lock.h"
#include "nubrik/sprite/blit_checks.h"
#include "nubrik/sprite/blit_loops.h"

namespace nubrik {

namespace {

std::string describe(const Rect& r) {
  return "(" + std::to_string(r.left) + ", " + std::to_string(r.top) + ", " +
         std::to_string(r.right) + ", " + std::to_string(r.bottom) + ")";
}

}  // namespace

void drawImage(const IImage& source, Point sourceOrigin, const BandClip* clip, IImage& target,
               BlendMode mode, const Rect& bounds, uint8_t opacity) {
  blit::requireTarget(target, "drawImage");
  // Empty bounds would otherwise stand for the whole clip rectangle.
  if (bounds.isEmpty()) return;
  const PixelFormat format = source.getPixelFormat();
  if (opacity == 0 || !isValidBlendMode(mode) || !isValidPixelFormat(format)) return;
  blit::requireSource(source, "drawImage");

  blit::Area area = blit::visibleArea(bounds, clip, target.getWidth(), target.getHeight());
  if (!area.hasArea()) return;

  // Target to source: the top-left of the translated bounds shows sourceOrigin.
  const int64_t dx = clip != nullptr ? clip->dx : 0;
  const int64_t dy = clip != nullptr ? clip->dy : 0;
  const int64_t ox = int64_t{sourceOrigin.x} - (int64_t{bounds.left} + dx);
  const int64_t oy = int64_t{sourceOrigin.y} - (int64_t{bounds.top} + dy);
  area =
      area.clippedTo(-ox, -oy, int64_t{source.getWidth()} - ox, int64_t{source.getHeight()} - oy);
  if (!area.hasArea()) return;

  PixelLock targetLock(target);
  ConstPixelLock sourceLock(source);
  const size_t targetPitch = target.getPitch();
  const size_t sourcePitch = source.getPitch();
  blit::RowWalk walk;
  walk.target = targetLock.pixels() + static_cast<size_t>(area.top) * targetPitch +
                static_cast<size_t>(area.left) * 4;
  walk.targetPitch = targetPitch;
  walk.source = sourceLock.pixels() + static_cast<size_t>(area.top + oy) * sourcePitch +
                static_cast<size_t>(area.left + ox) * bytesPerPixel(format);
  walk.sourcePitch = sourcePitch;
  walk.width = static_cast<uint32_t>(area.right - area.left);
  walk.height = static_cast<uint32_t>(area.bottom - area.top);

  const bool faded = opacity != 255;
  blit::activeLoops().image[static_cast<int>(mode)][faded][static_cast<int>(format)](
      walk, toWeight(opacity));
}

void drawTransformedImage(const IImage& source, const ImageTransform& transform,
                          const BandClip* clip, IImage& target, BlendMode mode, const Rect& bounds,
                          uint8_t opacity) {
  blit::requireTarget(target, "drawTransformedImage");
  const Rect& r = transform.sourceRect;
  if (!r.hasArea() || r.left < 0 || r.top < 0 || uint32_t(r.right) > source.getWidth() ||
      uint32_t(r.bottom) > source.getHeight()) {
    throw std::invalid_argument("drawTransformedImage: the source rectangle " + describe(r) +
                                " is not inside the image (0, 0, " +
                                std::to_string(source.getWidth()) + ", " +
                                std::to_string(source.getHeight()) + ") or covers no pixel");
  }
  if (transform.quarterTurns > 3) {
    throw std::invalid_argument("drawTransformedImage: " + std::to_string(transform.quarterTurns) +
                                " quarter turns; 0 to 3 are allowed");
  }
  if (bounds.isEmpty()) return;
  const PixelFormat format = source.getPixelFormat();
  if (opacity == 0 || !isValidBlendMode(mode) || !isValidPixelFormat(format)) return;
  blit::requireSource(source, "drawTransformedImage");

  const int64_t width = int64_t{bounds.right} - bounds.left;
  const int64_t height = int64_t{bounds.bottom} - bounds.top;
  const uint64_t sw = uint64_t(r.right - r.left), sh = uint64_t(r.bottom - r.top);
  const bool turned = transform.quarterTurns % 2 == 1;
  if (transform.quarterTurns == 0 && !transform.flipHorizontal && !transform.flipVertical &&
      transform.tint == kNoTint && uint64_t(width) == sw && uint64_t(height) == sh) {
    drawImage(source, Point{r.left, r.top}, clip, target, mode, bounds, opacity);
    return;
  }

  blit::Area area = blit::visibleArea(bounds, clip, target.getWidth(), target.getHeight());
  if (!area.hasArea()) return;
  const int64_t left = int64_t{bounds.left} + (clip != nullptr ? clip->dx : 0);
  const int64_t top = int64_t{bounds.top} + (clip != nullptr ? clip->dy : 0);

  PixelLock targetLock(target);
  ConstPixelLock sourceLock(source);
  const uint32_t bpp = bytesPerPixel(format);
  const size_t pitch = source.getPitch();
  blit::SampledWalk walk;
  walk.target = targetLock.pixels() + static_cast<size_t>(area.top) * target.getPitch() +
                static_cast<size_t>(area.left) * 4;
  walk.targetPitch = target.getPitch();
  walk.width = static_cast<uint32_t>(area.right - area.left);
  walk.height = static_cast<uint32_t>(area.bottom - area.top);
  walk.source = sourceLock.pixels() + static_cast<size_t>(r.top) * pitch + size_t(r.left) * bpp;
  walk.firstColumn = static_cast<uint64_t>(area.left - left);
  walk.firstRow = static_cast<uint64_t>(area.top - top);
  // Which source axis each target axis walks, and which way (the rule's
  // steps 3 and 4): target rows run along source columns when turned.
  const uint32_t turns = transform.quarterTurns;
  const bool flipH = transform.flipHorizontal, flipV = transform.flipVertical;
  walk.columns = {turned ? sh : sw, uint64_t(width),
                  turns == 0   ? flipH
                  : turns == 1 ? !flipV
                  : turns == 2 ? !flipH
                               : flipV};
  walk.rows = {turned ? sw : sh, uint64_t(height),
               turns == 0   ? flipV
               : turns == 1 ? flipH
               : turns == 2 ? !flipV
                            : !flipH};
  walk.columnStride = turned ? pitch : bpp;
  walk.rowStride = turned ? bpp : pitch;
  if (turned) {
    walk.kind = blit::SampledColumns::Any;
  } else if (uint64_t(width) == sw) {
    walk.kind =
        walk.columns.descending ? blit::SampledColumns::Backward : blit::SampledColumns::Forward;
  } else {
    walk.kind =
        uint64_t(width) > sw ? blit::SampledColumns::Upscale : blit::SampledColumns::Downscale;
  }
  walk.columnsLeft = static_cast<uint32_t>(r.left);
  walk.columnsRight = source.getWidth() - static_cast<uint32_t>(r.left);
  walk.tint = transform.tint;

  const bool faded = opacity != 255;
  const bool tinted = transform.tint != kNoTint;
  blit::activeLoops().sampled[static_cast<int>(mode)][faded][static_cast<int>(format)][tinted](
      walk, toWeight(opacity));
}

}  // namespace nubrik
