// The whole program against the real system: month pictures on disk, the auto-start
// value in the registry, a faked date, and then wp.bmp, the desktop values and the
// wallpaper setting as the desktop would find them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "e2e/harness.h"
#include "tools/month_picture.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using zorvani::tools::FrameStyle;
using zorvani::tools::GridGeometry;

constexpr int kWidth = 640;
constexpr int kHeight = 400;
const Millis kTick{5000};

Bytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::uint32_t U32(const Bytes& b, std::size_t at) {
  return b.at(at) | b.at(at + 1) << 8 | b.at(at + 2) << 16 | std::uint32_t{b.at(at + 3)} << 24;
}

// Picture lines (from the top) and columns the frame covers, worked out from the
// fractions the way the frame drawing rounds them.
struct FrameBox {
  int x0, y0, w, h, t;
  bool Covers(int x, int line) const {
    const int y = line + 1;  // row coordinates count the top line as 1
    const bool horizontal = x >= x0 && x <= x0 + w - 1 && ((y >= y0 && y <= y0 + t - 1) || (y >= y0 + h - t + 1 && y <= y0 + h));
    const bool vertical = y >= y0 && y <= y0 + h && ((x >= x0 && x <= x0 + t - 1) || (x >= x0 + w - t + 1 && x <= x0 + w));
    return horizontal || vertical;
  }
};

FrameBox FrameOf(const GridGeometry& grid, const FrameStyle& frame, int year, int month, int day) {
  int row = 0, column = 0;
  zorvani::tools::CellOf(year, month, day, &row, &column);
  auto scaled = [](double fraction, int size) { return static_cast<int>(std::nearbyint(fraction * size)); };
  return {scaled(column * grid.SPACING_X + grid.CORNER_X, kWidth), scaled(row * grid.SPACING_Y + grid.CORNER_Y, kHeight),
          scaled(grid.CELL_X, kWidth), scaled(grid.CELL_Y, kHeight), scaled(frame.RECT_THICKNESS, kWidth)};
}

class Refresh : public ::testing::Test {
 protected:
  void SetUp() override {
    sandbox.SetAutoStart(sandbox.SystemPath(sandbox.ProgramPath()));
    sandbox.WriteProgramFile("WP.ini", zorvani::tools::WpIniText(grid, frame));
    if (UnderWine()) {
      // The prefix is shared by the tests: start from a desktop without our values.
      for (const char* name : {"TileWallpaper", "WallpaperStyle", "Wallpaper"}) {
        sandbox.RunCommand({"wine", "reg", "delete", "HKCU\\Control Panel\\Desktop", "/v", name, "/f"}, Millis{60000});
      }
    } else {
      // The program writes into the desktop key but never creates it.
      WriteTextFile(sandbox.Path("config/zorvani-wallpaper/HKEY_CURRENT_USER.reg"),
                    "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\r\n");
      // A GNOME session whose gsettings only records what it is asked to do.
      fs::create_directories(sandbox.Path("bin"));
      WriteTextFile(sandbox.Path("bin/gsettings"), "#!/bin/sh\necho \"$@\" >>\"" + sandbox.Path("gsettings.log") + "\"\n");
      fs::permissions(sandbox.Path("bin/gsettings"), fs::perms::owner_all);
      desktop = {{"PATH", sandbox.Path("bin") + ":" + std::getenv("PATH")},
                 {"XDG_CURRENT_DESKTOP", "GNOME"},
                 {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + sandbox.Path("no-bus")}};
    }
  }

  std::string Picture(int year, int month) const {
    return base + "/Zorvani" + std::to_string(year) + "/" + std::to_string(month) + ".jpg";
  }
  void MakePicture(int year, int month) const {
    fs::create_directories(base + "/Zorvani" + std::to_string(year));
    zorvani::tools::WriteMonthPicture({year, month, kWidth, kHeight, grid}, 90, Picture(year, month));
  }
  std::unique_ptr<Program> StartAt(const std::string& date) {
    LaunchOptions options;
    options.environment = desktop;
    options.fakeTime = FakeTime{"@" + date, ""};
    return sandbox.Start(options);
  }

  // The desktop value as the registry holds it now.
  std::string DesktopValue(const std::string& name) {
    if (UnderWine()) {
      sandbox.RunCommand({"wine", "reg", "query", "HKCU\\Control Panel\\Desktop", "/v", name}, Millis{60000});
      const std::string out = ReadTextFile(sandbox.Path("command.out"));
      const auto at = out.find("REG_SZ");
      if (at == std::string::npos) return "<missing>";
      std::string value = out.substr(out.find_first_not_of(' ', at + 6));
      return value.substr(0, value.find_first_of("\r\n"));
    }
    const std::string reg = ReadTextFile(sandbox.Path("config/zorvani-wallpaper/HKEY_CURRENT_USER.reg"));
    const std::string key = "\"" + name + "\"=\"";
    const auto at = reg.find(key);
    if (at == std::string::npos) return "<missing>";
    return reg.substr(at + key.size(), reg.find('"', at + key.size()) - at - key.size());
  }

  // wp.bmp against an independent decode of the month picture: the frame pixels hold the
  // frame colour exactly, every other pixel the picture's within a small tolerance.
  void ExpectFramedBitmap(int year, int month, int day) {
    const Bytes bmp = ReadBytes(Bitmap());
    const std::size_t stride = (kWidth * 3 + 3) & ~3u;
    ASSERT_EQ(bmp.size(), 58 + stride * kHeight);
    EXPECT_EQ(bmp[0], 'B');
    EXPECT_EQ(bmp[1], 'M');
    EXPECT_EQ(U32(bmp, 2), bmp.size());
    EXPECT_EQ(U32(bmp, 6), 0u);
    EXPECT_EQ(U32(bmp, 10), 58u);
    EXPECT_EQ(U32(bmp, 14), 40u);
    EXPECT_EQ(U32(bmp, 18), static_cast<std::uint32_t>(kWidth));
    EXPECT_EQ(U32(bmp, 22), static_cast<std::uint32_t>(kHeight));
    EXPECT_EQ(U32(bmp, 26), 1u | 24u << 16);
    EXPECT_EQ(U32(bmp, 34), stride * kHeight);
    EXPECT_EQ(U32(bmp, 54), 0u);

    ASSERT_EQ(sandbox.RunCommand({"djpeg", "-pnm", "-outfile", sandbox.Path("decoded.ppm"), Picture(year, month)},
                                 Millis{20000}), 0);
    const Bytes ppm = ReadBytes(sandbox.Path("decoded.ppm"));
    const std::string header = "P6\n" + std::to_string(kWidth) + " " + std::to_string(kHeight) + "\n255\n";
    ASSERT_EQ(std::string(ppm.begin(), ppm.begin() + static_cast<long>(header.size())), header);

    const FrameBox box = FrameOf(grid, frame, year, month, day);
    int framePixels = 0, worst = 0;
    long long totalDifference = 0;
    for (int line = 0; line < kHeight; ++line) {
      for (int x = 0; x < kWidth; ++x) {
        const std::uint8_t* bgr = &bmp[58 + (kHeight - 1 - line) * stride + 3 * x];
        if (box.Covers(x, line)) {
          ++framePixels;
          ASSERT_EQ(bgr[0], frame.B_COMP) << "frame pixel " << x << "," << line;
          ASSERT_EQ(bgr[1], frame.G_COMP) << "frame pixel " << x << "," << line;
          ASSERT_EQ(bgr[2], frame.R_COMP) << "frame pixel " << x << "," << line;
          continue;
        }
        const std::uint8_t* rgb = &ppm[header.size() + (static_cast<std::size_t>(line) * kWidth + x) * 3];
        for (int c = 0; c < 3; ++c) {
          const int difference = std::abs(bgr[2 - c] - rgb[c]);
          worst = std::max(worst, difference);
          totalDifference += difference;
        }
      }
    }
    EXPECT_EQ(framePixels, (box.w + 1) * (box.h + 1) - (box.w + 1 - 2 * box.t) * (box.h + 1 - 2 * box.t))
        << "frame at " << box.x0 << "," << box.y0;
    EXPECT_LE(worst, 8) << "a pixel outside the frame differs from the picture";
    EXPECT_LT(static_cast<double>(totalDifference) / (kWidth * kHeight * 3), 0.5);
  }

  void ExpectDesktopSetUp() {
    EXPECT_EQ(DesktopValue("TileWallpaper"), "0");
    EXPECT_EQ(DesktopValue("WallpaperStyle"), "2");
    if (UnderWine()) {
      EXPECT_EQ(DesktopValue("Wallpaper"), sandbox.SystemPath(Bitmap()));
    } else {
      const std::string log = ReadTextFile(sandbox.Path("gsettings.log"));
      EXPECT_NE(log.find("set org.gnome.desktop.background picture-uri 'file://" + Bitmap() + "'"),
                std::string::npos) << log;
      EXPECT_NE(log.find("set org.gnome.desktop.background picture-options 'stretched'"), std::string::npos) << log;
    }
  }

  void ExpectCleanEnd(Program& program) {
    program.Stop();
    ASSERT_TRUE(program.WaitForExit(ExitTimeout()));
    EXPECT_EQ(program.ExitStatus(), 0);
    EXPECT_EQ(program.StandardError(), "");
  }

  std::string Bitmap() const { return base + "/wp.bmp"; }

  Sandbox sandbox;
  // BaseDir: the folder of the pictures and of wp.bmp.
  std::string base = sandbox.folder();
  GridGeometry grid;
  FrameStyle frame;
  std::map<std::string, std::string> desktop;
};

TEST_F(Refresh, FramesTodayAndMakesItTheWallpaper) {
  struct Day {
    int year, month, day;
    const char* at;
  };
  // Row 5, column 1; a leap day in row 4, column 6; the first cell of a month.
  for (const Day& d : {Day{2004, 8, 31, "2004-08-31 08:00:00"}, Day{2004, 2, 29, "2004-02-29 23:00:00"},
                       Day{2004, 3, 1, "2004-03-01 00:00:30"}}) {
    SCOPED_TRACE(d.at);
    MakePicture(d.year, d.month);
    fs::remove(Bitmap());
    auto program = StartAt(d.at);
    ASSERT_TRUE(WaitForFile(Bitmap(), ExitTimeout())) << program->StandardError();
    ASSERT_TRUE(program->StaysRunningFor(SettleTime()));
    ExpectFramedBitmap(d.year, d.month, d.day);
    ExpectDesktopSetUp();
    ExpectCleanEnd(*program);
  }
}

// A missing picture, then a corrupt one, then the right one: the program keeps running
// and trying at every tick, and the wallpaper appears within a tick of the good file.
TEST_F(Refresh, BadOrMissingPicturesAreRetriedAtEveryTick) {
  auto program = StartAt("2004-08-31 12:00:00");
  ASSERT_TRUE(program->StaysRunningFor(SettleTime() + Millis{1000})) << program->StandardError();
  EXPECT_FALSE(FileExists(Bitmap()));

  fs::create_directories(sandbox.Path("Zorvani2004"));
  WriteTextFile(Picture(2004, 8), std::string("\xFF\xD8\xFF\xE0 this is no picture", 24));
  ASSERT_TRUE(program->StaysRunningFor(kTick + Millis{1000})) << program->StandardError();
  EXPECT_FALSE(FileExists(Bitmap()));

  MakePicture(2004, 8);
  ASSERT_TRUE(WaitForFile(Bitmap(), kTick + Millis{3000}));
  ASSERT_TRUE(program->StaysRunningFor(SettleTime()));
  ExpectFramedBitmap(2004, 8, 31);
  ExpectCleanEnd(*program);
}

// An output folder that cannot be written: nothing is written or set, and the program
// keeps running; once the folder is writable again, the next tick succeeds.
TEST_F(Refresh, AnUnwritableFolderIsRetried) {
  // Pictures and wp.bmp in a folder of their own, away from the program and its WP.ini.
  base = sandbox.Path("calendar");
  sandbox.SetAutoStart(sandbox.SystemPath(base + "/zorvani-wallpaper"));
  MakePicture(2004, 8);
  const std::string folder = base;
  const bool asRoot = geteuid() == 0;
  auto lock = [&](bool locked) {
    if (asRoot) {
      sandbox.RunCommand({"chattr", locked ? "+i" : "-i", folder}, Millis{10000});
    } else {
      fs::permissions(folder, locked ? fs::perms::owner_read | fs::perms::owner_exec : fs::perms::owner_all);
    }
  };
  lock(true);
  if (std::ofstream(base + "/probe").is_open()) {
    lock(false);
    GTEST_SKIP() << "this file system lets us write into a locked folder";
  }
  auto program = StartAt("2004-08-31 12:00:00");
  const bool ranLocked = program->StaysRunningFor(SettleTime() + Millis{1000});
  const bool wroteLocked = FileExists(Bitmap());
  lock(false);
  ASSERT_TRUE(ranLocked) << program->StandardError();
  EXPECT_FALSE(wroteLocked);
  if (UnderWine()) EXPECT_NE(DesktopValue("WallpaperStyle"), "2");
  else EXPECT_EQ(ReadTextFile(sandbox.Path("gsettings.log")), "");

  ASSERT_TRUE(WaitForFile(Bitmap(), kTick + Millis{3000}));
  ExpectCleanEnd(*program);
}

}  // namespace
}  // namespace e2e
