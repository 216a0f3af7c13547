// Internal header: the engine's own, not installed (see cmake/install.cmake).
#pragma once

// A signed 128-bit integer for the few exact products that 64 bits cannot
// hold (rotated drawing's setup). Written with 64-bit halves rather than a
// compiler's own 128-bit type, which 32-bit targets lack: every platform
// runs this same code and gets the same bits.

#include <cstdint>

namespace nubrik {

struct Int128 {
  uint64_t lo = 0;
  int64_t hi = 0;  // two's complement: the value is hi * 2^64 + lo

  constexpr Int128() = default;
  constexpr Int128(int64_t v) : lo(static_cast<uint64_t>(v)), hi(v < 0 ? -1 : 0) {}
  static constexpr Int128 fromParts(int64_t high, uint64_t low) {
    Int128 r;
    r.hi = high;
    r.lo = low;
    return r;
  }

  constexpr bool isNegative() const { return hi < 0; }

  friend constexpr Int128 operator+(Int128 a, Int128 b) {
    const uint64_t lo = a.lo + b.lo;
    const uint64_t carry = lo < a.lo ? 1 : 0;
    return fromParts(
        static_cast<int64_t>(static_cast<uint64_t>(a.hi) + static_cast<uint64_t>(b.hi) + carry),
        lo);
  }
  friend constexpr Int128 operator-(Int128 a) {
    const uint64_t lo = ~a.lo + 1;
    const uint64_t hi = ~static_cast<uint64_t>(a.hi) + (lo == 0 ? 1 : 0);
    return fromParts(static_cast<int64_t>(hi), lo);
  }
  friend constexpr Int128 operator-(Int128 a, Int128 b) { return a + -b; }

  friend constexpr bool operator==(Int128 a, Int128 b) { return a.hi == b.hi && a.lo == b.lo; }
  friend constexpr bool operator<(Int128 a, Int128 b) {
    return a.hi < b.hi || (a.hi == b.hi && a.lo < b.lo);
  }
  friend constexpr bool operator>(Int128 a, Int128 b) { return b < a; }
  friend constexpr bool operator<=(Int128 a, Int128 b) { return !(b < a); }
  friend constexpr bool operator>=(Int128 a, Int128 b) { return !(a < b); }

  // Floor(value / 2^n), 0 <= n < 64.
  constexpr Int128 shiftedRight(int n) const {
    if (n == 0) return *this;
    return fromParts(hi >> n, (lo >> n) | (static_cast<uint64_t>(hi) << (64 - n)));
  }

  // The value when it lies in [low, high], otherwise the nearer bound.
  constexpr int64_t clamped(int64_t low, int64_t high) const {
    if (*this < Int128(low)) return low;
    if (*this > Int128(high)) return high;
    return static_cast<int64_t>(lo);
  }
};

// The exact product of two 64-bit integers.
constexpr Int128 multiplyWide(int64_t a, int64_t b) {
  const bool negative = (a < 0) != (b < 0);
  const uint64_t x = a < 0 ? 0 - static_cast<uint64_t>(a) : static_cast<uint64_t>(a);
  const uint64_t y = b < 0 ? 0 - static_cast<uint64_t>(b) : static_cast<uint64_t>(b);
  const uint64_t x0 = x & 0xFFFFFFFFu, x1 = x >> 32, y0 = y & 0xFFFFFFFFu, y1 = y >> 32;
  const uint64_t p00 = x0 * y0, p01 = x0 * y1, p10 = x1 * y0, p11 = x1 * y1;
  const uint64_t middle = (p00 >> 32) + (p01 & 0xFFFFFFFFu) + (p10 & 0xFFFFFFFFu);
  const uint64_t lo = (middle << 32) | (p00 & 0xFFFFFFFFu);
  const uint64_t hi = p11 + (p01 >> 32) + (p10 >> 32) + (middle >> 32);
  const Int128 magnitude = Int128::fromParts(static_cast<int64_t>(hi), lo);
  return negative ? -magnitude : magnitude;
}

// Floor(n / d) for d from 1 to 2^32 - 1.
constexpr Int128 divideFloor(Int128 n, uint32_t d) {
  const bool negative = n.isNegative();
  const Int128 magnitude = negative ? -n : n;
  // Long division of the magnitude's four 32-bit limbs.
  const uint64_t limbs[4] = {static_cast<uint64_t>(magnitude.hi) >> 32,
                             static_cast<uint64_t>(magnitude.hi) & 0xFFFFFFFFu, magnitude.lo >> 32,
                             magnitude.lo & 0xFFFFFFFFu};
  uint64_t quotient[4] = {};
  uint64_t remainder = 0;
  for (int i = 0; i < 4; ++i) {
    const uint64_t part = (remainder << 32) | limbs[i];
    quotient[i] = part / d;
    remainder = part % d;
  }
  const Int128 q = Int128::fromParts(static_cast<int64_t>((quotient[0] << 32) | quotient[1]),
                                     (quotient[2] << 32) | quotient[3]);
  // A negative numerator's floor is -ceil(|n| / d).
  if (!negative) return q;
  return -(remainder != 0 ? q + Int128(1) : q);
}

// Round(n / d) for d from 1 to 2^32 - 1, halves up: floor((2n + d) / (2d)),
// which is floor(floor((2n + d) / d) / 2).
constexpr Int128 divideRounded(Int128 n, uint32_t d) {
  return divideFloor(n + n + Int128(int64_t{d}), d).shiftedRight(1);
}

}  // namespace nubrik
