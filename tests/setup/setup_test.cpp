// zorvani-wallpaper-setup's own work in a private folder that stands in for a home:
// what it writes is read back by the real readers (GLib, desktop-file-validate, the
// program's own Run value parsing), and removal meets what users do to the folder.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/instance_checker.h"
#include "platform/posix/reg_files/reg_file.h"
#include "tools/calendar/month_picture.h"
#include "tools/setup/setup.h"

#include "command.h"

namespace {

namespace fs = std::filesystem;
using zorvani::setup::Places;
using zorvani::setup::Request;
using testing_files::WriteFile;
using Change = std::function<void(const fs::path& folder, const fs::path& home)>;  // what a user did since set-up

// A month picture the program shows.
std::string Jpeg() {
  const auto bytes = zorvani::tools::EncodeJpeg({16, 8, std::vector<std::uint8_t>(16 * 8 * 3, 90)}, 90);
  return std::string(bytes.begin(), bytes.end());
}

// Every file, link and folder below root with its inode and change times: a rewrite shows.
std::map<std::string, std::string> Tree(const fs::path& root) {
  std::map<std::string, std::string> tree;
  if (!fs::exists(fs::symlink_status(root))) return tree;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    struct stat status;
    lstat(entry.path().c_str(), &status);
    tree[entry.path().lexically_relative(root).string()] =
        std::to_string(status.st_mode) + " " + std::to_string(status.st_ino) + " " +
        std::to_string(status.st_mtim.tv_nsec) + " " + std::to_string(status.st_ctim.tv_nsec);
  }
  return tree;
}

// Files, links and empty folders ("name/") below root, by name; the folders right under
// root stand for the XDG base folders, which any session makes, and do not count.
std::vector<std::string> Files(const fs::path& root) {
  std::vector<std::string> files;
  for (const auto& [name, kind] : Tree(root)) {
    const fs::path path = root / name;
    if (!fs::is_directory(fs::symlink_status(path))) files.push_back(name);
    else if (fs::is_empty(path) && fs::path(name).has_parent_path()) files.push_back(name + "/");
  }
  return files;
}

class SetupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The program records the path it was started by, as the entry's Exec names it, and
    // its arguments, its parent and session, and where its standard streams go.
    program_ = root_ / "bin" / "zorvani-wallpaper";
    testing_files::WriteProgram(program_,
              "[ -e /proc/$$/fd/3 ] && more=/proc/$$/fd/3\n"
              "fds=$(readlink /proc/$$/fd/0 /proc/$$/fd/1 /proc/$$/fd/2 $more)\n"
              "printf '%s\\n%s\\n%s\\n' \"$0${1:+ $*}\" \"$(cut -d' ' -f4,6 /proc/$$/stat)\" \"$fds\" "
              ">\"$ZORVANI_SETUP_STARTED.part\"\n"
              "mv \"$ZORVANI_SETUP_STARTED.part\" \"$ZORVANI_SETUP_STARTED\"\n");
    setenv("ZORVANI_SETUP_STARTED", (root_ / "started").c_str(), 1);
    pictures_ = root_ / "pictures";
    WriteFile(pictures_ / "Zorvani2026" / "1.jpg", Jpeg());
    WriteFile(pictures_ / "Zorvani2026" / "2.jpg", Jpeg());
    WriteFile(pictures_ / "WP.ini", "[config]\n");
  }
  Places PlacesIn(const fs::path& home) const {
    const fs::path config = home / "config" / "zorvani-wallpaper";
    Places places;
    places.folder = home / "data/zorvani-wallpaper", places.entry = home / "config/autostart/zorvani-wallpaper.desktop";
    places.runHive = config / "HKEY_LOCAL_MACHINE.reg", places.desktopHive = config / "HKEY_CURRENT_USER.reg";
    places.declined = config / "machine-calendar-declined", places.machineFolder = root_ / "machine";
    return places;
  }
  Request PicturesFrom(const fs::path& pictures) const {
    Request request;
    request.program = program_, request.pictures = pictures.string(), request.setup = ZORVANI_SETUP_COMMAND;
    return request;
  }
  // An empty home, and no program started yet.
  fs::path FreshHome() const {
    fs::remove_all(root_ / "home");
    fs::remove(root_ / "started");
    return root_ / "home";
  }
  // The started program's record, line by line; empty when nothing started within 10 s.
  std::vector<std::string> Started() const {
    testing_files::WaitForFile(root_ / "started", std::chrono::seconds(10));
    std::vector<std::string> lines;
    std::istringstream in(ReadFile(root_ / "started"));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  std::vector<std::string> UserEnvironment(const fs::path& home, std::vector<std::string> more) const {
    more.insert(more.begin(), {"HOME=" + home.string(), "XDG_DATA_HOME=" + (home / "data").string(), "PATH=/usr/bin:/bin",
                               "XDG_CONFIG_HOME=" + (home / "config").string(),
                               "ZORVANI_SETUP_STARTED=" + (root_ / "started").string()});
    return more;
  }
  // As the command ends: a failure that escapes is status 1; what it printed in said.
  static int Quietly(const std::function<int()>& step, std::string* said = nullptr) {
    testing::internal::CaptureStdout();
    int status = 1;
    try { status = step(); } catch (const std::exception&) {}
    const std::string out = testing::internal::GetCapturedStdout();
    if (said != nullptr) *said = out;
    return status;
  }
  static int Set(const Places& at, const Request& request) { return Quietly([&] { return zorvani::setup::SetUp(at, request); }); }
  static int Remove(const Places& at, std::string* said = nullptr) {
    return Quietly([&] { return zorvani::setup::Remove(at); }, said);
  }

  const testing_files::TempFolder root_;
  fs::path program_, pictures_;
};

// Folder names that each text set-up writes must carry exactly, or refuse with nothing
// written: the entry must pass desktop-file-validate and start the program through GLib,
// the Run value must give the program its folder back, and --remove must know the entry.
TEST_F(SetupTest, OddFolderNamesWorkOrAreRefused) {
  const std::pair<const char*, bool> rows[] = {
      {"plain", true},         {"my home", true},      {"it's", true},           {"say\"hi\"", true},
      {"back\\slash", true},   {"tab\\sname", true},   {"$(touch x)`id`", true}, {"a;b,c&d|e*?#~", true},
      {"Jos\xc3\xa9", true},   {"100%", false},        {"new\nline", false},     {"\xff\xfe", false},
      {"my \"home\"", false},
  };
  for (const auto& [name, works] : rows) {
    SCOPED_TRACE(name);
    const fs::path home = root_ / name;
    const Places places = PlacesIn(home);
    const int status = Set(places, PicturesFrom(pictures_));
    if (!works) {
      EXPECT_NE(status, 0);
      EXPECT_FALSE(fs::exists(home)) << "refused, yet something was written";
      continue;
    }
    ASSERT_EQ(status, 0);
    EXPECT_EQ(RunCommand({"desktop-file-validate", places.entry.string()}).status, 0);
    fs::remove(root_ / "started");
    EXPECT_EQ(RunCommand({"gio", "launch", places.entry.string()}).status, 0);
    const std::vector<std::string> started = Started();
    ASSERT_FALSE(started.empty());
    EXPECT_EQ(started[0], places.link().string());

    const auto value = platform::RegFile(ReadFile(places.runHive)).FindValue(
        "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", "ZorvaniWallPaper");
    ASSERT_TRUE(value.has_value());
    const std::string commandLine(value->data.begin(), value->data.end() - 1);
    EXPECT_EQ(zorvani::BaseDirFromCommandLine(commandLine, '/'), places.folder.string() + "/");

    // The program's output and the copies desktops were handed go with it.
    for (const char* output : {"wp.bmp", "wp-a.bmp", "wp-b.bmp", "wp.png", "wp-a.png", "wp-b.png"}) WriteFile(places.folder / output, "");
    EXPECT_EQ(Remove(places), 0);
    EXPECT_EQ(Files(home), std::vector<std::string>());
  }
}

// --remove takes what set-up made and nothing else, whatever the user did to the folder
// since; what it keeps it names, and it finishes the rest.
TEST_F(SetupTest, RemoveTakesOnlyWhatSetUpMade) {
  const struct {
    const char* what;
    Change change;
    std::vector<std::string> left;  // below the home
    const char* said;
  } rows[] = {
      {"nothing changed", [](auto&, auto&) {}, {}, ""},
      {"a picture the user added", [](auto& folder, auto&) { WriteFile(folder / "Zorvani2026" / "holiday.jpg", "mine"); },
       {"data/zorvani-wallpaper/Zorvani2026/holiday.jpg"}, "kept with the pictures you added"},
      {"the year folder replaced by a link to the user's pictures",
       [](auto& folder, auto& home) {
         fs::remove_all(folder / "Zorvani2026");
         for (const char* name : {"1.jpg", "2.jpg", "3.jpg"}) WriteFile(home / "Pictures" / name, "mine");
         fs::create_symlink(home / "Pictures", folder / "Zorvani2026");
       },
       {"Pictures/1.jpg", "Pictures/2.jpg", "Pictures/3.jpg", "data/zorvani-wallpaper/Zorvani2026"}, "Kept:"},
      {"the calendar folder replaced by a link",
       [](auto& folder, auto& home) { fs::rename(folder, home / "Calendar"), fs::create_symlink(home / "Calendar", folder); },
       {"Calendar/.zorvani-setup", "Calendar/WP.ini", "Calendar/Zorvani2026/1.jpg", "Calendar/Zorvani2026/2.jpg",
        "Calendar/wp.bmp", "Calendar/zorvani-wallpaper", "data/zorvani-wallpaper"}, "Kept:"},
      {"the pictures made for each monitor or spanned over them",
       [](auto& folder, auto&) {
         for (const char* name : {"wp-HDMI-1.bmp", "wp-HDMI-1.png", "wp-span.bmp"}) WriteFile(folder / name, "output");
       },
       {}, ""},
      {"the lock screen's option turned on",
       [this](auto&, auto& home) {
         Request request = PicturesFrom(pictures_);
         request.lockScreen = true;
         EXPECT_EQ(Set(PlacesIn(home), request), 0);
         EXPECT_NE(ReadFile(PlacesIn(home).desktopHive).find("\"LockScreen\"=\"1\""), std::string::npos);
       },
       {}, ""},
      {"a listed file now a folder with files in it",
       [](auto& folder, auto&) { fs::remove(folder / "WP.ini"), WriteFile(folder / "WP.ini" / "notes.txt", "mine"); },
       {"data/zorvani-wallpaper/WP.ini/notes.txt"}, "Kept:"},
      {"a list doctored to name what is outside",
       [](auto& folder, auto& home) {
         WriteFile(home / "victim", "mine");
         std::ofstream(folder / ".zorvani-setup", std::ios::app) << "../../victim\n";
       },
       {"victim"}, ""},
      {"the desktop key holding a value of the user's beside the program's",
       [](auto&, auto& home) {
         WriteFile(home / "config/zorvani-wallpaper/HKEY_CURRENT_USER.reg",
                   "[HKEY_CURRENT_USER\\Control Panel\\Desktop]\n\"Wallpaper\"=\"x\"\n\"WallpaperOriginX\"=dword:00000005\n");
       },
       {"config/zorvani-wallpaper/HKEY_CURRENT_USER.reg"}, "kept: it holds other values"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    const fs::path home = FreshHome();
    const Places places = PlacesIn(home);
    ASSERT_EQ(Set(places, PicturesFrom(pictures_)), 0);
    WriteFile(places.folder / "wp.bmp", "the program's output");
    row.change(places.folder, home);
    std::string said;
    EXPECT_EQ(Remove(places, &said), 0);
    EXPECT_EQ(Files(home), row.left);
    EXPECT_NE(said.find(row.said), std::string::npos) << said;
    EXPECT_EQ(Remove(places), 0) << "again";
  }
}

// A user's list may hold a calendar's secret address: its file is 0600 before the
// address goes in, the address is printed only up to its host, and --remove keeps it.
TEST_F(SetupTest, CalendarSourcesListedPrivatelyAndKeptByRemoval) {
  const fs::path home = FreshHome();
  const Places places = PlacesIn(home);
  setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
  WriteFile(home / "days.ics", "BEGIN:VCALENDAR\nEND:VCALENDAR\n");
  ASSERT_EQ(Set(places, PicturesFrom(pictures_)), 0);
  const auto add = [](const std::string& text) { return Quietly([&] { return zorvani::setup::AddSource(false, text); }); };
  EXPECT_EQ(add("holidays #C02020 " + (home / "days.ics").string()), 0);
  std::string added;  // '@' in the password
  EXPECT_EQ(Quietly([] { return zorvani::setup::AddSource(false, "events https://me:p@ss@calendar.example/private/abc123/basic.ics"); }, &added), 0);
  EXPECT_EQ(added.find("abc123"), std::string::npos) << "an address printed whole: " << added;
  EXPECT_EQ(add("events " + (home / "days.ics").string()), 1) << "listed already";
  EXPECT_EQ(add("events http://calendar.example/plain.ics"), 2) << "an address without TLS";
  testing::internal::CaptureStderr();
  EXPECT_EQ(add("events https://me:pw@calendar.example/private/\tdef456.ics"), 2) << "a control character";
  // A password of digits with a '/' in it, which ends the host early and looks like a port.
  EXPECT_EQ(Quietly([] { return zorvani::setup::RemoveSource(false, "https://me:2718/x@calendar.example/x.ics"); }), 1);
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_EQ(said.find("2718"), std::string::npos) << "an address printed whole: " << said;
  struct stat info {};
  ASSERT_EQ(stat(places.desktopHive.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  // Written by hand: an address without TLS is no source either.
  platform::RegFile hive(ReadFile(places.desktopHive));
  const std::string plain = "events http://calendar.example/plain.ics";
  hive.SetValue("HKEY_CURRENT_USER\\Software\\ZorvaniWallpaper Calendars", "3", {1, {plain.begin(), plain.end()}});
  WriteFile(places.desktopHive, hive.Text());
  std::string listed;
  Quietly([] { return zorvani::setup::ListSources(false); }, &listed);
  EXPECT_EQ(listed, "1 holidays #C02020 " + (home / "days.ics").string() + "\n2 events https://calendar.example/...\n");
  EXPECT_EQ(Quietly([] { return zorvani::setup::RemoveSource(false, "1"); }), 0);
  EXPECT_EQ(Remove(places), 0);
  Quietly([] { return zorvani::setup::ListSources(false); }, &listed);
  EXPECT_EQ(listed, "2 events https://calendar.example/...\n");
  unsetenv("XDG_CONFIG_HOME");
}

// --pictures may name a folder a user made while set-up runs as root: only plain month
// pictures in real year folders are copied, never what a link points at, and only those
// the program can show, within the size their header allows, in 128 MiB of address space.
TEST_F(SetupTest, PicturesCopiedAreOnlyPlainMonthPictures) {
  const fs::path secret = root_ / "secret";
  WriteFile(secret / "1.jpg", Jpeg());
  WriteFile(secret / "WP.ini", "secret");
  const fs::path planted = root_ / "planted", year = planted / "Zorvani2026";
  WriteFile(year / "2.jpg", Jpeg());
  WriteFile(year / "notes.txt", "not a month");
  ASSERT_EQ(mkfifo((year / "3.jpg").c_str(), 0600), 0);
  fs::create_symlink(secret / "1.jpg", year / "1.jpg");
  fs::create_symlink(secret, planted / "Zorvani2027");
  fs::create_symlink(secret / "WP.ini", planted / "WP.ini");
  WriteFile(year / "4.jpg", "not a picture");
  fs::resize_file(year / "4.jpg", 200 << 20);  // sparse: no disk taken
  WriteFile(year / "5.jpg", Jpeg());
  fs::resize_file(year / "5.jpg", 64 << 20);
  std::string huge = Jpeg();
  WriteFile(year / "6.jpg", huge.replace(huge.find("\xFF\xC0") + 5, 4, "\x9C\x40\x9C\x40"));  // 40000 x 40000

  const fs::path home = FreshHome();
  const Places places = PlacesIn(home);
  const CommandRun run = RunCommand({ZORVANI_SETUP_COMMAND, "--pictures", planted.string(), "--program", program_.string()},
                                    UserEnvironment(home, {}), 128);
  ASSERT_EQ(run.status, 0) << run.said;
  for (const char* refused : {"4.jpg  (not a JPEG picture the program can show", "5.jpg  (67108864 bytes, more than",
                              "6.jpg  (not a JPEG picture"})
    EXPECT_NE(run.said.find(refused), std::string::npos) << refused << "\n" << run.said;
  EXPECT_EQ(Files(places.folder),
            (std::vector<std::string>{".zorvani-setup", "WP.ini", "Zorvani2026/2.jpg", "zorvani-wallpaper"}));
  EXPECT_NE(ReadFile(places.folder / "WP.ini"), "secret");
  EXPECT_EQ(ReadFile(places.folder / ".zorvani-setup"), "WP.ini\nZorvani2026/2.jpg\nzorvani-wallpaper\n");
}

// A second run rewrites nothing, and a WP.ini the user had is neither replaced nor listed.
TEST_F(SetupTest, SecondRunRewritesNothing) {
  const Places places = PlacesIn(root_ / "home");
  WriteFile(places.folder / "WP.ini", "[config]\nR_COMP=1\n");
  ASSERT_EQ(Set(places, PicturesFrom(pictures_)), 0);
  const auto first = Tree(root_ / "home");
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(Set(places, PicturesFrom(pictures_)), 0);
  EXPECT_EQ(Tree(root_ / "home"), first);
  EXPECT_EQ(ReadFile(places.folder / "WP.ini"), "[config]\nR_COMP=1\n");
  EXPECT_EQ(ReadFile(places.folder / ".zorvani-setup"), "Zorvani2026/1.jpg\nZorvani2026/2.jpg\nzorvani-wallpaper\n");
}

// Run by a user: inside a graphical session the program starts at once, apart from the
// terminal (its own session, not set-up's child, streams on /dev/null and no other
// descriptor of set-up's caller); elsewhere it waits for the log-on. --system asks for
// root before it touches anything.
TEST_F(SetupTest, CommandStartsTheProgramInsideASession) {
  const struct {
    const char* what;
    std::vector<std::string> options, env;
    bool asUser;
    int status;
    const char* said;
    bool started, lockOn3;
  } rows[] = {
      {"in a Wayland session", {}, {"WAYLAND_DISPLAY=wayland-zorvani-none"}, false, 0, "Started:", true, false},
      {"on a console", {}, {}, false, 0, "at every log-on", false, false},
      {"without autostart", {"--no-autostart"}, {"WAYLAND_DISPLAY=wayland-zorvani-none"}, false, 0, "whenever", false, false},
      {"--system by a user", {"--system"}, {}, true, 1, "--system needs root", false, false},
      {"the lock screen's option", {"--lock-screen", "on"}, {}, false, 0, "Lock screen:", false, false},
      {"the lock screen's option, neither on nor off", {"--lock-screen", "yes"}, {}, false, 2, "takes on or off", false, false},
      {"by a caller holding a lock on descriptor 3", {}, {"WAYLAND_DISPLAY=wayland-zorvani-none"}, false, 0, "Started:", true, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    const fs::path home = FreshHome();
    std::vector<std::string> args{ZORVANI_SETUP_COMMAND, "--pictures", pictures_.string(), "--program", program_.string()};
    args.insert(args.end(), row.options.begin(), row.options.end());
    if (row.asUser && geteuid() == 0) args.insert(args.begin(), {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    if (row.lockOn3) args.insert(args.begin(), {"/bin/sh", "-c", "exec 3>>\"$0\" && flock 3 && exec \"$@\"", (root_ / "lock").string()});
    const CommandRun run = RunCommand(args, UserEnvironment(home, row.env));
    EXPECT_EQ(run.status, row.status);
    EXPECT_NE(run.said.find(row.said), std::string::npos) << run.said;
    if (!row.started) {
      EXPECT_EQ(run.said.find("Started:"), std::string::npos) << run.said;
      continue;
    }
    const std::vector<std::string> started = Started();
    ASSERT_EQ(started.size(), 5u) << ReadFile(root_ / "started");
    EXPECT_EQ(started[0], (home / "data" / "zorvani-wallpaper" / "zorvani-wallpaper").string());
    pid_t parent = 0, session = 0;
    std::istringstream(started[1]) >> parent >> session;
    EXPECT_NE(parent, run.pid);
    EXPECT_NE(session, getsid(0));
    EXPECT_NE(session, run.pid);
    EXPECT_EQ(std::vector<std::string>(started.begin() + 2, started.end()), std::vector<std::string>(3, "/dev/null"));
  }
}

// --remove inside a session first has the program give the wallpaper from before back
// (--uninstall), while the auto-start value still names the calendar.
TEST_F(SetupTest, RemoveInASessionHasTheProgramGiveTheWallpaperBack) {
  const fs::path home = FreshHome();
  ASSERT_EQ(Set(PlacesIn(home), PicturesFrom(pictures_)), 0);
  const CommandRun run = RunCommand({ZORVANI_SETUP_COMMAND, "--remove"}, UserEnvironment(home, {"WAYLAND_DISPLAY=w"}));
  EXPECT_EQ(run.status, 0) << run.said;
  const std::vector<std::string> started = Started();
  ASSERT_FALSE(started.empty());
  EXPECT_EQ(started[0], PlacesIn(home).link().string() + " --uninstall");
  // The command's machine calendar is /var/lib/zorvani-wallpaper, which this test does not
  // own: where it exists, the note that declines it is left (and tested below).
  std::vector<std::string> left = Files(home);
  left.erase(std::remove(left.begin(), left.end(), "config/zorvani-wallpaper/machine-calendar-declined"), left.end());
  EXPECT_EQ(left, std::vector<std::string>());
}

// The user's log-on entry runs set-up --logon: at the first log-on of a new year the
// sample calendar gets the following year, at the size of the years its WP.ini was made
// for (not the screen's, 1920x1080 here without one), while a calendar of the user's own is left exactly as it is. The clock is libfaketime's.
TEST_F(SetupTest, LogOnKeepsTheSampleCalendarAYearAhead) {
  const std::time_t now = std::time(nullptr);
  const int year = std::localtime(&now)->tm_year + 1900;
  const std::string next = std::to_string(year + 1), after = std::to_string(year + 2);
  const struct {
    const char* what;
    bool sample;
    Change change;
    bool grows;
  } rows[] = {
      {"set-up's sample calendar, its WP.ini changed by the user", true,
       [](auto& folder, auto&) { WriteFile(folder / "WP.ini", "[config]\nR_COMP=1\n"); }, true},
      {"the user's own pictures", false, [](auto&, auto&) {}, false},
      {"a sample year the user replaced by a link to their own pictures", true,
       [&](auto& folder, auto& home) {
         fs::rename(folder / ("Zorvani" + next), home / "Pictures");
         fs::create_symlink(home / "Pictures", folder / ("Zorvani" + next));
       },
       false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    const fs::path home = FreshHome();
    const Places places = PlacesIn(home);
    Request request = PicturesFrom(row.sample ? fs::path() : pictures_);
    request.width = 640, request.height = 400;
    ASSERT_EQ(Set(places, request), 0);
    row.change(places.folder, home);
    const auto before = Tree(home);
    const std::string ini = ReadFile(places.folder / "WP.ini");
    // faketime comes first in a sanitizer build's library list
    const std::vector<std::string> env = UserEnvironment(home, {"LD_PRELOAD=/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1",
        "FAKETIME=@" + next + "-01-01 08:00:00", "FAKETIME_DONT_FAKE_MONOTONIC=1", "ASAN_OPTIONS=verify_asan_link_order=0"});
    const CommandRun run = RunCommand({ZORVANI_SETUP_COMMAND, "--logon", places.link().string()}, env);
    EXPECT_EQ(run.status, 0) << run.said;
    const std::vector<std::string> started = Started();
    ASSERT_FALSE(started.empty()) << run.said;
    EXPECT_EQ(started[0], places.link().string());
    if (!row.grows) {
      EXPECT_EQ(Tree(home), before);
      continue;
    }
    EXPECT_TRUE(fs::exists(places.folder / ("Zorvani" + after) / "12.jpg"));
    EXPECT_EQ(ReadFile(places.folder / "WP.ini"), ini) << "the user's frame colour";
    EXPECT_NE(run.said.find("made, 640x400"), std::string::npos) << run.said;
    EXPECT_NE(ReadFile(places.folder / ".zorvani-setup").find("Zorvani" + after + "/12.jpg\n"), std::string::npos);
    EXPECT_EQ(Remove(places), 0);
    EXPECT_EQ(Files(home), std::vector<std::string>());
  }
}

// --session links the machine's pictures beside what the user keeps under the same names,
// unless the user declined them (main asks MachineCalendarDeclined): by a removal, until
// they set up again, or by a calendar of their own set-up, started at log-on or not.
TEST_F(SetupTest, SessionLinksTheMachinesCalendarOnlyWhereTheUserDidNotDeclineIt) {
  Request session = PicturesFrom({}), own = PicturesFrom(pictures_), ownQuiet = own;
  session.session = true, ownQuiet.autostart = false;
  const struct { const char* what; std::function<void(const Places&)> before; bool declined; } rows[] = {
      {"a user who keeps their own WP.ini", [](auto& at) { WriteFile(at.folder / "WP.ini", "[config]\nR_COMP=1\n"); }, false},
      {"one who removed it, twice", [&](auto& at) { Set(at, session), Remove(at), Remove(at); }, true},
      {"one who removed their own calendar", [&](auto& at) { Set(at, own), Remove(at); }, true},
      {"one who set up their own calendar since", [&](auto& at) { Remove(at), Set(at, own); }, true},
      {"one whose own calendar does not start at log-on", [&](auto& at) { Set(at, ownQuiet); }, true},
      {"one who registered a calendar of their own by hand", [](auto& at) {
         fs::create_directories(at.runHive.parent_path());
         WriteFile(at.runHive, "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run]\n"
                               "\"ZorvaniWallPaper\"=\"/home/me/MyCal/zorvani-wallpaper\"\n");
       }, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Places places = PlacesIn(FreshHome());
    ASSERT_EQ(Remove(places), 0);
    EXPECT_FALSE(zorvani::setup::MachineCalendarDeclined(places)) << "no machine calendar: nothing to decline";
    places.machineFolder = pictures_;
    row.before(places);
    ASSERT_EQ(zorvani::setup::MachineCalendarDeclined(places), row.declined);
    if (row.declined) continue;
    ASSERT_EQ(Set(places, session), 0);
    EXPECT_EQ(ReadFile(places.folder / "WP.ini"), "[config]\nR_COMP=1\n");
    EXPECT_EQ(fs::read_symlink(places.folder / "Zorvani2026"), pictures_ / "Zorvani2026");
  }
}

}  // namespace
