#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "nubrik/base/rect.h"

namespace nubrik {

// What must be redrawn in one band: rectangles that do not share a column,
// kept in order from left to right. A rectangle added over columns that
// others already hold is merged with them (a band is only a few rows high,
// so that costs at most a few rows); so are neighbours whose gap costs less
// to redraw than a rectangle of its own. What the set covers always
// includes everything added since the last clear().
class BandDamage {
 public:
  // Pixels of gap worth redrawing to save one rectangle: a rectangle costs
  // a look into the sprite index, a blitter call per command reaching it
  // and a transfer to the window (measured with the demonstration's scene).
  static constexpr int64_t kMergeSlack = 256;
  // Beyond this many rectangles, a new one joins its cheaper neighbour:
  // memory and time per band stay bounded whatever is added.
  static constexpr size_t kMaxRects = 256;

  // Keeps room for one rectangle from the start, so that add never loses
  // one. Throws std::bad_alloc.
  BandDamage() { rects_.reserve(1); }

  // `rect` must cover at least one pixel. Never fails: should the set be
  // unable to grow, the rectangle joins its nearest neighbour.
  void add(const Rect& rect) noexcept;
  void clear() noexcept {
    rects_.clear();
    bounds_ = Rect{};
  }

  bool empty() const { return rects_.empty(); }
  size_t size() const { return rects_.size(); }
  const Rect* begin() const { return rects_.data(); }
  const Rect* end() const { return rects_.data() + rects_.size(); }
  // The bounding box of the set; (0, 0, 0, 0) when it is empty.
  const Rect& bounds() const { return bounds_; }

 private:
  std::vector<Rect> rects_;
  Rect bounds_;
};

}  // namespace nubrik
