// Internal header: the engine's own, not installed (see cmake/install.cmake).
#pragma once

#include <memory>

#include "nubrik/screen/screen.h"
#include "nubrik/screen/sprite_drawer.h"
#include "nubrik/screen/sprite_manager.h"

namespace nubrik {

// The parts of a Screen that its public interface keeps to itself, for the
// engine's tests and benchmarks: the registry and the compositor.
class ScreenInternals {
 public:
  static const std::shared_ptr<SpriteManager>& spriteManager(const Screen& screen) {
    return screen.spriteManager_;
  }
  static const std::shared_ptr<SpriteDrawer>& spriteDrawer(const Screen& screen) {
    return screen.spriteDrawer_;
  }
};

}  // namespace nubrik
