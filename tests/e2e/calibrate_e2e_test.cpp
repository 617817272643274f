// zorvani-calibrate's WP.ini with the real program: the frame of a sixth-row day lands on
// exactly the pixels given to the tool.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "e2e/harness.h"
#include "tools/calendar/month_picture.h"

namespace e2e {
namespace {

TEST(Calibrate, TheProgramFramesThePixelsGivenToTheTool) {
  constexpr int kWidth = 640, kHeight = 400, kThickness = 2;
  constexpr int kLeft = 50 + 1 * 73, kTop = 130 + 5 * 41, kCellWidth = 61, kCellHeight = 33;  // 31 August 2004
  Sandbox sandbox;
  sandbox.SetAutoStart(sandbox.SystemPath(sandbox.ProgramPath()));
  std::filesystem::create_directories(sandbox.Path("Zorvani2004"));
  zorvani::tools::WriteMonthPicture({2004, 8, kWidth, kHeight, {}, {}}, 90, sandbox.Path("Zorvani2004/8.jpg"));
  Program tool({ZORVANI_CALIBRATE_TOOL, "--picture", sandbox.Path("Zorvani2004/8.jpg"), "--cell", "50,130,61,33",
                "--step", "73,41", "--thickness", "2", "--colour", "0,255,0", "--output", sandbox.Path("WP.ini")},
               {}, sandbox.Path("calibrate"));
  ASSERT_EQ(tool.Wait(), 0) << tool.StandardError();
  auto program = sandbox.Start({{"FAKETIME", "@2004-08-31 08:00:00"}, {"XDG_CURRENT_DESKTOP", "none"}});
  ASSERT_TRUE(WaitForFile(sandbox.Path("wp.bmp"), ExitTimeout())) << program->StandardError();
  ASSERT_TRUE(program->StaysRunningFor(SettleTime()));
  ExpectCleanEnd(*program);

  // Green exactly on the frame's ring; the pixels just outside and just inside it keep the picture.
  const std::string bmp = ReadTextFile(sandbox.Path("wp.bmp"));
  const std::size_t stride = (kWidth * 3 + 3) & ~3u;
  ASSERT_EQ(bmp.size(), 58 + stride * kHeight);
  for (int line = kTop - 1; line <= kTop + kCellHeight; ++line) {
    for (int x = kLeft - 1; x <= kLeft + kCellWidth; ++x) {
      const bool inBox = x >= kLeft && x < kLeft + kCellWidth && line >= kTop && line < kTop + kCellHeight;
      const bool inHole = x >= kLeft + kThickness && x < kLeft + kCellWidth - kThickness &&
                          line >= kTop + kThickness && line < kTop + kCellHeight - kThickness;
      const bool green = bmp.compare(58 + (kHeight - 1 - line) * stride + 3 * x, 3, "\x00\xFF\x00", 3) == 0;
      ASSERT_EQ(green, inBox && !inHole) << "pixel " << x << "," << line;
    }
  }
}

}  // namespace
}  // namespace e2e
