#pragma once
// Integer arithmetic that raises the overflow error (6) instead of wrapping, for the
// 16-bit values of the frame drawing and the 32-bit values of size computations.
#include <cstdint>
#include <limits>

#include "runtime/runtime_error.h"

namespace zorvani {

template <typename T>
T CheckedNarrow(std::int64_t value) {
  if (value < std::numeric_limits<T>::min() || value > std::numeric_limits<T>::max()) {
    Raise(kErrOverflow);
  }
  return static_cast<T>(value);
}

inline std::int16_t Add16(std::int16_t a, std::int16_t b) { return CheckedNarrow<std::int16_t>(std::int64_t{a} + b); }
inline std::int16_t Sub16(std::int16_t a, std::int16_t b) { return CheckedNarrow<std::int16_t>(std::int64_t{a} - b); }
inline std::int16_t Mul16(std::int16_t a, std::int16_t b) { return CheckedNarrow<std::int16_t>(std::int64_t{a} * b); }

inline std::int32_t Add32(std::int32_t a, std::int32_t b) { return CheckedNarrow<std::int32_t>(std::int64_t{a} + b); }
inline std::int32_t Mul32(std::int32_t a, std::int32_t b) { return CheckedNarrow<std::int32_t>(std::int64_t{a} * b); }

}  // namespace zorvani
