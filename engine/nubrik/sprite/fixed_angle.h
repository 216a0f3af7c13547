#pragma once

#include <cstdint>

namespace nubrik {

// Angles as the rotated drawing rule uses them: whole units of 1/65536 of a
// degree, clockwise, 0 to one turn less a unit. Every common angle (whole
// degrees, halves, quarters) is exact, and the unit is small enough that no
// picture on a surface can show the rounding.
inline constexpr uint32_t kAngleUnitsPerDegree = 65536;
inline constexpr uint32_t kAngleUnitsPerQuarter = 90 * kAngleUnitsPerDegree;
inline constexpr uint32_t kAngleUnitsPerTurn = 360 * kAngleUnitsPerDegree;

// `degrees` taken modulo 360 into [0, 360) and rounded to the nearest unit
// (halves away from zero). Exact in double arithmetic on every platform.
// Throws std::invalid_argument naming the value when it is not finite.
uint32_t angleUnits(double degrees);
// The angle in degrees, exactly.
constexpr double angleDegrees(uint32_t units) { return units / double{kAngleUnitsPerDegree}; }

// Sine and cosine in units of 2^-30, computed with integer arithmetic only,
// so that they are the same bits on every processor and platform (the C
// library's are not). Within 2 units of the true values; exactly 0 and 2^30
// at 0 degrees.
struct FixedSineCosine {
  int32_t sine = 0;
  int32_t cosine = 1 << 30;
};
// For an angle from 0 up to, not including, a quarter turn.
FixedSineCosine quarterSineCosine(uint32_t units);

}  // namespace nubrik
