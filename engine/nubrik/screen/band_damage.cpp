#include "nubrik/screen/band_damage.h"

#include <algorithm>
#include <new>

namespace nubrik {

namespace {

// The pixels a union adds beyond its two parts, which share no column.
int64_t waste(const Rect& a, const Rect& b) { return area(unite(a, b)) - area(a) - area(b); }

}  // namespace

void BandDamage::add(const Rect& rect) noexcept {
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
    *first = merged;
    rects_.erase(first + 1, last);
    return;
  }
  try {
    rects_.insert(first, merged);
  } catch (const std::bad_alloc&) {
    // No room: the nearest neighbour takes it in (there is one: every band
    // keeps room for a rectangle).
    auto& neighbour = first != rects_.end() ? *first : *(first - 1);
    neighbour = unite(neighbour, merged);
    return;
  }
  if (rects_.size() > kMaxRects) {
    size_t cheapest = 0;
    for (size_t i = 1; i + 1 < rects_.size(); ++i) {
      if (waste(rects_[i], rects_[i + 1]) < waste(rects_[cheapest], rects_[cheapest + 1])) {
        cheapest = i;
      }
    }
    rects_[cheapest] = unite(rects_[cheapest], rects_[cheapest + 1]);
    rects_.erase(rects_.begin() + static_cast<ptrdiff_t>(cheapest) + 1);
  }
}

}  // namespace nubrik
