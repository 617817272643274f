// The desktop hand-over with any bytes as the calendar folder's name, for every desktop:
// the command lines handed to the tools carry the path only as a path. sway and hyprctl,
// which read a command language, see only a plain name in the private folder that leads
// to the file; every other tool gets the real path whole, as the one argument or the
// quoted or escaped value its store reads back (GVariant text, file URI, Plasma script).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/posix/desktop/desktop_backends.h"
#include "platform/posix/private_folder.h"
#include "platform/registry.h"

namespace {

namespace fs = std::filesystem;
using platform::posix::CommandResult;

struct Desktop {
  std::vector<std::string> environment;
  std::vector<const char*> tools;  // on PATH
  bool hyprpaper = true;           // whether hyprctl finds hyprpaper
};

const Desktop kDesktops[] = {
    {{"XDG_CURRENT_DESKTOP=GNOME", "DISPLAY=:0"}, {"gsettings"}},
    {{"XDG_CURRENT_DESKTOP=Pantheon", "DISPLAY=:0"}, {"gsettings"}},
    {{"XDG_CURRENT_DESKTOP=X-Cinnamon", "DISPLAY=:0"}, {"gsettings"}},
    {{"XDG_CURRENT_DESKTOP=MATE", "DISPLAY=:0"}, {"gsettings"}},
    {{"XDG_CURRENT_DESKTOP=XFCE", "DISPLAY=:0"}, {"xfconf-query", "xrandr"}},
    {{"XDG_CURRENT_DESKTOP=KDE", "DISPLAY=:0"}, {"plasma-apply-wallpaperimage", "qdbus"}},
    {{"XDG_CURRENT_DESKTOP=KDE", "DISPLAY=:0"}, {"gdbus"}},
    {{"XDG_CURRENT_DESKTOP=KDE", "DISPLAY=:0"}, {"dbus-send"}},
    {{"XDG_CURRENT_DESKTOP=LXQt", "DISPLAY=:0"}, {"pcmanfm-qt"}},
    {{"XDG_CURRENT_DESKTOP=LXDE", "DISPLAY=:0"}, {"pcmanfm"}},
    {{"XDG_CURRENT_DESKTOP=sway", "WAYLAND_DISPLAY=w"}, {"swaymsg"}},
    {{"XDG_CURRENT_DESKTOP=Hyprland", "WAYLAND_DISPLAY=w"}, {"hyprctl", "swww"}},
    {{"XDG_CURRENT_DESKTOP=Hyprland", "WAYLAND_DISPLAY=w"}, {"hyprctl", "swww"}, false},
    {{"WAYLAND_DISPLAY=w"}, {"swaybg"}},
    {{"DISPLAY=:0"}, {"feh"}},
    {{"DISPLAY=:0"}, {"xwallpaper"}},
    {{"DISPLAY=:0"}, {"hsetroot"}},
};

// A 1 x 1 24-bit BMP.
const char kBitmap[] = "BM\x3a\0\0\0\0\0\0\0\x36\0\0\0\x28\0\0\0\x01\0\0\0\x01\0\0\0\x01\0\x18\0\0\0\0\0\x04\0\0\0"
                       "\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\x10\x20\x30\0";

[[noreturn]] void Finding(const std::vector<std::string>& argv, const std::string& why) {
  std::fprintf(stderr, "%s:", why.c_str());
  for (const std::string& arg : argv) std::fprintf(stderr, " [%s]", arg.c_str());
  std::fprintf(stderr, "\n");
  std::abort();
}

bool Unreserved(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~';
}

int Hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The path of a file URI of plain characters and %XX only; empty when it is not one.
std::string UriPath(const std::string& uri) {
  if (uri.rfind("file://", 0) != 0) return {};
  std::string path;
  for (std::size_t at = 7; at < uri.size(); ++at) {
    if (Unreserved(uri[at]) || uri[at] == '/') {
      path += uri[at];
    } else if (uri[at] == '%' && at + 2 < uri.size() && Hex(uri[at + 1]) >= 0 && Hex(uri[at + 2]) >= 0) {
      path += static_cast<char>(Hex(uri[at + 1]) * 16 + Hex(uri[at + 2]));
      at += 2;
    } else {
      return {};
    }
  }
  return path;
}

// The string a one-quoted GVariant text stands for, as gsettings parses it; false when
// it is not one string (an unescaped quote inside, an escape of anything else).
bool GVariantString(const std::string& text, std::string* value) {
  if (text.size() < 2 || text.front() != '\'' || text.back() != '\'') return false;
  value->clear();
  for (std::size_t at = 1; at + 1 < text.size(); ++at) {
    if (text[at] == '\'') return false;
    if (text[at] == '\\') {
      if (++at + 1 >= text.size() || (text[at] != '\\' && text[at] != '\'')) return false;
    }
    *value += text[at];
  }
  return true;
}

class Check {
 public:
  Check(std::string calendar, std::string folder, std::string plain)
      : calendar_(std::move(calendar)), folder_(std::move(folder)), plain_(std::move(plain)) {}

  void operator()(const std::vector<std::string>& argv) const {
    const std::string tool = argv[0].substr(argv[0].rfind('/') + 1);
    for (std::size_t i = 1; i < argv.size(); ++i) {
      const std::string& arg = argv[i];
      if (arg.empty()) continue;
      if (tool == "swaymsg" || tool == "hyprctl") {
        if (arg.find(calendar_) != std::string::npos) Finding(argv, "the folder's name reaches a command language");
        const std::string path = arg.substr(arg[0] == ',' ? 1 : 0);
        if (path.empty() || path[0] != '/') continue;
        if (!platform::posix::PlainPathText(path) || path.rfind(plain_ + "/", 0) != 0) Finding(argv, "not a plain private name");
        if (argv[2] != "unload" && !(fs::exists(path) && fs::equivalent(path, folder_ + path.substr(plain_.size()))))
          Finding(argv, "the plain name does not lead to the file");
        continue;
      }
      if (arg.find(calendar_) == std::string::npos) continue;
      if (!AsPath(tool, i, argv)) Finding(argv, "the path is handed over in a form the tool may misread");
    }
  }

 private:
  bool OwnFile(const std::string& path) const {
    for (const char* name : {"wp.bmp", "wp-a.bmp", "wp-b.bmp", "wp.png", "wp-a.png", "wp-b.png"}) {
      if (path == folder_ + "/" + name) return true;
    }
    return false;
  }
  bool AsPath(const std::string& tool, std::size_t i, const std::vector<std::string>& argv) const {
    const std::string& arg = argv[i];
    std::string value;
    if (tool == "gsettings") {
      // Strings reach GLib, which takes UTF-8 only; a URI is ASCII.
      return i == 4 && GVariantString(arg, &value) && (UriPath(value) == "" ? OwnFile(value) : OwnFile(UriPath(value))) &&
             (argv[3] != "picture-filename" || Utf8(value));
    }
    if (tool == "xfconf-query") return argv[i - 1] == "-s" && OwnFile(arg) && Utf8(arg);
    if (tool == "pcmanfm" || tool == "pcmanfm-qt") return arg.rfind("--set-wallpaper=", 0) == 0 && OwnFile(arg.substr(16));
    if (tool == "qdbus" || tool == "gdbus" || tool == "dbus-send") {
      // The script names the file only as a URI inside one quoted string.
      const std::string before = "d.writeConfig('Image', '";
      const std::size_t start = arg.find(before);
      if (start == std::string::npos) return false;
      const std::size_t end = arg.find('\'', start + before.size());
      if (end == std::string::npos) return false;
      const std::string uri = arg.substr(start + before.size(), end - start - before.size());
      return OwnFile(UriPath(uri)) && (arg.substr(0, start) + arg.substr(end)).find(calendar_) == std::string::npos;
    }
    return OwnFile(arg);  // plasma-apply-wallpaperimage, swaybg, swww, feh, xwallpaper, hsetroot: one argument
  }
  // The well-formed sequences of the Unicode standard's table 3-7, which GLib takes.
  static bool Utf8(const std::string& text) {
    for (std::size_t at = 0; at < text.size();) {
      const auto c = static_cast<unsigned char>(text[at]);
      std::size_t more = 0;
      unsigned char low = 0x80, high = 0xBF;
      if (c < 0x80) more = 0;
      else if (c >= 0xC2 && c <= 0xDF) more = 1;
      else if (c == 0xE0) more = 2, low = 0xA0;
      else if (c == 0xED) more = 2, high = 0x9F;
      else if (c >= 0xE1 && c <= 0xEF) more = 2;
      else if (c == 0xF0) more = 3, low = 0x90;
      else if (c >= 0xF1 && c <= 0xF3) more = 3;
      else if (c == 0xF4) more = 3, high = 0x8F;
      else return false;
      if (text.size() - at <= more) return false;
      for (std::size_t k = 1; k <= more; ++k) {
        const auto next = static_cast<unsigned char>(text[at + k]);
        if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) return false;
      }
      at += more + 1;
    }
    return true;
  }

  std::string calendar_, folder_, plain_;
};

struct World {
  std::string root, calendar, run, config;
  std::vector<std::string> bins;  // one PATH per desktop
};

const World& TheWorld() {
  static const World world = [] {
    World w;
    w.root = (fs::exists("/dev/shm") ? "/dev/shm" : "/tmp") + std::string("/zorvani-desktop-fuzz-") + std::to_string(getpid());
    w.calendar = w.root + "/cal/", w.run = w.root + "/run", w.config = w.root + "/config";
    fs::create_directories(w.calendar);
    fs::create_directories(w.config);
    fs::create_directory(w.run);
    fs::permissions(w.run, fs::perms::owner_all);
    setenv("XDG_CONFIG_HOME", w.config.c_str(), 1);  // no hive: stretched
    for (std::size_t d = 0; d < std::size(kDesktops); ++d) {
      const std::string bin = w.root + "/bin" + std::to_string(d);
      fs::create_directory(bin);
      for (const char* tool : kDesktops[d].tools) {
        std::ofstream(bin + "/" + tool) << "#!/bin/sh\n";
        fs::permissions(bin + "/" + tool, fs::perms::owner_all);
      }
      w.bins.push_back(bin);
    }
    static const std::string removed = w.root;
    std::atexit([] { std::error_code ignored; fs::remove_all(removed, ignored); });
    return w;
  }();
  return world;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const World& world = TheWorld();
  // A name of one path element: no '/' or NUL, not "." or "..", within NAME_MAX.
  std::string name(reinterpret_cast<const char*>(data), std::min<std::size_t>(size, 200));
  for (char& c : name) {
    if (c == '/' || c == '\0') c = '_';
  }
  if (name.empty() || name == "." || name == "..") name += "x";
  const std::string folder = world.calendar + name;
  fs::create_directory(folder);
  std::ofstream(folder + "/wp.bmp", std::ios::binary).write(kBitmap, sizeof kBitmap - 1);

  const Check check(world.calendar, folder, platform::posix::PrivateFolderPath(world.run, ""));
  for (std::size_t d = 0; d < std::size(kDesktops); ++d) {
    std::vector<std::string> environment = kDesktops[d].environment;
    environment.push_back("PATH=" + world.bins[d]);
    environment.push_back("XDG_RUNTIME_DIR=" + world.run);
    const bool hyprpaper = kDesktops[d].hyprpaper;
    const auto runner = [&](const std::vector<std::string>& argv, std::string*) {
      check(argv);
      const bool noHyprpaper = !hyprpaper && argv.size() > 2 && argv[2] == "listloaded";
      return noHyprpaper ? CommandResult::kFailed : CommandResult::kSucceeded;
    };
    platform::posix::LinuxDesktop desktop(platform::SystemRegistry(), [&] {
      return platform::posix::Session(environment, std::chrono::seconds(1), runner);
    });
    desktop.SystemParametersInfoA(platform::kSpiSetDeskWallpaper, 0, folder + "/wp.bmp", 3);
  }
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  for (const auto& entry : fs::directory_iterator(platform::posix::PrivateFolderPath(world.run, ""), ignored)) {
    fs::remove(entry.path(), ignored);
  }
  return 0;
}
