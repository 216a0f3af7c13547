#include "engine/sprite/blit_loops.h"

namespace nubrik::blit {

Area visibleArea(const Rect& bounds, const BandClip* clip, uint32_t targetWidth,
                 uint32_t targetHeight) {
  Area area{bounds.left, bounds.top, bounds.right, bounds.bottom};
  if (clip != nullptr) {
    area = Area{area.left + clip->dx, area.top + clip->dy, area.right + clip->dx,
                area.bottom + clip->dy};
    const Rect& c = clip->clipRect;
    if (!c.isEmpty()) area = area.clippedTo(c.left, c.top, c.right, c.bottom);
  }
  return area.clippedTo(0, 0, targetWidth, targetHeight);
}

}  // namespace nubrik::blit
