#include "nubrik/sprite/fill_blitters.h"

#include "nubrik/image/pixel_lock.h"
#include "nubrik/sprite/blit_checks.h"
#include "nubrik/sprite/blit_loops.h"

namespace nubrik {

using blit::WeightCase;

void fillRect(IImage& target, const BandClip* clip, BlendMode mode, const Rect& bounds,
              const Colour& colour, uint8_t opacity) {
  blit::requireTarget(target, "fillRect");
  // Empty bounds would otherwise stand for the whole clip rectangle.
  if (bounds.isEmpty()) return;
  const uint8_t alpha = colourAlpha(colour);
  const bool translucent = isTranslucent(colour);
  if (alpha == 0 || opacity == 0 || !isValidBlendMode(mode)) return;

  const blit::Area area = blit::visibleArea(bounds, clip, target.getWidth(), target.getHeight());
  if (!area.hasArea()) return;

  WeightCase weightCase;
  uint32_t weight;
  if (opacity == 255) {
    weightCase = translucent ? WeightCase::Alpha : WeightCase::Opaque;
    weight = translucent ? toWeight(alpha) : 256;
  } else {
    weightCase = translucent ? WeightCase::FadedAlpha : WeightCase::Faded;
    weight = translucent ? toWeight((alpha * toWeight(opacity)) >> 8) : toWeight(opacity);
  }

  PixelLock lock(target);
  const size_t pitch = target.getPitch();
  blit::RowWalk walk;
  walk.target =
      lock.pixels() + static_cast<size_t>(area.top) * pitch + static_cast<size_t>(area.left) * 4;
  walk.targetPitch = pitch;
  walk.width = static_cast<uint32_t>(area.right - area.left);
  walk.height = static_cast<uint32_t>(area.bottom - area.top);
  blit::activeLoops().fill[static_cast<int>(mode)][static_cast<int>(weightCase)](
      walk, toPixel(colour), weight);
}

}  // namespace nubrik
