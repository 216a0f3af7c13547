#include "nubrik/screen/band_damage.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace nubrik {
namespace {

// Random rectangles in one 20-row band, from a few to many more than the set
// holds: the set stays bounded and disjoint, covers every pixel added, and
// its bounds are the bounding box of what was added.
TEST(BandDamageTest, StaysBoundedDisjointAndCoversEverythingAdded) {
  std::mt19937 random(11);
  for (int round = 0; round < 300; ++round) {
    BandDamage damage;
    std::vector<Rect> added;
    Rect box{};
    const int count = 1 + static_cast<int>(random() % (round % 3 == 0 ? 200 : 12));
    for (int i = 0; i < count; ++i) {
      const int32_t left = static_cast<int32_t>(random() % 790);
      const int32_t top = 40 + static_cast<int32_t>(random() % 19);
      const Rect r{left, top, left + 1 + static_cast<int32_t>(random() % 30),
                   top + 1 + static_cast<int32_t>(random() % (60 - top))};
      damage.add(r);
      added.push_back(r);
      box = i == 0 ? r : unite(box, r);
    }
    ASSERT_LE(damage.size(), BandDamage::kMaxRects);
    EXPECT_EQ(damage.bounds(), box);
    for (const Rect* a = damage.begin(); a != damage.end(); ++a) {
      for (const Rect* b = a + 1; b != damage.end(); ++b) ASSERT_FALSE(overlaps(*a, *b));
    }
    for (const Rect& r : added) {
      for (int32_t y = r.top; y < r.bottom; ++y) {
        for (int32_t x = r.left; x < r.right; ++x) {
          bool covered = false;
          for (const Rect& d : damage)
            covered |= x >= d.left && x < d.right && y >= d.top && y < d.bottom;
          ASSERT_TRUE(covered) << "round " << round << " pixel " << x << "," << y;
        }
      }
    }
  }
}

}  // namespace
}  // namespace nubrik
