#include "nubrik/window/memory_window.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>

namespace nubrik {
namespace {

TEST(MemorySurfaceTest, KeepsABoundedRecordOfTheLatestRectangles) {
  MemorySurface surface(4, 4);
  const uint8_t band[64] = {};
  const uint32_t total = MemorySurface::kMaxPresented * 3 + 5;
  for (uint32_t i = 0; i < total; ++i) {
    surface.presentBand(band, 16, 4, 4, 0, Rect{0, 0, 1, static_cast<int32_t>(i)});
  }
  const auto& presented = surface.getPresented();
  EXPECT_LE(presented.size(), MemorySurface::kMaxPresented);
  EXPECT_GE(presented.size(), MemorySurface::kMaxPresented / 2);
  // The latest, oldest first.
  for (size_t i = 0; i < presented.size(); ++i) {
    ASSERT_EQ(presented[i].bottom, static_cast<int32_t>(total - presented.size() + i));
  }
  EXPECT_EQ(surface.getPresentedCount(), total);
}

// Sizes whose byte count would wrap or be unbounded are refused, naming the
// size and the limit, before anything is allocated.
TEST(MemorySurfaceTest, RefusesSizesBeyondTheLimit) {
  const std::pair<uint32_t, uint32_t> sizes[] = {
      {2147483648u, 2147483648u}, {65536, 65536}, {16385, 1}, {16384, 16385}, {UINT32_MAX, 4}};
  for (const auto& [width, height] : sizes) {
    try {
      MemorySurface surface(width, height);
      ADD_FAILURE() << width << " x " << height << " accepted";
    } catch (const std::invalid_argument& e) {
      const std::string what = e.what();
      EXPECT_NE(what.find(std::to_string(width) + " x " + std::to_string(height)),
                std::string::npos)
          << what;
      EXPECT_NE(what.find("16384"), std::string::npos) << what;
    }
  }
  EXPECT_NO_THROW(MemoryWindow(16384, 2));
}

}  // namespace
}  // namespace nubrik
