#include "nubrik/screen/band_bins.h"

#include <gtest/gtest.h>

#include <random>

namespace nubrik {
namespace {

// Rows land in the group that dividing them by the group's rows gives,
// whatever the rows per group and the row, edges of 32 bits included: a
// sprite a group off would be left out of the bin it is drawn from.
TEST(BandBinsTest, SpansFollowDivisionExactly) {
  std::mt19937 random(5);
  for (int round = 0; round < 2000; ++round) {
    const uint32_t rows = round < 8 ? (1u << (4 * round)) - (round > 0) : 1 + random() % 4096;
    const uint32_t height = UINT32_MAX - random() % 8;
    BandBins bins;
    bins.reset(1, rows);
    for (int i = 0; i < 50; ++i) {
      const uint32_t top = i < 4 ? static_cast<uint32_t>(i) * 0x3FFFFFFFu : random() >> 1;
      const uint32_t bottom = top + 1 + random() % 1000;
      if (bottom > INT32_MAX || bottom <= top) continue;
      const BandBins::Span span = bins.spanOf(
          Rect{0, static_cast<int32_t>(top), 1, static_cast<int32_t>(bottom)}, height, false);
      ASSERT_EQ(span.first, top / rows) << rows << " rows, top " << top;
      ASSERT_EQ(span.last, (bottom - 1) / rows) << rows << " rows, bottom " << bottom;
    }
  }
}

}  // namespace
}  // namespace nubrik
