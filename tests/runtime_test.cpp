// Rounding, checked arithmetic and number parsing: the conversions every
// configuration value and frame coordinate goes through.
#include <gtest/gtest.h>

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

TEST(Rounding, HalvesGoToTheEvenNeighbour) {
  EXPECT_EQ(RoundToInt16(1.5), 2);
  EXPECT_EQ(RoundToInt16(2.5), 2);
  EXPECT_EQ(RoundToInt16(3.5), 4);
  EXPECT_EQ(RoundToInt16(-2.5), -2);
  EXPECT_EQ(RoundToInt16(-3.5), -4);
  EXPECT_EQ(RoundToInt16(254.5), 254);
  EXPECT_EQ(RoundToInt16(255.5), 256);
  EXPECT_EQ(RoundToInt16(2.4999999), 2);
  EXPECT_EQ(RoundToInt16(2.5000001), 3);
}

TEST(Rounding, OutsideSixteenBitsOrNotFiniteIsOverflow) {
  EXPECT_EQ(RoundToInt16(32767.4), 32767);
  EXPECT_EQ(RoundToInt16(-32768.5), -32768);  // -32768.5 rounds to the even -32768
  EXPECT_EQ(ErrorOf([] { RoundToInt16(32767.5); }), kErrOverflow);
  EXPECT_EQ(ErrorOf([] { RoundToInt16(-32769.0); }), kErrOverflow);
  EXPECT_EQ(ErrorOf([] { RoundToInt16(40000); }), kErrOverflow);
  EXPECT_EQ(ErrorOf([] { RoundToInt16(std::numeric_limits<double>::infinity()); }), kErrOverflow);
  EXPECT_EQ(ErrorOf([] { RoundToInt16(std::numeric_limits<double>::quiet_NaN()); }), kErrOverflow);
}

TEST(CheckedMath, RaisesOverflowInsteadOfWrapping) {
  EXPECT_EQ(Mul16(3, 10922), 32766);
  EXPECT_EQ(ErrorOf([] { Mul16(3, 10923); }), kErrOverflow);
  EXPECT_EQ(ErrorOf([] { Add16(32767, 1); }), kErrOverflow);
  EXPECT_EQ(ErrorOf([] { Sub16(-32768, 1); }), kErrOverflow);
  EXPECT_EQ(Add32(2147483644, 3), 2147483647);
  EXPECT_EQ(ErrorOf([] { Add32(2147483645, 3); }), kErrOverflow);
  EXPECT_EQ(ErrorOf([] { Mul32(715827883, 3); }), kErrOverflow);
}

TEST(TextToDouble, ReadsPlainAndLocaleNumbers) {
  EXPECT_EQ(TextToDouble("10000000000", "."), 10000000000.0);
  EXPECT_EQ(TextToDouble("-12.5", "."), -12.5);
  EXPECT_EQ(TextToDouble("+3", "."), 3.0);
  EXPECT_EQ(TextToDouble("1.5E3", "."), 1500.0);
  EXPECT_EQ(TextToDouble("2,25", ","), 2.25);
  EXPECT_EQ(TextToDouble(".5", "."), 0.5);
  EXPECT_EQ(TextToDouble("1e-400", "."), 0.0);
}

TEST(TextToDouble, RejectsWhatIsNoNumber) {
  for (const char* text : {"", "abc", "12a", "1.5", "-", "1e", "1 2", "0x10", "nan", "inf"}) {
    EXPECT_EQ(ErrorOf([&] { TextToDouble(text, ","); }), kErrTypeMismatch) << text;
  }
  EXPECT_EQ(ErrorOf([] { TextToDouble("1e400", "."); }), kErrOverflow);
}

TEST(RunTimeErrorReport, NamesTheNumberAndTheDescription) {
  const RuntimeError error(13, "ZorvaniWallpaper", "Type mismatch");
  EXPECT_EQ(RunTimeErrorReport(error), "Run-time error '13':\n\nType mismatch");
}

}  // namespace
}  // namespace zorvani
