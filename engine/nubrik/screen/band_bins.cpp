#include "nubrik/screen/band_bins.h"

namespace nubrik {

void BandBins::reset(uint32_t groups, uint32_t groupRows) {
  std::vector<Bin> bins(groups);
  std::vector<uint8_t> wanted(groups);
  bins_.swap(bins);
  wanted_.swap(wanted);
  groupRows_ = groupRows;
  inverse_ = 1.0 / groupRows;
}

}  // namespace nubrik
