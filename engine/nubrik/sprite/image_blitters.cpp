#include "nubrik/sprite/image_blitters.h"

#include "nubrik/image/pixel_lock.h"
#include "nubrik/sprite/blit_checks.h"
#include "nubrik/sprite/blit_loops.h"

namespace nubrik {

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

}  // namespace nubrik
