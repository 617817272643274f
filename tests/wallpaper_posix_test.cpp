// The wallpaper change on Linux, against stub desktop tools on a private PATH that
// write down how they were called, with the placement values in the stand-in registry
// of a config folder of the test's own, and the session's processes in a process
// folder of its own. The real desktops run in tests/desktops/ and tests/logon/.
#ifndef _WIN32
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <thread>

#include "common/files.h"
#include "dib/cDIBSection.h"
#include "platform/posix/desktop/desktop_backends.h"
#include "platform/posix/desktop/png_copy.h"
#include "platform/posix/reg_files/ascii_text.h"
#include "platform/registry.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const char kXfceListing[] =
    "case \"$*\" in *-l) printf '%s\\n' /backdrop/screen0/monitorVGA-1/workspace0/image-style "
    "/backdrop/screen0/monitorVGA-1/workspace0/last-image /backdrop/screen0/monitorHDMI-1/workspace3/last-image; "
    "/usr/bin/seq 200000;; esac";  // more than a pipe holds, and more than is kept

// GNOME's calls, the first `count` of the three.
std::string Gnome(int count = 3) {
  std::string calls;
  for (const char* key : {"picture-options 'stretched'", "picture-uri 'file://$U/wp.bmp'", "picture-uri-dark 'file://$U/wp.bmp'"})
    if (count-- > 0) calls += std::string("gsettings set org.gnome.desktop.background ") + key + "\n";
  return calls;
}

// XFCE's listing, then the style and the picture of each monitor and workspace.
std::string Xfce(const std::string& listing, int style, std::initializer_list<const char*> places) {
  std::string calls = "xfconf-query -c xfce4-desktop -l\n" + listing;
  for (const std::string place : places) {
    const std::string set = "xfconf-query -c xfce4-desktop -p /backdrop/screen0/" + place;
    calls += set + "/image-style -n -t int -s " + std::to_string(style) + "\n" + set + "/last-image -n -t string -s $F/wp.bmp\n";
  }
  return calls;
}

const std::string kPlasma = "var all = desktops(); for (var i = 0; i < all.length; ++i) { var d = all[i]; d.wallpaperPlugin = "
                            "'org.kde.image'; d.currentConfigGroup = ['Wallpaper', 'org.kde.image', 'General']; ";

struct Case {
  const char* what;
  std::vector<std::string> environment;
  std::map<std::string, std::string> stubs;  // name and what it does after logging
  const char* style;                         // WallpaperStyle in the registry
  bool taken;
  // One line per call; $F is the calendar folder, $U the same in a file URI, $G inside
  // a quoted GVariant string, $R the program's private folder, $H the home folder.
  std::string calls;
  // The store holds the path as text, which must be UTF-8: other names change nothing.
  bool textStore = false;
  // Running processes, each "NAME=value... program argument..."; owner=UID: another user's.
  std::vector<std::string> processes = {};
  // Several monitors: "spanned" hands one picture over the whole screen; another text
  // names the 1080x1920 monitor right of HDMI-1 (1920x1080), each with its wp-NAME.bmp.
  const char* monitors = nullptr;
};

const Case kCases[] = {
    {"GNOME family by its first name; before 42 it refuses the dark key", {"XDG_CURRENT_DESKTOP=ubuntu:GNOME", "DISPLAY=:0"},
     {{"gsettings", "case $* in *dark*) exit 1;; esac"}, {"feh", ""}}, "2", true, Gnome()},
    {"MATE by DESKTOP_SESSION, a plain path", {"DESKTOP_SESSION=/usr/share/xsessions/MATE", "DISPLAY=:0"}, {{"gsettings", ""}}, "6", true,
     "gsettings set org.mate.background picture-options 'scaled'\n"
     "gsettings set org.mate.background picture-filename '$G/wp.bmp'\n", true},
    {"XFCE: every monitor and workspace listed", {"XDG_CURRENT_DESKTOP=XFCE", "DISPLAY=:0"}, {{"xfconf-query", kXfceListing}}, "10", true,
     Xfce("", 5, {"monitorVGA-1/workspace0", "monitorHDMI-1/workspace3"}), true, {"DISPLAY=:0 xfdesktop"}},
    {"XFCE before xfdesktop stored a property", {"XDG_CURRENT_DESKTOP=XFCE", "DISPLAY=:0"},
     {{"xfconf-query", ""}, {"xrandr", "echo 'Monitors: 1'; echo ' 0: +*DP-2 1920/527x1080/296+0+0  DP-2'"}}, "2", true,
     Xfce("xrandr --listmonitors\n", 3, {"monitorDP-2/workspace0"}), true, {"DISPLAY=:0 xfdesktop"}},
    {"XFCE: a workspace that refuses its style fails the change", {"XDG_CURRENT_DESKTOP=XFCE", "DISPLAY=:0"},
     {{"xfconf-query", "case \"$*\" in *-l) echo /backdrop/screen0/monitor0/workspace0/last-image;; *style*) exit 1;; esac"}}, "2",
     false, Xfce("", 3, {"monitor0/workspace0"}), true, {"DISPLAY=:0 xfdesktop"}},
    {"unnamed XFCE by its session manager: no call before xfdesktop runs", {"DISPLAY=:0"},
     {{"xfconf-query", ""}, {"feh", ""}}, "2", false, "", false, {"DISPLAY=:0 xfce4-session", "DISPLAY=:1 xfdesktop"}},
    {"unnamed XFCE: another user's xfdesktop is not this session's", {"DISPLAY=:0"}, {{"xfconf-query", ""}, {"feh", ""}}, "2", false,
     "", false, {"DISPLAY=:0 xfce4-session", "owner=65534 DISPLAY=:0 xfdesktop"}},
    {"unnamed XFCE by xfdesktop on this display", {"DISPLAY=:0.0"}, {{"xfconf-query", ""}, {"feh", ""}}, "2", true,
     Xfce("", 3, {"monitor0/workspace0"}), true, {"HOME=/x DISPLAY=:0 /usr/bin/xfdesktop --sm-client-id 2a"}},
    {"unnamed GNOME by the shell's bus name, where no process shows", {"DISPLAY=:0", "DBUS_SESSION_BUS_ADDRESS=x"},
     {{"gsettings", ""}, {"feh", ""}, {"dbus-send", "echo '   array [ string \":1.7\" string \"org.gnome.Shell\" ]'"}}, "2", true,
     "dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus.ListNames\n" + Gnome()},
    {"unnamed GNOME by the shell's bus name through gdbus", {"DISPLAY=:0", "DBUS_SESSION_BUS_ADDRESS=x"},
     {{"gsettings", ""}, {"gdbus", "echo \"(['org.freedesktop.DBus', ':1.7', 'org.gnome.Shell'],)\""}}, "2", true,
     "gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus --method org.freedesktop.DBus.ListNames\n" + Gnome()},
    {"Plasma with its tool, fill mode by script", {"XDG_CURRENT_DESKTOP=KDE", "WAYLAND_DISPLAY=wayland-0"},
     {{"plasma-apply-wallpaperimage", ""}, {"qdbus6", ""}, {"dbus-send", ""}}, "0", true,
     "plasma-apply-wallpaperimage $F/wp-a.bmp\n"
     "qdbus6 org.kde.plasmashell /PlasmaShell org.kde.PlasmaShell.evaluateScript " + kPlasma + "d.writeConfig('FillMode', 6); }\n"},
    {"Plasma through dbus-send alone", {"DESKTOP_SESSION=plasmawayland", "WAYLAND_DISPLAY=wayland-0"}, {{"dbus-send", ""}}, "10", true,
     "dbus-send --session --type=method_call --print-reply --dest=org.kde.plasmashell /PlasmaShell org.kde.PlasmaShell.evaluateScript "
     "string:" + kPlasma + "d.writeConfig('Image', 'file://$U/wp-a.bmp'); d.writeConfig('FillMode', 2); }\n"},
    {"Plasma, stretched", {"XDG_CURRENT_DESKTOP=KDE", "WAYLAND_DISPLAY=wayland-0"}, {{"qdbus", ""}}, "2", true,
     "qdbus org.kde.plasmashell /PlasmaShell org.kde.PlasmaShell.evaluateScript " + kPlasma +
     "d.writeConfig('Image', 'file://$U/wp-a.bmp'); d.writeConfig('FillMode', 0); }\n"},
    {"unnamed LXDE once pcmanfm --desktop listens on its socket; a screen number", {"DISPLAY=:0.0"}, {{"pcmanfm", ""}, {"feh", ""}},
     "22", true, "pcmanfm --set-wallpaper=$F/wp.bmp --wallpaper-mode=screen\n", false,
     {"DISPLAY=:0 lxsession -s LXDE", "DISPLAY=:0.0 pcmanfm --desktop --profile LXDE"}},
    {"LXDE at log-on: no call while only a file manager window runs", {"DISPLAY=:0"},
     {{"pcmanfm", ""}, {"feh", ""}}, "2", false, "", false, {"DISPLAY=:0 lxsession -s LXDE", "DISPLAY=:0 pcmanfm"}},
    {"LXDE at log-on: no call before pcmanfm --desktop listens", {"XDG_CURRENT_DESKTOP=LXDE", "DISPLAY=:1"},
     {{"pcmanfm", ""}}, "2", false, "", false, {"DISPLAY=:1 pcmanfm --desktop"}},
    {"LXQt at log-on: no call before pcmanfm-qt --desktop owns its bus name", {"XDG_CURRENT_DESKTOP=LXQt", "DISPLAY=:0", "DBUS_SESSION_BUS_ADDRESS=x"},
     {{"pcmanfm-qt", ""}, {"dbus-send", "echo '   array [ string \"org.freedesktop.DBus\" ]'"}}, "2", false,
     "dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus.ListNames\n", false,
     {"DISPLAY=:0 pcmanfm-qt --desktop --profile lxqt"}},
    {"LXQt: a change its settings do not show is not taken", {"XDG_CURRENT_DESKTOP=LXQt", "DISPLAY=:0", "DBUS_SESSION_BUS_ADDRESS=x"},
     {{"pcmanfm-qt", ""}, {"dbus-send", "echo '   array [ string \"org.pcmanfm.PCManFM\" ]'"}}, "2", false,
     "dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus.ListNames\n"
     "pcmanfm-qt --set-wallpaper=$F/wp-a.bmp --wallpaper-mode=stretch\n", false, {"DISPLAY=:0 pcmanfm-qt --desktop --profile lxqt"}},
    {"sway by its socket", {"SWAYSOCK=/run/sway.sock", "WAYLAND_DISPLAY=wayland-1", "DISPLAY=:0"}, {{"swaymsg", ""}, {"feh", ""}}, "10", true,
     "swaymsg output * bg $R/wp.bmp fill\n"},
    {"Hyprland with hyprpaper: a PNG", {"XDG_CURRENT_DESKTOP=Hyprland", "WAYLAND_DISPLAY=wayland-1"}, {{"hyprctl", ""}}, "2", true,
     "hyprctl hyprpaper listloaded\nhyprctl hyprpaper preload $R/wp-a.png\n"
     "hyprctl hyprpaper wallpaper ,$R/wp-a.png\n"},
    {"Hyprland without hyprpaper: swww", {"HYPRLAND_INSTANCE_SIGNATURE=x", "WAYLAND_DISPLAY=wayland-1"},
     {{"hyprctl", "exit 1"}, {"swww", ""}}, "6", true,
     "hyprctl hyprpaper listloaded\nswww img $F/wp-a.png --resize fit\n"},
    {"another Wayland compositor: our own swaybg", {"XDG_CURRENT_DESKTOP=river", "WAYLAND_DISPLAY=wayland-1", "DISPLAY=:0"},
     {{"swaybg", "exec /bin/sleep 30"}, {"feh", ""}}, "0", true, "swaybg -o * -i $F/wp.bmp -m center\n"},
    {"plain X11: feh", {"XDG_CURRENT_DESKTOP=i3", "DISPLAY=:1"}, {{"feh", ""}, {"hsetroot", ""}}, "22", true,
     "feh --no-xinerama --bg-scale $F/wp.bmp\n"},
    {"plain X11: feh, one picture per screen unless spanned", {"DISPLAY=:1"}, {{"feh", ""}}, "10", true, "feh --bg-fill $F/wp.bmp\n"},
    {"plain X11: xwallpaper reads no BMP", {"DISPLAY=:1"}, {{"xwallpaper", ""}, {"hsetroot", ""}}, "10", true,
     "xwallpaper --zoom $F/wp.png\n"},
    {"plain X11: hsetroot, spanned: no feh option", {"DISPLAY=:1"}, {{"hsetroot", ""}}, "22", true, "hsetroot -fill $F/wp.bmp\n"},
    {"plain X11 without a tool", {"DISPLAY=:1"}, {}, "2", false, ""},
    {"a named desktop never falls back to painting the root", {"XDG_CURRENT_DESKTOP=KDE", "DISPLAY=:1"}, {{"feh", ""}}, "2", false, ""},
    {"a tool that fails", {"XDG_CURRENT_DESKTOP=GNOME", "DBUS_SESSION_BUS_ADDRESS=x"}, {{"gsettings", "exit 1"}}, "2", false, Gnome(2)},
    {"a tool that hangs is ended at the time limit", {"XDG_CURRENT_DESKTOP=GNOME", "DBUS_SESSION_BUS_ADDRESS=x"},
     {{"gsettings", "/bin/sleep 600 & wait"}}, "2", false, Gnome(1)},
    {"several monitors on sway: each output its own picture", {"SWAYSOCK=/run/sway.sock", "WAYLAND_DISPLAY=wayland-1"},
     {{"swaymsg", ""}}, "2", true, "swaymsg output HDMI-1 bg $R/wp-HDMI-1.bmp fill\nswaymsg output DP-2 bg $R/wp-DP-2.bmp fill\n",
     false, {}, "DP-2"},
    {"several monitors on sway: an output name that is no plain name", {"SWAYSOCK=/run/sway.sock", "WAYLAND_DISPLAY=wayland-1"},
     {{"swaymsg", ""}}, "2", false, "", false, {}, "DP-2;exec touch X"},
    {"several monitors on sway: an output name that reads as an option", {"SWAYSOCK=/run/sway.sock", "WAYLAND_DISPLAY=wayland-1"},
     {{"swaymsg", ""}}, "2", false, "", false, {}, "-h"},
    {"several monitors, our swaybg: one client, a picture per output", {"XDG_CURRENT_DESKTOP=river", "WAYLAND_DISPLAY=wayland-1"},
     {{"swaybg", "exec /bin/sleep 30"}}, "2", true, "swaybg -o HDMI-1 -i $F/wp-HDMI-1.bmp -m fill -o DP-2 -i $F/wp-DP-2.bmp -m fill\n",
     false, {}, "DP-2"},
    {"several monitors on XFCE: the listed workspaces of each, else its first", {"XDG_CURRENT_DESKTOP=XFCE", "DISPLAY=:0"},
     {{"xfconf-query", kXfceListing}}, "2", true,
     "xfconf-query -c xfce4-desktop -l\n"
     "xfconf-query -c xfce4-desktop -p /backdrop/screen0/monitorHDMI-1/workspace3/image-style -n -t int -s 3\n"
     "xfconf-query -c xfce4-desktop -p /backdrop/screen0/monitorHDMI-1/workspace3/last-image -n -t string -s $F/wp-HDMI-1.bmp\n"
     "xfconf-query -c xfce4-desktop -p /backdrop/screen0/monitorDP-2/workspace0/image-style -n -t int -s 3\n"
     "xfconf-query -c xfce4-desktop -p /backdrop/screen0/monitorDP-2/workspace0/last-image -n -t string -s $F/wp-DP-2.bmp\n",
     true, {"DISPLAY=:0 xfdesktop"}, "DP-2"},
    {"several monitors on plain X11: feh, in Xinerama's order", {"DISPLAY=:1"}, {{"feh", ""}}, "10", true,
     "feh --bg-scale $F/wp-HDMI-1.bmp $F/wp-DP-2.bmp\n", false, {}, "DP-2"},
    {"several monitors on Plasma: each screen's containment by its geometry", {"XDG_CURRENT_DESKTOP=KDE", "WAYLAND_DISPLAY=wayland-0"},
     {{"qdbus", ""}}, "2", true,
     "qdbus org.kde.plasmashell /PlasmaShell org.kde.PlasmaShell.evaluateScript var pictures = [[0, 0, 'file://$U/wp-HDMI-1-a.bmp'],"
     "[1920, 0, 'file://$U/wp-DP-2-a.bmp'],]; var all = desktops(); var taken = 0; for (var i = 0; i < all.length; ++i) { var d = all[i]; "
     "var g = screenGeometry(d.screen); for (var j = 0; j < pictures.length; ++j) { if (pictures[j][0] != g.x || pictures[j][1] != g.y) continue; "
     "d.wallpaperPlugin = 'org.kde.image'; d.currentConfigGroup = ['Wallpaper', 'org.kde.image', 'General']; "
     "d.writeConfig('Image', pictures[j][2]); d.writeConfig('FillMode', 0); ++taken; } } if (taken < pictures.length) throw 'not every screen has a desktop';\n", false, {}, "DP-2"},
    {"several monitors on GNOME: spanned", {"XDG_CURRENT_DESKTOP=GNOME", "DBUS_SESSION_BUS_ADDRESS=x"}, {{"gsettings", ""}}, "2", true,
     "gsettings set org.gnome.desktop.background picture-options 'spanned'\n"
     "gsettings set org.gnome.desktop.background picture-uri 'file://$U/wp.bmp'\n"
     "gsettings set org.gnome.desktop.background picture-uri-dark 'file://$U/wp.bmp'\n", false, {}, "spanned"},
    {"no desktop session at all", {"XDG_CURRENT_DESKTOP=GNOME"}, {{"gsettings", ""}}, "2", true, ""},
    {"a session bus and no desktop (ssh)", {"DBUS_SESSION_BUS_ADDRESS=x"}, {{"feh", ""}, {"gsettings", ""}}, "2", true, ""},
};

// Calendar folders as users name them, and as a hostile one would: each desktop must
// get the path only as a path (sway and hyprctl never see the folder's name at all).
// The last two are no UTF-8 (the second an encoded surrogate).
const char* const kFolderNames[] = {"My Pictures", "it's", "say \"hi\"", "back\\slash", "d$(touch A)`touch B`",
                                    "x stretch;exec touch X;y", "a,b", "new\nline", "bad\xff\xfe", "bad\xed\xa0\x80"};

class WallpaperPosix : public testing::Test {
 protected:
  WallpaperPosix() {
    fs::create_directories(folder_ / "zorvani-wallpaper");
    fs::create_directory(folder_ / "run");
    fs::permissions(folder_ / "run", fs::perms::owner_all);
    setenv("XDG_CONFIG_HOME", folder_.path.c_str(), 1);
    Pictures();
    // The first pcmanfm's socket on display :0, in the runtime folder.
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    (folder_ / "run" / "pcmanfm-socket--0").string().copy(address.sun_path, sizeof address.sun_path - 1);
    socket_ = socket(AF_UNIX, SOCK_STREAM, 0);
    bind(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  }
  ~WallpaperPosix() override {
    platform::posix::EndOwnedWallpaperClient();
    unsetenv("XDG_CONFIG_HOME");
    close(socket_);
  }
  void Style(const std::string& style, bool lockScreen = false) const {
    std::ofstream(folder_ / "zorvani-wallpaper" / "HKEY_CURRENT_USER.reg")
        << "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\n\"WallpaperStyle\"=\""
        << style << "\"\n\"TileWallpaper\"=\"0\"\n\n[HKEY_CURRENT_USER\\Software\\ZorvaniWallpaper]\n\"LockScreen\"=\"" << lockScreen << "\"\n";
  }
  // Stubs append their name and arguments, one call per line, to calls.log.
  void Stubs(const std::map<std::string, std::string>& stubs) {
    fs::remove_all(folder_ / "bin");
    fs::create_directories(folder_ / "bin");
    for (const auto& [name, then] : stubs)
      testing_files::WriteProgram(folder_ / "bin" / name, "printf '%s\\n' \"${0##*/} $*\" >>\"${0%/bin/*}/calls.log\"\n" + then + "\n");
  }
  // One program's desktop per calendar folder, as SystemDesktop() is one per process.
  bool Apply(std::vector<std::string> environment, const std::vector<std::string>& processes = {}, const char* monitors = nullptr) {
    // A shell takes the last of two values, the tools here the first: one of each.
    for (const char* name : {"PATH=", "XDG_RUNTIME_DIR="}) {
      if (std::none_of(environment.begin(), environment.end(), [&](const std::string& v) { return v.rfind(name, 0) == 0; }))
        environment.push_back(name + (folder_ / (name[0] == 'P' ? "bin" : "run")).string());
    }
    environment_ = environment;
    fs::remove(folder_ / "calls.log");
    fs::remove_all(folder_ / "proc");
    for (std::size_t i = 0; i < processes.size(); ++i) {
      const fs::path process = folder_ / "proc" / std::to_string(100 + i);
      fs::create_directories(process);
      std::ofstream environ(process / "environ"), cmdline(process / "cmdline");
      std::istringstream words(processes[i]);
      for (std::string word; words >> word;) (word.find('=') != std::string::npos ? environ : cmdline) << word << '\0';
      if (processes[i].rfind("owner=", 0) == 0) EXPECT_EQ(chown(process.c_str(), std::stoi(processes[i].substr(6)), 0), 0);
    }
    if (monitors == nullptr) return Desktop().SystemParametersInfoA(20, 0, Bitmap(), 3);
    if (std::string(monitors) == "spanned") return Desktop().SetSpannedWallpaper(Bitmap());
    std::vector<platform::Desktop::MonitorBitmap> bitmaps{{{"HDMI-1", 0, 0, 1920, 1080, true}, {}}, {{monitors, 1920, 0, 1080, 1920, false}, {}}};
    for (auto& bitmap : bitmaps) {
      bitmap.path = (pictures_ / ("wp-" + bitmap.monitor.name + ".bmp")).string();
      fs::copy_file(Bitmap(), bitmap.path, fs::copy_options::overwrite_existing);
    }
    return Desktop().SetMonitorWallpapers(bitmaps);
  }
  platform::posix::LinuxDesktop& Desktop() {
    if (!desktop_) {
      desktop_.emplace(platform::SystemRegistry(), [this] {
        return platform::posix::Session(environment_, 2000ms, nullptr, (folder_ / "proc").string());
      });
    }
    return *desktop_;
  }
  // The bytes this process handed to write() while `step` ran, less the stubs' log
  // lines (a reaped child's writes count as its parent's).
  template <typename Step>
  std::uint64_t Written(Step step) const {
    const auto wchar = [] {
      const std::string io = testing_files::ReadFile("/proc/self/io");
      return std::stoull(io.substr(io.find("wchar: ") + 7));
    };
    const std::uint64_t before = wchar();
    step();
    return wchar() - before - Calls().size();
  }
  std::string Calls() const { return testing_files::ReadFile(folder_ / "calls.log"); }
  // The calls of a table row for the current calendar folder.
  std::string Expected(const std::string& calls) const {
    const std::string uri = platform::posix::FileUri(pictures_.string()).substr(7);
    std::string gvariant = platform::posix::BackslashQuoted(pictures_.string(), '\'');
    gvariant = gvariant.substr(1, gvariant.size() - 2);
    const std::map<char, std::string> values{{'F', pictures_}, {'U', uri}, {'G', gvariant}, {'R', Private()},
                                             {'H', (folder_ / "home").string()}};
    std::string text;
    for (std::size_t at = 0; at < calls.size(); ++at) {
      if (calls[at] == '$' && at + 1 < calls.size() && values.count(calls[at + 1])) text += values.at(calls[++at]);
      else text += calls[at];
    }
    return text;
  }
  // A fresh calendar folder of that name, holding wp.bmp.
  void Pictures(const std::string& name = "My Pictures") {
    desktop_.reset();
    if (!pictures_.empty()) fs::remove_all(pictures_);
    fs::remove_all(Private());
    pictures_ = folder_ / name;
    fs::create_directories(pictures_);
    NextDay();
  }
  std::string Bitmap() const { return (pictures_ / "wp.bmp").string(); }
  // A new wp.bmp, 3 x 2 with six pixels that differ, written as the program writes it.
  void NextDay() const {
    zorvani::cDIBSection dib;
    ASSERT_EQ(dib.Create(3, 2), zorvani::kTrue);
    for (int i = 0; i < 24; ++i) dib.DIBSectionBitsPtr()[i] = static_cast<std::uint8_t>(40 * i + 7);
    ASSERT_EQ(dib.SavePicture(Bitmap()), zorvani::kTrue);
  }
  std::string Private() const { return (folder_ / "run" / "zorvani-wallpaper").string(); }
  std::set<std::string> Files() const { return testing_files::Names(pictures_); }

  const testing_files::TempFolder folder_;
  fs::path pictures_;
  std::vector<std::string> environment_;
  std::optional<platform::posix::LinuxDesktop> desktop_;
  int socket_ = -1;
};

TEST_F(WallpaperPosix, EachDesktopGetsItsOwnCommandsPlacementAndFileWhateverTheFolderIsNamed) {
  for (const char* name : kFolderNames) {
    for (const Case& c : kCases) {
      // A row that hands over no path has nothing to show for other names; only root makes another user's process.
      const bool otherUser = std::any_of(c.processes.begin(), c.processes.end(), [](const std::string& p) { return p.rfind("owner=", 0) == 0; });
      // Several monitors take the same paths as one: an ordinary and a hostile name suffice.
      if ((name != kFolderNames[0] && std::string(c.calls).find("$") == std::string::npos) || (otherUser && geteuid() != 0) ||
          (c.monitors != nullptr && name != kFolderNames[0] && name != kFolderNames[5]))
        continue;
      SCOPED_TRACE(std::string(c.what) + " in " + name);
      Pictures(name);
      Stubs(c.stubs);
      Style(c.style);
      const bool refused = c.textStore && std::string(name).rfind("bad", 0) == 0;
      EXPECT_EQ(Apply(c.environment, c.processes, c.monitors), c.taken && !refused);
      EXPECT_EQ(Calls(), refused ? "" : Expected(c.calls));
      // The plain names in the private folder lead to the files beside wp.bmp.
      if (fs::exists(Private())) {
        for (const auto& link : fs::directory_iterator(Private())) EXPECT_TRUE(fs::equivalent(link, pictures_ / link.path().filename()));
      }
      platform::posix::EndOwnedWallpaperClient();
    }
  }
}

// A desktop that caches by path gets a new name at each change; one that refuses keeps
// what it shows, and its retries write nothing until wp.bmp changes.
TEST_F(WallpaperPosix, CachingDesktopsAlternateTwoNamesAndRetriesWriteNothing) {
  Stubs({{"hyprctl", "[ -e \"${0%/bin/*}/refuse\" ] && exit 1; exit 0"}});
  const std::vector<std::string> hyprland{"XDG_CURRENT_DESKTOP=Hyprland", "WAYLAND_DISPLAY=w"};
  const auto files = [](std::set<std::string> copies) { return copies.insert("wp.bmp"), copies; };
  // A link planted where an earlier version put its temporary is removed, not written through.
  std::ofstream(folder_ / "victim") << "victim";
  fs::create_symlink(folder_ / "victim", pictures_ / "wp-a.png.tmp");
  EXPECT_TRUE(Apply(hyprland));
  EXPECT_EQ(Files(), files({"wp-a.png"}));
  EXPECT_EQ(testing_files::ReadFile(folder_ / "victim"), "victim");
  EXPECT_TRUE(Apply(hyprland));
  EXPECT_EQ(Files(), files({"wp-b.png"}));
  EXPECT_EQ(Calls(), Expected("hyprctl hyprpaper listloaded\nhyprctl hyprpaper preload $R/wp-b.png\n"
                              "hyprctl hyprpaper wallpaper ,$R/wp-b.png\nhyprctl hyprpaper unload $R/wp-a.png\n"));
  EXPECT_FALSE(fs::exists(Private() + "/wp-a.png"));

  std::ofstream(folder_ / "refuse");
  EXPECT_GT(Written([&] { EXPECT_FALSE(Apply(hyprland)); }), 0u);
  EXPECT_EQ(Files(), files({"wp-a.png", "wp-b.png"}));
  EXPECT_EQ(Written([&] { EXPECT_FALSE(Apply(hyprland)); }), 0u) << "a retry wrote the copy again";
  // The next day's wp.bmp, still refused: it replaces the refused copy, never the shown one.
  NextDay();
  EXPECT_GT(Written([&] { EXPECT_FALSE(Apply(hyprland)); }), 0u);
  fs::remove(folder_ / "refuse");
  EXPECT_EQ(Written([&] { EXPECT_TRUE(Apply(hyprland)); }), 0u);
  EXPECT_EQ(Files(), files({"wp-a.png"}));

  // A new wp.bmp, and the desktop's tools are gone: nothing is prepared at all.
  NextDay();
  for (const std::vector<std::string>& desktop : {hyprland, std::vector<std::string>{"XDG_CURRENT_DESKTOP=KDE", "DISPLAY=:0"}}) {
    Stubs({});
    EXPECT_EQ(Written([&] { EXPECT_FALSE(Apply(desktop)); }), 0u) << desktop[0];
    EXPECT_EQ(Files(), files({"wp-a.png"}));
  }
}

// Started from a folder that holds a tool of the same name, with PATH unset, empty or
// relative: never the working folder's tool.
TEST_F(WallpaperPosix, ToolsAreFoundInAbsoluteFoldersOnlyAndInTheSystemsWithoutPath) {
  Stubs({{"zorvani-tool", ""}});
  const std::string bin = (folder_ / "bin").string();
  const std::pair<std::vector<std::string>, std::string> kPaths[] = {
      {{}, ""}, {{"PATH="}, ""}, {{"PATH=:"}, ""}, {{"PATH=.:bin"}, ""}, {{"PATH=/nonexistent::"}, ""},
      {{"PATH=/nonexistent:" + bin}, bin + "/zorvani-tool"}};
  const fs::path before = fs::current_path();
  fs::current_path(bin);
  for (const auto& [environment, found] : kPaths) {
    const platform::posix::Session session(environment, 2000ms);
    EXPECT_EQ(session.FindProgram("zorvani-tool"), found) << (environment.empty() ? "no PATH" : environment[0]);
  }
  fs::current_path(before);
  EXPECT_TRUE(fs::equivalent(platform::posix::Session({}, 2000ms).FindProgram("sh"), "/bin/sh"));
}

// The desktop's wallpaper before the first change, read back from the store the desktop
// keeps it in: real dconf and xfconfd on a private bus; where the tool needs a running
// desktop (pcmanfm, Plasma, feh), a stand-in that writes the tool's own file.
struct Store {
  const char* what;
  std::vector<std::string> environment, processes;
  std::map<std::string, std::string> stubs;
  const char* set;  // makes $1 the user's wallpaper
  const char* get;  // prints what the store holds
  bool lockScreen = false;  // set and get are the lock screen's, with set-up's option on
};
const char kFeh[] = R"(for a; do o=$p; p=$a; done; q=$(printf %s "$p" | sed "s/'/'\"'\"'/g")
printf "#!/bin/sh\nfeh --no-fehbg %s '%s' \n" "$o" "$q" >~/.fehbg)";
const char kLxqt[] = R"x(f=~/.config/pcmanfm-qt/lxqt; mkdir -p $f; printf '[Desktop]\nWallpaperMode=%s\nWallpaper=%s\n' "${2#*=}" "$(printf %s "${1#*=}" | sed 's/"/\\"/g; s/\xc3\xa9/\\xe9/')" >$f/settings.conf)x";
const std::map<std::string, std::string> kPlasmaStubs{
    {"plasma-apply-wallpaperimage", "printf '[Containments][1][Wallpaper][org.kde.image][General]\\nImage=file://%s\\n' \"$1\" "
                                    ">~/.config/plasma-org.kde.plasma.desktop-appletsrc"},
    {"qdbus", ""}};
const Store kStores[] = {
    {"GNOME", {"XDG_CURRENT_DESKTOP=GNOME", "DISPLAY=:0"}, {}, {},
     "gsettings set org.gnome.desktop.background picture-options zoom && gsettings set org.gnome.desktop.background picture-uri \"file://$1\"",
     "gsettings get org.gnome.desktop.background picture-uri; gsettings get org.gnome.desktop.background picture-options"},
    {"Cinnamon", {"XDG_CURRENT_DESKTOP=X-Cinnamon", "DISPLAY=:0"}, {}, {},
     "gsettings set org.cinnamon.desktop.background picture-options centered && gsettings set org.cinnamon.desktop.background picture-uri \"file://$1\"",
     "gsettings get org.cinnamon.desktop.background picture-uri; gsettings get org.cinnamon.desktop.background picture-options"},
    {"MATE", {"XDG_CURRENT_DESKTOP=MATE", "DISPLAY=:0"}, {}, {},
     "gsettings set org.mate.background picture-options spanned && gsettings set org.mate.background picture-filename \"$1\"",
     "gsettings get org.mate.background picture-filename; gsettings get org.mate.background picture-options"},
    {"XFCE", {"XDG_CURRENT_DESKTOP=XFCE", "DISPLAY=:0"}, {"DISPLAY=:0 xfdesktop"}, {},
     "p=/backdrop/screen0/monitorscreen/workspace0; xfconf-query -c xfce4-desktop -p $p/last-image -n -t string -s \"$1\" && "
     "xfconf-query -c xfce4-desktop -p $p/image-style -n -t int -s 0",
     "xfconf-query -c xfce4-desktop -lv"},
    {"LXDE", {"XDG_CURRENT_DESKTOP=LXDE", "DESKTOP_SESSION=LXDE", "DISPLAY=:0"}, {"DISPLAY=:0 pcmanfm --desktop --profile LXDE"},
     {{"pcmanfm", R"(f=~/.config/pcmanfm/LXDE; mkdir -p $f; printf '[*]\nwallpaper_mode=%s\nwallpaper=%s\n' "${2#*=}" "${1#*=}" >$f/desktop-items-0.conf)"}},
     "pcmanfm --set-wallpaper=\"$1\" --wallpaper-mode=crop", "cat ~/.config/pcmanfm/LXDE/desktop-items-0.conf"},
    {"LXQt", {"XDG_CURRENT_DESKTOP=LXQt", "DESKTOP_SESSION=lxqt", "DISPLAY=:0"}, {"DISPLAY=:0 pcmanfm-qt --desktop"},
     {{"pcmanfm-qt", kLxqt}, {"dbus-send", "echo '\"org.pcmanfm.PCManFM\"'"}},
     "pcmanfm-qt --set-wallpaper=\"$1\" --wallpaper-mode=stretch", "cat ~/.config/pcmanfm-qt/lxqt/settings.conf"},
    // A new user: no file of their own, the profile's default from the system's folders.
    {"LXQt, a new user", {"XDG_CURRENT_DESKTOP=LXQt", "DISPLAY=:0"}, {"DISPLAY=:0 pcmanfm-qt --desktop --profile lxqt"},
     {{"pcmanfm-qt", kLxqt}, {"dbus-send", "echo '\"org.pcmanfm.PCManFM\"'"}},
     "f=$XDG_CONFIG_DIRS/pcmanfm-qt/lxqt; mkdir -p $f; printf '[Desktop]\\nWallpaper=/usr/share/lxqt/wallpapers/waves-logo.png\\n' >$f/settings.conf; "
     "case $1 in *chosen*) pcmanfm-qt --set-wallpaper=\"$1\" --wallpaper-mode=stretch;; esac",
     "grep -h ^Wallpaper= ~/.config/pcmanfm-qt/lxqt/settings.conf $XDG_CONFIG_DIRS/pcmanfm-qt/lxqt/settings.conf 2>/dev/null | head -1"},
    {"MATE, a new user: its own default (its colours)", {"XDG_CURRENT_DESKTOP=MATE", "DISPLAY=:0"}, {}, {},
     "k='org.mate.background picture-filename'; case $1 in *chosen*) gsettings set $k \"$1\";; *) gsettings reset $k;; esac",
     "gsettings get org.mate.background picture-filename; gsettings get org.mate.background picture-options"},
    {"KDE", {"XDG_CURRENT_DESKTOP=KDE", "DISPLAY=:0"}, {},
     {{"plasma-apply-wallpaperimage", "printf '[Containments][1][Wallpaper][org.kde.image][General]\\nImage=file://%s\\n' \"$1\" "
                                      ">~/.config/plasma-org.kde.plasma.desktop-appletsrc"}},
     "mkdir -p ~/.config && plasma-apply-wallpaperimage \"$1\"", "cat ~/.config/plasma-org.kde.plasma.desktop-appletsrc"},
    {"GNOME's lock screen", {"XDG_CURRENT_DESKTOP=GNOME", "DISPLAY=:0"}, {}, {},
     "gsettings set org.gnome.desktop.screensaver picture-options centered && gsettings set org.gnome.desktop.screensaver picture-uri \"file://$1\"",
     "gsettings get org.gnome.desktop.screensaver picture-uri; gsettings get org.gnome.desktop.screensaver picture-options", true},
    {"MATE's lock screen", {"XDG_CURRENT_DESKTOP=MATE", "DISPLAY=:0"}, {}, {},
     "gsettings set org.mate.screensaver picture-filename \"$1\"", "gsettings get org.mate.screensaver picture-filename", true},
    // gsettings prints a name's control and non-printing astral characters as \v, \U000e0001.
    {"MATE's lock screen, a name with \\v and U+E0001", {"XDG_CURRENT_DESKTOP=MATE", "DISPLAY=:0"}, {}, {},
     "gsettings set org.mate.screensaver picture-filename \"$1$(printf '\\013\\363\\240\\200\\201')\"",
     "gsettings get org.mate.screensaver picture-filename", true},
    {"Plasma's lock screen, a new user: no kscreenlockerrc", {"XDG_CURRENT_DESKTOP=KDE", "DISPLAY=:0"}, {}, kPlasmaStubs,
     "mkdir -p ~/.config; case $1 in *chosen*) kwriteconfig5 --file kscreenlockerrc --group Greeter --group Wallpaper --group org.kde.image --group General "
     "--key Image \"file://$1\";; esac",
     "grep -h . ~/.config/kscreenlockerrc 2>/dev/null || echo none", true},
    {"Plasma's lock screen", {"XDG_CURRENT_DESKTOP=KDE", "DISPLAY=:0"}, {}, kPlasmaStubs,
     "k='--file kscreenlockerrc --group Greeter --group Wallpaper --group org.kde.image --group General'; "
     "kwriteconfig5 $k --key FillMode 1 && kwriteconfig5 $k --key Image \"file://$1\"", "cat ~/.config/kscreenlockerrc", true},
    {"feh, a backslash in the path", {"DISPLAY=:1"}, {}, {{"feh", kFeh}}, R"(feh --bg-fill "${1%.jpg}\\n.jpg")", "cat ~/.fehbg"},
    {"feh, no ~/.fehbg before", {"DISPLAY=:1"}, {}, {{"feh", kFeh}}, "rm -f ~/.fehbg", "cat ~/.fehbg 2>/dev/null || echo none"},
    // feh names itself in ~/.fehbg as it was run: by its full path, when the program runs it.
    {"feh, run by its full path", {"DISPLAY=:1"}, {}, {{"feh", std::string(kFeh).replace(std::string(kFeh).find("\\nfeh"), 5, "\\n/usr/bin/feh")}},
     "feh --bg-fill \"$1\"", "sed 's|^/usr/bin/feh |feh |' ~/.fehbg"},
};

TEST_F(WallpaperPosix, TheWallpaperBeforeTheFirstChangeIsGivenBackAtRemovalUnlessTheUserChoseAnother) {
  const fs::path home = folder_ / "home";
  const std::vector<std::string> user{"HOME=" + home.string(), "XDG_CONFIG_HOME=" + (home / ".config").string(),
                                      "XDG_RUNTIME_DIR=" + (folder_ / "run").string(), "PATH=" + (folder_ / "bin").string() + ":/usr/bin:/bin",
                                      "LANG=C.UTF-8", "XDG_CONFIG_DIRS=" + (home / "xdg").string(), "ZORVANI_TEST_BUS=" + folder_.path.string()};
  std::string bus;
  std::vector<std::string> launch{"/usr/bin/env"};
  launch.insert(launch.end(), user.begin(), user.end());
  launch.insert(launch.end(), {"dbus-daemon", "--session", "--fork", "--print-address=1", "--print-pid=1"});
  ASSERT_EQ(platform::posix::Session(user, 5000ms).Run(launch, &bus), platform::posix::CommandResult::kSucceeded);
  const pid_t daemon = std::stoi(bus.substr(bus.find('\n') + 1));
  const mode_t umask = ::umask(002);  // as users of Debian and Fedora have it
  for (const Store& store : kStores) {
    SCOPED_TRACE(store.what);
    Pictures("it's \"x\" \xc3\xa9");
    Stubs(store.stubs);
    fs::remove_all(home);
    fs::create_directories(home);
    // Plasma's default picture, from the user's own data folder whatever the host has installed.
    fs::create_directories(home / ".local/share/wallpapers/Next");
    testing_files::WriteFile(home / ".local/share/plasma/look-and-feel/org.kde.breeze.desktop/contents/defaults", "[Wallpaper]\nImage=Next\n");
    std::vector<std::string> environment = user;
    environment.push_back("DBUS_SESSION_BUS_ADDRESS=" + bus.substr(0, bus.find('\n')));
    environment.insert(environment.end(), store.environment.begin(), store.environment.end());
    const auto shell = [&](const char* script, const std::string& argument = {}) {
      std::string out;
      EXPECT_EQ(platform::posix::Session(environment, 5000ms).Run({"/bin/sh", "-c", script, "sh", argument}, &out),
                platform::posix::CommandResult::kSucceeded) << script;
      return out;
    };
    shell(store.set, "/usr/share/backgrounds/beach-1.jpg");
    const std::string before = shell(store.get);
    // The lock screen's option: off, the lock screen is left alone; turned off, it gets
    // its picture back at the next change.
    for (const bool on : {false, true, false}) {
      if (!store.lockScreen) break;
      Style("2", on);
      desktop_.reset();
      Desktop().RecordPreviousWallpaper(Bitmap());
      EXPECT_TRUE(Apply(environment, store.processes));
      EXPECT_EQ(shell(store.get) == before, !on) << on;
      // The lock screen given back leaves the desktop's own record for the removal.
      EXPECT_EQ(testing_files::ReadFile(home / ".local/state/zorvani-wallpaper/previous-wallpaper").rfind("backend=", 0), 0u) << on;
      if (!on) Desktop().RestorePreviousWallpaper(Bitmap());
    }
    Style("2", store.lockScreen);
    // Kept at the first log-on; the next one, which finds the calendar shown, keeps nothing new.
    for (int logOn = 0; logOn < 2; ++logOn) {
      desktop_.reset();
      Desktop().RecordPreviousWallpaper(Bitmap());
      EXPECT_TRUE(Apply(environment, store.processes));
      EXPECT_NE(shell(store.get), before);
    }
    Desktop().RestorePreviousWallpaper(Bitmap());
    EXPECT_EQ(shell(store.get), before);
    EXPECT_FALSE(fs::exists(home / ".local/state/zorvani-wallpaper"));
    EXPECT_EQ(Files(), std::set<std::string>{"wp.bmp"});

    desktop_.reset();
    Desktop().RecordPreviousWallpaper(Bitmap());
    EXPECT_TRUE(Apply(environment, store.processes));
    shell(store.set, "/home/me/chosen since.png");
    const std::string chosen = shell(store.get);
    Desktop().RestorePreviousWallpaper(Bitmap());
    EXPECT_EQ(shell(store.get), chosen);
  }
  ::umask(umask);
  // The bus and the stores it started, which write into the home folder as they end.
  kill(daemon, SIGTERM);
  for (bool left = true; left;) {
    left = false;
    for (const auto& process : fs::directory_iterator("/proc")) {
      const std::string environ = testing_files::ReadFile(process.path() / "environ");
      if (environ.find(user.back()) == std::string::npos || kill(std::stoi(process.path().filename()), SIGTERM) != 0) continue;
      left = true;
      std::this_thread::sleep_for(20ms);
    }
  }
}

// Hostile records and settings files: a previous wallpaper planted where another user
// can write, values that would be code in the desktop's script or in ~/.fehbg, and
// settings a regular expression would recurse through until the stack runs out; and
// what is no wallpaper to give back (an unreadable ~/.fehbg, the calendar itself,
// another desktop's file). A stand-in feh, as above: the real one needs a display (it writes through a link to
// ~/.fehbg and adds u+x and g+x).
struct Hostile {
  const char* what;
  std::vector<std::string> environment, processes;
  std::map<std::string, std::string> stubs;
  std::vector<std::pair<std::string, std::string>> files;  // under the home folder; "->x": a link to x
  // Where a record is planted: "own" (the user's private folder), "open" (a state folder
  // anyone may write), "others" (another user's state folder); none when empty.
  const char* state;
  std::string record;
  std::string fehbg;        // ~/.fehbg after removal, executable (and still a link where it was one)
  std::string seen, never;  // in the tools' calls or ~/.fehbg after removal
};
const std::string kInjected = "backend=kde\npath=/usr/share/backgrounds/planted.jpg\nplacement=0); print('INJECTED'); d.writeConfig('x', 0\n";
const std::string kPlantedFeh = "backend=feh\npath=/usr/share/it's.jpg\nplacement=--action=touch $H/PWNED\ntool-file=$H/.fehbg\n"
                                "tool-file-bytes=#!/bin/sh\\ntouch $H/PWNED\\n\n";
const std::string kLongMonitor = "/backdrop/screen0/monitor" + std::string(60000, 'x') + "/workspace0/last-image";
const Hostile kHostile[] = {
    {"a record in a state folder anyone may write", {"DISPLAY=:1"}, {}, {{"feh", kFeh}}, {}, "open", kPlantedFeh, {}, {}, "PWNED"},
    {"a record in another user's state folder", {"DISPLAY=:1"}, {}, {{"feh", kFeh}}, {}, "others", kPlantedFeh, {}, {}, "PWNED"},
    {"Plasma: a record in a state folder anyone may write", {"XDG_CURRENT_DESKTOP=KDE", "DISPLAY=:0"}, {}, kPlasmaStubs,
     {{".config/x", ""}}, "open", kInjected, {}, {}, "INJECTED"},
    {"Plasma: the user's own record holds a script", {"XDG_CURRENT_DESKTOP=KDE", "DISPLAY=:0"}, {}, kPlasmaStubs,
     {{".config/x", ""}}, "own", kInjected, {}, "plasma-apply-wallpaperimage /usr/share/backgrounds/planted.jpg\n"
     "qdbus org.kde.plasmashell /PlasmaShell org.kde.PlasmaShell.evaluateScript " + kPlasma + "d.writeConfig('FillMode', 1); }\n",
     "INJECTED"},
    {"feh: ~/.fehbg comes back in feh's form, never the record's bytes or options", {"DISPLAY=:1"}, {}, {{"feh", kFeh}}, {}, "own",
     kPlantedFeh, "#!/bin/sh\nfeh --no-fehbg --bg-max '/usr/share/it'\"'\"'s.jpg' \n", "feh --bg-max /usr/share/it's.jpg\n", "PWNED"},
    {"a relative XDG_STATE_HOME names no folder: the record in ~/.local/state", {"DISPLAY=:1", "XDG_STATE_HOME=state"}, {},
     {{"feh", kFeh}}, {}, "own", "backend=feh\npath=/usr/share/sea.jpg\n", {}, "feh --bg-max /usr/share/sea.jpg\n"},
    {"feh: ~/.fehbg is a link a dotfile manager keeps", {"DISPLAY=:1"}, {}, {{"feh", kFeh}},
     {{"dots/fehbg", "#!/bin/sh\nfeh --no-fehbg --bg-fill '/usr/share/backgrounds/beach.jpg' \n"}, {".fehbg", "->dots/fehbg"}}, "", "",
     "#!/bin/sh\nfeh --no-fehbg --bg-fill '/usr/share/backgrounds/beach.jpg' \n", "feh --bg-fill /usr/share/backgrounds/beach.jpg\n"},
    {"feh: a ~/.fehbg that cannot be read now is no record of none, and stays", {"DISPLAY=:1"}, {},
     {{"feh", "rm -f ~/.fehbg; " + std::string(kFeh)}}, {{".fehbg", "->."}}, "", "", {}, "feh --no-fehbg --bg-max '$F/wp.bmp'"},
    {"feh: the calendar shown at the first change is no wallpaper to give back", {"DISPLAY=:1"}, {}, {{"feh", kFeh}},
     {{".fehbg", "#!/bin/sh\nfeh --no-fehbg --bg-fill '$F/wp.bmp' \n"}}, "", "", {}, {}, "--bg-fill"},
    {"feh: a monitor's own picture beside wp.bmp is none either", {"DISPLAY=:1"}, {}, {{"feh", kFeh}},
     {{".fehbg", "#!/bin/sh\nfeh --no-fehbg --bg-fill '$F/wp-DP-1.bmp' \n"}}, "", "", {}, {}, "--bg-fill"},
    {"feh: nor its copy in the private folder", {"DISPLAY=:1"}, {}, {{"feh", kFeh}},
     {{".fehbg", "#!/bin/sh\nfeh --no-fehbg --bg-fill '$R/wp-span.png' \n"}}, "", "", {}, {}, "--bg-fill"},
    {"Plasma: a ~/.fehbg recorded under feh is left alone", {"XDG_CURRENT_DESKTOP=KDE", "DISPLAY=:0"}, {}, kPlasmaStubs,
     {{".config/x", ""}, {".fehbg", "feh --no-fehbg --bg-fill '/mine.jpg'"}}, "own", "backend=feh\npath=/usr/share/a.jpg\ntool-file=$H/.fehbg\n",
     {}, "--bg-fill '/mine.jpg'"},
    {"Plasma: a group header of 200,000 digits", {"XDG_CURRENT_DESKTOP=KDE", "DISPLAY=:0"}, {}, kPlasmaStubs,
     {{".config/plasma-org.kde.plasma.desktop-appletsrc", "[Containments][" + std::string(200000, '7') +
                                                          "][Wallpaper][org.kde.image][General]\nImage=file:///usr/share/a%20b.jpg\nFillMode=2\n"}},
     "", "", {}, "plasma-apply-wallpaperimage /usr/share/a b.jpg\nqdbus org.kde.plasmashell /PlasmaShell "
     "org.kde.PlasmaShell.evaluateScript " + kPlasma + "d.writeConfig('FillMode', 2); }\n"},
    {"XFCE: a monitor name of 60,000 characters", {"XDG_CURRENT_DESKTOP=XFCE", "DISPLAY=:0"}, {"DISPLAY=:0 xfdesktop"},
     {{"xfconf-query", "case \"$*\" in *-l) echo " + kLongMonitor + ";; esac"}}, {}, "", "", {},
     "xfconf-query -c xfce4-desktop -p " + kLongMonitor + " -n -t string -s $F/wp.bmp\n"},
};

TEST_F(WallpaperPosix, HostileRecordsAndSettingsAreDataAndNeverTakenFromAnotherUser) {
  const fs::path home = folder_ / "home";
  for (const Hostile& row : kHostile) {
    const std::string where = row.state;
    if (where == "others" && geteuid() != 0) continue;  // only root makes another user's folder
    SCOPED_TRACE(row.what);
    Pictures();
    Stubs(row.stubs);
    Style("6");
    fs::remove_all(home);
    fs::create_directories(home);
    fs::remove_all(folder_ / "shared");
    for (const auto& [name, bytes] : row.files) {
      fs::create_directories((home / name).parent_path());
      if (bytes.rfind("->", 0) == 0) fs::create_symlink(bytes.substr(2), home / name);
      else testing_files::WriteFile(home / name, Expected(bytes));
    }
    std::vector<std::string> environment{"HOME=" + home.string(), "XDG_CONFIG_HOME=" + (home / ".config").string(),
                                         "PATH=" + (folder_ / "bin").string() + ":/usr/bin:/bin", "LANG=C.UTF-8"};
    environment.insert(environment.end(), row.environment.begin(), row.environment.end());
    fs::path state = home / ".local/state";
    if (where == "open" || where == "others") {
      state = folder_ / "shared/me-state";
      environment.push_back("XDG_STATE_HOME=" + state.string());
    }
    if (!row.record.empty()) {
      testing_files::WriteFile(state / "zorvani-wallpaper/previous-wallpaper", Expected(row.record));
      fs::permissions(state / "zorvani-wallpaper", fs::perms::owner_all);
      if (where == "open") fs::permissions(state, fs::perms::all);
      for (const fs::path& path : {state, state / "zorvani-wallpaper", state / "zorvani-wallpaper/previous-wallpaper"})
        if (where == "others") EXPECT_EQ(chown(path.c_str(), 65534, 65534), 0);
    }
    desktop_.reset();
    Desktop().RecordPreviousWallpaper(Bitmap());
    EXPECT_TRUE(Apply(environment, row.processes));
    Desktop().RestorePreviousWallpaper(Bitmap());

    const std::string fehbg = testing_files::ReadFile(home / ".fehbg"), seen = Calls() + fehbg;
    // The program's copy the desktop still shows after removal is still there.
    platform::posix::ShownWallpaper shown;
    const platform::posix::Session session(environment_, 2000ms, nullptr, (folder_ / "proc").string());
    if (const auto* backend = platform::posix::ChooseDesktopBackend(session); backend != nullptr && backend->Shown(session, &shown))
      EXPECT_TRUE(shown.path.rfind(pictures_.string(), 0) != 0 || fs::exists(shown.path)) << shown.path;
    if (!row.fehbg.empty()) {
      EXPECT_EQ(fehbg, Expected(row.fehbg));
      EXPECT_NE(fs::status(home / ".fehbg").permissions() & fs::perms::owner_exec, fs::perms::none);
      if (!row.files.empty()) EXPECT_TRUE(fs::is_symlink(home / ".fehbg"));
    }
    EXPECT_NE(seen.find(Expected(row.seen)), std::string::npos) << seen.substr(0, 2000);
    if (!row.never.empty()) EXPECT_EQ(seen.find(row.never), std::string::npos) << seen.substr(0, 2000);
  }
}

// A calendar folder of links alone (set-up's --session) goes with the program, copies
// handed to desktops included; one with a picture the user added keeps it; a calendar
// of the user's own stays whole, and where no desktop says what it shows, so do the copies.
TEST_F(WallpaperPosix, AtRemovalTheMachineCalendarsLinksGoAndTheUsersOwnPicturesStay) {
  const std::set<std::string> whole = {".zorvani-setup", "WP.ini", "Zorvani2026", "wp.bmp", "zorvani-wallpaper", "wp-a.bmp",
                                       "wp-b.bmp", "wp.png", "wp-a.png", "wp-b.png"};
  const std::pair<std::string, std::set<std::string>> kFolders[] = {
      {"", {}}, {"mine.jpg", {"mine.jpg"}}, {"Zorvani2026/1.jpg", whole}, {"WP.ini", whole}};  // set-up's own file
  for (const auto& [own, left] : kFolders) {
    SCOPED_TRACE(own);
    Pictures();
    for (const char* copy : {"wp-a.bmp", "wp-b.bmp", "wp.png", "wp-a.png", "wp-b.png"}) std::ofstream(pictures_ / copy);
    std::ofstream(pictures_ / ".zorvani-setup") << "WP.ini\nZorvani2026\nzorvani-wallpaper\n" << (own.find('/') != std::string::npos ? own : "");
    for (const std::string name : {"WP.ini", "Zorvani2026", "zorvani-wallpaper"})
      if (name != own) fs::create_symlink(folder_ / "gone" / name, pictures_ / name);
    if (!own.empty() && own.find('/') == std::string::npos) std::ofstream(pictures_ / own) << "a picture";
    environment_ = {"HOME=" + folder_.path.string()};
    Desktop().RestorePreviousWallpaper(Bitmap());
    EXPECT_EQ(Files(), left);
  }
}

// The PNG's pixels are compared on screen (xwallpaper in tests/desktops/run).
TEST_F(WallpaperPosix, BitmapsThatAreNoUncompressed24BitBmpGiveNoPngCopy) {
  const std::string png = (folder_ / "wp.png").string();
  ASSERT_TRUE(platform::posix::WritePngCopy(Bitmap(), png));
  const std::string bitmap = testing_files::ReadFile(Bitmap());
  for (const auto& [at, byte] : std::vector<std::pair<std::size_t, char>>{{28, 32}, {18, 0}, {22, '\x7f'}, {10, '\xff'}}) {
    std::string bad = bitmap;
    bad[at] = byte;
    std::ofstream(Bitmap(), std::ios::binary | std::ios::trunc) << bad;
    EXPECT_FALSE(platform::posix::WritePngCopy(Bitmap(), png)) << at;
  }
  std::ofstream(Bitmap(), std::ios::binary | std::ios::trunc) << bitmap.substr(0, bitmap.size() - 1);  // one byte short
  EXPECT_FALSE(platform::posix::WritePngCopy(Bitmap(), png));
  EXPECT_FALSE(fs::exists(png + ".tmp"));
}

}  // namespace
#endif
