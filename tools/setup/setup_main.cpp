// zorvani-wallpaper-setup: makes a working calendar for this user (or, with --system,
// one for every user of the machine) and, with --remove, takes it away again.
//
// The machine's calendar is not written to by anyone: in a folder where every user may
// write, one user could plant a link named wp.bmp and have another user's program write
// through it. Instead the machine's log-on entry runs --session, which gives each user a
// folder of their own whose year folders and WP.ini link to the machine's.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <map>
#include <string>
#include <tuple>
#include <utility>

#include "app/instance_checker.h"
#include "platform/posix/desktop/desktop_session.h"
#include "platform/screen.h"
#include "tools/common/command_line.h"
#include "tools/setup/setup.h"

namespace fs = std::filesystem;

namespace {

const char kProgram[] = "zorvani-wallpaper-setup";
const char kUsage[] =
    "usage: zorvani-wallpaper-setup [--system] [--pictures DIR] [--program FILE] [--no-autostart]\n"
    "                               [--lock-screen on|off]\n"
    "       zorvani-wallpaper-setup [--system] --remove\n"
    "       zorvani-wallpaper-setup --session | --logon LINK\n"
    "       zorvani-wallpaper-setup [--system] --add-source 'holidays|events [#RRGGBB] FILE-OR-ADDRESS'\n"
    "       zorvani-wallpaper-setup [--system] --list-sources | --remove-source NUMBER-OR-LOCATION\n"
    "Sets up a calendar folder with this and next year's sample pictures (or the Zorvani<year>\n"
    "folders and WP.ini of DIR), the registry values the program reads and a log-on entry,\n"
    "and, inside a graphical session, starts the program.\n"
    "--system sets up one calendar for every user of the machine (as root); at log-on the\n"
    "machine's entry runs --session, which links the user's folder to it and starts the program.\n"
    "The user's entry runs --logon, which keeps the sample calendar a year ahead and starts it.\n"
    "--lock-screen on shows the calendar on the lock screen too (GNOME, MATE, Plasma; Cinnamon's\n"
    "shows the desktop's picture anyway); off, the default, leaves the lock screen its own picture.\n"
    "The calendar sources (.ics files; https:// and webcal:// addresses) mark their holidays and\n"
    "events on the wallpaper; --system lists the machine's, which every user sees.\n";

fs::path DefaultProgram() {
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  return error ? fs::path("/usr/bin/zorvani-wallpaper") : self.parent_path() / "zorvani-wallpaper";
}

fs::path Self() {
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  return error ? fs::path("/usr/bin/zorvani-wallpaper-setup") : self;
}

// Pictures the size of the primary screen are shown unstretched; without a display, the
// most common screen's.
std::pair<int, int> SampleSize() {
  int width = 0, height = 0;
  if (!platform::PrimaryScreenSize(&width, &height)) return {1920, 1080};
  return {width, height};
}

bool InGraphicalSession() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

int Become(const fs::path& program) {
  std::fflush(stdout);
  // The program keeps the standard streams of the session's log-on and nothing else.
  closefrom(3);
  const std::string path = program.string();
  execl(path.c_str(), path.c_str(), static_cast<char*>(nullptr));
  std::fprintf(stderr, "%s: cannot start %s\n", kProgram, path.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  zorvani::tools::OptionNames names;
  names.withValue = {"--pictures", "--program", "--logon", "--add-source", "--remove-source", "--lock-screen"};
  names.flags = {"--system", "--remove", "--session", "--no-autostart", "--list-sources"};
  std::map<std::string, std::string> options;
  int status = 0;
  if (!zorvani::tools::ReadCommandLineOrAnswer(argc, argv, names, kProgram, kUsage, &options, &status)) return status;
  const bool system = options.count("--system") != 0;
  const bool remove = options.count("--remove") != 0;
  if (options.count("--logon") != 0) {
    if (options.size() != 1) {
      std::fprintf(stderr, "%s: --logon takes no other option\n", kProgram);
      return 2;
    }
    // What fails here must not keep the calendar from starting: it is said and passed over.
    const fs::path link = options["--logon"];
    try {
      zorvani::setup::AtLogOn(link.parent_path(), SampleSize);
    } catch (const std::exception& error) {
      std::fprintf(stderr, "%s: %s\n", kProgram, error.what());
    }
    return Become(link);
  }
  const bool sources = options.count("--add-source") + options.count("--remove-source") + options.count("--list-sources");
  if (sources && options.size() != 1 + (system ? 1 : 0)) {
    std::fprintf(stderr, "%s: --add-source, --list-sources and --remove-source take only --system\n", kProgram);
    return 2;
  }
  if (system && geteuid() != 0 && !(sources && options.count("--list-sources") != 0)) {
    std::fprintf(stderr, "%s: --system needs root: only root may write the machine's calendar (sudo %s --system)\n",
                 kProgram, kProgram);
    return 1;
  }
  try {
    if (options.count("--add-source") != 0) return zorvani::setup::AddSource(system, options["--add-source"]);
    if (options.count("--remove-source") != 0) return zorvani::setup::RemoveSource(system, options["--remove-source"]);
    if (options.count("--list-sources") != 0) return zorvani::setup::ListSources(system);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s: %s\n", kProgram, error.what());
    return 1;
  }
  zorvani::setup::Request request;
  request.session = options.count("--session") != 0;
  request.autostart = options.count("--no-autostart") == 0;
  request.pictures = options["--pictures"];
  request.program = options.count("--program") != 0 ? fs::path(options["--program"]) : DefaultProgram();
  request.setup = Self();
  if (options.count("--lock-screen") != 0) {
    const std::string& choice = options["--lock-screen"];
    // Each user's own choice: the machine's set-up and removal have none to make.
    if ((choice != "on" && choice != "off") || system || remove) {
      std::fprintf(stderr, "%s: --lock-screen takes on or off, and neither --system nor --remove\n", kProgram);
      return 2;
    }
    request.lockScreen = choice == "on";
  }

  if (!request.pictures.empty() && !fs::is_directory(request.pictures)) {
    std::fprintf(stderr, "%s: %s is no folder\n", kProgram, request.pictures.c_str());
    return 2;
  }
  try {
    zorvani::setup::Places places = zorvani::setup::PlacesFor(system);
    if (request.session && (system || remove || !request.pictures.empty() || request.lockScreen || !fs::is_directory(places.machineFolder))) {
      std::fprintf(stderr, "%s: --session takes no other option and needs the machine's calendar\n", kProgram);
      return 2;
    }
    // The wallpaper from before the calendar comes back while the auto-start value still
    // names the calendar: a copy that runs in this session gives it back when it sees the
    // removal, and without one the program's --uninstall step does.
    if (remove && !system && InGraphicalSession() && access(places.link().c_str(), X_OK) == 0)
      platform::posix::Session::OfThisProcess(std::chrono::seconds(30)).Run({places.link().string(), zorvani::kUninstallArgument});
    if (remove) return zorvani::setup::Remove(places);
    if (request.session && zorvani::setup::MachineCalendarDeclined(places)) {
      if (zorvani::setup::MachineCalendarRefused(places))
        std::printf("%-18s %s  (%s)\n", "Declined:", places.declined.c_str(),
                    "this user removed the machine's calendar; zorvani-wallpaper-setup takes it back");
      else
        std::printf("%-18s %s  (%s)\n", "Own calendar:", places.folder.c_str(),
                    "this user's own set-up takes precedence over the machine's calendar");
      return 0;
    }
    if (request.session) places.entry.clear();
    if (!request.session && request.pictures.empty()) std::tie(request.width, request.height) = SampleSize();
    status = zorvani::setup::SetUp(places, request);
    if (status != 0) return status;
    if (request.session) return Become(places.link());
    // Inside a session the calendar shows now, not only at the next log-on. A copy that
    // already runs in this session keeps running, and the new one ends by itself.
    if (system || !request.autostart || !InGraphicalSession()) return 0;
    std::string problem;
    if (!zorvani::setup::StartDetached(places.link(), &problem)) {
      std::fprintf(stderr, "%s: cannot start %s: %s\n", kProgram, places.link().c_str(), problem.c_str());
      return 1;
    }
    std::printf("%-18s %s  (%s)\n", "Started:", places.link().c_str(),
                "in this session, apart from this terminal: the calendar shows within seconds");
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s: %s\n", kProgram, error.what());
    return 1;
  }
}
