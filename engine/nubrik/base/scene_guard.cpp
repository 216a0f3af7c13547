#include "nubrik/base/scene_guard.h"

#include <stdexcept>

namespace nubrik {

void SceneGuard::check() const {
  if (running_.load(std::memory_order_acquire) && !lock_.isHeldByCurrentThread()) {
    throw std::logic_error(
        "a sprite or the scene was changed without the scene lock while the frame thread runs: "
        "change it from a frame callback or while holding Screen::getSceneLock()");
  }
}

}  // namespace nubrik
