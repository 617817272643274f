// The wallpaper change on Linux, against stub gsettings and feh programs on a
// private PATH that write down how they were called.
#ifndef _WIN32
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "platform/posix/desktop_backends.h"

namespace {

namespace fs = std::filesystem;
using platform::Handle;
using namespace std::chrono_literals;

// "HKEY_CURRENT_USER\Control Panel\Desktop" with the placement values of a test.
struct DesktopKey : platform::Registry {
  std::map<std::string, std::string> values;
  long RegOpenKeyExA(std::uint32_t root, const std::string& key, std::uint32_t, std::uint32_t, Handle*) override {
    return root == 0x80000001 && key == "Control Panel\\Desktop" ? platform::kErrorSuccess : platform::kErrorFileNotFound;
  }
  long RegQueryValueExA(Handle, const std::string& name, std::uint32_t* type, std::uint8_t* data,
                        std::uint32_t* size) override {
    const std::string text = values.count(name) ? values[name] + '\0' : "";
    if (text.empty() || text.size() > *size) return platform::kErrorFileNotFound;
    *type = platform::kRegSz, *size = static_cast<std::uint32_t>(std::copy(text.begin(), text.end(), data) - data);
    return platform::kErrorSuccess;
  }
  long RegSetValueExA(Handle, const std::string&, std::uint32_t, const std::uint8_t*, std::uint32_t) override { return 5; }
  long RegCloseKey(Handle) override { return platform::kErrorSuccess; }
};

class WallpaperPosix : public testing::Test {
 protected:
  WallpaperPosix() { fs::create_directories(folder_ / "bin"); }
  ~WallpaperPosix() override { fs::remove_all(folder_); }
  // A stub that appends its name and arguments, one per line, to calls.log.
  void Stub(const std::string& name, const std::string& then = "") {
    std::ofstream(folder_ / "bin" / name) << "#!/bin/sh\n{ echo \"${0##*/}\"; for a in \"$@\"; do echo \"  $a\"; done; }"
                                          << " >>\"${0%/bin/*}/calls.log\"\n" << then << "\n";
    fs::permissions(folder_ / "bin" / name, fs::perms::owner_all);
  }
  bool Apply(std::vector<std::string> environment, const std::string& path, std::chrono::milliseconds timeout = 3000ms) {
    environment.push_back("PATH=" + (folder_ / "bin").string());
    fs::remove(folder_ / "calls.log");
    platform::posix::LinuxDesktop desktop(key_, [=] { return platform::posix::Session(environment, timeout); });
    return desktop.SystemParametersInfoA(20, 0, path, 3);
  }
  std::string Calls() const {
    return std::string(std::istreambuf_iterator<char>(std::ifstream(folder_ / "calls.log").rdbuf()), {});
  }
  static std::string Set(const std::string& key, const std::string& value) {
    return "gsettings\n  set\n  org.gnome.desktop.background\n  " + key + "\n  '" + value + "'\n";
  }
  const fs::path folder_ = fs::temp_directory_path() / ("zorvani-wallpaper-" + std::to_string(getpid()));
  DesktopKey key_;
};

TEST_F(WallpaperPosix, GnomeGetsTheFileUriAndThePlacement) {
  Stub("gsettings"), Stub("feh");
  key_.values = {{"WallpaperStyle", "2"}, {"TileWallpaper", "0"}};
  EXPECT_TRUE(Apply({"XDG_CURRENT_DESKTOP=ubuntu:GNOME", "DISPLAY=:0"}, "/home/ann/My Pictures/wp.bmp"));
  const std::string uri = "file:///home/ann/My%20Pictures/wp.bmp";
  EXPECT_EQ(Calls(), Set("picture-options", "stretched") + Set("picture-uri", uri) + Set("picture-uri-dark", uri));
}

TEST_F(WallpaperPosix, FehOnPlainX11NothingWithoutADesktopAndNoHangingCommand) {
  Stub("gsettings", "/bin/sleep 600 & wait"), Stub("feh");
  key_.values = {{"WallpaperStyle", "10"}};
  EXPECT_TRUE(Apply({"DISPLAY=:1"}, "/wp folder/wp.bmp"));
  EXPECT_EQ(Calls(), "feh\n  --bg-fill\n  /wp folder/wp.bmp\n");
  EXPECT_FALSE(Apply({"XDG_CURRENT_DESKTOP=GNOME"}, "/w.bmp"));
  EXPECT_EQ(Calls(), "");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(Apply({"XDG_CURRENT_DESKTOP=GNOME", "DBUS_SESSION_BUS_ADDRESS=x"}, "/w.bmp", 300ms));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

}  // namespace
#endif
