// Internal header: the engine's own, not installed (see cmake/install.cmake).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

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
  // listed when listed(s), with key keyOf(s). Throws std::bad_alloc, after
  // which the next update builds the list anew.
  template <typename Listed, typename KeyOf>
  void update(uint32_t slotCount, Listed listed, KeyOf keyOf);

  const std::vector<uint32_t>& slots() const { return slots_; }

 private:
  // Past this many notes, sorting everything costs less than placing each.
  static constexpr size_t kMaxNoted = 64;

  template <typename KeyOf>
  void place(KeyOf keyOf, std::vector<uint32_t>& added);

  std::vector<uint32_t> slots_;
  std::vector<uint32_t> noted_;
  bool rebuild_ = true;
};

template <typename Listed, typename KeyOf>
void DrawOrder::update(uint32_t slotCount, Listed listed, KeyOf keyOf) {
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
  place(keyOf, added);
  noted_.clear();
  rebuild_ = false;
}

template <typename KeyOf>
void DrawOrder::place(KeyOf keyOf, std::vector<uint32_t>& added) {
  const auto byKey = [&](uint32_t a, uint32_t b) { return keyOf(a) < keyOf(b); };
  std::sort(added.begin(), added.end(), byKey);
  added.erase(std::unique(added.begin(), added.end()), added.end());
  if (slots_.empty()) {
    slots_.swap(added);
    return;
  }
  // The noted slots leave wherever they were (their old keys are gone), and
  // those still listed come back where their keys place them: both lists
  // are in drawing order, merged in one pass.
  std::sort(noted_.begin(), noted_.end());
  slots_.erase(std::remove_if(slots_.begin(), slots_.end(),
                              [&](uint32_t slot) {
                                return std::binary_search(noted_.begin(), noted_.end(), slot);
                              }),
               slots_.end());
  const auto middle = static_cast<std::ptrdiff_t>(slots_.size());
  slots_.insert(slots_.end(), added.begin(), added.end());
  std::inplace_merge(slots_.begin(), slots_.begin() + middle, slots_.end(), byKey);
}

}  // namespace nubrik
