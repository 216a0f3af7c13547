// Every vector loop against the scalar loop, bit for bit: random pixels,
// colours, alphas and opacities, every width up to a few hundred pixels and
// every alignment of the destination row; and exhaustively over the channel
// and weight ranges.

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "nubrik/sprite/blit_loops.h"

namespace nubrik::blit {
namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kStride = 7;  // sanitizers are slow: a sample of the exhaustive cases
#else
constexpr int kStride = 1;
#endif

std::vector<SimdLevel> vectorLevels() {
  std::vector<SimdLevel> levels;
  for (SimdLevel level : {SimdLevel::Sse2, SimdLevel::Avx2, SimdLevel::Avx512}) {
    if (level <= bestSimdLevel()) levels.push_back(level);
  }
  return levels;
}

const char* name(SimdLevel level) {
  return level == SimdLevel::Avx512 ? "avx512" : level == SimdLevel::Avx2 ? "avx2" : "sse2";
}

// Alpha patterns that reach every branch: transparent runs, opaque runs, mixed.
uint8_t alphaFor(std::mt19937& random, int pattern) {
  switch (pattern) {
    case 0:
      return 0;
    case 1:
      return 255;
    case 2:
      return random() % 3 == 0 ? 0 : random() % 2 ? 255 : static_cast<uint8_t>(random());
    default:
      return static_cast<uint8_t>(random());
  }
}

struct Buffers {
  std::vector<uint8_t> target, expected, source;
};

TEST(SimdLoopsTest, EveryLoopMatchesTheScalarLoop) {
  const LoopTable& scalar = loopTable(SimdLevel::Scalar);
  for (SimdLevel level : vectorLevels()) {
    const LoopTable& vector = loopTable(level);
    std::mt19937 random(11);
    for (int round = 0; round < 3000 / kStride; ++round) {
      const uint32_t width = 1 + random() % (round % 4 == 0 ? 300 : 40);
      const uint32_t height = 1 + random() % 3;
      const uint32_t offset = random() % 8;  // destination alignment, in pixels
      const int mode = static_cast<int>(random() % 5);
      const int pattern = static_cast<int>(random() % 4);
      const size_t pitch = (width + 8) * 4;
      std::vector<uint8_t> target(pitch * height);
      for (auto& b : target)
        b = static_cast<uint8_t>(random() % 4 == 0 ? 255 * (random() % 2) : random());
      std::vector<uint8_t> expected = target;
      RowWalk walk{target.data() + offset * 4, pitch, nullptr, 0, width, height};
      RowWalk reference = walk;
      reference.target = expected.data() + offset * 4;

      if (round % 2 == 0) {
        const int weightCase = static_cast<int>(random() % kWeightCases);
        const uint32_t pixel = static_cast<uint32_t>(random());
        const uint32_t weight = weightCase == 0 ? 256 : random() % 256;
        vector.fill[mode][weightCase](walk, pixel, weight);
        scalar.fill[mode][weightCase](reference, pixel, weight);
        ASSERT_EQ(target, expected) << name(level) << " fill mode " << mode << " case "
                                    << weightCase << " width " << width << " offset " << offset;
      } else {
        const int format = static_cast<int>(random() % 5);
        const int faded = static_cast<int>(random() % 2);
        const uint32_t bpp = bytesPerPixel(static_cast<PixelFormat>(format));
        const size_t sourcePitch = width * bpp + random() % 5;
        std::vector<uint8_t> source(sourcePitch * height);
        for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<uint8_t>(random());
        for (uint32_t y = 0; y < height; ++y) {
          for (uint32_t x = 0; x < width; ++x) {
            uint8_t* p = &source[y * sourcePitch + x * bpp];
            if (format == 2) p[1] = alphaFor(random, pattern);
            if (format == 3) p[3] = alphaFor(random, pattern);
          }
        }
        walk.source = reference.source = source.data();
        walk.sourcePitch = reference.sourcePitch = sourcePitch;
        const uint32_t weight = faded ? 1 + random() % 254 : 256;
        vector.image[mode][faded][format](walk, weight);
        scalar.image[mode][faded][format](reference, weight);
        ASSERT_EQ(target, expected)
            << name(level) << " image mode " << mode << " faded " << faded << " format " << format
            << " width " << width << " offset " << offset;
      }
    }
  }
}

// Every destination channel against every source channel, at every alpha
// weight (an Rgba source at full opacity) and every opacity weight (an Rgbx
// source, faded), in every blend rule.
TEST(SimdLoopsTest, ExhaustiveOverChannelsAndWeights) {
  const LoopTable& scalar = loopTable(SimdLevel::Scalar);
  constexpr uint32_t kSide = 256;
  std::vector<uint8_t> source(kSide * kSide * 4), original(kSide * kSide * 4);
  for (uint32_t y = 0; y < kSide; ++y) {
    for (uint32_t x = 0; x < kSide; ++x) {
      const uint32_t d = y * 0x010101u | (255 - y) << 24;
      std::memcpy(&original[(y * kSide + x) * 4], &d, 4);
    }
  }
  for (SimdLevel level : vectorLevels()) {
    const LoopTable& vector = loopTable(level);
    for (int mode = 0; mode < 5; ++mode) {
      for (uint32_t value = 0; value <= 255 + 254; value += kStride) {
        // Values 0..255 are alphas of an Rgba source; 256..509 opacities 1..254.
        const bool faded = value > 255;
        const uint32_t alpha = faded ? 0 : value;
        for (uint32_t y = 0; y < kSide; ++y) {
          for (uint32_t x = 0; x < kSide; ++x) {
            const uint32_t s = x * 0x010101u | alpha << 24;
            std::memcpy(&source[(y * kSide + x) * 4], &s, 4);
          }
        }
        std::vector<uint8_t> target = original, expected = original;
        RowWalk walk{target.data(), kSide * 4, source.data(), kSide * 4, kSide, kSide};
        RowWalk reference = walk;
        reference.target = expected.data();
        const int format = faded ? 4 : 3;
        const uint32_t weight = faded ? value - 255 : 256;
        vector.image[mode][faded][format](walk, weight);
        scalar.image[mode][faded][format](reference, weight);
        ASSERT_EQ(target, expected) << name(level) << " mode " << mode << " value " << value;
      }
    }
  }
}

TEST(SimdLoopsTest, LevelsFallBackToWhatTheProcessorHas) {
  // A level beyond the processor gives its best one.
  EXPECT_EQ(&loopTable(SimdLevel::Avx512), &loopTable(bestSimdLevel()));
  setActiveSimdLevel(SimdLevel::Scalar);
  EXPECT_EQ(&activeLoops(), &loopTable(SimdLevel::Scalar));
  setActiveSimdLevel(bestSimdLevel());
}

}  // namespace
}  // namespace nubrik::blit
