#include "nubrik/window/memory_window.h"

#include <gtest/gtest.h>

#include <cstdint>

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

}  // namespace
}  // namespace nubrik
