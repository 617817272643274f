// Three years of days through the real daily check, one refresh a day against the linked
// backend (only the clock and the desktop change are stand-ins): handles, resident memory
// and the stand-in registry files must be as large after the third year as after the first.
//   zorvani_soak CALENDAR_DIR FIRST_YEAR
// CALENDAR_DIR holds WP.ini and Zorvani<year>/1.jpg .. 12.jpg for three years from FIRST_YEAR;
// on Linux XDG_CONFIG_HOME names a folder of the run's own with the desktop key. Not under
// AddressSanitizer: its quarantine keeps freed memory resident.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "fakes/services.h"
#include "general/calendar_days.h"
#include "general/general.h"
#include "platform/process.h"
#include "platform/services.h"

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#else
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;

std::string calendar;
int firstYear = 0;

struct Usage { long long handles = 0, gdi = 0, user = 0, residentKiB = 0, registryBytes = 0; };

#ifdef _WIN32
// Wine answers 0 to the handle count and both GUI object counts. There every possible
// handle value is asked after, and the highest slot of 32 fresh DCs stands for the GDI
// objects: freed slots are taken again first, so only a leak moves it.
Usage Measure() {
  Usage u;
  DWORD handles = 0;
  GetProcessHandleCount(GetCurrentProcess(), &handles);
  u.handles = handles;
  DWORD flags = 0;
  for (ULONG_PTR h = 4; handles == 0 && h < 0x10000; h += 4)
    u.handles += GetHandleInformation(reinterpret_cast<HANDLE>(h), &flags) != FALSE;
  u.gdi = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
  u.user = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
  if (u.gdi == 0) {
    HDC dcs[32];
    for (HDC& dc : dcs) u.gdi = std::max<long long>(u.gdi, reinterpret_cast<ULONG_PTR>(dc = CreateCompatibleDC(nullptr)) & 0xFFFF);
    for (const HDC dc : dcs) DeleteDC(dc);
  }
  PROCESS_MEMORY_COUNTERS memory{};
  GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
  u.residentKiB = static_cast<long long>(memory.WorkingSetSize / 1024);
  return u;
}
#else
Usage Measure() {
  Usage u;
  for ([[maybe_unused]] const auto& fd : fs::directory_iterator("/proc/self/fd")) ++u.handles;
  long long size = 0, resident = 0;
  std::ifstream("/proc/self/statm") >> size >> resident;
  u.residentKiB = resident * sysconf(_SC_PAGESIZE) / 1024;
  std::error_code error;
  const char* config = std::getenv("XDG_CONFIG_HOME");
  for (const auto& entry : fs::directory_iterator(std::string(config ? config : "") + "/zorvani-wallpaper", error))
    u.registryBytes += static_cast<long long>(entry.file_size());
  return u;
}
#endif

class QuietDesktop : public platform::Desktop {
 public:
  bool SystemParametersInfoA(std::uint32_t, std::uint32_t, const std::string&, std::uint32_t) override { return true; }
};

int failures = 0;
zorvani::Status CountedRefresh() {
  const zorvani::Status status = zorvani::RefreshWallpaper();
  return failures += status != 0, status;
}

TEST(Soak, ThreeYearsOfDaysLeaveHandlesMemoryAndRegistryFlat) {
  ASSERT_FALSE(calendar.empty()) << "usage: zorvani_soak CALENDAR_DIR FIRST_YEAR";
  zorvani::testing::ScriptedClock clock;
  QuietDesktop desktop;
  platform::Current().clock = &clock;
  platform::Current().desktop = &desktop;
  zorvani::BaseDir = calendar + platform::PathSeparator();
  zorvani::LoadConfigFrom(calendar + platform::PathSeparator() + "WP.ini");

  Usage years[3];
  for (int year = firstYear; year < firstYear + 3; ++year) {
    for (int month = 1; month <= 12; ++month) {
      for (int day = 1; day <= zorvani::DaysInMonth(year, month); ++day) {
        for (const int hour : {8, 20})  // at 20 the same day again: no refresh
          clock.Set(zorvani::testing::At(year, month, day, hour)), zorvani::CheckDayChange(CountedRefresh);
      }
    }
    years[year - firstYear] = Measure();
  }

  EXPECT_EQ(failures, 0);
  EXPECT_TRUE(fs::exists(calendar + "/wp.bmp"));
  // A handle lost a day would be 730 more; the slack absorbs the GDI slot's jitter under Wine.
  EXPECT_LE(years[2].handles, years[0].handles + 4);
  EXPECT_LE(years[2].gdi, years[0].gdi + 16);
  EXPECT_LE(years[2].user, years[0].user + 4);
  EXPECT_EQ(years[2].registryBytes, years[0].registryBytes);
  // Allocator slack, not growth: a leak of one picture a day would be tens of MiB.
  EXPECT_LE(years[2].residentKiB, years[0].residentKiB + 1024);
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc == 3) {
    calendar = argv[1];
    firstYear = std::atoi(argv[2]);
  }
  return RUN_ALL_TESTS();
}
