// The previous-wallpaper record with any bytes, given back at removal to Plasma (by its
// script) and to feh. Whatever the record says, its values stay data: Plasma's script
// is the fixed one with a percent-encoded URI and a number for the fill mode, feh gets
// one of its --bg- options and an absolute path, and ~/.fehbg comes back in feh's own
// form naming that path (only a file of another form, recorded as it was, goes back as
// its bytes). "$H" in the input stands for the home folder, so that the record can name
// ~/.fehbg.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "platform/posix/desktop/desktop_backends.h"
#include "platform/registry.h"

namespace {

namespace fs = std::filesystem;
using platform::posix::CommandResult;

const char kScript[] = "var all = desktops(); for (var i = 0; i < all.length; ++i) { var d = all[i];"
                       " d.wallpaperPlugin = 'org.kde.image';"
                       " d.currentConfigGroup = ['Wallpaper', 'org.kde.image', 'General'];";
const char* const kFehOptions[] = {"--bg-scale", "--bg-center", "--bg-tile", "--bg-max", "--bg-fill"};

[[noreturn]] void Finding(const std::string& why, const std::string& what) {
  std::fprintf(stderr, "%s: [%s]\n", why.c_str(), what.substr(0, 400).c_str());
  std::abort();
}

bool FehOption(const std::string& option) {
  for (const char* known : kFehOptions) {
    if (option == known) return true;
  }
  return false;
}

// The one path in feh's form of ~/.fehbg, a quote inside written '"'"'; false for any other text.
bool FehForm(const std::string& text, std::string* path) {
  const std::string start = "#!/bin/sh\nfeh --no-fehbg ";
  if (text.rfind(start, 0) != 0) return false;
  const std::size_t space = text.find(' ', start.size());
  if (space == std::string::npos || !FehOption(text.substr(start.size(), space - start.size())) || text.compare(space, 2, " '") != 0 ||
      text.size() < space + 5 || text.compare(text.size() - 3, 3, "' \n") != 0)
    return false;
  path->clear();
  for (std::size_t at = space + 2; at < text.size() - 3; ++at) {
    if (text[at] != '\'') {
      *path += text[at];
    } else if (text.compare(at, 5, "'\"'\"'") == 0) {
      *path += '\'';
      at += 4;
    } else {
      return false;
    }
  }
  return true;
}

bool UriText(const std::string& uri) {
  if (uri.rfind("file:///", 0) != 0) return false;
  for (std::size_t at = 7; at < uri.size(); ++at) {
    const char c = uri[at];
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' || c == '-' ||
                       c == '.' || c == '_' || c == '~';
    if (plain) continue;
    if (c != '%' || at + 2 >= uri.size() || !std::isxdigit(static_cast<unsigned char>(uri[at + 1])) ||
        !std::isxdigit(static_cast<unsigned char>(uri[at + 2])))
      return false;
    at += 2;
  }
  return true;
}

// Plasma's script as the backend writes it, with what the record may change in it.
void CheckScript(const std::string& script) {
  std::string rest = script;
  if (rest.rfind(kScript, 0) != 0) Finding("not Plasma's script", script);
  rest = rest.substr(sizeof kScript - 1);
  const std::string image = " d.writeConfig('Image', '";
  if (rest.rfind(image, 0) == 0) {
    const std::size_t end = rest.find("');", image.size());
    if (end == std::string::npos || !UriText(rest.substr(image.size(), end - image.size()))) Finding("a URI that is no URI", script);
    rest = rest.substr(end + 3);
  }
  const std::string fill = " d.writeConfig('FillMode', ";
  if (rest.rfind(fill, 0) != 0 || rest.size() < fill.size() + 4 || rest.compare(rest.size() - 4, 4, "); }") != 0)
    Finding("more in Plasma's script", script);
  const std::string mode = rest.substr(fill.size(), rest.size() - fill.size() - 4);
  if (mode.empty() || mode.find_first_not_of("0123456789") != std::string::npos) Finding("a fill mode that is no number", script);
}

struct World {
  std::string root, home, calendar, state, fehBin, plasmaBin;
};

const World& TheWorld() {
  static const World world = [] {
    World w;
    w.root = (fs::exists("/dev/shm") ? "/dev/shm" : "/tmp") + std::string("/zorvani-record-fuzz-") + std::to_string(getpid());
    w.home = w.root + "/home", w.calendar = w.root + "/cal", w.state = w.home + "/.local/state";
    w.fehBin = w.root + "/feh", w.plasmaBin = w.root + "/plasma";
    for (const std::string& folder : {w.home + "/.config", w.state, w.calendar, w.fehBin, w.plasmaBin}) fs::create_directories(folder);
    for (const std::string& tool : {w.fehBin + "/feh", w.plasmaBin + "/qdbus"}) {
      std::ofstream(tool) << "#!/bin/sh\n";
      fs::permissions(tool, fs::perms::owner_all);
    }
    setenv("XDG_CONFIG_HOME", (w.root + "/registry").c_str(), 1);  // no hive: stretched
    static const std::string removed = w.root;
    std::atexit([] { std::error_code ignored; fs::remove_all(removed, ignored); });
    return w;
  }();
  return world;
}

void Write(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const World& world = TheWorld();
  std::string record(reinterpret_cast<const char*>(data), size);
  for (std::size_t at; (at = record.find("$H")) != std::string::npos;) record.replace(at, 2, world.home);
  const std::map<std::string, std::string> fields = platform::posix::PreviousWallpaperFields(record);
  const auto field = [&](const char* name) { return fields.count(name) != 0 ? fields.at(name) : std::string(); };
  const std::string bitmap = world.calendar + "/wp.bmp", fehbg = world.home + "/.fehbg";
  const std::string ours = "#!/bin/sh\nfeh --no-fehbg --bg-scale '" + bitmap + "' \n";

  for (const bool plasma : {false, true}) {
    // The desktop shows the program's picture, and the record waits in the user's own folder.
    Write(world.home + "/.config/plasma-org.kde.plasma.desktop-appletsrc",
          "[Containments][1][Wallpaper][org.kde.image][General]\nImage=file://" + world.calendar + "/wp-a.bmp\n");
    Write(fehbg, ours);
    fs::create_directory(world.state + "/zorvani-wallpaper");
    fs::permissions(world.state + "/zorvani-wallpaper", fs::perms::owner_all);
    Write(world.state + "/zorvani-wallpaper/previous-wallpaper", record);

    const std::vector<std::string> environment{"HOME=" + world.home, "PATH=" + (plasma ? world.plasmaBin : world.fehBin),
                                               plasma ? "XDG_CURRENT_DESKTOP=KDE" : "XDG_SESSION_TYPE=x11", "DISPLAY=:0"};
    const auto runner = [&](const std::vector<std::string>& argv, std::string*) {
      const std::string tool = argv[0].substr(argv[0].rfind('/') + 1);
      if (tool == "qdbus" && argv.size() == 5) CheckScript(argv[4]);
      else if (tool == "feh" && (argv.size() != 3 || !FehOption(argv[1]) || argv[2].empty() || argv[2][0] != '/'))
        Finding("feh got more than an option and a path", argv[1]);
      else if (tool != "qdbus" && tool != "feh") Finding("an unexpected tool", tool);
      return CommandResult::kSucceeded;
    };
    platform::posix::LinuxDesktop desktop(platform::SystemRegistry(), [&] {
      return platform::posix::Session(environment, std::chrono::seconds(1), runner, world.root + "/no-processes");
    });
    desktop.RestorePreviousWallpaper(bitmap);

    std::ifstream in(fehbg, std::ios::binary);
    const std::string after{std::istreambuf_iterator<char>(in), {}};
    const std::string path = field("path");
    // A record without its desktop's name (a lock screen's alone) gives no desktop back.
    const bool given = !plasma && fields.count("backend") != 0 && field("tool-file") == fehbg &&
                       fields.count("tool-file-bytes") != 0;
    std::string named;
    if (given && !path.empty() && path[0] == '/' && (!FehForm(after, &named) || named != path))
      Finding("~/.fehbg is not feh's own form for the recorded path", after);
    if (!given && after != ours && !(field("tool-file") == fehbg && fields.count("tool-file-bytes") == 0 && after.empty()))
      Finding("~/.fehbg changed without a record of it", after);
  }
  return 0;
}
