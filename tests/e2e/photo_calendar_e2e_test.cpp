// The photo calendar maker's Windows build, with its own decoder, fonts and encoder, puts
// the grid where the Linux build puts it, so the WP.ini of either frames either's pictures.
// (That the program frames the Linux maker's numbers is the photo suite's and the refresh's.)
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "e2e/harness.h"
#include "tools/calendar/photo_calendar.h"

namespace e2e {
namespace {

TEST(PhotoCalendarEndToEnd, TheWindowsMakerPutsTheGridWhereTheLinuxMakerDoes) {
  if (!UnderWine()) GTEST_SKIP() << "the Windows build's";
  Sandbox sandbox;
  zorvani::tools::WritePhotoCalendar({}, sandbox.folder(), {2027, 640, 400, 92, "", {0.004, 255, 0, 255}});
  const std::string maker =
      std::filesystem::path(std::getenv("ZORVANI_E2E_EXE")).parent_path().string() + "/tools/zorvani-month-picture.exe";
  ASSERT_EQ(sandbox.Run({"wine", maker, "--calendar", sandbox.SystemPath(sandbox.Path("windows")), "--year", "2027",
                         "--width", "640", "--height", "400"}), 0)
      << ReadFile(sandbox.Path("command.err"));
  const auto geometry = [](const std::string& ini) { return ini.substr(0, ini.find("R_COMP")); };
  EXPECT_EQ(geometry(ReadFile(sandbox.Path("windows/WP.ini"))), geometry(ReadFile(sandbox.Path("WP.ini"))));
  EXPECT_TRUE(std::filesystem::exists(sandbox.Path("windows/Zorvani2027/12.jpg")));
}

}  // namespace
}  // namespace e2e
