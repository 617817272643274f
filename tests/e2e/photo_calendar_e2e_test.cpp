// A calendar from the photo calendar maker, run by the real program on one day: the
// frame in wp.bmp encloses that day's printed number and no other. Under Wine the
// picture comes from the Windows build of the maker.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "e2e/harness.h"
#include "tools/calendar/photo_calendar.h"

namespace e2e {
namespace {

TEST(PhotoCalendarEndToEnd, TheProgramFramesTheDaysNumber) {
  constexpr int kWidth = 640, kHeight = 400, kDay = 19, kMonth = 5;
  Sandbox sandbox;
  sandbox.SetAutoStart(sandbox.SystemPath(sandbox.ProgramPath()));
  const zorvani::tools::PhotoCalendarSettings settings{2027, kWidth, kHeight, 92, "", {0.004, 255, 0, 255}};
  const auto report = zorvani::tools::WritePhotoCalendar({}, sandbox.folder(), settings);

  Env env{{"FAKETIME", "@2027-05-19 10:00:00"}};
  if (UnderWine()) {
    // The Windows build of the maker, with its own decoder, fonts and encoder, must put
    // the grid in the same place; the program then frames its picture.
    const std::string maker =
        std::filesystem::path(std::getenv("ZORVANI_E2E_EXE")).parent_path().string() + "/tools/zorvani-month-picture.exe";
    ASSERT_EQ(sandbox.Run({"wine", maker, "--calendar", sandbox.SystemPath(sandbox.Path("windows")), "--year", "2027",
                           "--width", "640", "--height", "400"}),
              0)
        << ReadTextFile(sandbox.Path("command.err"));
    const auto geometry = [](const std::string& ini) { return ini.substr(0, ini.find("R_COMP")); };
    EXPECT_EQ(geometry(ReadTextFile(sandbox.Path("windows/WP.ini"))), geometry(ReadTextFile(sandbox.Path("WP.ini"))));
    std::filesystem::copy_file(sandbox.Path("windows/Zorvani2027/5.jpg"), sandbox.Path("Zorvani2027/5.jpg"),
                               std::filesystem::copy_options::overwrite_existing);
  } else {
    env.merge(sandbox.StubGnome());
  }
  auto program = sandbox.Start(env);
  const std::string bitmap = sandbox.Path("wp.bmp");
  ASSERT_TRUE(WaitForFile(bitmap, ExitTimeout())) << program->StandardError();
  ASSERT_TRUE(program->StaysRunningFor(SettleTime()));
  ExpectCleanEnd(*program);

  const std::string bmp = ReadTextFile(bitmap);
  const std::size_t stride = (kWidth * 3 + 3) & ~3u;
  ASSERT_EQ(bmp.size(), 58 + stride * kHeight);
  int left = kWidth, top = kHeight, right = 0, bottom = 0;  // of the magenta frame
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x)
      if (bmp.compare(58 + (kHeight - 1 - y) * stride + 3 * x, 3, "\xFF\x00\xFF", 3) == 0)
        left = std::min(left, x), top = std::min(top, y), right = std::max(right, x + 1), bottom = std::max(bottom, y + 1);
  const int t = 3;  // 0.004 of 640, rounded
  for (const auto& text : report.printed[kMonth - 1]) {
    const bool inside = text.left >= left + t && text.right <= right - t && text.top >= top + t && text.bottom <= bottom - t;
    const bool outside = text.right <= left || text.left >= right || text.bottom <= top || text.top >= bottom;
    EXPECT_TRUE(text.day == 0 || (text.day == kDay ? inside : outside))
        << "day " << text.day << " at " << text.left << "," << text.top << "; frame " << left << "," << top << " to "
        << right << "," << bottom;
  }
}

}  // namespace
}  // namespace e2e
