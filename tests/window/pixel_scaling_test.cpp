// Integer pixel scaling: the fast path against the plain loop, bit for bit,
// over random rectangles, pitches, alignments and every scale, and nothing
// written outside the destination's blocks; window coordinates land in the
// surface pixel whose block holds them, on either side of the origin.

#include "nubrik/window/pixel_scaling.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace nubrik {
namespace {

TEST(PixelScalingTest, FastPathEqualsThePlainLoop) {
  std::mt19937 random(20);
  for (int round = 0; round < 3000; ++round) {
    const uint32_t scale = round < 2000 ? 1 + round % 8 : 1 + random() % 11;
    const uint32_t width = random() % 45, height = random() % 6;
    // Unaligned rows, padded pitches.
    const size_t srcOffset = random() % 4, dstOffset = random() % 16;
    const size_t srcPitch = size_t{width} * 4 + random() % 3 * 4 + random() % 2;
    const size_t dstPitch = size_t{width} * scale * 4 + random() % 3 * 8 + random() % 2;
    std::vector<uint8_t> src(srcOffset + srcPitch * height + 4);
    for (uint8_t& b : src) b = static_cast<uint8_t>(random());
    const size_t dstBytes = dstOffset + dstPitch * height * scale + 16;
    std::vector<uint8_t> fast(dstBytes), plain(dstBytes);
    for (size_t i = 0; i < dstBytes; ++i) fast[i] = plain[i] = static_cast<uint8_t>(random());
    const std::vector<uint8_t> before = fast;
    scalePixels(src.data() + srcOffset, srcPitch, width, height, scale, fast.data() + dstOffset,
                dstPitch);
    scalePixelsPlain(src.data() + srcOffset, srcPitch, width, height, scale,
                     plain.data() + dstOffset, dstPitch);
    ASSERT_EQ(fast, plain) << "round " << round << ": " << width << " x " << height << " at "
                           << scale;
    // The plain loop writes only the blocks: what lies beyond each row of
    // blocks is untouched.
    for (size_t y = 0; y < size_t{height} * scale; ++y) {
      const size_t rowEnd = dstOffset + y * dstPitch + size_t{width} * scale * 4;
      const size_t nextRow = dstOffset + (y + 1) * dstPitch;
      for (size_t i = rowEnd; i < nextRow; ++i) ASSERT_EQ(fast[i], before[i]) << round;
    }
    for (size_t i = 0; i < dstOffset; ++i) ASSERT_EQ(fast[i], before[i]) << round;
  }
}

TEST(PixelScalingTest, WindowCoordinatesFallInTheirBlock) {
  std::mt19937 random(7);
  for (int i = 0; i < 100000; ++i) {
    const uint32_t scale = 1 + random() % 8;
    const auto c = static_cast<int32_t>(random() % 70000) - 35000;
    const int64_t s = windowToSurface(c, scale);
    ASSERT_LE(s * scale, c) << c << " at " << scale;
    ASSERT_GT((s + 1) * scale, c) << c << " at " << scale;
  }
}

}  // namespace
}  // namespace nubrik
