#pragma once

#include <algorithm>
#include <cstdint>

namespace nubrik {

// A rectangle in surface or image coordinates, by its edges: left, top,
// right and bottom, the right and bottom ones exclusive. Braces read the
// same way, {left, top, right, bottom}; fromSize reads x, y, width, height.
struct Rect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;

  static constexpr Rect fromEdges(int32_t left, int32_t top, int32_t right, int32_t bottom) {
    return Rect{left, top, right, bottom};
  }
  // The `width` x `height` rectangle whose top-left pixel is (x, y); edges
  // past the end of 32 bits are cut there.
  static constexpr Rect fromSize(int32_t x, int32_t y, uint32_t width, uint32_t height) {
    return Rect{x, y, static_cast<int32_t>(std::min<int64_t>(int64_t{x} + width, INT32_MAX)),
                static_cast<int32_t>(std::min<int64_t>(int64_t{y} + height, INT32_MAX))};
  }

  // Only equality counts: a rectangle whose left exceeds its right is not
  // empty here, although it covers no pixel.
  constexpr bool isEmpty() const { return left == right || top == bottom; }
  // True when the rectangle covers at least one pixel.
  constexpr bool hasArea() const { return left < right && top < bottom; }
  constexpr bool operator==(const Rect&) const = default;
};

// A position in surface or image coordinates.
struct Point {
  int32_t x = 0;
  int32_t y = 0;
  constexpr bool operator==(const Point&) const = default;
};

// The clipping intersection: an empty operand does not restrict (so a clip of
// (0, 0, 0, 0) means "no clipping"), and rectangles that are apart give
// (0, 0, 0, 0). Touching rectangles give an empty, zero-width result.
constexpr Rect intersect(const Rect& a, const Rect& b) {
  if (a.isEmpty()) return b;
  if (b.isEmpty()) return a;
  if (b.left > a.right || b.right < a.left || b.top > a.bottom || b.bottom < a.top) return Rect{};
  return Rect{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
              std::min(a.bottom, b.bottom)};
}

// Whether two rectangles share at least one pixel.
constexpr bool overlaps(const Rect& a, const Rect& b) {
  return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

// Whether every pixel of `inner` lies in `outer`.
constexpr bool contains(const Rect& outer, const Rect& inner) {
  return outer.left <= inner.left && outer.top <= inner.top && outer.right >= inner.right &&
         outer.bottom >= inner.bottom;
}

// The smallest rectangle holding both.
constexpr Rect unite(const Rect& a, const Rect& b) {
  return Rect{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
              std::max(a.bottom, b.bottom)};
}

// The pixels a rectangle covers, in 64 bits.
constexpr int64_t area(const Rect& r) {
  return (int64_t{r.right} - r.left) * (int64_t{r.bottom} - r.top);
}

}  // namespace nubrik
