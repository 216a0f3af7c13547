#pragma once

#include <cstdint>

#include "nubrik/base/rect.h"
#include "nubrik/base/scene_guard.h"

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

// The registry's bookkeeping kept inside a registered sprite: its place in
// the registry, and what it has already reported for the coming frame, so
// that reporting again costs a flag test.
struct RegistryLink {
  static constexpr uint32_t kUnregistered = UINT32_MAX;
  // The registry's guard, which lives at least as long as the registration.
  const SceneGuard* guard = nullptr;
  uint32_t slot = kUnregistered;
  bool changeReported = false;
  bool orderReported = false;
  bool redrawReported = false;
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
