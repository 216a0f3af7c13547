#include "nubrik/sprite/fixed_angle.h"

#include <cmath>
#include <sstream>
#include <stdexcept>

namespace nubrik {

uint32_t angleUnits(double degrees) {
  if (!std::isfinite(degrees)) {
    std::ostringstream message;
    message << "the angle " << degrees << " is not a finite number of degrees";
    throw std::invalid_argument(message.str());
  }
  // fmod is exact, and scaling by a power of two is exact: the rounding is
  // the only inexact step, and it is the same everywhere.
  const double reduced = std::fmod(degrees, 360.0) * kAngleUnitsPerDegree;
  int64_t units = std::llround(reduced);
  if (units < 0) units += kAngleUnitsPerTurn;
  if (units >= int64_t{kAngleUnitsPerTurn}) units -= kAngleUnitsPerTurn;
  return static_cast<uint32_t>(units);
}

namespace {

// pi / (180 * 65536) radians a unit, times 2^63: the angle in radians in
// units of 2^-31 is (units * kRadians + 2^31) >> 32.
constexpr uint64_t kRadians = 2456332552788u;

// 1 - x^2 / (n (n - 1)) * t, in units of 2^-31, rounded: one Horner step of
// the Taylor series.
constexpr uint64_t hornerStep(uint64_t x2, uint64_t t, uint64_t n) {
  const uint64_t d = n * (n - 1);
  return (uint64_t{1} << 31) - ((((x2 * t + (uint64_t{1} << 30)) >> 31) + d / 2) / d);
}

// Sine and cosine of up to 45 degrees from their Taylor series to the 13th
// and 14th powers, whose remainders there are below 2^-40.
FixedSineCosine eighthSineCosine(uint32_t units) {
  const uint64_t x = (units * kRadians + (uint64_t{1} << 31)) >> 32;  // radians, 2^-31
  const uint64_t x2 = (x * x + (uint64_t{1} << 30)) >> 31;
  uint64_t t = uint64_t{1} << 31;
  for (uint64_t n : {13, 11, 9, 7, 5, 3}) t = hornerStep(x2, t, n);
  const uint64_t sine = (((x * t + (uint64_t{1} << 30)) >> 31) + 1) >> 1;
  t = uint64_t{1} << 31;
  for (uint64_t n : {14, 12, 10, 8, 6, 4, 2}) t = hornerStep(x2, t, n);
  const uint64_t cosine = (t + 1) >> 1;
  return {static_cast<int32_t>(sine), static_cast<int32_t>(cosine)};
}

}  // namespace

FixedSineCosine quarterSineCosine(uint32_t units) {
  if (units <= kAngleUnitsPerQuarter / 2) return eighthSineCosine(units);
  const FixedSineCosine complement = eighthSineCosine(kAngleUnitsPerQuarter - units);
  return {complement.cosine, complement.sine};
}

}  // namespace nubrik
