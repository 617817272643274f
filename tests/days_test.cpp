// The calendar reader: recurrence and time cases as libical expands them, and hostile
// calendar files whose bounds (time, memory) are the behaviour; published calendars
// fetched by the program's own child from a real HTTPS server (Linux).
#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#include <wincrypt.h>
#else
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/files.h"
#include "days/days.h"
#include "days/fetch.h"
#include "days/source_files.h"
#include "days/windows_zones.h"
#include "fakes/services.h"
#include "general/general.h"
#ifndef _WIN32
#include "common/process.h"
#endif

namespace zorvani::days {
namespace {

namespace fs = std::filesystem;

std::string Calendar(const std::string& body) {
  return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//EN\r\n" + body + "END:VCALENDAR\r\n";
}

std::string Event(const std::string& lines) { return "BEGIN:VEVENT\r\nUID:e\r\n" + lines + "END:VEVENT\r\n"; }

std::string Repeat(const std::string& text, int times) {
  std::string all;
  while (times-- > 0) all += text;
  return all;
}

std::vector<int> Days(std::uint32_t bits) {
  std::vector<int> days;
  for (int d = 1; d <= 31; ++d)
    if ((bits >> d & 1u) != 0) days.push_back(d);
  return days;
}

#ifdef _WIN32
// Wine takes the Windows zone from the host's TZ as a process starts: each zone's rows
// run in a run of their own (tests/CMakeLists.txt).
struct ZoneGuard {
  explicit ZoneGuard(const char*) {}
};
#else
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
#endif

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
      {"timed, ending at midnight", Event("DTSTART:20260310T220000Z\r\nDTEND:20260311T000000Z\r\n"), 2026, 3, "UTC", {10}},
      {"timed, over midnight", Event("DTSTART:20260310T220000Z\r\nDTEND:20260311T020000Z\r\n"), 2026, 3, "UTC", {10, 11}},
      {"weekly, its last one running into the month",
       Event("DTSTART;VALUE=DATE:20260121\r\nDTEND;VALUE=DATE:20260203\r\nRRULE:FREQ=WEEKLY;UNTIL=20260128\r\n"), 2026, 2,
       "UTC", {1, 2, 3, 4, 5, 6, 7, 8, 9}},
      {"all-day, DTEND day unmarked", Event("DTSTART;VALUE=DATE:20260310\r\nDTEND;VALUE=DATE:20260311\r\n"), 2026, 3,
       "UTC", {10}},
      {"29 February, leap year", Event(leap), 2028, 2, "UTC", {29}},
      {"29 February, common year", Event(leap), 2026, 2, "UTC", {}},
      {"23:30 UTC in Berlin", Event(lateUtc), 2026, 3, "Europe/Berlin", {16}},
      {"23:30 UTC in New York", Event(lateUtc), 2026, 3, "America/New_York", {15}},
      {"23:30 floating, in Berlin as written", Event("DTSTART:20260315T233000\r\n"), 2026, 3, "Europe/Berlin", {15}},
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
      // 20:00 in New York is the next day in Berlin.
      {"RDATE in a zone and as a period, less an EXDATE",
       Event("DTSTART;TZID=America/New_York:20260105T200000\r\nRDATE;TZID=America/New_York:20260107T200000,"
             "20260114T200000\r\nRDATE;VALUE=PERIOD:20260120T090000Z/PT1H\r\n"
             "EXDATE;TZID=America/New_York:20260114T200000\r\n"),
       2026, 1, "Europe/Berlin", {6, 8, 20}},
      {"no end, a year on", Event("DTSTART:20250101T120000Z\r\nRRULE:FREQ=HOURLY;BYHOUR=12;BYMONTHDAY=3\r\n"), 2026,
       4, "UTC", {3}},
      // Six walks of 20000 days spend the budget: what follows marks nothing, wherever the
      // reader parses it.
      {"the budget spent in the file's order",
       Repeat(Event("DTSTART;VALUE=DATE:19700101\r\nRRULE:FREQ=DAILY;COUNT=20000\r\n"), 6) + "X_EXPORTER:1\r\n" +
           Event("DTSTART;VALUE=DATE:20260105\r\n"),
       2026, 1, "UTC", {}},
  };
  // Windows' zone key names, as the user's zone reaches libical there; CLDR's old name
  // for Buenos Aires is one libical files under its current name.
  EXPECT_EQ(IanaZoneOfWindowsZone("W. Europe Standard Time"), "Europe/Berlin");
  EXPECT_EQ(IanaZoneOfWindowsZone("Argentina Standard Time"), "America/Argentina/Buenos_Aires");
  EXPECT_EQ(IanaZoneOfWindowsZone("Mars Standard Time"), "");
#ifdef _WIN32
  const char* only = std::getenv("TZ");
  if (only == nullptr) only = "";
#endif
  for (const Case& c : cases) {
#ifdef _WIN32
    if (std::string(c.zone) != only) continue;
#endif
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
      {"the day's first event named, the second's BEGIN folded",
       "first\r\nEND:VEVENT\r\nBEGIN:VEV\r\n ENT\r\nUID:m\r\nDTSTART;VALUE=DATE:20260801\r\nSUMMARY:second", "first"},
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
  // Two holiday calendars: each day keeps the first name it has, and a day named by
  // neither stays unnamed; an events calendar names nothing.
  const testing_files::TempFolder folder;
  const auto named = [&](const char* file, const char* day, const char* summary) {
    testing_files::WriteFile(folder / file, Calendar(Event("DTSTART;VALUE=DATE:202608" + std::string(day) + "\r\nSUMMARY:" + summary + "\r\n")));
    return (folder / file).string();
  };
  const DayNames names = HolidayNames({{Kind::Holiday, std::nullopt, named("a.ics", "01", "first")},
                                       {Kind::Holiday, std::nullopt, named("b.ics", "02", "second")},
                                       {Kind::Event, std::nullopt, named("c.ics", "03", "an event")}}, 2026, 8);
  EXPECT_EQ((std::vector<std::string>{names[1], names[2], names[3]}), (std::vector<std::string>{"first", "second", ""}));
  // A day two calendars mark keeps the colour of the first.
  const MonthMarks marks = MarkedDays({{Kind::Holiday, Colour{255, 0, 0}, named("a.ics", "01", "first")},
                                       {Kind::Holiday, Colour{0, 0, 255}, named("d.ics", "01", "again")}}, 2026, 8);
  EXPECT_TRUE(marks.day[1].holidayColour == (Colour{255, 0, 0}));
}

#ifndef _WIN32
// Runs the reader on one file in a child with a deadline. Its exit status: the memory it
// grew by, in MiB, plus 128 when it marked 2 January. With moved, the child first marks
// the month in UTC, and then its zone moves to Tokyo under it, as a changed /etc/localtime
// does to a running program.
int ReadInChild(const std::string& path, std::chrono::milliseconds deadline, int* status, int month = 1,
                bool moved = false) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (moved) {
      setenv("TZ", "UTC", 1), tzset();
      MarkedDays({Source{Kind::Event, std::nullopt, path}}, 2026, month);
      setenv("TZ", "Asia/Tokyo", 1);
    }
#ifndef __SANITIZE_ADDRESS__
    // What an unbounded read takes within the deadline, held well short of the machine's.
    const rlimit data{std::size_t{512} << 20, std::size_t{512} << 20};
    setrlimit(RLIMIT_DATA, &data);
#endif
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    const MonthMarks marks = MarkedDays({Source{Kind::Event, std::nullopt, path}}, 2026, month);
    getrusage(RUSAGE_SELF, &after);
    _exit((marks.day[2].event ? 128 : 0) + static_cast<int>(std::min(127L, (after.ru_maxrss - before.ru_maxrss) / 1024)));
  }
  int raw = 0;
  for (const auto end = std::chrono::steady_clock::now() + deadline; waitpid(pid, &raw, WNOHANG) == 0;) {
    if (std::chrono::steady_clock::now() >= end) {
      kill(pid, SIGKILL), waitpid(pid, &raw, 0);
      *status = -1;  // no answer: never an earlier child's
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return WIFEXITED(raw) ? 0 : 128 + WTERMSIG(raw);
}

TEST(CalendarDays, HostileFilesEndInTimeAndInBoundedMemory) {
  // A folder of this run's own: another run of the suite beside this one writes its own.
  const testing_files::TempFolder folder;
  const std::string path = (folder / "hostile.ics").string();
  const std::string jan2 = "DTSTART;VALUE=DATE:20260102\r\n";
  struct Row {
    const char* name;
    std::string text;
    std::size_t padTo;  // a sparse file of this size instead
    bool marks;         // 2 January marked
    // Marks a first process kept for 2 January, then forged in their written form to 3
    // January, so a second process that takes them marks no 2 January. What it finds:
    // the "same" file, its time "later", another "month" (not forged), another "zone", the
    // kept file a "link", or "edited" to another form (its owner and bound: CalendarFetch's
    // rows); the calendar rewritten in place with 3 February, its size and its time set
    // "back" (not forged); or, the calendar left as it is, marks kept as the first one's
    // zone "moved" to Tokyo.
    const char* kept = nullptr;
  } rows[] = {
      {"100 MB file, refused before parsing", Calendar(Event(jan2)), 100u << 20, false},
      {"COUNT=1000000000", Calendar(Event("DTSTART;VALUE=DATE:19700101\r\nRRULE:FREQ=DAILY;COUNT=1000000000\r\n")), 0, true},
      {"no end, never matching", Calendar(Event("DTSTART:19700101T000000Z\r\nRRULE:FREQ=SECONDLY;BYMONTH=2;BYMONTHDAY=30\r\n")), 0, false},
      {"deep nesting", std::string(), 0, false},
      {"bad UTF-8", Calendar(Event("SUMMARY:\xff\xfe\xc0\x80\r\n" + jan2)), 0, true},
      {"a line without a colon", Calendar(Event("no colon here\r\n" + jan2)), 0, true},
      {"nested lower-case begin", Calendar(Repeat("begin:X\n", 700000) + Repeat("end:X\n", 700000)), 0, false},
      {"a line of 4 MiB", Calendar(Event(jan2 + "SUMMARY:" + std::string(4u << 20, 'x') + "\r\n")), 0, true},
      {"lines ending in CR only", "BEGIN:VCALENDAR\r" + Repeat("BEGIN:VEVENT\rUID:e\rDTSTART;VALUE=DATE:20260102\rEND:VEVENT\r", 40000) + "END:VCALENDAR\r", 0, true},
      {"a line of 20000 parameters", Calendar(Event(jan2 + "X-A" + Repeat(";P=x", 20000) + ":v\r\n")), 0, false},
      {"a zone changing every minute",
       Calendar("BEGIN:VTIMEZONE\r\nTZID:M\r\nBEGIN:STANDARD\r\nDTSTART:16010101T000000\r\nTZOFFSETFROM:+0100\r\n"
                "TZOFFSETTO:+0100\r\nRRULE:FREQ=MINUTELY\r\nEND:STANDARD\r\nEND:VTIMEZONE\r\n" +
                Event("DTSTART;TZID=M:20260102T120000\r\n")),
       0, true},
      {"1000 zones in use", std::string(), 0, true},
      // A file with no size of its own whose reading never ends: the bound is on what is read.
      {"a file longer than it says", "/proc/self/pagemap", 0, false},
      {"100,000 RDATEs", Calendar(Event(jan2 + Repeat("RDATE;VALUE=DATE:20260102\r\n", 100000))), 0, false},
      {"1,000,000 lines in the calendar", Calendar(Repeat("X-A:1\r\n", 1000000) + Event(jan2)), 0, false},
      {"100,000 zones", Calendar(Repeat("BEGIN:VTIMEZONE\r\nTZID:Z\r\nEND:VTIMEZONE\r\n", 100000) + Event(jan2)), 0, false},
      {"100,000 events in 6 MiB",
       Calendar(Repeat(Event("DTSTART;VALUE=DATE:20260615\r\n"), 100000) + Event(jan2)), 0, true},
      {"kept marks used, the calendar not parsed", Calendar(Event(jan2)), 0, false, "same"},
      {"kept marks, the calendar written since", Calendar(Event(jan2)), 0, true, "later"},
      {"kept marks, the calendar rewritten and its time set back", Calendar(Event(jan2)), 0, false, "back"},
      {"kept marks of another month", Calendar(Event(jan2)), 0, false, "month"},
      {"kept marks of another zone", Calendar(Event(jan2)), 0, true, "zone"},
      {"kept marks through a link", Calendar(Event(jan2)), 0, true, "link"},
      {"kept marks not as written", Calendar(Event(jan2)), 0, true, "edited"},
      {"kept marks of a zone moved while running", Calendar(Event("DTSTART:20260101T200000Z\r\n")), 0, true, "moved"},
  };
  for (int i = 0; i < 200000; ++i) rows[3].text += "BEGIN:VEVENT\r\n";
  for (int i = 0; i < 1000; ++i) {
    const std::string zone = "Z" + std::to_string(i);
    rows[11].text += "BEGIN:VTIMEZONE\r\nTZID:" + zone + "\r\nBEGIN:STANDARD\r\nDTSTART:16011028T030000\r\n"
                     "RRULE:FREQ=YEARLY;BYDAY=-1SU;BYMONTH=10\r\nTZOFFSETFROM:+0200\r\nTZOFFSETTO:+0100\r\n"
                     "END:STANDARD\r\nEND:VTIMEZONE\r\n" + Event("DTSTART;TZID=" + zone + ":20260102T120000\r\n");
  }
  rows[11].text = Calendar(rows[11].text);
  // No row's child keeps its marks in the user's own cache.
  const std::string cache = (folder / "kept-marks").string(), kept = cache + "/zorvani-wallpaper/month-marks";
  setenv("XDG_CACHE_HOME", cache.c_str(), 1);
  const auto touch = [&path](std::time_t time) {
    const timespec times[2] = {{time, 0}, {time, 0}};
    return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
  };
  for (const Row& row : rows) {
    const bool kernels = row.text.rfind("/proc/", 0) == 0;
    if (!kernels) {
      std::ofstream out(path, std::ios::binary | std::ios::trunc);
      out << row.text;
    }
    if (row.padTo != 0) ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(row.padTo)), 0);
    int status = -1;
#ifdef __SANITIZE_ADDRESS__  // three to five times slower, and a busy machine's: a hang's bound alone
    const std::chrono::seconds limit(30);
#else
    const std::chrono::seconds limit(2);
#endif
    const std::string how = row.kept != nullptr ? row.kept : "";
    if (!how.empty()) {
      fs::remove_all(cache);
      const std::time_t settled = std::time(nullptr) - 3600;
      ASSERT_TRUE(touch(settled));
      ASSERT_EQ(ReadInChild(path, limit, &status, 1, how == "moved"), 0) << row.name;
      ASSERT_TRUE(fs::is_regular_file(kept)) << row.name << ": nothing kept";
      if (how == "back") {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << Calendar(Event("DTSTART;VALUE=DATE:20260203\r\n"));
        ASSERT_TRUE(touch(settled));
      } else if (how != "month" && how != "moved") {
        std::string text = testing_files::ReadFile(kept);
        ASSERT_NE(text.find(" 00000004\n"), std::string::npos) << text;
        testing_files::WriteFile(kept, text.replace(text.find(" 00000004\n"), 10, how == "edited" ? " 8\n" : " 00000008\n"));
      }
      if (how == "later") ASSERT_TRUE(touch(settled + 1800));
      if (how == "link") fs::rename(kept, kept + ".real"), fs::create_symlink(kept + ".real", kept);
    }
    const std::unique_ptr<ZoneGuard> zone(how == "zone" || how == "moved" ? new ZoneGuard("Asia/Tokyo") : nullptr);
    EXPECT_EQ(ReadInChild(kernels ? row.text : path, limit, &status, how == "month" ? 2 : 1), 0)
        << row.name << ": killed or past the time";
    EXPECT_EQ(status >= 128, row.marks) << row.name;
#ifndef __SANITIZE_ADDRESS__  // the sanitizer pads every block and keeps freed ones in quarantine
    EXPECT_LE(status % 128, 64) << row.name << ": MiB grown";
#endif
  }
  unsetenv("XDG_CACHE_HOME");
}

#endif

int refreshes = 0;
// The refresh's part here: the day's marks, which the check then compares with.
Status CountRefresh() { return MarkedDays(2026, 12), ++refreshes, 0; }

#ifdef _WIN32
// Wine's CreateProcess starts the Unix server but gives no handle to end it: it ends
// itself when its folder gets a file named stop. Its output goes to files, never to the
// test runner's pipe, which it could outlive.
struct FeedServer {
  std::string folder;  // as Windows names it
  FeedServer(const std::string& unixFolder, const std::string& port) : folder("Z:" + unixFolder) {
    std::string command = "/bin/sh -c \"exec env PATH=/usr/bin:/bin python3 " ZORVANI_FEED_SERVER " " + unixFolder +
                          " " + port + " </dev/null >" + unixFolder + "/server.out 2>" + unixFolder + "/server.err\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION made{};
    if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &made))
      CloseHandle(made.hThread), CloseHandle(made.hProcess);
  }
  ~FeedServer() {
    testing_files::WriteFile(folder + "/stop", "");
    for (int i = 0; i < 200 && fs::exists(folder + "/stop"); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
};
void SetVariable(const char* name, const std::string& value) {
  SetEnvironmentVariableA(name, value.empty() ? nullptr : value.c_str());
}
// The file given to nobody by the host's chown, which Wine shows as another owner. Its
// handle cannot be waited on.
bool GiveAway(const std::string& path) {
  std::string command = "/bin/chown 65534 " + path.substr(2);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION made{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &made)) return false;
  return CloseHandle(made.hThread), CloseHandle(made.hProcess), true;
}
// The test's authority in the current user's Root store of the test's Wine prefix, for
// the test only (a real Windows would ask the user first).
bool TrustAuthority(const std::string& pem, bool trust) {
  BYTE der[8192];
  DWORD size = sizeof der;
  if (!CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, der, &size, nullptr,
                            nullptr))
    return false;
  const HCERTSTORE root = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, "Root");
  const PCCERT_CONTEXT made = CertCreateCertificateContext(X509_ASN_ENCODING, der, size);
  bool done = root != nullptr && made != nullptr;
  if (done && trust) done = CertAddCertificateContextToStore(root, made, CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  if (done && !trust) {
    const PCCERT_CONTEXT found = CertFindCertificateInStore(root, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, made, nullptr);
    done = found != nullptr && CertDeleteCertificateFromStore(found);
  }
  if (made != nullptr) CertFreeCertificateContext(made);
  // Closed, so that the round's child reads it from the registry.
  return root != nullptr && CertCloseStore(root, 0) && done;
}
#else
struct FeedServer : testing_files::Process {
  FeedServer(const std::string& folder, const std::string& port)
      : Process({"python3", ZORVANI_FEED_SERVER, folder, port}, testing_files::Env{}, folder + "/server") {}
};
void SetVariable(const char* name, const std::string& value) {
  if (value.empty()) unsetenv(name);
  else setenv(name, value.c_str(), 1);
}
bool GiveAway(const std::string& path) { return chown(path.c_str(), 65534, 65534) == 0; }  // root only
#endif

// The system log where the program writes it: syslog(3)'s socket, /dev/log, here one of
// the test's own that only the test and its children see (a mount namespace of the
// test's own, /dev overlaid). None where the test may not mount, nor under Wine.
struct LogSink {
#ifdef _WIN32
  explicit LogSink(const std::string&) {}
  bool Open() const { return false; }
  std::vector<std::string> Lines() { return {}; }
#else
  explicit LogSink(const std::string& folder) : folder(folder) {
    fs::create_directories(folder + "/upper"), fs::create_directories(folder + "/work");
    const std::string layers = "lowerdir=/dev,upperdir=" + folder + "/upper,workdir=" + folder + "/work";
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return;
    overlaid = mount("overlay", "/dev", "overlay", 0, layers.c_str()) == 0;
    const sockaddr_un address{AF_UNIX, "/dev/log"};
    socket_ = overlaid ? socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0) : -1;
    if (socket_ >= 0 && bind(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
      close(socket_), socket_ = -1;
  }
  ~LogSink() {
    if (socket_ >= 0) close(socket_);
    if (overlaid) umount2("/dev", MNT_DETACH);
    fs::remove_all(folder);
  }
  bool Open() const { return socket_ >= 0; }
  // What has come since the last call.
  std::vector<std::string> Lines() {
    std::vector<std::string> lines;
    char line[4096];
    for (ssize_t n; socket_ >= 0 && (n = recv(socket_, line, sizeof line, 0)) > 0;)
      lines.emplace_back(line, static_cast<std::size_t>(n));
    return lines;
  }
  const std::string folder;
  bool overlaid = false;
  int socket_ = -1;
#endif
};

// Rounds of the real program's --fetch-calendar child against tests/feed_server.py on
// 127.0.0.1, trusted through SSL_CERT_FILE (Linux) or the Wine prefix's Root store only,
// one round an hour by the scripted clock as the 5-second check runs them, and at once
// for a calendar added to the list. Every row ends with the last good copy cached and
// marked, a redraw only when it changed, one line in the system log a failure streak,
// and the check never held up.
TEST(CalendarFetch, EachRoundEndsWithTheLastGoodMarks) {
  const std::string made = "/tmp/zorvani-fetch-" + std::to_string(std::random_device()());
#ifdef _WIN32
  const std::string dir = "Z:" + made, cache = dir + "/local/ZorvaniWallpaper/Calendars";
  std::string program = "Z:" ZORVANI_FETCH_PROGRAM;
  for (char& c : program) c = c == '/' ? '\\' : c;
#else
  const std::string dir = made, cache = dir + "/cache/zorvani-wallpaper", program = ZORVANI_FETCH_PROGRAM;
#endif
  fs::create_directories(dir + "/local");
  const auto feed = [](int day) {
    return Calendar(Event("DTSTART;VALUE=DATE:202612" + std::to_string(day) + "\r\n"));
  };
  testing_files::WriteFile(dir + "/a.ics", feed(10));
  testing_files::WriteFile(dir + "/b.ics", feed(20));
  testing_files::WriteFile(dir + "/other.ics", feed(15));  // what a refused redirect leads to
  std::unique_ptr<FeedServer> server;
  std::string port = "0";
  const auto serve = [&] {
    std::remove((dir + "/port").c_str());
    server = std::make_unique<FeedServer>(made, port);
    for (int i = 0; i < 300 && testing_files::ReadFile(dir + "/port").empty(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    port = testing_files::ReadFile(dir + "/port");
  };
  testing_files::WriteFile(dir + "/mode", "feed a.ics");
  serve();
  ASSERT_NE(port, "") << testing_files::ReadFile(dir + "/server.err");
  std::vector<std::string> listed{"events webcal://127.0.0.1:" + port + "/feed.ics?token=secret"};
  // Named from the list's last place down: every place of the list is read.
  const auto place = [](std::size_t n) { return std::to_string(kMaxSources - static_cast<int>(n)); };
#ifdef _WIN32
  ASSERT_TRUE(TrustAuthority(testing_files::ReadFile(dir + "/ca.pem"), true));
  HKEY key = nullptr;
  RegDeleteTreeA(HKEY_CURRENT_USER, kSourcesKey);  // what a run that failed half way left
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kSourcesKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr), 0);
  const auto list = [&] {
    for (std::size_t n = 0; n < listed.size(); ++n)
      RegSetValueExA(key, place(n).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(listed[n].c_str()),
                     static_cast<DWORD>(listed[n].size() + 1));
  };
  const std::vector<std::pair<const char*, std::string>> variables{{"LOCALAPPDATA", dir + "\\local"}};
#else
  const auto list = [&] {
    std::string values;
    for (std::size_t n = 0; n < listed.size(); ++n) values += "\"" + place(n) + "\"=\"" + listed[n] + "\"\r\n";
    testing_files::WriteFile(dir + "/config/zorvani-wallpaper/HKEY_CURRENT_USER.reg",
                             "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\ZorvaniWallpaper "
                             "Calendars]\r\n" + values);
  };
  const std::vector<std::pair<const char*, std::string>> variables{
      {"XDG_CONFIG_HOME", dir + "/config"}, {"XDG_CONFIG_DIRS", dir + "/none"}, {"XDG_CACHE_HOME", dir + "/cache"},
      {"SSL_CERT_FILE", dir + "/ca.pem"}};
#endif
  list();
  for (const auto& [name, value] : variables) SetVariable(name, value);
  LogSink log(made + "-log");
  const testing::ServicesGuard guard;
  testing::ScriptedClock clock;
  platform::Current().clock = &clock;
  SetFetchProgram(program);
  LastDay = 7, LastMonth = 12, LastYear = 2026;
  MarkedDays(2026, 12);  // the start's refresh, before any copy

  const struct Row {
    const char* name;
    const char* mode;
    int minutes;        // on the clock since the first round
    bool asked;         // a request reached the server
    const char* kept;   // the cached copy after it
    int redraws;        // -1: one or more, as the copies come back one by one during the round
    std::size_t logged = 0;  // lines in the system log
    std::string added = "";  // a source listed first
    std::size_t copies = 1;  // calendars in the cache
    bool settled = false;    // the files left to settle first
    bool ahead = false;      // c.ics dated a day ahead first
    std::string marks = "";  // the kept marks then given to another "owner", or "padded" past their bound
    bool opened = false;     // the cache's files left readable by others first (by hand, an old copy)
    const char* colour = "";  // the first source given this colour, the list's length kept
    bool lost = false;        // the copies deleted first, their validators kept
  } rows[] = {
      {"first fetch marks the day", "feed a.ics", 0, true, "a.ics", 1},
      {"a 304 for the ETag keeps it", "feed a.ics", 60, true, "a.ics", 0},
      {"a changed feed, within the hour: not asked", "feed b.ics", 90, false, "a.ics", 0},
      {"a changed feed after the hour, over copies others could read", "feed b.ics", 120, true, "b.ics", 1, 0, "", 1,
       false, false, "", true},
      {"a feed that never answers", "hang", 180, true, "b.ics", 0, 1},
      {"the server gone", "gone", 240, false, "b.ics", 0},
      {"an endless body", "endless", 300, true, "b.ics", 0},
      {"1 GiB announced", "huge", 360, true, "b.ics", 0},
      {"a redirect loop", "loop", 420, true, "b.ics", 0},
      {"a redirect to http://", "tohttp", 480, true, "b.ics", 0},
      {"a redirect to file://", "tofile", 540, true, "b.ics", 0},
      {"a gzip bomb", "gzip", 600, true, "b.ics", 0},
      {"an expired certificate", "expired", 660, false, "b.ics", 0},
      {"a redirect to another query of the same path", "query a.ics", 720, true, "a.ics", 1},
      {"redirects to a folder, then beside it with a fragment", "fragment b.ics", 780, true, "b.ics", 1},
      {"headers that come a line at a time, without end", "trickle", 840, true, "b.ics", 0, 1},
      {"a calendar added within the hour, fetched at once", "feed b.ics", 850, true, "b.ics", 2, 0,
       "events webcal://127.0.0.1:" + port + "/new.ics?token=other", 2},
      {"the first calendar added again as https://: one copy", "feed b.ics", 855, true, "b.ics", 1, 0,
       "events https://127.0.0.1:" + port + "/feed.ics?token=secret", 2},
      {"a calendar file added as it is written", "feed b.ics", 860, false, "b.ics", 1, 0, "events " + dir + "/c.ics", 2},
      {"the file read again once settled", "feed b.ics", 865, false, "b.ics", 1, 0, "", 2, true},
      {"a calendar recoloured: drawn again at once", "feed b.ics", 870, false, "b.ics", 1, 0, "", 2, false, false, "",
       false, "#FF8800 "},
      {"the feeds back; the file dated ahead, drawn once", "feed b.ics", 900, true, "b.ics", 1, 0, "", 2, false, true},
      {"validators holding a line break", "inject", 960, true, "b.ics", 0, 0, "", 2},
      {"such validators not sent back", "feed b.ics", 1020, true, "b.ics", 0, 0, "", 2},
      {"the server gone again: a line for each calendar", "gone", 1080, false, "b.ics", 0, 2, "", 2},
      {"a certificate for another host", "otherhost", 1140, false, "b.ics", 0, 0, "", 2},
      {"kept marks of another user", "otherhost", 1141, false, "b.ics", 0, 0, "", 2, false, false, "owner"},
      {"kept marks past their bound", "otherhost", 1142, false, "b.ics", 0, 0, "", 2, false, false, "padded"},
      {"the copies lost, their validators kept: fetched whole", "feed b.ics", 1200, true, "b.ics", -1, 0, "", 2, false,
       false, "", false, "", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    if (std::string(row.mode) == "gone") server.reset();
    else if (server == nullptr) serve();
    testing_files::WriteFile(dir + "/mode", row.mode);
    if (!row.added.empty()) {
      testing_files::WriteFile(dir + "/c.ics", feed(25));
      listed.push_back(row.added), list();
    }
    if (*row.colour) listed[0].insert(listed[0].find(' ') + 1, row.colour), list();
    if (row.lost)
      for (const auto& entry : fs::directory_iterator(cache))
        if (entry.path().extension() == ".ics") fs::remove(entry.path());
    // Windows' stamps settle after 3 s, Linux's after 2.
    if (row.settled) std::this_thread::sleep_for(std::chrono::milliseconds(3200));
    // As a file from a machine, or a share's server, whose clock runs ahead.
    if (row.ahead) fs::last_write_time(dir + "/c.ics", fs::file_time_type::clock::now() + std::chrono::hours(24));
#ifndef _WIN32
    if (row.opened)
      for (const auto& entry : fs::directory_iterator(cache)) fs::permissions(entry.path(), fs::perms::others_read | fs::perms::group_read, fs::perm_options::add);
#endif
    const std::size_t asked = testing_files::ReadFile(dir + "/log").size();
    clock.Set(testing::At(2026, 12, 7, 1 + row.minutes / 60, row.minutes % 60));
    refreshes = 0;
    auto slowest = std::chrono::nanoseconds(0);
    // A fetch's 30 s and a few more: the round ends within them whatever the server does.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (int check = 0; std::chrono::steady_clock::now() < end; ++check) {
      const auto before = std::chrono::steady_clock::now();
      PollFetching();
      CheckDayChange(CountRefresh);
      slowest = std::max(slowest, std::chrono::steady_clock::now() - before);
      if (!Fetching()) break;
      // The check goes on while the feed hangs; then the server goes, as a network would.
      if (*row.mode == 'h' && check >= 20 && server && testing_files::ReadFile(dir + "/log").size() > asked)
        server.reset();
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_FALSE(Fetching()) << "the round has not ended";
    // A check that waited on the network would wait out the hung feed (up to a fetch's 30 s);
    // the bound leaves room for a busy two-core machine under Wine, where a check that
    // starts a fetch has taken over half a second.
    EXPECT_LT(slowest, std::chrono::seconds(2)) << "a check was held up";
    EXPECT_EQ(testing_files::ReadFile(dir + "/log").size() > asked, row.asked);
    EXPECT_EQ(testing_files::ReadFile(dir + "/log").find("X-Injected", asked), std::string::npos)
        << "the server's header sent back to it";
    if (row.redraws >= 0) EXPECT_EQ(refreshes, row.redraws);
    else EXPECT_GE(refreshes, 1);
    const std::vector<std::string> lines = log.Lines();
    if (log.Open()) EXPECT_EQ(lines.size(), row.logged);
    for (const std::string& line : lines)
      EXPECT_EQ(line.find("token="), std::string::npos) << "the address's secret in the log: " << line;
    const std::vector<fs::path> names = [&] {
      std::vector<fs::path> found;
      for (const auto& entry : fs::directory_iterator(cache))
        if (entry.path().filename() != "month-marks") found.push_back(entry.path());
      return std::sort(found.begin(), found.end()), found;
    }();
    ASSERT_EQ(names.size(), 2 * row.copies) << "only the copies, their validators and the kept marks";
    const std::string kept = cache + "/month-marks", written = testing_files::ReadFile(kept);
    EXPECT_EQ(written.find("token="), std::string::npos);
#ifndef _WIN32
    for (const fs::path& name : names) EXPECT_EQ(fs::status(name).permissions(), fs::perms::owner_read | fs::perms::owner_write) << name;
    EXPECT_EQ(fs::status(kept).permissions(), fs::perms::owner_read | fs::perms::owner_write);
#endif
    // What the next process reads of them: the file as written, else nothing.
    if (row.marks == "owner" && !GiveAway(kept)) continue;
    if (row.marks == "padded") fs::remove(kept), testing_files::WriteFile(kept, written + std::string(kMaxKeptMarks, '\n'));
    std::string bytes;
    const auto read = [&] { return ReadKeptMarks(&bytes) && bytes == testing_files::ReadFile(kept); };
    for (int i = 0; i < 100 && !row.marks.empty() && read(); ++i)  // Wine's chown runs on its own
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(read(), row.marks.empty());
    for (std::size_t n = 0; n < names.size(); n += 2) {
      EXPECT_EQ(names[n].extension(), ".ics");
      EXPECT_EQ(testing_files::ReadFile(names[n]), testing_files::ReadFile(dir + "/" + row.kept));
      EXPECT_EQ(names[n].string().find("127.0.0.1"), std::string::npos);
    }
#ifndef _WIN32
    EXPECT_EQ(fs::status(cache).permissions(), fs::perms::owner_all);
#endif
    const MonthMarks marks = MarkedDays(2026, 12);
    EXPECT_EQ(marks.day[10].event, *row.kept == 'a');
    EXPECT_EQ(marks.day[20].event, *row.kept == 'b');
    EXPECT_FALSE(marks.day[15].event);
  }
  EXPECT_FALSE(MarkedDays(2026, 11).day[20].event) << "December's marks taken for November";
  server.reset();
  for (const auto& [name, value] : variables) SetVariable(name, "");
#ifdef _WIN32
  RegCloseKey(key);
  RegDeleteTreeA(HKEY_CURRENT_USER, kSourcesKey);
  EXPECT_TRUE(TrustAuthority(testing_files::ReadFile(dir + "/ca.pem"), false));
#endif
  LastDay = 0, LastMonth = 0, LastYear = 0;
  fs::remove_all(dir);
}

}  // namespace
}  // namespace zorvani::days
