// The whole program against the real system, natively and under Wine. From start to end:
// one instance, the silent end without an auto-start key, the end from outside, a run-time
// error's report, and --help and --version. Its refresh: month pictures on disk, the
// auto-start value in the registry, a faked date, and then wp.bmp, the desktop values and
// the wallpaper setting as the desktop would find them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "e2e/harness.h"
#include "tools/calendar/month_picture.h"
#include "tools/calendar/photo_files.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

class StartUp : public ::testing::Test {
 protected:
  void SetUp() override { sandbox.SetAutoStart(sandbox.SystemPath(sandbox.ProgramPath())); }
  Sandbox sandbox;
};

// The first runs under a moving fake clock past a tick of its timer: its loop keeps its
// rhythm on the real monotonic clock and still ends cleanly when closed from outside.
TEST_F(StartUp, ASecondInstanceEndsAtOnceWhileTheFirstGoesOn) {
  WriteFile(sandbox.Path("faketime"), "-86400\n");
  auto first = sandbox.Start({{"FAKETIME_TIMESTAMP_FILE", sandbox.Path("faketime")}});
  ASSERT_TRUE(first->StaysRunningFor(SettleTime())) << first->StandardError();
  auto second = sandbox.Start();
  EXPECT_EQ(second->Wait(), 0);
  EXPECT_EQ(second->StandardError() + second->StandardOutput(), "");
  EXPECT_TRUE(first->StaysRunningFor(Millis{5500})) << "the first instance has ended";
  ExpectCleanEnd(*first);
}

// Natively, without a runtime folder, the lock lies in a folder of the program's own in
// TMPDIR, one lock per graphical session.
class PrivateLock : public StartUp {
 protected:
  void SetUp() override {
    if (UnderWine()) GTEST_SKIP() << "Windows keeps its named mutex";
    StartUp::SetUp();
    fs::create_directory(tmp);
    fs::permissions(tmp, fs::perms::all | fs::perms::sticky_bit);
  }
  Env Session(const std::string& display) const {
    return {{"XDG_RUNTIME_DIR", ""}, {"TMPDIR", tmp}, {"WAYLAND_DISPLAY", ""}, {"DISPLAY", display}, {"PATH", sandbox.Path("bin")}};
  }
  const std::string tmp = sandbox.Path("tmp"), folder = tmp + "/zorvani-wallpaper-" + std::to_string(geteuid());
  const std::string oldLock = folder + ".lock";  // where earlier versions locked
};

// One copy per graphical session; whatever another local user left (the lock's folder
// or file made first and the lock held, links planted in their place, a socket bound for
// the session's display number), the program starts, never writes through a link and
// ends when asked.
TEST_F(PrivateLock, OneCopyPerSessionWhateverAnotherUserLeftInTheTemporaryFolder) {
  const std::string elsewhere = sandbox.Path("elsewhere");
  std::vector<int> held;
  const auto hold = [&](const std::string& path) {
    held.push_back(open(path.c_str(), O_RDWR | O_CREAT, 0666));
    ASSERT_EQ(flock(held.back(), LOCK_EX | LOCK_NB), 0);
    ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
  };
  const std::pair<const char*, std::function<void()>> kPlanted[] = {
      {"nothing", [] {}},
      {"held by another user", [&] {
         fs::create_directory(folder);
         fs::permissions(folder, fs::perms::all);
         hold(folder + "/instance-:57.lock"), hold(oldLock);
         ASSERT_EQ(chown(folder.c_str(), 65534, 65534), 0);
       }},
      {"links", [&] { fs::create_symlink(elsewhere, folder), fs::create_symlink(elsewhere + "/planted", oldLock); }},
      {"a display socket that accepts and never answers", [&] {
         held.push_back(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
         const sockaddr_un address{AF_UNIX, "\0/tmp/.X11-unix/X57"};  // abstract, as X servers bind it
         ASSERT_EQ(bind(held.back(), reinterpret_cast<const sockaddr*>(&address), offsetof(sockaddr_un, sun_path) + 19), 0);
         ASSERT_EQ(listen(held.back(), 8), 0);
       }}};
  for (const auto& [what, plant] : kPlanted) {
    SCOPED_TRACE(what);
    fs::remove_all(elsewhere);
    fs::create_directory(elsewhere);
    fs::permissions(elsewhere, fs::perms::owner_all);  // as private as ours: only the link shows
    for (const auto& entry : fs::directory_iterator(tmp)) fs::remove_all(entry);
    plant();
    auto program = sandbox.Start(Session(":57"));
    EXPECT_TRUE(program->StaysRunningFor(SettleTime())) << "stopped by another user's files";
    // Only in a folder of its own is a second copy stopped: without one, better two than none.
    if (*what == 'n') {
      EXPECT_EQ(sandbox.Start(Session(":57.0"))->Wait(), 0) << "a second copy in the same session";
      EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all);
    }
    auto other = sandbox.Start(Session(":58"));
    EXPECT_TRUE(other->StaysRunningFor(SettleTime())) << "the copy of another session did not start";
    EXPECT_TRUE(fs::is_empty(elsewhere)) << "written through a link";
    ExpectCleanEnd(*program);
    ExpectCleanEnd(*other);
    for (const int fd : std::exchange(held, {})) close(fd);
  }
}

// A package removed under a running copy: the program file behind the calendar folder's
// link goes while the user's auto-start value stays, and the copy ends at its next tick.
TEST_F(StartUp, ACopyEndsWhenThePackageTakesItsProgramFile) {
  if (UnderWine()) GTEST_SKIP() << "Windows keeps a running program's file";
  const std::string installed = sandbox.Path("installed"), link = sandbox.Path("link");
  fs::copy_file(sandbox.ProgramPath(), installed);
  fs::create_symlink(installed, link);
  auto program = sandbox.Start({}, {"sh", "-c", "exec \"$1\"", "sh", link});
  ASSERT_TRUE(program->StaysRunningFor(SettleTime())) << program->StandardError();
  fs::remove(installed);
  EXPECT_EQ(program->Wait(Millis{12000}), 0) << "(-1: still running with its program file gone)";
}

// Runs that end at once without doing the job: asked what it is (answered on standard
// output, under Windows too), without the auto-start value (silently; a longer command line
// is no question), and with a bad WP.ini entry (the run-time error's report).
TEST_F(StartUp, RunsThatEndAtOnce) {
  const struct { std::vector<std::string> arguments; bool autoStart; const char* ini; int status; std::string out, err; } runs[] = {
      {{"--version"}, true, "", 0, "zorvani-wallpaper", ""},
      {{"--help"}, true, "", 0, "zorvani-wallpaper", ""},
      {{"--version", "now"}, false, "", 2, "", ""},
      {{}, true, "[config]\r\nCELL_X=9000000000\r\nNOTES\r\n", 1, "", "Run-time error '9':"}};
  for (const auto& run : runs) {
    SCOPED_TRACE(testing::PrintToString(run.arguments) + " " + run.ini);
    sandbox.SetAutoStart(run.autoStart ? std::optional(sandbox.SystemPath(sandbox.ProgramPath())) : std::nullopt);
    if (*run.ini != '\0') WriteFile(sandbox.Path("WP.ini"), run.ini);
    auto program = sandbox.Start({}, {}, run.arguments);
    EXPECT_EQ(program->Wait(), run.status);
    EXPECT_NE(program->StandardOutput().find(run.out), std::string::npos) << program->StandardOutput();
    if (run.err.empty()) EXPECT_EQ(program->StandardError(), "");
    else EXPECT_NE(program->StandardError().find(run.err), std::string::npos) << program->StandardError();
  }
  EXPECT_FALSE(fs::exists(sandbox.Path("wp.bmp")));
}

constexpr int kWidth = 640, kHeight = 400;
const Millis kTick{5000};
const char kDesktopKey[] = "HKCU\\Control Panel\\Desktop";
const char kDesktopReg[] = "config/zorvani-wallpaper/HKEY_CURRENT_USER.reg";

class Refresh : public ::testing::Test {
 protected:
  void SetUp() override {
    sandbox.SetAutoStart(sandbox.SystemPath(sandbox.ProgramPath()));
    WriteFile(sandbox.Path("WP.ini"), zorvani::tools::WpIniText(grid, frame));
    if (UnderWine()) {
      // The prefix is shared by the tests: start from a desktop without our values.
      for (const char* name : {"TileWallpaper", "WallpaperStyle", "Wallpaper"})
        sandbox.Run({"wine", "reg", "delete", kDesktopKey, "/v", name, "/f"});
    } else {
      desktop = sandbox.StubGnome();
    }
  }

  std::string Picture(int year, int month) const {
    return base + "/Zorvani" + std::to_string(year) + "/" + std::to_string(month) + ".jpg";
  }
  void MakePicture(int year, int month) const {
    fs::create_directories(base + "/Zorvani" + std::to_string(year));
    zorvani::tools::WriteMonthPicture({year, month, kWidth, kHeight, grid}, 90, Picture(year, month));
  }
  std::unique_ptr<Program> StartAt(const std::string& date) const {
    Env env = desktop;
    return env["FAKETIME"] = "@" + date, sandbox.Start(env);
  }
  std::string Bitmap() const { return base + "/wp.bmp"; }

  // The desktop value as the registry holds it now.
  std::string DesktopValue(const std::string& name) const {
    std::string text = ReadFile(sandbox.Path(kDesktopReg)), key = "\"" + name + "\"=\"";
    if (UnderWine())
      sandbox.Run({"wine", "reg", "query", kDesktopKey, "/v", name}), text = ReadFile(sandbox.Path("command.out")), key = "REG_SZ";
    auto at = text.find(key);
    if (at == std::string::npos) return "<missing>";
    at = UnderWine() ? text.find_first_not_of(' ', at + key.size()) : at + key.size();
    return text.substr(at, text.find_first_of(UnderWine() ? "\r\n" : "\"", at) - at);
  }

  // wp.bmp against the month picture as libjpeg-turbo decodes it: the frame pixels hold the
  // frame colour exactly, every other pixel the picture's within a small tolerance.
  void ExpectFramedBitmap(int year, int month, int day) const {
    const std::string bmp = ReadFile(Bitmap()), jpeg = ReadFile(Picture(year, month));
    const std::size_t stride = (kWidth * 3 + 3) & ~3u;  // the header's bytes are checked by the unit suite
    ASSERT_EQ(bmp.size(), 58 + stride * kHeight);
    const auto picture = zorvani::tools::DecodeJpeg({jpeg.begin(), jpeg.end()});
    ASSERT_EQ(picture.pixels.size(), 3u * kWidth * kHeight);

    // The frame round the cell, rounded as the frame drawing rounds; y counts the top line as 1.
    int row = 0, column = 0;
    zorvani::tools::CellOf(year, month, day, &row, &column);
    const auto c = zorvani::tools::CellRectOf(grid, kWidth, kHeight, row, column);
    const int t = static_cast<int>(std::nearbyint(frame.RECT_THICKNESS * kWidth));
    const auto in = [](int v, int from, int to) { return v >= from && v <= to; };
    int framePixels = 0, worst = 0;
    long long totalDifference = 0;
    for (int y = 1; y <= kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x) {
        const auto* bgr = reinterpret_cast<const std::uint8_t*>(&bmp[58 + (kHeight - y) * stride + 3 * x]);
        const std::uint8_t* rgb = &picture.pixels[((y - 1) * kWidth + x) * 3u];
        if ((in(x, c.left, c.right - 1) && (in(y, c.top, c.top + t - 1) || in(y, c.bottom - t + 1, c.bottom))) ||
            (in(y, c.top, c.bottom) && (in(x, c.left, c.left + t - 1) || in(x, c.right - t + 1, c.right)))) {
          ++framePixels;
          ASSERT_EQ((std::array<int, 3>{bgr[0], bgr[1], bgr[2]}),
                    (std::array<int, 3>{frame.B_COMP, frame.G_COMP, frame.R_COMP})) << "frame pixel " << x << "," << y;
        } else {
          for (int i = 0, d = 0; i < 3; ++i) d = std::abs(bgr[2 - i] - rgb[i]), worst = std::max(worst, d), totalDifference += d;
        }
      }
    }
    const int w = c.right - c.left + 1, h = c.bottom - c.top + 1;
    EXPECT_EQ(framePixels, w * h - (w - 2 * t) * (h - 2 * t)) << "frame at " << c.left << "," << c.top;
    EXPECT_LE(worst, 8) << "a pixel outside the frame differs from the picture";
    EXPECT_LT(static_cast<double>(totalDifference) / (kWidth * kHeight * 3), 0.5);
  }

  void ExpectDesktopSetUp() const {
    EXPECT_EQ(DesktopValue("TileWallpaper") + DesktopValue("WallpaperStyle"), "02");
    if (UnderWine()) {
      EXPECT_EQ(DesktopValue("Wallpaper"), sandbox.SystemPath(Bitmap()));
    } else {
      const std::string log = ReadFile(sandbox.Path("gsettings.log"));
      for (const std::string set : {"picture-uri 'file://" + Bitmap() + "'", std::string("picture-options 'stretched'")})
        EXPECT_NE(log.find("set org.gnome.desktop.background " + set), std::string::npos) << log;
    }
  }

  Sandbox sandbox;
  // BaseDir: the folder of the pictures and of wp.bmp.
  std::string base = sandbox.folder();
  zorvani::tools::GridGeometry grid;
  zorvani::tools::FrameStyle frame;
  Env desktop;
};

TEST_F(Refresh, FramesTodayAndMakesItTheWallpaper) {
  // Row 5, column 1; a leap day in row 4, column 6; the first cell of a month. The first
  // picture is missing at the start, then corrupt: the program keeps running and trying at
  // every tick, and the wallpaper appears within a tick of the good file. Under Windows the
  // wallpaper from before the first of these three log-ons is the one --uninstall gives back.
  const std::string previous = sandbox.SystemPath(sandbox.Path("previous.bmp"));
  if (UnderWine()) {
    sandbox.Run({"convert", "-size", "8x8", "xc:navy", "BMP3:" + sandbox.Path("previous.bmp")});
    sandbox.Run({"wine", "reg", "delete", "HKCU\\Software\\ZorvaniWallpaper", "/f"});
    sandbox.Run({"wine", "reg", "add", kDesktopKey, "/v", "Wallpaper", "/d", previous, "/f"});
  }
  for (const auto& [year, month, day, at] : std::vector<std::tuple<int, int, int, std::string>>{
           {2004, 8, 31, "2004-08-31 08:00:00"}, {2004, 2, 29, "2004-02-29 23:00:00"}, {2004, 3, 1, "2004-03-01 00:00:30"}}) {
    SCOPED_TRACE(at);
    const bool late = day == 31;
    if (!late) MakePicture(year, month);
    fs::remove(Bitmap());
    auto program = StartAt(at);
    if (late) {
      ASSERT_TRUE(program->StaysRunningFor(SettleTime() + Millis{1000})) << program->StandardError();
      WriteFile(Picture(year, month), std::string("\xFF\xD8\xFF\xE0 this is no picture", 24));
      ASSERT_TRUE(program->StaysRunningFor(kTick + Millis{1000})) << program->StandardError();
      EXPECT_FALSE(fs::exists(Bitmap()));
      MakePicture(year, month);
    }
    ASSERT_TRUE(WaitForFile(Bitmap(), late ? kTick + Millis{3000} : ExitTimeout())) << program->StandardError();
    ASSERT_TRUE(program->StaysRunningFor(SettleTime()));
    ExpectFramedBitmap(year, month, day);
    ExpectDesktopSetUp();
    ExpectCleanEnd(*program);
  }
  if (UnderWine()) {
    EXPECT_EQ(sandbox.Start({}, {}, {"--uninstall"})->Wait(), 0);
    EXPECT_EQ(DesktopValue("Wallpaper"), previous);
  }
}

// An end that comes during the first refresh stops it at its next step, and the program
// ends without writing wp.bmp: natively one already waiting when the program starts, under
// Windows a close (taskkill's WM_CLOSE) while the largest picture allowed is being framed.
TEST_F(Refresh, AnEndDuringTheFirstRefreshStopsItAtItsNextStep) {
  std::unique_ptr<Program> program;
  if (!UnderWine()) {
    MakePicture(2004, 8);
    program = sandbox.Start({{"FAKETIME", "@2004-08-31 12:00:00"}}, {"perl", "-MPOSIX", "-e",
        "sigprocmask(SIG_BLOCK, POSIX::SigSet->new(SIGTERM)); kill 'TERM', $$; exec @ARGV"});
  } else {
    fs::create_directories(base + "/Zorvani2004");
    zorvani::tools::WriteMonthPicture({2004, 8, 8192, 8192, grid}, 90, Picture(2004, 8));  // seconds of work
    // A close that a loaded machine delivers only after the refresh has ended proves
    // nothing either way: three tries, so that only a refresh that never stops fails.
    for (int attempt = 0; attempt < 3 && (attempt == 0 || fs::exists(Bitmap())); ++attempt) {
      fs::remove(Bitmap());
      program = StartAt("2004-08-31 12:00:00");
      // taskkill finds the hidden window as soon as it exists; the first refresh runs then.
      // A close that comes while a fresh prefix still makes the window may be lost, so
      // closes go on until the program has ended.
      bool closed = false;
      for (int i = 0; i < 60 && program->Wait(Millis{0}) == -1; ++i)
        closed = sandbox.Run({"wine", "taskkill", "/im", "zorvani-wallpaper.exe"}, Millis{10000}) == 0 || closed;
      ASSERT_TRUE(closed) << "taskkill never reached the program's window";
      // Showing an 8192 x 8192 wallpaper takes Wine's desktop a while.
      ASSERT_EQ(program->Wait(Millis{60000}), 0) << program->StandardError();
    }
  }
  EXPECT_EQ(program->Wait(Millis{10000}), 0) << program->StandardError();
  EXPECT_FALSE(fs::exists(Bitmap())) << "the refresh ran to its end";
}

}  // namespace
}  // namespace e2e
