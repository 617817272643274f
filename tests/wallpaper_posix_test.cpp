// The wallpaper change on Linux, against stub gsettings and feh programs on a
// private PATH that write down how they were called.
#ifndef _WIN32
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/posix/desktop_backends.h"

namespace {

namespace fs = std::filesystem;
using platform::Handle;

// "HKEY_CURRENT_USER\Control Panel\Desktop" and nothing else.
class DesktopKeyRegistry : public platform::Registry {
 public:
  std::map<std::string, std::string> values;

  long RegOpenKeyExA(std::uint32_t root, const std::string& subKey, std::uint32_t, std::uint32_t,
                     Handle* key) override {
    if (root != 0x80000001 || subKey != "Control Panel\\Desktop") return platform::kErrorFileNotFound;
    *key = 7;
    return platform::kErrorSuccess;
  }
  long RegQueryValueExA(Handle, const std::string& name, std::uint32_t* type, std::uint8_t* data,
                        std::uint32_t* size) override {
    const auto found = values.find(name);
    if (found == values.end()) return platform::kErrorFileNotFound;
    const std::string text = found->second + '\0';
    if (text.size() > *size) return platform::kErrorMoreData;
    std::copy(text.begin(), text.end(), data);
    *size = static_cast<std::uint32_t>(text.size());
    *type = platform::kRegSz;
    return platform::kErrorSuccess;
  }
  long RegSetValueExA(Handle, const std::string&, std::uint32_t, const std::uint8_t*, std::uint32_t) override {
    return platform::kErrorAccessDenied;
  }
  long RegCloseKey(Handle) override { return platform::kErrorSuccess; }
};

// Alive and not a zombie waiting for its new parent to reap it.
bool Running(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(stat, line);
  const std::size_t end = line.rfind(')');
  return end != std::string::npos && end + 2 < line.size() && line[end + 2] != 'Z';
}

class WallpaperPosix : public testing::Test {
 protected:
  WallpaperPosix() : folder_(fs::temp_directory_path() / ("zorvani-wallpaper-" + std::to_string(getpid()))) {
    fs::create_directories(folder_ / "bin");
  }
  ~WallpaperPosix() override { fs::remove_all(folder_); }

  // A stub that appends its name and arguments, one per line, to calls.log.
  void Stub(const std::string& name, const std::string& extra = "") {
    const fs::path file = folder_ / "bin" / name;
    std::ofstream(file) << "#!/bin/sh\n{ echo \"${0##*/}\"; for a in \"$@\"; do echo \"  $a\"; done; } >> '"
                        << (folder_ / "calls.log").string() << "'\n"
                        << extra << "\n";
    chmod(file.c_str(), 0755);
  }

  bool Apply(std::vector<std::string> environment, const std::string& path,
             std::chrono::milliseconds timeout = std::chrono::seconds(3)) {
    environment.push_back("PATH=" + (folder_ / "bin").string());
    platform::posix::LinuxDesktop desktop(registry_, [=] { return platform::posix::Session(environment, timeout); });
    return desktop.SystemParametersInfoA(20, 0, path, 3);
  }

  std::string Calls() const {
    std::stringstream text;
    text << std::ifstream(folder_ / "calls.log").rdbuf();
    return text.str();
  }

  static std::string Gsettings(const std::string& key, const std::string& value) {
    return "gsettings\n  set\n  org.gnome.desktop.background\n  " + key + "\n  '" + value + "'\n";
  }

  fs::path folder_;
  DesktopKeyRegistry registry_;
};

TEST_F(WallpaperPosix, GnomeGetsTheFileUriAndThePlacement) {
  Stub("gsettings");
  Stub("feh");
  registry_.values = {{"WallpaperStyle", "2"}, {"TileWallpaper", "0"}};
  EXPECT_TRUE(Apply({"XDG_CURRENT_DESKTOP=ubuntu:GNOME", "WAYLAND_DISPLAY=wayland-0", "DISPLAY=:0"},
                    "/home/ann/My Pictures/wp.bmp"));
  const std::string uri = "file:///home/ann/My%20Pictures/wp.bmp";
  EXPECT_EQ(Calls(), Gsettings("picture-options", "stretched") + Gsettings("picture-uri", uri) +
                         Gsettings("picture-uri-dark", uri));
}

TEST_F(WallpaperPosix, EveryStoredStyleHasItsPlacement) {
  Stub("gsettings");
  const std::vector<std::pair<std::map<std::string, std::string>, std::string>> cases = {
      {{{"WallpaperStyle", "0"}, {"TileWallpaper", "0"}}, "centered"},
      {{{"WallpaperStyle", "0"}, {"TileWallpaper", "1"}}, "wallpaper"},
      {{{"WallpaperStyle", "6"}}, "scaled"},
      {{{"WallpaperStyle", "10"}}, "zoom"},
      {{{"WallpaperStyle", "22"}}, "spanned"},
      {{{"WallpaperStyle", "7"}}, "stretched"},
      {{}, "stretched"},
  };
  for (const auto& [values, options] : cases) {
    fs::remove(folder_ / "calls.log");
    registry_.values = values;
    Apply({"XDG_CURRENT_DESKTOP=Budgie:GNOME", "DBUS_SESSION_BUS_ADDRESS=unix:path=/run/bus"}, "/w.bmp");
    EXPECT_EQ(Calls().substr(0, Gsettings("picture-options", options).size()), Gsettings("picture-options", options))
        << options;
  }
}

TEST_F(WallpaperPosix, PlainX11UsesFehWithARelativePathMadeAbsolute) {
  Stub("feh");
  registry_.values = {{"WallpaperStyle", "10"}};
  EXPECT_TRUE(Apply({"DISPLAY=:1"}, "wp folder/wp.bmp"));
  EXPECT_EQ(Calls(), "feh\n  --bg-fill\n  " + fs::current_path().string() + "/wp folder/wp.bmp\n");
}

TEST_F(WallpaperPosix, GnomeWithoutGsettingsFallsBackToFeh) {
  Stub("feh");
  EXPECT_TRUE(Apply({"XDG_CURRENT_DESKTOP=GNOME", "DISPLAY=:1"}, "/w.bmp"));
  EXPECT_EQ(Calls(), "feh\n  --bg-scale\n  /w.bmp\n");
}

TEST_F(WallpaperPosix, NothingRunsWithoutADesktopOrForAnotherAction) {
  Stub("gsettings");
  Stub("feh");
  EXPECT_FALSE(Apply({"XDG_CURRENT_DESKTOP=GNOME"}, "/w.bmp"));
  platform::posix::LinuxDesktop desktop(registry_, [this] {
    return platform::posix::Session({"DISPLAY=:0", "PATH=" + (folder_ / "bin").string()}, std::chrono::seconds(3));
  });
  EXPECT_FALSE(desktop.SystemParametersInfoA(21, 0, "/w.bmp", 3));
  EXPECT_EQ(Calls(), "");
}

TEST_F(WallpaperPosix, AHangingCommandIsKilledWithEverythingItStarted) {
  Stub("gsettings", "/bin/sleep 600 &\necho $! > '" + (folder_ / "child.pid").string() + "'\nwait");
  Stub("feh");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(Apply({"XDG_CURRENT_DESKTOP=GNOME", "DISPLAY=:0"}, "/w.bmp", std::chrono::milliseconds(300)));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  // Only the first gsettings call ran: no more waiting after one hang, no feh either.
  EXPECT_EQ(Calls(), Gsettings("picture-options", "stretched"));
  pid_t child = 0;
  std::ifstream(folder_ / "child.pid") >> child;
  ASSERT_GT(child, 0);
  for (int i = 0; i < 100 && Running(child); ++i) usleep(10000);
  EXPECT_FALSE(Running(child)) << "the stub's child survived";
}

}  // namespace
#endif
