// The wallpaper change on Linux, against stub desktop tools on a private PATH that
// write down how they were called, with the placement values in the stand-in registry
// of a config folder of the test's own, and the session's processes in a process
// folder of its own. The real desktops run in tests/desktops/ and tests/logon/.
#ifndef _WIN32
#include <gtest/gtest.h>
#include <png.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "platform/posix/desktop/desktop_backends.h"
#include "platform/posix/desktop/png_copy.h"
#include "platform/registry.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A 3 x 2 bottom-up BMP whose six pixels all differ, rows padded to 12 bytes.
std::string TinyBitmap() {
  std::string b = "BM";
  const auto u32 = [&](std::uint32_t v) { for (int i = 0; i < 4; ++i) b += static_cast<char>(v >> (8 * i)); };
  u32(54 + 24), u32(0), u32(54), u32(40), u32(3), u32(2), u32(1 | 24 << 16), u32(0), u32(24), u32(0), u32(0), u32(0), u32(0);
  for (int row = 0; row < 2; ++row) {
    for (int x = 0; x < 3; ++x) b += {static_cast<char>(10 * x), static_cast<char>(100 + row), static_cast<char>(200 + x)};
    b += std::string(3, '\0');
  }
  return b;
}

const char kXfceListing[] =
    "case \"$*\" in *-l) printf '%s\\n' /backdrop/screen0/monitorVGA-1/workspace0/image-style "
    "/backdrop/screen0/monitorVGA-1/workspace0/last-image /backdrop/screen0/monitorHDMI-1/workspace3/last-image; "
    "/usr/bin/seq 200000;; esac";  // more than a pipe holds, and more than is kept

struct Case {
  const char* what;
  std::vector<std::string> environment;
  std::map<std::string, std::string> stubs;  // name and what it does after logging
  const char* style;                         // WallpaperStyle in the registry
  bool taken;
  std::string calls;  // "$D" is the test folder, in the environment too
  // Running processes, each "NAME=value... program argument...".
  std::vector<std::string> processes = {};
};

const Case kCases[] = {
    {"GNOME family by its first name", {"XDG_CURRENT_DESKTOP=ubuntu:GNOME", "DISPLAY=:0"}, {{"gsettings", ""}, {"feh", ""}}, "2", true,
     "gsettings set org.gnome.desktop.background picture-options 'stretched'\n"
     "gsettings set org.gnome.desktop.background picture-uri 'file://$D/My%20Pictures/wp.bmp'\n"
     "gsettings set org.gnome.desktop.background picture-uri-dark 'file://$D/My%20Pictures/wp.bmp'\n"},
    {"Cinnamon", {"XDG_CURRENT_DESKTOP=X-Cinnamon", "DISPLAY=:0"}, {{"gsettings", ""}}, "0", true,
     "gsettings set org.cinnamon.desktop.background picture-options 'centered'\n"
     "gsettings set org.cinnamon.desktop.background picture-uri 'file://$D/My%20Pictures/wp.bmp'\n"},
    {"MATE by DESKTOP_SESSION, a plain path", {"DESKTOP_SESSION=/usr/share/xsessions/MATE", "DISPLAY=:0"}, {{"gsettings", ""}}, "6", true,
     "gsettings set org.mate.background picture-options 'scaled'\n"
     "gsettings set org.mate.background picture-filename '$D/My Pictures/wp.bmp'\n"},
    {"XFCE: every monitor and workspace listed", {"XDG_CURRENT_DESKTOP=XFCE", "DISPLAY=:0"}, {{"xfconf-query", kXfceListing}}, "10", true,
     "xfconf-query -c xfce4-desktop -l\n"
     "xfconf-query -c xfce4-desktop -p /backdrop/screen0/monitorVGA-1/workspace0/image-style -n -t int -s 5\n"
     "xfconf-query -c xfce4-desktop -p /backdrop/screen0/monitorVGA-1/workspace0/last-image -n -t string -s $D/My Pictures/wp.bmp\n"
     "xfconf-query -c xfce4-desktop -p /backdrop/screen0/monitorHDMI-1/workspace3/image-style -n -t int -s 5\n"
     "xfconf-query -c xfce4-desktop -p /backdrop/screen0/monitorHDMI-1/workspace3/last-image -n -t string -s $D/My Pictures/wp.bmp\n",
     {"DISPLAY=:0 xfdesktop"}},
    {"XFCE before xfdesktop stored a property", {"XDG_CURRENT_DESKTOP=XFCE", "DISPLAY=:0"},
     {{"xfconf-query", ""}, {"xrandr", "echo 'Monitors: 1'; echo ' 0: +*DP-2 1920/527x1080/296+0+0  DP-2'"}}, "2", true,
     "xfconf-query -c xfce4-desktop -l\nxrandr --listmonitors\n"
     "xfconf-query -c xfce4-desktop -p /backdrop/screen0/monitorDP-2/workspace0/image-style -n -t int -s 3\n"
     "xfconf-query -c xfce4-desktop -p /backdrop/screen0/monitorDP-2/workspace0/last-image -n -t string -s $D/My Pictures/wp.bmp\n",
     {"DISPLAY=:0 xfdesktop"}},
    {"unnamed XFCE by its session manager: no call before xfdesktop runs", {"DISPLAY=:0"},
     {{"xfconf-query", ""}, {"feh", ""}}, "2", false, "", {"DISPLAY=:0 xfce4-session", "DISPLAY=:1 xfdesktop"}},
    {"unnamed XFCE by xfdesktop on this display", {"DISPLAY=:0.0"}, {{"xfconf-query", ""}, {"feh", ""}}, "2", true,
     "xfconf-query -c xfce4-desktop -l\n"
     "xfconf-query -c xfce4-desktop -p /backdrop/screen0/monitor0/workspace0/image-style -n -t int -s 3\n"
     "xfconf-query -c xfce4-desktop -p /backdrop/screen0/monitor0/workspace0/last-image -n -t string -s $D/My Pictures/wp.bmp\n",
     {"HOME=/x DISPLAY=:0 /usr/bin/xfdesktop --sm-client-id 2a"}},
    {"unnamed XFCE by xfdesktop's bus name", {"DISPLAY=:0", "DBUS_SESSION_BUS_ADDRESS=x"},
     {{"xfconf-query", ""}, {"feh", ""}, {"dbus-send", "echo '   array [ string \":1.7\" string \"org.xfce.xfdesktop\" ]'"}}, "2", true,
     "dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus.ListNames\n"
     "xfconf-query -c xfce4-desktop -l\n"
     "xfconf-query -c xfce4-desktop -p /backdrop/screen0/monitor0/workspace0/image-style -n -t int -s 3\n"
     "xfconf-query -c xfce4-desktop -p /backdrop/screen0/monitor0/workspace0/last-image -n -t string -s $D/My Pictures/wp.bmp\n"},
    {"Plasma with its tool, fill mode by script", {"XDG_CURRENT_DESKTOP=KDE", "WAYLAND_DISPLAY=wayland-0"},
     {{"plasma-apply-wallpaperimage", ""}, {"qdbus6", ""}, {"dbus-send", ""}}, "0", true,
     "plasma-apply-wallpaperimage $D/My Pictures/wp-a.bmp\n"
     "qdbus6 org.kde.plasmashell /PlasmaShell org.kde.PlasmaShell.evaluateScript var all = desktops(); for (var i = 0; i < "
     "all.length; ++i) { var d = all[i]; d.wallpaperPlugin = 'org.kde.image'; d.currentConfigGroup = ['Wallpaper', "
     "'org.kde.image', 'General']; d.writeConfig('FillMode', 6); }\n"},
    {"Plasma through dbus-send alone", {"DESKTOP_SESSION=plasmawayland", "WAYLAND_DISPLAY=wayland-0"}, {{"dbus-send", ""}}, "10", true,
     "dbus-send --session --type=method_call --print-reply --dest=org.kde.plasmashell /PlasmaShell "
     "org.kde.PlasmaShell.evaluateScript string:var all = desktops(); for (var i = 0; i < all.length; ++i) { var d = "
     "all[i]; d.wallpaperPlugin = 'org.kde.image'; d.currentConfigGroup = ['Wallpaper', 'org.kde.image', 'General']; "
     "d.writeConfig('Image', 'file://$D/My%20Pictures/wp-a.bmp'); d.writeConfig('FillMode', 2); }\n"},
    {"LXQt", {"XDG_CURRENT_DESKTOP=LXQt", "DISPLAY=:0"}, {{"pcmanfm-qt", ""}, {"pcmanfm", ""}}, "6", true,
     "pcmanfm-qt --set-wallpaper=$D/My Pictures/wp-a.bmp --wallpaper-mode=fit\n", {"DISPLAY=:0 pcmanfm-qt --desktop"}},
    {"LXDE once pcmanfm --desktop listens on its socket", {"DISPLAY=:0", "XDG_RUNTIME_DIR=$D"}, {{"pcmanfm", ""}, {"feh", ""}}, "22", true,
     "pcmanfm --set-wallpaper=$D/My Pictures/wp.bmp --wallpaper-mode=screen\n",
     {"DISPLAY=:0 lxsession -s LXDE", "DISPLAY=:0 pcmanfm --desktop --profile LXDE"}},
    {"LXDE at log-on: no call while only a file manager window runs", {"DISPLAY=:0", "XDG_RUNTIME_DIR=$D"},
     {{"pcmanfm", ""}, {"feh", ""}}, "2", false, "", {"DISPLAY=:0 lxsession -s LXDE", "DISPLAY=:0 pcmanfm"}},
    {"LXDE at log-on: no call before pcmanfm --desktop listens", {"XDG_CURRENT_DESKTOP=LXDE", "DISPLAY=:0", "HOME=$D"},
     {{"pcmanfm", ""}}, "2", false, "", {"DISPLAY=:0 pcmanfm --desktop"}},
    {"sway by its socket", {"SWAYSOCK=/run/sway.sock", "WAYLAND_DISPLAY=wayland-1", "DISPLAY=:0"}, {{"swaymsg", ""}, {"feh", ""}}, "10", true,
     "swaymsg output * bg $D/My Pictures/wp.bmp fill\n"},
    {"Hyprland with hyprpaper: a PNG", {"XDG_CURRENT_DESKTOP=Hyprland", "WAYLAND_DISPLAY=wayland-1"}, {{"hyprctl", ""}}, "2", true,
     "hyprctl hyprpaper listloaded\nhyprctl hyprpaper preload $D/My Pictures/wp-a.png\n"
     "hyprctl hyprpaper wallpaper ,$D/My Pictures/wp-a.png\n"},
    {"Hyprland without hyprpaper: swww", {"HYPRLAND_INSTANCE_SIGNATURE=x", "WAYLAND_DISPLAY=wayland-1"},
     {{"hyprctl", "exit 1"}, {"swww", ""}}, "6", true,
     "hyprctl hyprpaper listloaded\nswww img $D/My Pictures/wp-a.png --resize fit\n"},
    {"another Wayland compositor: our own swaybg", {"XDG_CURRENT_DESKTOP=river", "WAYLAND_DISPLAY=wayland-1", "DISPLAY=:0"},
     {{"swaybg", "exec /bin/sleep 30"}, {"feh", ""}}, "0", true, "swaybg -o * -i $D/My Pictures/wp.bmp -m center\n"},
    {"plain X11: feh", {"XDG_CURRENT_DESKTOP=i3", "DISPLAY=:1"}, {{"feh", ""}, {"hsetroot", ""}}, "22", true,
     "feh --no-xinerama --bg-scale $D/My Pictures/wp.bmp\n"},
    {"plain X11: xwallpaper reads no BMP", {"DISPLAY=:1"}, {{"xwallpaper", ""}, {"hsetroot", ""}}, "10", true,
     "xwallpaper --zoom $D/My Pictures/wp.png\n"},
    {"plain X11: hsetroot", {"DISPLAY=:1"}, {{"hsetroot", ""}}, "2", true, "hsetroot -fill $D/My Pictures/wp.bmp\n"},
    {"plain X11 without a tool", {"DISPLAY=:1"}, {}, "2", false, ""},
    {"a named desktop never falls back to painting the root", {"XDG_CURRENT_DESKTOP=KDE", "DISPLAY=:1"}, {{"feh", ""}}, "2", false, ""},
    {"a tool that fails", {"XDG_CURRENT_DESKTOP=GNOME", "DBUS_SESSION_BUS_ADDRESS=x"}, {{"gsettings", "exit 1"}}, "2", false,
     "gsettings set org.gnome.desktop.background picture-options 'stretched'\n"
     "gsettings set org.gnome.desktop.background picture-uri 'file://$D/My%20Pictures/wp.bmp'\n"},
    {"a tool that hangs is ended at the time limit", {"XDG_CURRENT_DESKTOP=GNOME", "DBUS_SESSION_BUS_ADDRESS=x"},
     {{"gsettings", "/bin/sleep 600 & wait"}}, "2", false, "gsettings set org.gnome.desktop.background picture-options 'stretched'\n"},
    {"no desktop session at all", {"XDG_CURRENT_DESKTOP=GNOME"}, {{"gsettings", ""}}, "2", true, ""},
    {"a session bus and no desktop (ssh)", {"DBUS_SESSION_BUS_ADDRESS=x"}, {{"feh", ""}, {"gsettings", ""}}, "2", true, ""},
};

class WallpaperPosix : public testing::Test {
 protected:
  WallpaperPosix() {
    fs::create_directories(folder_ / "My Pictures");
    fs::create_directories(folder_ / "zorvani-wallpaper");
    setenv("XDG_CONFIG_HOME", folder_.c_str(), 1);
    // The first pcmanfm's socket on display :0, in a runtime folder of $D.
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = (folder_ / "pcmanfm-socket--0").string();
    socketPath.copy(address.sun_path, sizeof address.sun_path - 1);
    socket_ = socket(AF_UNIX, SOCK_STREAM, 0);
    bind(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  }
  ~WallpaperPosix() override {
    platform::posix::EndOwnedWallpaperClient();
    unsetenv("XDG_CONFIG_HOME");
    close(socket_);
    fs::remove_all(folder_);
  }
  void Style(const std::string& style) const {
    std::ofstream(folder_ / "zorvani-wallpaper" / "HKEY_CURRENT_USER.reg")
        << "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\n\"WallpaperStyle\"=\""
        << style << "\"\n\"TileWallpaper\"=\"0\"\n";
  }
  // Stubs append their name and arguments, one call per line, to calls.log.
  void Stubs(const std::map<std::string, std::string>& stubs) {
    fs::remove_all(folder_ / "bin");
    fs::create_directories(folder_ / "bin");
    for (const auto& [name, then] : stubs) {
      std::ofstream(folder_ / "bin" / name) << "#!/bin/sh\necho \"${0##*/} $*\" >>\"${0%/bin/*}/calls.log\"\n" << then << "\n";
      fs::permissions(folder_ / "bin" / name, fs::perms::owner_all);
    }
  }
  bool Apply(std::vector<std::string> environment, const std::vector<std::string>& processes = {}) {
    environment.push_back("PATH=" + (folder_ / "bin").string());
    for (std::string& entry : environment) {
      if (const std::size_t at = entry.find("$D"); at != std::string::npos) entry.replace(at, 2, folder_.string());
    }
    fs::remove(folder_ / "calls.log");
    fs::remove_all(folder_ / "proc");
    for (std::size_t i = 0; i < processes.size(); ++i) {
      const fs::path process = folder_ / "proc" / std::to_string(100 + i);
      fs::create_directories(process);
      std::ofstream environ(process / "environ"), cmdline(process / "cmdline");
      std::istringstream words(processes[i]);
      for (std::string word; words >> word;) (word.find('=') != std::string::npos ? environ : cmdline) << word << '\0';
    }
    const std::string proc = (folder_ / "proc").string();
    platform::posix::LinuxDesktop desktop(platform::SystemRegistry(),
                                          [=] { return platform::posix::Session(environment, 2000ms, proc); });
    return desktop.SystemParametersInfoA(20, 0, Bitmap(), 3);
  }
  std::string Calls() const {
    std::string calls(std::istreambuf_iterator<char>(std::ifstream(folder_ / "calls.log").rdbuf()), {});
    for (std::size_t at; (at = calls.find(folder_.string())) != std::string::npos;) calls.replace(at, folder_.string().size(), "$D");
    return calls;
  }
  std::string Bitmap() const { return (folder_ / "My Pictures" / "wp.bmp").string(); }
  std::vector<std::string> Pictures() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder_ / "My Pictures")) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  const fs::path folder_ = fs::temp_directory_path() / ("zorvani-wallpaper-" + std::to_string(getpid()));
  int socket_ = -1;
};

TEST_F(WallpaperPosix, EachDesktopGetsItsOwnCommandsPlacementAndFile) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(folder_ / "My Pictures");
    fs::create_directories(folder_ / "My Pictures");
    std::ofstream(Bitmap(), std::ios::binary) << TinyBitmap();
    Stubs(c.stubs);
    Style(c.style);
    EXPECT_EQ(Apply(c.environment, c.processes), c.taken);
    EXPECT_EQ(Calls(), c.calls);
    platform::posix::EndOwnedWallpaperClient();
  }
}

TEST_F(WallpaperPosix, CachingDesktopsAlternateTwoTidyNamesAndRefusalsLeaveTheShownOne) {
  std::ofstream(Bitmap(), std::ios::binary) << TinyBitmap();
  Stubs({{"hyprctl", "[ -e \"${0%/bin/*}/refuse\" ] && exit 1; exit 0"}});
  const std::vector<std::string> hyprland{"XDG_CURRENT_DESKTOP=Hyprland", "WAYLAND_DISPLAY=w"};
  const auto names = [](const char* copy) { return std::vector<std::string>{copy, "wp.bmp"}; };
  // A link planted where an earlier version put its temporary is removed, not written through.
  std::ofstream(folder_ / "victim") << "victim";
  fs::create_symlink(folder_ / "victim", folder_ / "My Pictures" / "wp-a.png.tmp");
  EXPECT_TRUE(Apply(hyprland));
  EXPECT_EQ(Pictures(), names("wp-a.png"));
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(std::ifstream(folder_ / "victim").rdbuf()), {}), "victim");
  EXPECT_TRUE(Apply(hyprland));
  EXPECT_EQ(Pictures(), names("wp-b.png"));
  EXPECT_NE(Calls().find("hyprctl hyprpaper unload $D/My Pictures/wp-a.png"), std::string::npos) << Calls();
  std::ofstream(folder_ / "refuse");
  EXPECT_FALSE(Apply(hyprland));
  EXPECT_EQ(Pictures(), names("wp-b.png"));
}

TEST_F(WallpaperPosix, APngCopyHasTheBitmapsPixelsTopRowFirstAndBadBitmapsGiveNone) {
  const std::string png = (folder_ / "wp.png").string();
  std::ofstream(Bitmap(), std::ios::binary) << TinyBitmap();
  ASSERT_TRUE(platform::posix::WritePngCopy(Bitmap(), png));
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_file(&image, png.c_str()));
  image.format = PNG_FORMAT_RGB;
  std::vector<unsigned char> rgb(PNG_IMAGE_SIZE(image));
  ASSERT_TRUE(png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr));
  EXPECT_EQ(image.width, 3u);
  // The top row is the second one stored: green 101.
  EXPECT_EQ(rgb, (std::vector<unsigned char>{200, 101, 0, 201, 101, 10, 202, 101, 20, 200, 100, 0, 201, 100, 10, 202, 100, 20}));

  std::string bitmap = TinyBitmap();
  for (const auto& [at, byte] : std::vector<std::pair<std::size_t, char>>{{28, 32}, {18, 0}, {22, '\x7f'}, {10, '\xff'}}) {
    std::string bad = bitmap;
    bad[at] = byte;
    std::ofstream(Bitmap(), std::ios::binary | std::ios::trunc) << bad;
    EXPECT_FALSE(platform::posix::WritePngCopy(Bitmap(), png)) << at;
  }
  std::ofstream(Bitmap(), std::ios::binary | std::ios::trunc) << bitmap.substr(0, 60);
  EXPECT_FALSE(platform::posix::WritePngCopy(Bitmap(), png));
  EXPECT_FALSE(fs::exists(png + ".tmp"));
}

}  // namespace
#endif
