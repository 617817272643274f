#pragma once
// Conversion of a double to a 16-bit integer: nearest integer, halves to the even
// neighbour (2.5 gives 2, 3.5 gives 4), overflow error outside -32768..32767.
#include <cstdint>

namespace zorvani {

std::int16_t RoundToInt16(double value);

// Nearest integer with halves to even, no range check (the caller narrows).
double RoundHalfEven(double value);

}  // namespace zorvani
