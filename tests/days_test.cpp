// The calendar reader: recurrence and time cases as libical expands them, and hostile
// calendar files whose bounds (time, memory) are the behaviour. The Windows build has
// no reader yet.
#ifndef _WIN32
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "days/days.h"

namespace zorvani::days {
namespace {

std::string Calendar(const std::string& body) {
  return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//EN\r\n" + body + "END:VCALENDAR\r\n";
}

std::string Event(const std::string& lines) { return "BEGIN:VEVENT\r\nUID:e\r\n" + lines + "END:VEVENT\r\n"; }

std::vector<int> Days(std::uint32_t bits) {
  std::vector<int> days;
  for (int d = 1; d <= 31; ++d)
    if ((bits >> d & 1u) != 0) days.push_back(d);
  return days;
}

// The zone this process's clock shows, for one row.
struct ZoneGuard {
  explicit ZoneGuard(const char* zone) {
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ZoneGuard() {
    unsetenv("TZ");
    tzset();
  }
};

struct Case {
  const char* name;
  std::string body;
  int year, month;
  const char* zone;
  std::vector<int> days;
};

TEST(CalendarDays, RecurrenceAndTimesAsLibicalExpandsThem) {
  const std::string weekly = "DTSTART;VALUE=DATE:20260105\r\nRRULE:FREQ=WEEKLY;BYDAY=MO;UNTIL=20260131\r\n";
  const std::string leap = "DTSTART;VALUE=DATE:20240229\r\nRRULE:FREQ=YEARLY\r\n";
  const std::string lateUtc = "DTSTART:20260315T233000Z\r\nDTEND:20260315T234500Z\r\n";
  const Case cases[] = {
      {"weekly with EXDATE", Event(weekly + "EXDATE;VALUE=DATE:20260119\r\n"), 2026, 1, "UTC", {5, 12, 26}},
      {"last Friday of each month", Event("DTSTART:20260130T090000\r\nRRULE:FREQ=MONTHLY;BYDAY=-1FR\r\n"), 2026, 5,
       "UTC", {29}},
      {"over a month's end", Event("DTSTART;VALUE=DATE:20260129\r\nDTEND;VALUE=DATE:20260203\r\n"), 2026, 2, "UTC",
       {1, 2}},
      {"all-day, DTEND day unmarked", Event("DTSTART;VALUE=DATE:20260310\r\nDTEND;VALUE=DATE:20260311\r\n"), 2026, 3,
       "UTC", {10}},
      {"29 February, leap year", Event(leap), 2028, 2, "UTC", {29}},
      {"29 February, common year", Event(leap), 2026, 2, "UTC", {}},
      {"23:30 UTC in Berlin", Event(lateUtc), 2026, 3, "Europe/Berlin", {16}},
      {"23:30 UTC in New York", Event(lateUtc), 2026, 3, "America/New_York", {15}},
      // 18:30 in New York is after midnight in Berlin until the US moves its clocks on 8 March.
      {"a daylight-saving change",
       Event("DTSTART;TZID=America/New_York:20260306T183000\r\nRRULE:FREQ=DAILY;COUNT=4\r\n"), 2026, 3,
       "Europe/Berlin", {7, 8, 9}},
      {"RECURRENCE-ID moved to another day",
       Event("DTSTART;VALUE=DATE:20260602\r\nRRULE:FREQ=WEEKLY;COUNT=4\r\n") +
           Event("RECURRENCE-ID;VALUE=DATE:20260609\r\nDTSTART;VALUE=DATE:20260611\r\n"),
       2026, 6, "UTC", {2, 11, 16, 23}},
      {"COUNT counted from DTSTART", Event("DTSTART;VALUE=DATE:20260101\r\nRRULE:FREQ=DAILY;COUNT=40\r\n"), 2026, 2,
       "UTC", {1, 2, 3, 4, 5, 6, 7, 8, 9}},
      {"no end, a year on", Event("DTSTART:20250101T120000Z\r\nRRULE:FREQ=HOURLY;BYHOUR=12;BYMONTHDAY=3\r\n"), 2026,
       4, "UTC", {3}},
  };
  for (const Case& c : cases) {
    const ZoneGuard zone(c.zone);
    std::uint32_t bits = 0;
    EXPECT_TRUE(CalendarDays(Calendar(c.body), c.year, c.month, &bits)) << c.name;
    EXPECT_EQ(Days(bits), c.days) << c.name;
  }
}

// A holiday's name as a feed gives it, made safe to print: plain text, bounded.
TEST(CalendarDays, HolidayNamesAreShownAsBoundedPlainText) {
  const struct {
    const char* name;
    std::string summary, shown;
  } rows[] = {
      {"escaped comma and accents", "Fête nationale\\, Suisse", "Fête nationale, Suisse"},
      {"markup kept as text", "<b>Tag</b> &amp;", "<b>Tag</b> &amp;"},
      {"bad UTF-8 and controls dropped", "A\xff\xc0\x80\x1b[31mB\xe2\x80\xae" "C", "A [31mB C"},
      {"bounded at a character", std::string(63, 'x') + "\xc3\xa9 more", std::string(63, 'x')},
  };
  for (const auto& row : rows) {
    std::uint32_t bits = 0;
    DayNames names;
    const std::string text =
        Calendar("BEGIN:VEVENT\r\nUID:n\r\nDTSTART;VALUE=DATE:20260801\r\nSUMMARY:" + row.summary + "\r\nEND:VEVENT\r\n");
    EXPECT_TRUE(CalendarDays(text, 2026, 8, &bits, &names)) << row.name;
    EXPECT_EQ(names[1], row.shown) << row.name;
    EXPECT_TRUE(names[2].empty()) << row.name;
  }
}

// Runs the reader on one file in a child with a deadline. Its exit status: the memory it
// grew by, in MiB, plus 128 when it marked 2 January.
int ReadInChild(const std::string& path, std::chrono::milliseconds deadline, int* status) {
  const pid_t pid = fork();
  if (pid == 0) {
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    const MonthMarks marks = MarkedDays({Source{Kind::Event, std::nullopt, path}}, 2026, 1);
    getrusage(RUSAGE_SELF, &after);
    _exit((marks.day[2].event ? 128 : 0) + static_cast<int>(std::min(127L, (after.ru_maxrss - before.ru_maxrss) / 1024)));
  }
  int raw = 0;
  for (const auto end = std::chrono::steady_clock::now() + deadline; waitpid(pid, &raw, WNOHANG) == 0;) {
    if (std::chrono::steady_clock::now() >= end) {
      kill(pid, SIGKILL), waitpid(pid, &raw, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return WIFEXITED(raw) ? 0 : 128 + WTERMSIG(raw);
}

TEST(CalendarDays, HostileFilesEndInTimeAndInBoundedMemory) {
  const std::string path = ::testing::TempDir() + "hostile.ics";
  const std::string jan2 = "DTSTART;VALUE=DATE:20260102\r\n";
  struct Row {
    const char* name;
    std::string text;
    std::size_t padTo;  // a sparse file of this size instead
    bool marks;         // 2 January marked
  } rows[] = {
      {"100 MB file, refused before parsing", Calendar(Event(jan2)), 100u << 20, false},
      {"COUNT=1000000000", Calendar(Event("DTSTART;VALUE=DATE:19700101\r\nRRULE:FREQ=DAILY;COUNT=1000000000\r\n")), 0, true},
      {"no end, never matching", Calendar(Event("DTSTART:19700101T000000Z\r\nRRULE:FREQ=SECONDLY;BYMONTH=2;BYMONTHDAY=30\r\n")), 0, false},
      {"deep nesting", std::string(), 0, false},
      {"bad UTF-8", Calendar(Event("SUMMARY:\xff\xfe\xc0\x80\r\n" + jan2)), 0, true},
      {"a line without a colon", Calendar(Event("no colon here\r\n" + jan2)), 0, true},
  };
  for (int i = 0; i < 200000; ++i) rows[3].text += "BEGIN:VEVENT\r\n";
  for (const Row& row : rows) {
    {
      std::ofstream out(path, std::ios::binary | std::ios::trunc);
      out << row.text;
    }
    if (row.padTo != 0) ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(row.padTo)), 0);
    int status = -1;
    EXPECT_EQ(ReadInChild(path, std::chrono::seconds(2), &status), 0) << row.name << ": killed or past 2 s";
    EXPECT_EQ(status >= 128, row.marks) << row.name;
    EXPECT_LE(status % 128, 64) << row.name << ": MiB grown";
  }
  std::remove(path.c_str());
}

}  // namespace
}  // namespace zorvani::days
#endif
