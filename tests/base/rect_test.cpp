#include "nubrik/base/rect.h"

#include <gtest/gtest.h>

namespace nubrik {
namespace {

// Both readings meet, and a size that would pass the end of 32 bits is cut
// there instead of wrapping to a rectangle that covers nothing.
TEST(RectTest, SizesReachTheSameEdgesAndNeverWrap) {
  static_assert(Rect::fromSize(20, 100, 40, 40) == Rect::fromEdges(20, 100, 60, 140));
  static_assert(Rect::fromSize(20, 100, 40, 40) == Rect{20, 100, 60, 140});
  static_assert(Rect::fromSize(INT32_MAX - 5, -3, UINT32_MAX, 4) ==
                Rect{INT32_MAX - 5, -3, INT32_MAX, 1});
  static_assert(Rect::fromSize(INT32_MIN, 0, UINT32_MAX, 1).hasArea());
  SUCCEED();
}

}  // namespace
}  // namespace nubrik
