#include "nubrik/screen/band_damage.h"

#include <algorithm>
#include <new>

namespace nubrik {

namespace {

// The pixels a union adds beyond its two parts, which share no column.
int64_t waste(const Rect& a, const Rect& b) { return area(unite(a, b)) - area(a) - area(b); }

}  // namespace

void BandDamage::add(const Rect& rect) noexcept {
  if (whole_) return;
  bounds_ = rects_.empty() ? rect : unite(bounds_, rect);
  Rect merged = rect;
  // [first, last): the rectangles sharing a column with the growing one,
  // then its neighbours that are cheaper merged than apart.
  auto first = std::lower_bound(rects_.begin(), rects_.end(), rect.left,
                                [](const Rect& r, int32_t left) { return r.right <= left; });
  auto last = first;
  while (last != rects_.end() && last->left < merged.right) merged = unite(merged, *last++);
  while (first != rects_.begin() && waste(*(first - 1), merged) <= kMergeSlack) {
    merged = unite(merged, *--first);
  }
  while (last != rects_.end() && waste(*last, merged) <= kMergeSlack) {
    merged = unite(merged, *last++);
  }
  if (first != last) {
    for (auto r = first; r != last; ++r) area_ -= area(*r);
    area_ += area(merged);
    *first = merged;
    rects_.erase(first + 1, last);
    return;
  }
  // Full, or no room: the cheaper neighbour takes it in (there is one:
  // a full set has many, and every band keeps room for one rectangle).
  if (rects_.size() < kMaxRects) {
    try {
      rects_.insert(first, merged);
      area_ += area(merged);
      return;
    } catch (const std::bad_alloc&) {
    }
  }
  if (first == rects_.end() ||
      (first != rects_.begin() && waste(*(first - 1), merged) < waste(*first, merged))) {
    --first;
  }
  // It lies in the gap between the two, so the union reaches no other.
  area_ -= area(*first);
  *first = unite(*first, merged);
  area_ += area(*first);
}

}  // namespace nubrik
