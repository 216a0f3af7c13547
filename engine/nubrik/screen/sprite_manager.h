// Internal header: the engine's own, not installed (see cmake/install.cmake).
#pragma once

#include <compare>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "nubrik/base/paged_array.h"
#include "nubrik/sprite/sprite.h"
#include "nubrik/sprite/sprite_owners.h"

namespace nubrik {

class SceneGuard;

// A sprite's place in drawing order: by z-order, then by registration.
struct OrderKey {
  int32_t zOrder = 0;
  uint64_t sequence = 0;
  constexpr auto operator<=>(const OrderKey&) const = default;
};

// The registry of a Screen's sprites. It owns every sprite until the sprite
// is removed or the registry destroyed, keeps each in a slot of its own
// (so adding and removing cost the same at any size), and records which
// slots changed since the compositor last looked: a sprite that reported a
// change, one added or removed, one whose place in the order moved.
//
// The drawing order is by z-order, then by registration. A z-order change
// counts once the sprite's invalidateOrder (or markOrderDirty) reported it
// and sortIfDirty ran; sortIfDirty reads only the sprites that reported one.
//
// Sprites made by the Screen report their changes. Other ISprite
// implementations cannot, so the compositor reads them every frame.
//
// Not locked: every call happens under the Screen's scene lock. With a
// guard, calls that change the registry from elsewhere while frames run are
// refused with std::logic_error.
class SpriteManager final : public IOrderTarget {
 public:
  struct SpriteEntry {
    int32_t id;
    std::shared_ptr<ISprite> sprite;
    uint64_t sequence;  // registration order, which breaks ties of z-order
  };

  explicit SpriteManager(std::shared_ptr<const SceneGuard> guard = nullptr)
      : guard_(std::move(guard)) {}
  ~SpriteManager() override;
  SpriteManager(const SpriteManager&) = delete;
  SpriteManager& operator=(const SpriteManager&) = delete;

  // Throws std::invalid_argument for an empty handle or a sprite that is
  // registered already. A sprite that is not `findable` (its id was picked
  // by the engine, not given by the program) is not found by findSprite.
  void addSprite(std::shared_ptr<ISprite> sprite, bool findable = true);
  // Takes `sprite` out of the registry; false when it was not registered.
  bool removeSprite(const std::shared_ptr<ISprite>& sprite);
  // The first sprite in drawing order with `id`, or an empty handle.
  std::shared_ptr<ISprite> findSprite(int32_t id) const;
  // The sprite in slot `slot` (see slotCount), or an empty handle.
  std::shared_ptr<ISprite> sharedAt(uint32_t slot) const {
    return slot < slots_.size() ? slots_[slot].sprite : nullptr;
  }
  void markOrderDirty() override;
  void spriteChanged(RegistryLink& link) override;
  void spriteOrderChanged(RegistryLink& link) override;
  void spriteRedrawn(RegistryLink& link) override;
  bool isOrderDirty() const { return allOrderDirty_ || !orderPending_.empty(); }
  // Takes in every reported z-order change.
  void sortIfDirty();

  size_t size() const { return slots_.size() - freeSlots_.size(); }
  // Every registered sprite in drawing order (built when asked for: the
  // compositor does not need it).
  std::vector<SpriteEntry>::const_iterator begin() const;
  std::vector<SpriteEntry>::const_iterator end() const;

  // For the compositor. Slots are numbered from 0 up to slotCount(); a free
  // slot has no sprite.
  uint32_t slotCount() const { return static_cast<uint32_t>(slots_.size()); }
  ISprite* spriteAt(uint32_t slot) const { return slots_[slot].sprite.get(); }
  OrderKey orderKeyAt(uint32_t slot) const { return {slots_[slot].zOrder, slots_[slot].sequence}; }
  // The slots that changed since takePending, each once.
  const std::vector<uint32_t>& pendingSlots() const { return pending_; }
  // Whether the pending slot `slot` asked to be redrawn even if it draws as
  // before (its invalidate).
  bool redrawAt(uint32_t slot) const { return slots_[slot].redraw; }
  // The first `count` pending slots have been dealt with.
  void takePending(size_t count);
  // Slots of sprites that do not report their changes.
  const std::vector<uint32_t>& silentSlots() const { return silent_; }

 private:
  struct Slot {
    std::shared_ptr<ISprite> sprite;
    uint64_t sequence = 0;
    int32_t zOrder = 0;    // as last sorted
    bool reports = false;  // a SpriteBase whose reports reach this registry
    bool pending = false;
    bool orderPending = false;
    bool redraw = false;
    bool findable = true;
  };

  // The registration kept in a sprite that reports; null for the others.
  RegistryLink* linkOf(const Slot& slot) const;

  void markPending(uint32_t slot);
  void applyZOrder(uint32_t slot);
  void free(uint32_t slot);

  std::shared_ptr<const SceneGuard> guard_;
  PagedArray<Slot> slots_;
  std::vector<uint32_t> freeSlots_;
  std::vector<uint32_t> pending_;
  std::vector<uint32_t> orderPending_;
  std::vector<uint32_t> silent_;
  bool allOrderDirty_ = false;
  uint64_t nextSequence_ = 0;
  mutable std::vector<SpriteEntry> ordered_;
  mutable bool orderedValid_ = true;
};

}  // namespace nubrik
