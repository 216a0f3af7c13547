#include "nubrik/screen/band_bins.h"

#include <algorithm>

namespace nubrik {

void BandBins::reset(uint32_t groups, uint32_t groupRows) {
  std::vector<Bin> bins(groups);
  std::vector<uint8_t> wanted(groups);
  bins_.swap(bins);
  wanted_.swap(wanted);
  groupRows_ = groupRows;
}

BandBins::Span BandBins::spanOf(const Rect& reach, uint32_t height, bool hider) const {
  Span span;
  span.hider = hider;
  if (reach.left >= reach.right || reach.top >= reach.bottom || reach.bottom <= 0 ||
      int64_t{reach.top} >= int64_t{height}) {
    return span;
  }
  span.first = static_cast<uint32_t>(std::max(reach.top, 0)) / groupRows_;
  span.last = std::min(static_cast<uint32_t>(reach.bottom) - 1, height - 1) / groupRows_;
  return span;
}

}  // namespace nubrik
