// The readers of what desktops keep and print, with any bytes: Plasma's appletsrc, the
// pcmanfm and pcmanfm-qt files, xfconf's and xrandr's listings, ~/.fehbg, what gsettings
// prints, the session's processes and the bus's names. The first byte picks the reader.
// Each reads without a crash or a hang, and what it reads back is what a desktop may be
// handed: an absolute path or none, and a placement that is a number where it goes
// into a script or a property of numbers.
//
// Long runs are what break recursive matchers, and a mutation seldom grows one: in the
// rest of the input the bytes 0xFF 0xFE then N stand for the byte before them repeated
// N x 256 times more, up to 256 KiB in all (std::regex under AddressSanitizer ran out
// of stack on 40,000 digits).
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/posix/desktop/desktop_backends.h"

namespace {

namespace fs = std::filesystem;
using platform::posix::CommandResult;
using platform::posix::DesktopBackend;
using platform::posix::Session;
using platform::posix::ShownWallpaper;

enum Reader { kPlasma, kPcmanfm, kPcmanfmQt, kXfconf, kXrandr, kFehbg, kGsettings, kProcesses, kBus, kReaders };

[[noreturn]] void Finding(const std::string& why) {
  std::fprintf(stderr, "%s\n", why.c_str());
  std::abort();
}

std::string Expanded(const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t kLargest = 256 * 1024;
  std::string text;
  for (std::size_t at = 0; at < size; ++at) {
    if (data[at] == 0xFF && at + 2 < size && data[at + 1] == 0xFE && !text.empty()) {
      text.append(std::min(std::size_t{data[at + 2]} * 256, kLargest - std::min(kLargest, text.size())), text.back());
      at += 2;
    } else {
      text += static_cast<char>(data[at]);
    }
  }
  return text;
}

struct World {
  std::string root, home, bin, proc, noProcesses;
};

const World& TheWorld() {
  static const World world = [] {
    World w;
    w.root = (fs::exists("/dev/shm") ? "/dev/shm" : "/tmp") + std::string("/zorvani-settings-fuzz-") + std::to_string(getpid());
    w.home = w.root + "/home", w.bin = w.root + "/bin", w.proc = w.root + "/proc", w.noProcesses = w.root + "/none";
    for (const std::string& folder : {w.home + "/.config/pcmanfm/default", w.home + "/.config/pcmanfm-qt/default", w.bin,
                                      w.noProcesses}) {
      fs::create_directories(folder);
    }
    for (const char* tool : {"xfconf-query", "xrandr", "gsettings", "dbus-send"}) {
      std::ofstream(w.bin + "/" + tool) << "#!/bin/sh\n";
      fs::permissions(w.bin + "/" + tool, fs::perms::owner_all);
    }
    for (int process = 100; process < 104; ++process) fs::create_directories(w.proc + "/" + std::to_string(process));
    setenv("XDG_CONFIG_HOME", (w.root + "/registry").c_str(), 1);  // no hive: stretched
    static const std::string removed = w.root;
    std::atexit([] { std::error_code ignored; fs::remove_all(removed, ignored); });
    return w;
  }();
  return world;
}

const DesktopBackend& Backend(const std::string& name) {
  for (const auto& backend : platform::posix::DesktopBackends()) {
    if (name == backend->Name()) return *backend;
  }
  Finding("no backend " + name);
}

void Write(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void CheckShown(const char* reader, const ShownWallpaper& shown, bool number) {
  if (!shown.path.empty() && shown.path[0] != '/') Finding(std::string(reader) + ": a path that is not absolute");
  if (number && shown.placement.find_first_not_of("0123456789") != std::string::npos)
    Finding(std::string(reader) + ": a placement that is no number");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const World& world = TheWorld();
  const auto reader = static_cast<Reader>(data[0] % kReaders);
  const std::string text = Expanded(data + 1, size - 1);
  const std::vector<std::string> environment{"HOME=" + world.home, "PATH=" + world.bin, "DISPLAY=:0",
                                             "WAYLAND_DISPLAY=w", "DBUS_SESSION_BUS_ADDRESS=x"};
  // Every tool prints the input, but xfconf-query only for its listing when xrandr's is read.
  const auto runner = [&](const std::vector<std::string>& argv, std::string* output) {
    const std::string tool = argv[0].substr(argv[0].rfind('/') + 1);
    if (tool == "xfconf-query") {
      for (std::size_t i = 1; i + 1 < argv.size(); ++i) {
        if (argv[i] == "-p" && (argv[i + 1].rfind("/backdrop/screen", 0) != 0 || argv[i + 1].find_first_of(" \n") != std::string::npos))
          Finding("xfconf-query got a property that is not one: " + argv[i + 1].substr(0, 200));
      }
    }
    if (output != nullptr && !(reader == kXrandr && tool == "xfconf-query")) *output = text.substr(0, 64 * 1024);
    return CommandResult::kSucceeded;
  };
  const Session session(environment, std::chrono::seconds(1), runner, reader == kProcesses ? world.proc : world.noProcesses);
  ShownWallpaper shown;
  switch (reader) {
    case kPlasma:
      Write(world.home + "/.config/plasma-org.kde.plasma.desktop-appletsrc", text);
      if (Backend("kde").Shown(session, &shown)) CheckShown("appletsrc", shown, true);
      break;
    case kPcmanfm:
    case kPcmanfmQt: {
      const bool qt = reader == kPcmanfmQt;
      Write(world.home + (qt ? "/.config/pcmanfm-qt/default/settings.conf" : "/.config/pcmanfm/default/desktop-items-0.conf"), text);
      if (Backend(qt ? "lxqt" : "lxde").Shown(session, &shown)) CheckShown(qt ? "pcmanfm-qt" : "pcmanfm", shown, false);
      break;
    }
    case kXfconf:
    case kXrandr: {
      const DesktopBackend& xfce = Backend("xfce");
      if (xfce.Shown(session, &shown)) CheckShown("xfconf", shown, true);
      xfce.Apply(session, {"/p/wp.bmp", "file:///p/wp.bmp", {}, platform::posix::WallpaperStyle::kZoom, {}, {}});
      break;
    }
    case kFehbg:
      Write(world.home + "/.fehbg", text);
      if (Backend("feh").Shown(session, &shown)) {
        CheckShown(".fehbg", shown, false);
        if (!shown.placement.empty() && shown.placement.rfind("--bg-", 0) != 0) Finding(".fehbg: a placement that is no --bg- option");
      }
      break;
    case kGsettings:
      if (Backend("gnome").Shown(session, &shown)) CheckShown("gsettings", shown, false);
      if (Backend("mate").Shown(session, &shown)) CheckShown("gsettings", shown, false);
      break;
    case kProcesses: {
      // Four processes, each two lines: its environment, then its arguments (NUL-separated).
      std::size_t start = 0;
      for (int line = 0; line < 8; ++line) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        Write(world.proc + "/" + std::to_string(100 + line / 2) + (line % 2 == 0 ? "/environ" : "/cmdline"),
              start < text.size() ? text.substr(start, end - start) : std::string());
        start = end + 1;
      }
      platform::posix::ChooseDesktopBackend(session);
      for (const auto& backend : platform::posix::DesktopBackends()) backend->Ready(session);
      break;
    }
    case kBus:
      platform::posix::ChooseDesktopBackend(session);
      break;
    case kReaders:
      break;
  }
  return 0;
}
