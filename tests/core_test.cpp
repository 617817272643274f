// The core's conversions and calendar: rounding, checked arithmetic and number parsing
// (every configuration value and frame coordinate goes through them), where today's cell
// lies in the Monday-first month grid, start-up's folder derivation, and the daily check
// driven by an injected clock.
#include <gtest/gtest.h>

#include <ctime>
#include <functional>
#include <limits>

#include "app/instance_checker.h"
#include "fakes/services.h"
#include "general/calendar_days.h"
#include "general/general.h"
#include "platform/services.h"
#include "runtime/checked_math.h"
#include "runtime/rounding.h"
#include "runtime/runtime_error.h"
#include "runtime/text_number.h"

namespace zorvani {
namespace {

std::int32_t ErrorOf(const std::function<void()>& f) try {
  return f(), 0;
} catch (const RuntimeError& e) {
  return e.number();
}

TEST(Rounding, HalvesGoToTheEvenNeighbourAndSixteenBitsAreChecked) {
  const double halves[][2] = {{1.5, 2}, {2.5, 2}, {3.5, 4}, {-2.5, -2}, {-3.5, -4}, {254.5, 254}, {255.5, 256},
                              {2.4999999, 2}, {2.5000001, 3}, {32767.4, 32767}, {-32768.5, -32768}};
  for (const auto& h : halves) EXPECT_EQ(RoundToInt16(h[0]), h[1]) << h[0];
  for (double bad : {32767.5, -32769.0, 40000.0, std::numeric_limits<double>::infinity(),
                     std::numeric_limits<double>::quiet_NaN()})
    EXPECT_EQ(ErrorOf([=] { RoundToInt16(bad); }), kErrOverflow) << bad;
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
  for (const char* text : {"", "abc", "12a", "1.5", "-", "1e", "1 2", "0x10", "nan", "inf"})
    EXPECT_EQ(ErrorOf([&] { TextToDouble(text, ","); }), kErrTypeMismatch) << text;
  EXPECT_EQ(ErrorOf([] { TextToDouble("1e400", "."); }), kErrOverflow);
}

TEST(BaseDirFromCommandLine, CutsAtTheLastSeparatorOrInsideLeadingQuotes) {
  const struct { const char* commandLine; char separator; const char* baseDir; } cases[] = {
      {"C:\\Apps\\Cal\\wall.exe", '\\', "C:\\Apps\\Cal\\"},
      // Arguments are searched too: the last backslash may lie inside them.
      {"C:\\Apps\\wall.exe /log D:\\x\\y", '\\', "C:\\Apps\\wall.exe /log D:\\x\\"},
      {"wall.exe", '\\', ""},
      {"", '\\', ""},
      {"C:/Apps/Cal/wall.exe", '\\', ""},
      // A quoted path (one with spaces) is cut inside its quotes, whatever follows.
      {"\"C:\\Program Files\\Cal\\wall.exe\"", '\\', "C:\\Program Files\\Cal\\"},
      {"\"C:\\Program Files\\Cal\\wall.exe\" /x D:\\y\\z", '\\', "C:\\Program Files\\Cal\\"},
      {"\"C:\\Program Files\\Cal\\wall.exe", '\\', "C:\\Program Files\\Cal\\"},
      {"\"wall.exe\" C:\\x\\", '\\', ""},
      {"\"", '\\', ""},
      {"/opt/zorvani/zorvani-wallpaper", '/', "/opt/zorvani/"},
      {"\"/home/a b/cal/zorvani-wallpaper\" --x /y/z", '/', "/home/a b/cal/"},
  };
  for (const auto& c : cases) EXPECT_EQ(BaseDirFromCommandLine(c.commandLine, c.separator), c.baseDir) << c.commandLine;
}

// The daily check over a script of dates; the refresh is a stub that counts its calls
// and returns the status each step chooses.
TEST(DailyCheck, RefreshesOncePerNewDateAndRetriesAFailureAtEveryTick) {
  testing::ServicesGuard guard;
  testing::ScriptedClock clock;
  platform::Current().clock = &clock;
  LastDay = LastMonth = LastYear = 0;
  static int refreshes = 0;
  static Status status = 0;
  const struct { int year, month, day, hour; Status status; int ticks, refreshes, lastDay; const char* what; } steps[] = {
      {2004, 3, 5, 12, 0, 4, 1, 5, "the first check refreshes, then the same day is left alone"},
      {2004, 3, 5, 23, 0, 1, 1, 5, "later that day"},
      {2004, 3, 6, 0, 0, 1, 2, 6, "midnight"},
      {2004, 3, 5, 12, 0, 1, 3, 5, "the clock set back"},
      {2004, 3, 6, 12, -1, 3, 6, 5, "a failing refresh is retried at every tick and keeps the older day"},
      {2004, 3, 6, 12, 0, 2, 7, 6, "until one succeeds"},
      {2004, 4, 6, 12, 0, 1, 8, 6, "the same day number a month later (resumed after a suspend)"},
      {2005, 4, 6, 12, 0, 1, 9, 6, "and a year later"},
  };
  int ticks = 0;
  for (const auto& s : steps) {
    clock.Set(testing::At(s.year, s.month, s.day, s.hour));
    status = s.status;
    for (int i = 0; i < s.ticks; ++i, ++ticks) CheckDayChange([] { return ++refreshes, status; });
    EXPECT_EQ(refreshes, s.refreshes) << s.what;
    EXPECT_EQ(LastDay, s.lastDay) << s.what;
  }
  EXPECT_EQ(LastMonth, 4);
  EXPECT_EQ(LastYear, 2005);
  EXPECT_EQ(clock.readings(), ticks);  // one reading per check
  LastDay = LastMonth = LastYear = 0;
}

// Every day from 1970 to 2100 against the C library's calendar (noon, clear of daylight
// saving): the first's weekday and the day give the cell of a Monday-first grid, and of a
// Sunday-first one.
TEST(CalendarCell, MatchesTheCLibrarysCalendar) {
  const auto noon = [](int year, int month, int day) {
    std::tm t{};
    t.tm_year = year - 1900, t.tm_mon = month - 1, t.tm_mday = day, t.tm_hour = 12, t.tm_isdst = -1;
    return std::mktime(&t), t;
  };
  for (int year = 1970; year <= 2100; ++year) {
    for (int month = 1; month <= 12; ++month) {
      const std::tm first = noon(year, month, 1), last = noon(year, month + 1, 0);  // day 0: the month's last
      ASSERT_EQ(DaysInMonth(year, month), last.tm_mday) << year << "-" << month;
      for (int day = 1; day <= last.tm_mday; ++day) {
        const CalendarCell cell = CalendarCellOf(year, month, day);
        ASSERT_EQ(cell.row * 7 + cell.column, (first.tm_wday + 6) % 7 + day - 1) << year << "-" << month << "-" << day;
        ASSERT_LT(cell.column, 7);
        const CalendarCell sundayFirst = CalendarCellOf(year, month, day, 7);
        ASSERT_EQ(sundayFirst.row * 7 + sundayFirst.column, first.tm_wday + day - 1) << year << "-" << month << "-" << day;
      }
    }
  }
}

}  // namespace
}  // namespace zorvani
