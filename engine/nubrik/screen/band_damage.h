#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "nubrik/base/rect.h"

namespace nubrik {

// What must be redrawn in one band: a few disjoint rectangles. Rectangles
// that overlap, or that lie so close that redrawing the gap costs less than
// a rectangle of its own, are merged; so are the two that merge most cheaply
// once there are kMaxRects. The set is bounded, and what it covers always
// includes everything added since the last clear().
class BandDamage {
 public:
  static constexpr size_t kMaxRects = 4;
  // Pixels of gap worth redrawing to save one rectangle: composing a
  // rectangle costs a pass over the band's commands, a blitter call per
  // command and a transfer, about what a few thousand pixels cost (measured
  // with the demonstration's scene on memory and on an X11 window).
  static constexpr int64_t kMergeSlack = 4096;

  // `rect` must cover at least one pixel.
  void add(const Rect& rect);
  void clear() {
    count_ = 0;
    bounds_ = Rect{};
  }

  bool empty() const { return count_ == 0; }
  size_t size() const { return count_; }
  const Rect* begin() const { return rects_.data(); }
  const Rect* end() const { return rects_.data() + count_; }
  // The bounding box of the set; (0, 0, 0, 0) when it is empty.
  const Rect& bounds() const { return bounds_; }

 private:
  void removeAt(size_t index) { rects_[index] = rects_[--count_]; }

  std::array<Rect, kMaxRects> rects_;
  size_t count_ = 0;
  Rect bounds_;
};

}  // namespace nubrik
