#include "nubrik/screen/band_damage.h"

#include <algorithm>

namespace nubrik {

namespace {

// The pixels a union adds beyond its two (disjoint) parts.
int64_t waste(const Rect& a, const Rect& b) { return area(unite(a, b)) - area(a) - area(b); }

}  // namespace

void BandDamage::add(const Rect& rect) {
  for (size_t i = 0; i < count_; ++i) {
    if (contains(rects_[i], rect)) return;
  }
  Rect merged = rect;
  while (true) {
    // Absorb every rectangle the growing one overlaps or nearly touches;
    // what is left is disjoint from it.
    for (size_t i = 0; i < count_;) {
      if (overlaps(rects_[i], merged) || waste(rects_[i], merged) <= kMergeSlack) {
        merged = unite(merged, rects_[i]);
        removeAt(i);
        i = 0;
      } else {
        ++i;
      }
    }
    if (count_ < kMaxRects) break;
    // Full: merge with the neighbour that costs the fewest extra pixels.
    size_t best = 0;
    for (size_t i = 1; i < count_; ++i) {
      if (waste(rects_[i], merged) < waste(rects_[best], merged)) best = i;
    }
    merged = unite(merged, rects_[best]);
    removeAt(best);
  }
  rects_[count_++] = merged;
  bounds_ = count_ == 1 ? merged : unite(bounds_, merged);
  // Rectangles that fill most of their bounding box cost more apart than
  // the gaps between them cost redrawn.
  if (count_ > 1) {
    int64_t covered = 0;
    for (size_t i = 0; i < count_; ++i) covered += area(rects_[i]);
    if (area(bounds_) - covered <= kMergeSlack * static_cast<int64_t>(count_ - 1)) {
      rects_[0] = bounds_;
      count_ = 1;
    }
  }
}

}  // namespace nubrik
