#include "nubrik/screen/band_bins.h"

#include <algorithm>

namespace nubrik {

void BandBins::reset(uint32_t groups, uint32_t groupRows) {
  std::vector<Bin> bins(groups);
  std::vector<uint8_t> wanted(groups);
  bins_.swap(bins);
  wanted_.swap(wanted);
  groupRows_ = groupRows;
  inverse_ = 1.0 / groupRows;
}

uint32_t BandBins::groupOf(uint32_t n) const {
  // Off by at most one either way: n and groupRows_ are below 2^32.
  auto q = static_cast<uint32_t>(n * inverse_);
  if (uint64_t{q} * groupRows_ > n) {
    --q;
  } else if ((uint64_t{q} + 1) * groupRows_ <= n) {
    ++q;
  }
  return q;
}

BandBins::Span BandBins::spanOf(const Rect& reach, uint32_t height, bool hider) const {
  Span span;
  span.hider = hider;
  if (reach.left >= reach.right || reach.top >= reach.bottom || reach.bottom <= 0 ||
      int64_t{reach.top} >= int64_t{height}) {
    return span;
  }
  span.first = groupOf(static_cast<uint32_t>(std::max(reach.top, 0)));
  span.last = groupOf(std::min(static_cast<uint32_t>(reach.bottom) - 1, height - 1));
  return span;
}

}  // namespace nubrik
