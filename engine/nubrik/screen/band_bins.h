// Internal header: the engine's own, not installed (see cmake/install.cmake).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "nubrik/base/rect.h"
#include "nubrik/sprite/prepared_command.h"

namespace nubrik {

// For frames in which much of the surface changes: the listed sprites that
// reach each group of consecutive bands, in drawing order, gathered once
// for the frame by one walk of the drawing order. Composing a band of the
// group then walks its group's sprites once, instead of looking into the
// sprite index for every piece of damage.
class BandBins {
 public:
  struct Bin {
    // The commands, in drawing order.
    std::vector<const PreparedCommand*> commands;
    // Where in `commands` those that may hide what lies below them are.
    std::vector<uint32_t> hiders;
  };

  // `groups` groups of `groupRows` rows each, from the surface's top.
  void reset(uint32_t groups, uint32_t groupRows);

  // The groups whose rows a slot reaches (none when first > last), and
  // whether it may hide what lies below it.
  struct Span {
    uint32_t first = 1;
    uint32_t last = 0;
    bool hider = false;
  };
  // The span of a rectangle on a surface `height` rows high.
  Span spanOf(const Rect& reach, uint32_t height, bool hider) const {
    Span span;
    span.hider = hider;
    if (reach.left < reach.right && reach.top < reach.bottom && reach.bottom > 0 &&
        int64_t{reach.top} < int64_t{height}) {
      span.first = groupOf(static_cast<uint32_t>(std::max(reach.top, 0)));
      span.last = groupOf(std::min(static_cast<uint32_t>(reach.bottom) - 1, height - 1));
    }
    return span;
  }

  // Empties the bins and fills those of the groups for which wanted(group)
  // holds with the commands, command(slot), of the slots of `order` whose
  // span(slot) reaches them. Throws std::bad_alloc, leaving the bins
  // unusable until the next gather.
  template <typename Wanted, typename SpanOf, typename CommandOf>
  void gather(const std::vector<uint32_t>& order, Wanted wanted, SpanOf span, CommandOf command);

  const Bin& bin(uint32_t group) const { return bins_[group]; }

 private:
  // n / groupRows_ without a division instruction: an estimate by the
  // inverse, off by at most one either way (n and groupRows_ are below
  // 2^32), corrected.
  uint32_t groupOf(uint32_t n) const {
    auto q = static_cast<uint32_t>(n * inverse_);
    if (uint64_t{q} * groupRows_ > n) {
      --q;
    } else if ((uint64_t{q} + 1) * groupRows_ <= n) {
      ++q;
    }
    return q;
  }

  std::vector<Bin> bins_;
  std::vector<uint8_t> wanted_;
  uint32_t groupRows_ = 1;
  double inverse_ = 1;
};

template <typename Wanted, typename SpanOf, typename CommandOf>
void BandBins::gather(const std::vector<uint32_t>& order, Wanted wanted, SpanOf span,
                      CommandOf command) {
  const auto groups = static_cast<uint32_t>(bins_.size());
  for (uint32_t g = 0; g < groups; ++g) {
    bins_[g].commands.clear();
    bins_[g].hiders.clear();
    wanted_[g] = wanted(g) ? 1 : 0;
  }
  for (uint32_t slot : order) {
    const Span& s = span(slot);
    for (uint32_t g = s.first; g <= s.last; ++g) {
      if (!wanted_[g]) continue;
      Bin& bin = bins_[g];
      if (s.hider) bin.hiders.push_back(static_cast<uint32_t>(bin.commands.size()));
      bin.commands.push_back(command(slot));
    }
  }
}

}  // namespace nubrik
