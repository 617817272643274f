#include "runtime/rounding.h"

#include <cmath>

#include "runtime/runtime_error.h"

namespace zorvani {

double RoundHalfEven(double value) {
  // nearbyint follows the current rounding mode, which is round-to-nearest-even
  // unless someone changed it; do it by hand so nothing outside can.
  const double floor = std::floor(value);
  const double diff = value - floor;
  if (diff < 0.5) return floor;
  if (diff > 0.5) return floor + 1.0;
  return std::fmod(floor, 2.0) == 0.0 ? floor : floor + 1.0;
}

std::int16_t RoundToInt16(double value) {
  if (!std::isfinite(value)) Raise(kErrOverflow);
  const double rounded = RoundHalfEven(value);
  if (rounded < -32768.0 || rounded > 32767.0) Raise(kErrOverflow);
  return static_cast<std::int16_t>(rounded);
}

}  // namespace zorvani
