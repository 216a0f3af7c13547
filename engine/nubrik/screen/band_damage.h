// Internal header: the engine's own, not installed (see cmake/install.cmake).
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
//
// A set may be made the whole band (makeWhole): once most of a band is to
// be redrawn, redrawing all of it costs little more, and every later add
// costs nothing.
class BandDamage {
 public:
  // Pixels of gap worth redrawing to save one rectangle: a rectangle costs
  // a look into the sprite index, a blitter call per command reaching it
  // and a transfer to the window.
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
  // The set becomes the one rectangle `band`, which must hold it.
  void makeWhole(const Rect& band) noexcept {
    rects_.clear();
    rects_.push_back(band);  // never grows: room for one is kept
    bounds_ = band;
    area_ = area(band);
    whole_ = true;
  }
  void clear() noexcept {
    rects_.clear();
    bounds_ = Rect{};
    area_ = 0;
    whole_ = false;
  }

  bool empty() const { return rects_.empty(); }
  size_t size() const { return rects_.size(); }
  const Rect* begin() const { return rects_.data(); }
  const Rect* end() const { return rects_.data() + rects_.size(); }
  // The bounding box of the set; (0, 0, 0, 0) when it is empty.
  const Rect& bounds() const { return bounds_; }
  // The pixels the set covers.
  int64_t coveredArea() const { return area_; }
  bool isWhole() const { return whole_; }

 private:
  std::vector<Rect> rects_;
  Rect bounds_;
  int64_t area_ = 0;
  bool whole_ = false;
};

}  // namespace nubrik
