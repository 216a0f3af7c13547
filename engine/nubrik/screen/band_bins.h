#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "nubrik/base/rect.h"

namespace nubrik {

// For frames in which much of the surface changes: the listed sprites that
// reach each group of consecutive bands, in drawing order, gathered once
// for the frame by one walk of the drawing order. Composing a band of the
// group then walks its group's sprites once, instead of looking into the
// sprite index for every piece of damage.
class BandBins {
 public:
  struct Bin {
    // Slots, in drawing order.
    std::vector<uint32_t> slots;
    // Where in `slots` the sprites that may hide what lies below them are.
    std::vector<uint32_t> hiders;
  };

  // `groups` groups of `groupRows` rows each, from the surface's top.
  void reset(uint32_t groups, uint32_t groupRows);
  uint32_t getGroupRows() const { return groupRows_; }

  // Empties the bins and fills those of the groups for which wanted(group)
  // holds with the slots of `order` whose reach(slot) (a rectangle on the
  // surface, empty for none) reaches the group's rows; mayHide(slot) says
  // whether to note the slot as a hider. Throws std::bad_alloc, leaving
  // the bins unusable until the next gather.
  template <typename Wanted, typename Reach, typename MayHide>
  void gather(const std::vector<uint32_t>& order, Wanted wanted, Reach reach, MayHide mayHide);

  const Bin& bin(uint32_t group) const { return bins_[group]; }

 private:
  std::vector<Bin> bins_;
  std::vector<uint8_t> wanted_;
  uint32_t groupRows_ = 1;
};

template <typename Wanted, typename Reach, typename MayHide>
void BandBins::gather(const std::vector<uint32_t>& order, Wanted wanted, Reach reach,
                      MayHide mayHide) {
  const auto groups = static_cast<uint32_t>(bins_.size());
  for (uint32_t g = 0; g < groups; ++g) {
    bins_[g].slots.clear();
    bins_[g].hiders.clear();
    wanted_[g] = wanted(g) ? 1 : 0;
  }
  for (uint32_t slot : order) {
    const Rect& r = reach(slot);
    if (r.top >= r.bottom || r.bottom <= 0) continue;
    const uint32_t first = static_cast<uint32_t>(std::max(r.top, 0)) / groupRows_;
    const uint32_t last = std::min(static_cast<uint32_t>(r.bottom - 1) / groupRows_, groups - 1);
    const bool hider = mayHide(slot);
    for (uint32_t g = first; g <= last; ++g) {
      if (!wanted_[g]) continue;
      Bin& bin = bins_[g];
      if (hider) bin.hiders.push_back(static_cast<uint32_t>(bin.slots.size()));
      bin.slots.push_back(slot);
    }
  }
}

}  // namespace nubrik
