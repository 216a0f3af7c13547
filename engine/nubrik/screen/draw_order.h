#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "nubrik/base/paged_array.h"
#include "nubrik/screen/sprite_manager.h"

namespace nubrik {

// The slots of the sprites the compositor lists, in drawing order. Kept
// lazily: the compositor notes the slots that joined, left or changed
// their place in the order, and the list catches up only when a frame
// walks it, so frames that never walk it pay nothing for it.
class DrawOrder {
 public:
  // `slot` joined or left the listed sprites, or its key changed. Never
  // fails: past a few notes (or should the notes be unable to grow) the
  // list is simply built anew.
  void note(uint32_t slot) noexcept;
  // Everything is built anew by the next update.
  void reset() noexcept {
    noted_.clear();
    rebuild_ = true;
  }

  // Brings the list up to date: slot s of slots 0 to slotCount - 1 is
  // listed when listed(s), with key keys[s]. Throws std::bad_alloc, after
  // which the next update builds the list anew.
  template <typename Listed>
  void update(uint32_t slotCount, Listed listed, const PagedArray<OrderKey>& keys);

  const std::vector<uint32_t>& slots() const { return slots_; }

 private:
  // Past this many notes, sorting everything costs less than placing each.
  static constexpr size_t kMaxNoted = 64;

  void place(const PagedArray<OrderKey>& keys, const std::vector<uint32_t>& added);

  std::vector<uint32_t> slots_;
  std::vector<uint32_t> noted_;
  bool rebuild_ = true;
};

template <typename Listed>
void DrawOrder::update(uint32_t slotCount, Listed listed, const PagedArray<OrderKey>& keys) {
  if (!rebuild_ && noted_.empty()) return;
  std::vector<uint32_t> added;
  if (rebuild_) {
    slots_.clear();
    for (uint32_t slot = 0; slot < slotCount; ++slot) {
      if (listed(slot)) added.push_back(slot);
    }
  } else {
    for (uint32_t slot : noted_) {
      if (slot < slotCount && listed(slot)) added.push_back(slot);
    }
  }
  rebuild_ = true;  // until this update is through
  place(keys, added);
  noted_.clear();
  rebuild_ = false;
}

}  // namespace nubrik
