// Rounding, checked arithmetic and number parsing: the conversions every
// configuration value and frame coordinate goes through.
#include <gtest/gtest.h>

#include <functional>
#include <limits>

#include "runtime/checked_math.h"
#include "runtime/rounding.h"
#include "runtime/runtime_error.h"
#include "runtime/text_number.h"

namespace zorvani {
namespace {

std::int32_t ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const RuntimeError& e) {
    return e.number();
  }
  return 0;
}

TEST(Rounding, HalvesGoToTheEvenNeighbourAndSixteenBitsAreChecked) {
  const double halves[][2] = {{1.5, 2}, {2.5, 2}, {3.5, 4}, {-2.5, -2}, {-3.5, -4}, {254.5, 254}, {255.5, 256},
                              {2.4999999, 2}, {2.5000001, 3}, {32767.4, 32767}, {-32768.5, -32768}};
  for (const auto& h : halves) EXPECT_EQ(RoundToInt16(h[0]), h[1]) << h[0];
  for (double bad : {32767.5, -32769.0, 40000.0, std::numeric_limits<double>::infinity(),
                     std::numeric_limits<double>::quiet_NaN()}) {
    EXPECT_EQ(ErrorOf([=] { RoundToInt16(bad); }), kErrOverflow) << bad;
  }
}

TEST(CheckedMath, RaisesOverflowInsteadOfWrapping) {
  EXPECT_EQ(Mul16(3, 10922), 32766);
  EXPECT_EQ(ErrorOf([] { Mul16(3, 10923); }), kErrOverflow);
  EXPECT_EQ(ErrorOf([] { Add16(32767, 1); }), kErrOverflow);
  EXPECT_EQ(ErrorOf([] { Sub16(-32768, 1); }), kErrOverflow);
  EXPECT_EQ(ErrorOf([] { Add32(2147483645, 3); }), kErrOverflow);
  EXPECT_EQ(ErrorOf([] { Mul32(715827883, 3); }), kErrOverflow);
}

TEST(TextToDouble, ReadsTheLocaleFormAndRejectsTheRest) {
  const struct { const char *text, *point; double value; } good[] = {
      {"10000000000", ".", 10000000000.0}, {"-12.5", ".", -12.5}, {"+1.5E3", ".", 1500.0}, {"2,25", ",", 2.25}, {"1e-400", ".", 0.0}};
  for (const auto& g : good) EXPECT_EQ(TextToDouble(g.text, g.point), g.value) << g.text;
  for (const char* text : {"", "abc", "12a", "1.5", "-", "1e", "1 2", "0x10", "nan", "inf"}) {
    EXPECT_EQ(ErrorOf([&] { TextToDouble(text, ","); }), kErrTypeMismatch) << text;
  }
  EXPECT_EQ(ErrorOf([] { TextToDouble("1e400", "."); }), kErrOverflow);
}

}  // namespace
}  // namespace zorvani
