// Internal header: the engine's own, not installed (see cmake/install.cmake).
#pragma once

#include <atomic>

#include "nubrik/base/recursive_lock.h"

namespace nubrik {

// A Screen's scene lock, and what tells a change made to the scene without
// it, while the frame thread composes, from a sound one: such a change races
// with the frame and would corrupt the registry or the compositor, so it is
// refused instead. Shared by the Screen with its registry and compositor,
// which a program may keep longer than the Screen.
class SceneGuard {
 public:
  SceneGuard() = default;
  SceneGuard(const SceneGuard&) = delete;
  SceneGuard& operator=(const SceneGuard&) = delete;

  RecursiveLock& lock() { return lock_; }
  // Set by the owner before the frame thread starts, cleared once it ended.
  void setFramesRunning(bool running) { running_.store(running, std::memory_order_release); }

  // Throws std::logic_error when frames run and the caller does not hold the
  // scene lock.
  void check() const;

 private:
  RecursiveLock lock_;
  std::atomic<bool> running_{false};
};

// The same for callers that may have no guard.
inline void checkScene(const SceneGuard* guard) {
  if (guard != nullptr) guard->check();
}

}  // namespace nubrik
