#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "nubrik/sprite/sprite.h"
#include "nubrik/sprite/sprite_owners.h"

namespace nubrik {

// The registry of a Screen's sprites, kept in drawing order (ascending
// z-order, furthest back first). It owns every sprite until it is destroyed;
// there is no removal: hiding is how a sprite leaves the picture.
// Not locked: every call happens under the Screen's scene lock.
class SpriteManager final : public IOrderTarget {
 public:
  struct SpriteEntry {
    int32_t id;
    std::shared_ptr<ISprite> sprite;
    uint64_t sequence;  // registration order, which breaks ties of z-order
  };

  SpriteManager() = default;
  ~SpriteManager() override = default;
  SpriteManager(const SpriteManager&) = delete;
  SpriteManager& operator=(const SpriteManager&) = delete;

  // Throws std::invalid_argument for an empty handle.
  void addSprite(std::shared_ptr<ISprite> sprite);
  // Takes `sprite` out of the registry; false when it was not registered.
  bool removeSprite(const std::shared_ptr<ISprite>& sprite);
  // The first sprite in the current order with `id`, or an empty handle.
  std::shared_ptr<ISprite> findSprite(int32_t id) const;
  void markOrderDirty() override { orderDirty_ = true; }
  bool isOrderDirty() const { return orderDirty_; }
  // Sorts by z-order when marked. Sprites of equal z-order stay in
  // registration order, whatever their z-order was before, so overlapping
  // translucent sprites never swap and a fresh registry draws the same.
  void sortIfDirty();

  size_t size() const { return entries_.size(); }
  auto begin() const { return entries_.cbegin(); }
  auto end() const { return entries_.cend(); }

 private:
  bool orderDirty_ = false;
  uint64_t nextSequence_ = 0;
  std::vector<SpriteEntry> entries_;
};

}  // namespace nubrik
