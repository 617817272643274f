// A whole refresh with real drawing and real files, and fakes for the picture loader,
// the registry and the desktop: paths, the order of effects, and the failure paths.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <set>
#include <filesystem>

#include "app/instance_checker.h"
#include "general/general.h"
#include "platform/process.h"
#include "platform/services.h"
#include "runtime/runtime_error.h"
#include "common/files.h"
#include "fakes/faulty_files.h"
#include "fakes/services.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace zorvani {
namespace {

namespace fs = std::filesystem;

// A mid-grey picture (100 x 100 unless asked) in a DIB section of the real GDI.
struct GreyPicture : platform::Picture {
  GreyPicture(int width, int height) : width_(width), height_(height) {
    const tBitmapInfo info{40, width, height, 1, 24, 0, 0, 0, 0, 0, 0, {}};
    void* bits = nullptr;
    handle_ = platform::SystemGdi().CreateDIBSection(0, &info, 0, &bits);
    if (bits != nullptr) std::memset(bits, 0x80, static_cast<std::size_t>((width * 3 + 3) & ~3) * height);
  }
  ~GreyPicture() override { platform::SystemGdi().DeleteObject(handle_); }
  platform::Handle BitmapHandle() const override { return handle_; }
  std::int32_t Width() const override { return width_; }
  std::int32_t Height() const override { return height_; }
  int width_, height_;
  platform::Handle handle_ = 0;
};

// The monitors the tests attach.
std::vector<platform::Monitor> monitors;
std::vector<platform::Monitor> Monitors() { return monitors; }

// Picture loader, registry and desktop in one, logging what is asked of them in order.
class FakeWorld : public platform::PictureLoader,
                  public platform::Registry,
                  public platform::Desktop,
                  public platform::SystemLog {
 public:
  std::unique_ptr<platform::Picture> LoadPicture(const std::string& fileName) override {
    pictures.push_back(fileName);
    if (missing) Raise(kErrFileNotFound);
    return std::make_unique<GreyPicture>(pictureWidth, 100);
  }
  long RegOpenKeyExA(std::uint32_t root, const std::string& subKey, std::uint32_t, std::uint32_t access,
                     platform::Handle* key) override {
    if (subKey == days::kSourcesKey) return sources.empty() ? platform::kErrorFileNotFound : 0;
    log.push_back("open " + std::to_string(root) + " " + subKey + " " + std::to_string(access));
    *key = 42;
    return runKeyMissing && subKey.find("\\Run") != std::string::npos ? platform::kErrorFileNotFound : 0;
  }
  // Only the auto-start value is there, when set.
  long RegQueryValueExA(platform::Handle, const std::string& name, std::uint32_t* type, std::uint8_t* data,
                        std::uint32_t* size) override {
    if (name == "1" && !sources.empty()) {
      std::memcpy(data, sources.c_str(), sources.size() + 1);
      *type = platform::kRegSz, *size = static_cast<std::uint32_t>(sources.size() + 1);
      return 0;
    }
    if (name != "ZorvaniWallPaper" || !runValue) return platform::kErrorFileNotFound;
    const bool fits = *size > runValue->size();
    if (fits) std::memcpy(data, runValue->c_str(), runValue->size() + 1);
    *size = static_cast<std::uint32_t>(runValue->size() + 1);
    return fits ? 0 : platform::kErrorMoreData;
  }
  long RegSetValueExA(platform::Handle, const std::string& name, std::uint32_t type, const std::uint8_t* data,
                      std::uint32_t size) override {
    log.push_back("set " + name + "=" + std::string(reinterpret_cast<const char*>(data), size) + std::to_string(type));
    return 0;
  }
  long RegCloseKey(platform::Handle) override { return 0; }
  bool SystemParametersInfoA(std::uint32_t action, std::uint32_t param, const std::string& path,
                             std::uint32_t flags) override {
    log.push_back("wallpaper " + std::to_string(action) + " " + std::to_string(param) + " " + path + " " +
                  std::to_string(flags));
    return refusals-- <= 0;
  }

  void RestorePreviousWallpaper(const std::string& bitmap) override { log.push_back("give back " + bitmap); }
  // Kept once, before the first change: never once the desktop has the calendar.
  void RecordPreviousWallpaper(const std::string&) override {
    keptAfterAChange = keptAfterAChange || std::any_of(log.begin(), log.end(), [](const std::string& line) {
                         return line.rfind("wallpaper ", 0) == 0;
                       });
  }
  MonitorPictures MonitorPicturesTaken() override { return taken; }
  bool SetMonitorWallpapers(const std::vector<MonitorBitmap>& bitmaps) override {
    std::string line = "monitors";
    for (const MonitorBitmap& b : bitmaps) line += " " + b.monitor.name + "=" + b.path;
    log.push_back(line);
    return refusals-- <= 0;
  }
  bool SetSpannedWallpaper(const std::string& path) override {
    log.push_back("spanned " + path);
    return refusals-- <= 0;
  }
  void Warning(const std::string& line) override { systemLog.push_back(line); }
  std::string UserBitmapFolder() override { return userFolder; }

  std::vector<std::string> pictures, log, systemLog;
  std::string userFolder;  // none
  std::string sources;     // the one source of both calendar lists; none when empty
  std::optional<std::string> runValue;
  bool runKeyMissing = false, missing = false, keptAfterAChange = false;
  int refusals = 0;  // wallpaper changes the desktop refuses before it takes one
  int pictureWidth = 100;
  MonitorPictures taken = MonitorPictures::None;
};

class RefreshTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BaseDir = folder_.path.string() + platform::PathSeparator();
    platform::Current() = {&clock_, &platform::SystemGdi(), &platform::SystemFiles(), &world_, &world_, &world_, &world_, Monitors};
    monitors.clear();
    // Cells 0.09 x 0.08, columns 0.12 apart from 0.06, rows 0.10 apart from 0.30, lines 0.01 thick.
    Config = ConfigRecord{0.09, 0.08, 0.12, 0.10, 0.06, 0.30, 0.01, 255, 0, 0};
  }
  void TearDown() override {
    BaseDir.clear();
    Config = ConfigRecord{};
    LastDay = LastMonth = LastYear = 0, PendingDesktop = {};
  }
  std::string Bitmap() const { return BaseDir + "wp.bmp"; }
  std::string Picture(const char* year, const char* month) const {
    return BaseDir + "Zorvani" + year + platform::PathSeparator() + month + ".jpg";
  }
  // Blue, green and red of column x, picture line y (from the top) of wp.bmp.
  std::string PixelOfBitmap(int x, int y) const {
    return testing_files::ReadFile(Bitmap()).substr(58 + static_cast<std::size_t>(99 - y) * 300 + 3 * static_cast<std::size_t>(x), 3);
  }

  testing::ServicesGuard guard_;
  testing_files::TempFolder folder_;
  testing::ScriptedClock clock_{{testing::At(2004, 8, 31)}};
  FakeWorld world_;
};

TEST_F(RefreshTest, FramesTodayThenWritesTheDesktopValuesThenSetsTheWallpaper) {
  ASSERT_EQ(RefreshWallpaper(), 0);
  EXPECT_EQ(world_.pictures, std::vector<std::string>{Picture("2004", "8")});
  EXPECT_EQ(testing_files::ReadFile(Bitmap()).size(), 58u + 300u * 100u);
  // 31 August 2004 is row 5, column 1: left 0.18 and top 0.80 give column 18, picture line 79.
  const std::string red("\0\0\xFF", 3), grey(3, '\x80');
  EXPECT_EQ((std::vector<std::string>{PixelOfBitmap(18, 79), PixelOfBitmap(27, 87), PixelOfBitmap(17, 79), PixelOfBitmap(18, 78),
                                      PixelOfBitmap(22, 82)}),
            (std::vector<std::string>{red, red, grey, grey, grey}));

  const std::string open = "open " + std::to_string(0x80000001u) + " CONTROL PANEL\\DESKTOP " + std::to_string(0x20006);
  const std::vector<std::string> expected = {open, "set TileWallpaper=0" + std::string(1, '\0') + "1",
                                             open, "set WallpaperStyle=2" + std::string(1, '\0') + "1",
                                             "wallpaper 20 0 " + Bitmap() + " 3"};
  EXPECT_EQ(world_.log, expected);
  EXPECT_EQ(CalendarImage, nullptr);

  Config.R_COMP = 256;  // the drawing stops silently at the first red byte; the frame is still saved and applied
  EXPECT_EQ(RefreshWallpaper(), 0);
  EXPECT_EQ(PixelOfBitmap(18, 79), std::string("\0\0\x80", 3));
  EXPECT_EQ(world_.log.size(), 10u);
  EXPECT_FALSE(world_.keptAfterAChange) << "the calendar recorded as the wallpaper to give back";
}

TEST_F(RefreshTest, MarksThisMonthsHolidaysAndEventsUnderTodaysFrame) {
  const std::string ics = BaseDir + "days.ics";
  testing_files::WriteFile(ics, "BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nUID:a\r\nDTSTART;VALUE=DATE:20040802\r\nEND:VEVENT\r\n"
                                "BEGIN:VEVENT\r\nUID:b\r\nDTSTART;VALUE=DATE:20040831\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n");
  world_.sources = "holidays #00FF00 " + ics;
  ASSERT_EQ(RefreshWallpaper(), 0);
  // 2 August: row 1, column 0, a bar over lines 43..45 inside the cell; 31 August the
  // same under today's frame, which stays as it was drawn without marks.
  const std::string red("\0\0\xFF", 3), green("\0\xFF\0", 3), grey(3, '\x80');
  EXPECT_EQ((std::vector<std::string>{PixelOfBitmap(10, 44), PixelOfBitmap(22, 84), PixelOfBitmap(10, 41),
                                      PixelOfBitmap(18, 79), PixelOfBitmap(27, 87)}),
            (std::vector<std::string>{green, green, grey, red, red}));

  // The calendar edited later that day, now a list of events of no colour of its own: the
  // next check draws the day again, 3 August (row 1, column 1) with a square in the events'
  // blue over columns 22..25, lines 41..44, and no bar; the 2nd unmarked.
  LastDay = 31, LastMonth = 8, LastYear = 2004;
  world_.sources = "events " + ics;
  testing_files::WriteFile(ics, "BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nUID:c\r\nDTSTART;VALUE=DATE:20040803\r\n"
                                "END:VEVENT\r\nEND:VCALENDAR\r\n");
  CheckDayChange();
  EXPECT_EQ((std::vector<std::string>{PixelOfBitmap(10, 44), PixelOfBitmap(20, 44), PixelOfBitmap(24, 42), PixelOfBitmap(26, 42)}),
            (std::vector<std::string>{grey, grey, std::string("\xD2\x5A\x1E", 3), grey}));
  // Weeks from Sunday (WP.ini's FIRST_DAY): the 3rd's square moves to row 0, column 2.
  Config.FIRST_DAY = 7;
  ASSERT_EQ(RefreshWallpaper(), 0);
  EXPECT_EQ((std::vector<std::string>{PixelOfBitmap(24, 42), PixelOfBitmap(34, 32)}),
            (std::vector<std::string>{grey, std::string("\xD2\x5A\x1E", 3)}));
  Config.FIRST_DAY = 1;
  world_.sources.clear();  // the next test's checks start from marks of no file
#ifndef _WIN32
  // The machine's list in its own hive file, beside the HKEY_LOCAL_MACHINE hive of a user
  // who set up a calendar without root: the machine's holidays are marked all the same.
  testing_files::WriteFile(folder_ / "user/zorvani-wallpaper/HKEY_LOCAL_MACHINE.reg", "Windows Registry Editor Version 5.00\r\n");
  testing_files::WriteFile(folder_ / "machine/zorvani-wallpaper/HKEY_LOCAL_MACHINE.reg",
                           "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\ZorvaniWallpaper "
                           "Calendars]\r\n\"1\"=\"holidays #00FF00 " + ics + "\"\r\n");
  setenv("XDG_CONFIG_HOME", (folder_ / "user").c_str(), 1);
  setenv("XDG_CONFIG_DIRS", (folder_ / "machine").c_str(), 1);
  ASSERT_EQ(RefreshWallpaper(), 0);
  EXPECT_EQ(PixelOfBitmap(20, 44), green);
  unsetenv("XDG_CONFIG_HOME");
  unsetenv("XDG_CONFIG_DIRS");
#endif
  ASSERT_EQ(RefreshWallpaper(), 0);
}

TEST_F(RefreshTest, PathsComeFromSeparateClockReadingsAndBaseDir) {
  // Year first, then month: across New Year's midnight that is January 2004.
  clock_ = testing::ScriptedClock({testing::At(2004, 12, 31, 23, 59, 59), testing::At(2005, 1, 1, 0, 0, 0)});
  EXPECT_EQ(RefreshWallpaper(), 0);
  EXPECT_EQ(world_.pictures.at(0), Picture("2004", "1"));
  EXPECT_EQ(clock_.readings(), 3);

  BaseDir.clear();  // no folder part: relative to the current folder
  world_.missing = true;
  clock_.Set(testing::At(2004, 5, 5));
  EXPECT_EQ(RefreshWallpaper(), -1);
  EXPECT_EQ(world_.pictures.at(1), std::string("Zorvani2004") + platform::PathSeparator() + "5.jpg");
}

TEST_F(RefreshTest, FailuresLeaveWallpaperRegistryAndDesktopAsTheyWere) {
  testing_files::WriteFile(Bitmap(), "previous wallpaper");

  world_.missing = true;  // the month picture is missing: said once in the system log, not at every check
  EXPECT_EQ(RefreshWallpaper(), -1);
  EXPECT_EQ(RefreshWallpaper(), -1);
  ASSERT_EQ(world_.systemLog.size(), 1u);
  EXPECT_NE(world_.systemLog[0].find(Picture("2004", "8")), std::string::npos) << world_.systemLog[0];
  world_.missing = false;

  Config.CELL_X = 1000.0;  // the frame cannot be scaled to 16-bit pixels
  EXPECT_EQ(RefreshWallpaper(), -1);
  Config.CELL_X = 0.09;

  fakes::FaultyFiles failingThirdWrite;  // the pixel rows cannot be written
  failingThirdWrite.failingWrite = 3;
  platform::Current().files = &failingThirdWrite;
  EXPECT_EQ(RefreshWallpaper(), -1);
  platform::Current().files = &platform::SystemFiles();

  BaseDir = (folder_ / "no such folder").string() + platform::PathSeparator();  // wp.bmp cannot be created
  EXPECT_EQ(RefreshWallpaper(), -1);
  BaseDir = folder_.path.string() + platform::PathSeparator();

  EXPECT_EQ(testing_files::ReadFile(Bitmap()), "previous wallpaper");
  EXPECT_TRUE(world_.log.empty());
  EXPECT_EQ(CalendarImage, nullptr);
}

TEST_F(RefreshTest, ARefusedWallpaperChangeIsRetriedAloneUntilTheDesktopTakesIt) {
  world_.refusals = 2;
  const auto checks = [](int count) { while (count-- > 0) CheckDayChange(); };
  checks(1);  // composed, saved, refused: the day is not done
  EXPECT_EQ(LastDay, 0);
  EXPECT_EQ(world_.pictures.size(), 1u);
  checks(3);  // refused once more, then taken; later ticks do nothing
  EXPECT_EQ(world_.pictures.size(), 1u) << "a desktop-only retry must not decode again";
  EXPECT_EQ(std::count(world_.log.begin(), world_.log.end(), "wallpaper 20 0 " + Bitmap() + " 3"), 3);
  EXPECT_EQ(LastDay, 31);
  EXPECT_TRUE(PendingDesktop.bitmapPath.empty());

  // Refused on 5 September, retried on 5 October: a new date makes the new month's picture.
  world_.refusals = 1;
  clock_.Set(testing::At(2004, 9, 5)), checks(1);
  clock_.Set(testing::At(2004, 10, 5)), checks(1);
  EXPECT_EQ(world_.pictures.size(), 3u);
  EXPECT_EQ(world_.pictures.back(), Picture("2004", "10"));
  EXPECT_EQ(LastMonth, 10);
}

// Monitors of other shapes than the picture: each gets the whole picture fitted, the bars
// filled calm and darker from its edges, or one picture spans them; a refusal is retried
// from wp.bmp without a decode. Monitors of the picture's shape, or a desktop that takes
// no picture per monitor, keep the one wp.bmp. Pictures of monitors gone are removed,
// the desktops' own copies ("wp-a.bmp") are not.
TEST_F(RefreshTest, MonitorsOfOtherShapesEachGetTheWholePictureFitted) {
  using Taken = platform::Desktop::MonitorPictures;
  const platform::Monitor hdmi{"HDMI-1", 0, 0, 320, 200, true}, portrait{"DP:2/x", 320, 0, 100, 200, false};
  const platform::Monitor first{"\\\\.\\DISPLAY1", 0, 0, 320, 200, true}, second{"\\\\.\\DISPLAY2", 320, -40, 100, 200, false};
  // Names alike up to the file name's cut; a box at the far end of the coordinates.
  const std::string cut(48, 'L');
  const int distant = std::numeric_limits<int>::max() - 100;
  const struct { Taken taken; int pictureWidth; std::vector<platform::Monitor> layout; int refusals; std::set<std::string> files; std::string handOver; } cases[] = {
      {Taken::PerMonitor, 100, {{"HDMI-1", 0, 0, 200, 200, true}, {"DP-1", 200, 0, 201, 200, false}}, 0, {"wp-a.bmp"}, "wallpaper 20 0 %wp.bmp 3"},
      {Taken::None, 160, {hdmi, portrait}, 0, {"wp-a.bmp"}, "wallpaper 20 0 %wp.bmp 3"},
      {Taken::PerMonitor, 160, {hdmi, portrait}, 0, {"wp-a.bmp", "wp-HDMI-1.bmp", "wp-DP-2-x.bmp"}, "monitors HDMI-1=%wp-HDMI-1.bmp DP:2/x=%wp-DP-2-x.bmp"},
      {Taken::PerMonitor, 160, {hdmi, portrait}, 1, {"wp-a.bmp", "wp-HDMI-1.bmp", "wp-DP-2-x.bmp"}, "monitors HDMI-1=%wp-HDMI-1.bmp DP:2/x=%wp-DP-2-x.bmp"},
      {Taken::Spanned, 160, {first, second}, 0, {"wp-a.bmp", "wp-span.bmp"}, "spanned %wp-span.bmp"},
      {Taken::Spanned, 160, {{"A", 0, distant + 40, 320, 200, true}, {"B", 320, distant, 100, 200, false}}, 0, {"wp-a.bmp", "wp-span.bmp"}, "spanned %wp-span.bmp"},
      // Monitors added by any client of the display: more pixels than their pictures may have.
      {Taken::PerMonitor, 160, {hdmi, {"M1", 0, 0, 8192, 8192, false}, {"M2", 0, 0, 8192, 8192, false}}, 0, {"wp-a.bmp"}, "wallpaper 20 0 %wp.bmp 3"},
      {Taken::PerMonitor, 160, {{cut + "-1", 0, 0, 320, 200, true}, {cut + "-2", 320, 0, 100, 200, false}}, 0, {"wp-a.bmp", "wp-" + cut + ".bmp", "wp-" + cut + "-2.bmp"},
       "monitors " + cut + "-1=%wp-" + cut + ".bmp " + cut + "-2=%wp-" + cut + "-2.bmp"},
      // 9 % off the picture's shape (wider), and rows that need padding.
      {Taken::PerMonitor, 160, {hdmi, {"DP-1", 320, 0, 641, 366, false}}, 0, {"wp-a.bmp", "wp-HDMI-1.bmp", "wp-DP-1.bmp"},
       "monitors HDMI-1=%wp-HDMI-1.bmp DP-1=%wp-DP-1.bmp"},
      // Written a MiB of rows at a time: the last of them alone.
      {Taken::PerMonitor, 160, {hdmi, {"DP-3", 320, 0, 641, 545, false}}, 0, {"wp-a.bmp", "wp-HDMI-1.bmp", "wp-DP-3.bmp"},
       "monitors HDMI-1=%wp-HDMI-1.bmp DP-3=%wp-DP-3.bmp"}};
  // The region's picture (grey, 128) as large as fits, centred, its shape within a pixel;
  // beside it a fill darker than the picture, without a step of more than 2.
  const auto expectFitted = [](const std::string& file, int width, int height, int x0, int y0, int w, int h) {
    const auto green = [&](int x, int y) {
      return static_cast<unsigned char>(file.at(58 + static_cast<std::size_t>(height - 1 - y) * ((width * 3 + 3) & ~3) + 3 * static_cast<std::size_t>(x) + 1));
    };
    int top = -1, bottom = -1, left = -1, right = -1;
    for (int y = 0; y < h; ++y) {
      if (green(x0 + w / 2, y0 + y) < 100) continue;
      if (top < 0) top = y;
      bottom = y + 1;
    }
    for (int x = 0; x < w; ++x) {
      if (green(x0 + x, y0 + h / 2) < 100) continue;
      if (left < 0) left = x;
      right = x + 1;
    }
    EXPECT_LE(std::abs((bottom - top) * 160 - (right - left) * 100), 160) << left << ".." << right << " " << top << ".." << bottom;
    EXPECT_TRUE((top == 0 && bottom == h) || (left == 0 && right == w));
    EXPECT_LE(std::abs(top - (h - bottom)), 1);
    EXPECT_LE(std::abs(left - (w - right)), 1);
    const auto fill = [&](int x, int y) { return y < top || y >= bottom || x < left || x >= right; };
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        if (!fill(x, y)) continue;
        EXPECT_TRUE(green(x0 + x, y0 + y) >= 30 && green(x0 + x, y0 + y) <= 70) << x << "," << y;
        if (x > 0 && fill(x - 1, y)) EXPECT_LE(std::abs(green(x0 + x, y0 + y) - green(x0 + x - 1, y0 + y)), 2);
        if (y > 0 && fill(x, y - 1)) EXPECT_LE(std::abs(green(x0 + x, y0 + y) - green(x0 + x, y0 + y - 1)), 2);
      }
    }
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.handOver + " refused " + std::to_string(c.refusals));
    for (const std::string& name : testing_files::Names(folder_.path)) fs::remove(folder_ / name);
    testing_files::WriteFile(folder_ / "wp-VGA-9.bmp", "a monitor gone");
    testing_files::WriteFile(folder_ / "wp-a.bmp", "a desktop's copy");
    testing_files::WriteFile(folder_ / "wp-VGA-9-b.bmp", "a desktop's copy of a monitor's picture");
    monitors = c.layout, world_.taken = c.taken, world_.pictureWidth = c.pictureWidth, world_.refusals = c.refusals;
    world_.log.clear(), world_.pictures.clear();
    LastDay = 0;
    CheckDayChange(), CheckDayChange();
    EXPECT_EQ(LastDay, 31);
    EXPECT_EQ(world_.pictures.size(), 1u);
    std::string handOver = c.handOver;
    for (std::size_t at; (at = handOver.find('%')) != std::string::npos;) handOver.replace(at, 1, BaseDir);
    EXPECT_EQ(world_.log.back(), handOver);
    std::set<std::string> files = testing_files::Names(folder_.path);
    files.erase("wp.bmp"), files.erase("Zorvani2004");
    EXPECT_EQ(files.erase("wp-VGA-9-b.bmp"), 1u);
    EXPECT_EQ(files, c.files);
    if (c.files.count("wp-DP-2-x.bmp") != 0) {
      expectFitted(testing_files::ReadFile(folder_ / "wp-DP-2-x.bmp"), 100, 200, 0, 0, 100, 200);
      expectFitted(testing_files::ReadFile(folder_ / "wp-HDMI-1.bmp"), 320, 200, 0, 0, 320, 200);
    }
    if (c.files.count("wp-DP-1.bmp") != 0) expectFitted(testing_files::ReadFile(folder_ / "wp-DP-1.bmp"), 641, 366, 0, 0, 641, 366);
    if (c.files.count("wp-DP-3.bmp") != 0) {
      const std::string made = testing_files::ReadFile(folder_ / "wp-DP-3.bmp");
      ASSERT_EQ(made.size(), 58u + 1924u * 545u);
      expectFitted(made, 641, 545, 0, 0, 641, 545);
    }
    if (c.files.count("wp-span.bmp") != 0) {
      // The virtual screen's box from (0, -40): DISPLAY1 lower left, DISPLAY2 above right, black below it.
      const std::string span = testing_files::ReadFile(folder_ / "wp-span.bmp");
      ASSERT_EQ(span.size(), 58u + 1260u * 240u);
      expectFitted(span, 420, 240, 0, 40, 320, 200);
      expectFitted(span, 420, 240, 320, 0, 100, 200);
      EXPECT_EQ(span.substr(58 + 5 * 1260 + 380 * 3, 3), std::string(3, '\0'));
    }
  }
  // A monitor unplugged: the one wp.bmp again, from the file, without a decode.
  monitors.resize(1);
  MonitorsChanged();
  EXPECT_EQ(world_.log.back(), "wallpaper 20 0 " + Bitmap() + " 3");
  EXPECT_FALSE(fs::exists(folder_ / "wp-span.bmp"));
  EXPECT_EQ(world_.pictures.size(), 1u);
  // A monitor whose picture cannot be written is no monitor shown, whatever came after it,
  // even a monitor of the picture's own size, whose picture is wp.bmp's rows as they are.
  fs::create_directory(folder_ / "wp-HDMI-1.bmp");
  monitors = {hdmi, portrait, {"M3", 420, 0, 160, 100, false}};
  MonitorsChanged();
  EXPECT_EQ(world_.log.back(), "wallpaper 20 0 " + Bitmap() + " 3");
  fs::remove(folder_ / "wp-HDMI-1.bmp");
  // A wp.bmp whose header no picture can have (a height of -200), or cut in half, makes
  // no monitor's picture.
  const std::string whole = testing_files::ReadFile(Bitmap());
  std::string bad = whole;
  const std::int32_t negative = -200;
  std::memcpy(&bad[22], &negative, 4);
  for (const std::string& written : {bad, whole.substr(0, whole.size() / 2)}) {
    testing_files::WriteFile(Bitmap(), written);
    monitors = {hdmi, portrait};
    LastDay = 31, PendingDesktop = {};  // shown, no retry due: the change reads wp.bmp back
    MonitorsChanged();
    EXPECT_FALSE(fs::exists(folder_ / "wp-HDMI-1.bmp")) << written.size();
  }
#ifndef _WIN32
  // Nor does a FIFO in its place, which no one writes: the change is not held up.
  fs::remove(Bitmap());
  ASSERT_EQ(mkfifo(Bitmap().c_str(), 0600), 0);
  LastDay = 31, PendingDesktop = {};
  MonitorsChanged();
  EXPECT_FALSE(fs::exists(folder_ / "wp-HDMI-1.bmp"));
#endif
}

// The calendar folder's wp.bmp belongs to another user: only a refused rename sends this
// user's day to their own folder, and only where the platform has one; a folder where
// nothing may be made is not another user's wp.bmp.
TEST_F(RefreshTest, ABitmapThisUserMayNotReplaceGoesToTheirOwnFolder) {
#ifdef _WIN32
  const std::uint32_t denied = 5, busy = 32;  // ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION
#else
  const std::uint32_t denied = EPERM, busy = EBUSY;
#endif
  const std::string own = (folder_ / "own").string() + platform::PathSeparator();
  fs::create_directories(own);
  const struct { std::uint32_t code; bool userFolder, create; Status result; } cases[] = {
      {denied, true, false, 0}, {denied, false, false, -1}, {busy, true, false, -1}, {denied, true, true, -1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    fs::remove(own + "wp.bmp");
    world_.log.clear();
    world_.userFolder = c.userFolder ? own : "";
    fakes::FaultyFiles files;
    (c.create ? files.failCreateOf : files.failMoveTo) = Bitmap(), files.failureCode = c.code;
    platform::Current().files = &files;
    EXPECT_EQ(RefreshWallpaper(), c.result);
    platform::Current().files = &platform::SystemFiles();
    EXPECT_FALSE(fs::exists(Bitmap()));
    EXPECT_EQ(fs::exists(own + "wp.bmp"), c.result == 0);
    EXPECT_EQ(world_.log.empty() ? "" : world_.log.back(), c.result == 0 ? "wallpaper 20 0 " + own + "wp.bmp 3" : "");
  }
}

// The auto-start value as it was at start keeps the program; gone or changed, it has been
// removed. Started without one, or while its hive cannot be read, nothing counts as a removal.
TEST_F(RefreshTest, ARemovedOrChangedAutoStartValueMeansRemoval) {
  const std::string cal = "\"C:\\Cal\\zorvani-wallpaper.exe\"";
  // hive: the real hive as a link to there. /proc/self/mem's first page no process
  // maps, so every read fails with EIO, as on a network home that hiccups; a link whose
  // file is away for a moment (an unmounted share) or a device is no removal either. A
  // value stored without its NUL (by hand) is read up to its end. While an MSI repair or
  // upgrade runs (its mutex held), a value gone for a moment is no removal.
  const std::string unterminated = (folder_ / "unterminated.reg").string();
  testing_files::WriteFile(unterminated, "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run]\n"
                                         "\"ZorvaniWallPaper\"=hex(1):7a,77\n");
  const struct { std::string atStart; std::optional<std::string> now; bool keyMissing, removed; std::string hive; bool installing = false; } cases[] = {
      {cal, cal, false, false, ""}, {cal, std::nullopt, false, true, ""},
      {cal, "\"D:\\Other\\zorvani-wallpaper.exe\"", false, true, ""}, {cal, std::nullopt, true, true, ""},
      {"", std::nullopt, true, false, ""}, {cal, std::nullopt, false, false, "/proc/self/mem"},
      {cal, std::nullopt, false, false, "/nowhere/share/HKEY_LOCAL_MACHINE.reg"},
      {cal, std::nullopt, false, false, "/dev/null"}, {"zw", std::nullopt, false, false, unterminated},
      {cal, std::nullopt, false, false, "", true}};
  for (const auto& c : cases) {
    if (!c.hive.empty()) {
#ifdef _WIN32
      continue;
#else
      fs::create_directories(folder_ / "zorvani-wallpaper");
      fs::remove(folder_ / "zorvani-wallpaper" / "HKEY_LOCAL_MACHINE.reg");
      fs::create_symlink(c.hive, folder_ / "zorvani-wallpaper" / "HKEY_LOCAL_MACHINE.reg");
      setenv("XDG_CONFIG_HOME", folder_.path.c_str(), 1);
      platform::Current().registry = &platform::SystemRegistry();
#endif
    }
    AutoStartCommandLine = c.atStart;
    world_.runValue = c.now;
    world_.runKeyMissing = c.keyMissing;
#ifdef _WIN32
    const HANDLE installing = c.installing ? CreateMutexA(nullptr, FALSE, "Global\\_MSIExecute") : nullptr;
#else
    if (c.installing) continue;
#endif
    EXPECT_EQ(ProgramRemoved(), c.removed) << c.atStart << " now " << c.now.value_or("<none>") << " " << c.hive;
#ifdef _WIN32
    if (installing != nullptr) CloseHandle(installing);
#endif
  }
  AutoStartCommandLine.clear();
#ifndef _WIN32
  unsetenv("XDG_CONFIG_HOME");
#endif
}

// --uninstall with no other copy running in this session (its lock in a private folder
// of the test's own) gives the wallpaper back for the calendar the auto-start value names.
TEST_F(RefreshTest, UninstallGivesTheWallpaperBackWhereNoCopyRuns) {
  world_.runValue = "\"" + BaseDir + "zorvani-wallpaper.exe\" --x";
#ifndef _WIN32
  fs::create_directories(folder_ / "run");
  fs::permissions(folder_ / "run", fs::perms::owner_all);
  setenv("XDG_RUNTIME_DIR", (folder_ / "run").c_str(), 1);
#endif
  testing_files::WriteFile(folder_ / "wp-HDMI-1.bmp", "a monitor's picture");
  const std::string base = BaseDir;
  BaseDir.clear();  // a process of its own: the folder comes from the value alone
  EXPECT_EQ(UninstallStep(), 0);
  EXPECT_EQ(world_.log.empty() ? "" : world_.log.back(), "give back " + base + "wp.bmp");
  EXPECT_FALSE(fs::exists(folder_ / "wp-HDMI-1.bmp"));
#ifndef _WIN32
  unsetenv("XDG_RUNTIME_DIR");
#endif
}

}  // namespace
}  // namespace zorvani
