// Start-up's folder derivation and the daily check driven by an injected clock.
#include <gtest/gtest.h>

#include "app/instance_checker.h"
#include "general/general.h"
#include "platform/services.h"
#include "fakes/scripted_clock.h"
#include "fakes/services_guard.h"

namespace zorvani {
namespace {

TEST(BaseDirFromCommandLine, CutsAtTheLastSeparatorOrInsideLeadingQuotes) {
  const struct {
    const char* commandLine;
    char separator;
    const char* baseDir;
  } cases[] = {
      {"C:\\Apps\\Cal\\wall.exe", '\\', "C:\\Apps\\Cal\\"},
      // Arguments are searched too: the last backslash may lie inside them.
      {"C:\\Apps\\wall.exe /log D:\\x\\y", '\\', "C:\\Apps\\wall.exe /log D:\\x\\"},
      {"C:\\Apps\\", '\\', "C:\\Apps\\"},
      {"%ProgramFiles%\\Cal\\wall.exe", '\\', "%ProgramFiles%\\Cal\\"},
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
      {"C:\\Apps\\wall.exe", '/', ""},
  };
  for (const auto& c : cases) EXPECT_EQ(BaseDirFromCommandLine(c.commandLine, c.separator), c.baseDir) << c.commandLine;
}

// A fake clock in place and a fresh LastDay for each test; the refresh is a stub
// that counts its calls and returns the status the test chooses.
class DailyCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::Current().clock = &clock;
    LastDay = LastMonth = LastYear = 0;
    refreshes = 0;
    nextStatus = 0;
  }
  void TearDown() override { LastDay = LastMonth = LastYear = 0; }

  static Status FakeRefresh() {
    ++refreshes;
    return nextStatus;
  }
  void Check() { CheckDayChange(FakeRefresh); }
  void SetDate(int year, int month, int day, int hour = 12) { clock.Set(testing::At(year, month, day, hour)); }

  testing::ServicesGuard guard;
  testing::ScriptedClock clock;
  static inline int refreshes = 0;
  static inline Status nextStatus = 0;
};

TEST_F(DailyCheck, FirstCheckRefreshesThenTheSameDayIsLeftAlone) {
  Check();
  EXPECT_EQ(refreshes, 1);
  EXPECT_EQ(LastDay, 5);
  for (int tick = 0; tick < 3; ++tick) Check();
  EXPECT_EQ(refreshes, 1);
  EXPECT_EQ(clock.readings(), 4);  // one reading per check
}

TEST_F(DailyCheck, MidnightAndClockChangesRefreshAtTheNextTick) {
  SetDate(2004, 3, 5, 23);
  Check();
  SetDate(2004, 3, 6, 0);
  Check();
  EXPECT_EQ(refreshes, 2);
  EXPECT_EQ(LastDay, 6);
  SetDate(2004, 3, 5);  // clock set back
  Check();
  EXPECT_EQ(refreshes, 3);
  EXPECT_EQ(LastDay, 5);
}

TEST_F(DailyCheck, AFailingRefreshIsRetriedAtEveryTickAndKeepsTheOlderDay) {
  Check();
  SetDate(2004, 3, 6);
  nextStatus = -1;
  for (int tick = 0; tick < 3; ++tick) Check();
  EXPECT_EQ(refreshes, 4);
  EXPECT_EQ(LastDay, 5);
  nextStatus = 0;
  Check();
  Check();
  EXPECT_EQ(refreshes, 5);
  EXPECT_EQ(LastDay, 6);
}

TEST_F(DailyCheck, TheSameDayNumberInAnotherMonthOrYearRefreshes) {
  Check();  // 5 March 2004
  SetDate(2004, 4, 5);  // resumed after a month's suspend
  Check();
  EXPECT_EQ(refreshes, 2);
  SetDate(2005, 4, 5);
  Check();
  EXPECT_EQ(refreshes, 3);
  EXPECT_EQ(LastDay, 5);
  EXPECT_EQ(LastMonth, 4);
  EXPECT_EQ(LastYear, 2005);
}

}  // namespace
}  // namespace zorvani
