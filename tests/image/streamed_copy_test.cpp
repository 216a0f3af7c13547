#include "nubrik/image/streamed_copy.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace nubrik {
namespace {

// Against memcpy row by row, over random alignments of both sides, lengths
// on both sides of the streaming threshold and pitches wider than the rows:
// every byte of each row copied, nothing outside the rows touched.
TEST(StreamedCopy, EqualsACopyRowByRowAndWritesNothingElse) {
  std::mt19937 random(7);
  for (int trial = 0; trial < 400; ++trial) {
    const size_t rowBytes =
        std::uniform_int_distribution<size_t>(0, 3 * kMinStreamedRowBytes)(random);
    const uint32_t rows = std::uniform_int_distribution<uint32_t>(0, 6)(random);
    const size_t sourcePitch = rowBytes + std::uniform_int_distribution<size_t>(0, 70)(random);
    const size_t targetPitch = rowBytes + std::uniform_int_distribution<size_t>(0, 70)(random);
    const size_t sourceOffset = std::uniform_int_distribution<size_t>(0, 63)(random);
    const size_t targetOffset = std::uniform_int_distribution<size_t>(0, 63)(random);
    std::vector<uint8_t> source(sourceOffset + rows * sourcePitch + 64);
    for (uint8_t& byte : source) byte = static_cast<uint8_t>(random());
    std::vector<uint8_t> target(targetOffset + rows * targetPitch + 64, 0xA5);
    std::vector<uint8_t> expected = target;
    for (uint32_t y = 0; y < rows; ++y) {
      std::memcpy(expected.data() + targetOffset + y * targetPitch,
                  source.data() + sourceOffset + y * sourcePitch, rowBytes);
    }
    copyRowsStreamed(target.data() + targetOffset, targetPitch, source.data() + sourceOffset,
                     sourcePitch, rowBytes, rows);
    ASSERT_EQ(target, expected) << "trial " << trial << ": " << rows << " rows of " << rowBytes
                                << " bytes, offsets " << sourceOffset << " and " << targetOffset;
  }
}

}  // namespace
}  // namespace nubrik
