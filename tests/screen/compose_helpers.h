#pragma once

#include <cstring>
#include <memory>

#include "nubrik/image/image.h"
#include "nubrik/image/memory_helper.h"
#include "nubrik/image/pixel_lock.h"
#include "nubrik/screen/sprite_drawer.h"

namespace nubrik::testing {

inline std::shared_ptr<Image> rgbxImage(uint32_t width, uint32_t height, uint8_t fill) {
  auto bytes = MemoryHelper::allocate(size_t{width} * height * 4);
  std::memset(bytes.get(), fill, size_t{width} * height * 4);
  return std::make_shared<Image>(width, height, width * 4, bytes);
}

// One frame as the workers run it: every band with a region is composed into
// `band` (reused, never cleared) and only its region is copied to `surface`.
// Returns the number of rectangles presented.
inline int composeFrame(SpriteDrawer& drawer, Image& surface, Image& band) {
  int presented = 0;
  drawer.prepareFrame();
  for (uint32_t b = 0; b < drawer.getBandCount(); ++b) {
    const Rect r = drawer.getBandRegion(b);
    if (r.isEmpty()) continue;
    drawer.drawBand(b, band);
    const int32_t bandTop = static_cast<int32_t>(b * drawer.getBandHeight());
    for (int32_t y = r.top; y < r.bottom; ++y) {
      std::memcpy(surface.lock() + size_t(y) * surface.getPitch() + size_t(r.left) * 4,
                  band.lockConst() + size_t(y - bandTop) * band.getPitch() + size_t(r.left) * 4,
                  size_t(r.right - r.left) * 4);
    }
    ++presented;
  }
  drawer.finishFrame();
  return presented;
}

inline bool samePixels(const Image& a, const Image& b) {
  return a.getPitch() == b.getPitch() && a.getHeight() == b.getHeight() &&
         std::memcmp(a.lockConst(), b.lockConst(), size_t{a.getPitch()} * a.getHeight()) == 0;
}

}  // namespace nubrik::testing
