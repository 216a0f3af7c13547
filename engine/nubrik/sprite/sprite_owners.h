#pragma once

#include "nubrik/base/rect.h"

namespace nubrik {

// What a sprite reports to the Screen that made it, without knowing the
// Screen's layer: the compositor hears which areas must be redrawn, the
// registry that the drawing order changed.
class IRedrawTarget {
 public:
  virtual ~IRedrawTarget() = default;
  virtual void invalidateRect(const Rect& rect) = 0;
};

class IOrderTarget {
 public:
  virtual ~IOrderTarget() = default;
  virtual void markOrderDirty() = 0;
};

}  // namespace nubrik
