// Internal header: the engine's own, not installed (see cmake/install.cmake).
#pragma once

#include <cstdint>

#include "nubrik/base/rect.h"
#include "nubrik/sprite/sprite_base.h"

namespace nubrik {

// What a sprite reports to the Screen that made it, without knowing the
// Screen's layer: the compositor hears which areas must be redrawn, the
// registry which sprites changed and that the drawing order changed.
class IRedrawTarget {
 public:
  virtual ~IRedrawTarget() = default;
  // An empty rectangle marks the whole surface.
  virtual void invalidateRect(const Rect& rect) = 0;
};

class IOrderTarget {
 public:
  virtual ~IOrderTarget() = default;
  // Some sprite's z-order changed: every sprite's is read again.
  virtual void markOrderDirty() = 0;
  // The sprite registered under `link` may draw differently now.
  virtual void spriteChanged(RegistryLink& link) = 0;
  // The z-order of the sprite registered under `link` changed.
  virtual void spriteOrderChanged(RegistryLink& link) = 0;
  // The sprite registered under `link` is to be redrawn where it was and
  // where it is, even if it draws as before.
  virtual void spriteRedrawn(RegistryLink& link) = 0;
};

}  // namespace nubrik
