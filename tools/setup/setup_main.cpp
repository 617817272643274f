// zorvani-wallpaper-setup: makes a working calendar for this user (or, with --system,
// one for every user of the machine) and, with --remove, takes it away again.
//
// The machine's calendar is not written to by anyone: in a folder where every user may
// write, one user could plant a link named wp.bmp and have another user's program write
// through it. Instead the machine's log-on entry runs --session, which gives each user a
// folder of their own whose year folders and WP.ini link to the machine's.
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <map>
#include <string>

#include "tools/common/command_line.h"
#include "tools/setup/setup.h"

namespace fs = std::filesystem;

namespace {

const char kProgram[] = "zorvani-wallpaper-setup";
const char kUsage[] =
    "usage: zorvani-wallpaper-setup [--system] [--pictures DIR] [--program FILE] [--no-autostart]\n"
    "       zorvani-wallpaper-setup [--system] --remove\n"
    "       zorvani-wallpaper-setup --session\n"
    "Sets up a calendar folder with this and next year's sample pictures (or the Zorvani<year>\n"
    "folders and WP.ini of DIR), the registry values the program reads and a log-on entry.\n"
    "--system sets up one calendar for every user of the machine (as root); at log-on the\n"
    "machine's entry runs --session, which links the user's folder to it and starts the program.\n";

fs::path DefaultProgram() {
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  return error ? fs::path("/usr/bin/zorvani-wallpaper") : self.parent_path() / "zorvani-wallpaper";
}

}  // namespace

int main(int argc, char** argv) {
  zorvani::tools::OptionNames names;
  names.withValue = {"--pictures", "--program"};
  names.flags = {"--system", "--remove", "--session", "--no-autostart"};
  std::map<std::string, std::string> options;
  int status = 0;
  if (!zorvani::tools::ReadCommandLineOrAnswer(argc, argv, names, kProgram, kUsage, &options, &status)) return status;
  const bool system = options.count("--system") != 0;
  const bool remove = options.count("--remove") != 0;
  zorvani::setup::Request request;
  request.session = options.count("--session") != 0;
  request.autostart = options.count("--no-autostart") == 0;
  request.pictures = options["--pictures"];
  request.program = options.count("--program") != 0 ? fs::path(options["--program"]) : DefaultProgram();

  if (!request.pictures.empty() && !fs::is_directory(request.pictures)) {
    std::fprintf(stderr, "%s: %s is no folder\n", kProgram, request.pictures.c_str());
    return 2;
  }
  try {
    zorvani::setup::Places places = zorvani::setup::PlacesFor(system);
    if (request.session && (system || remove || !request.pictures.empty() || !fs::is_directory(places.machineFolder))) {
      std::fprintf(stderr, "%s: --session takes no other option and needs the machine's calendar\n", kProgram);
      return 2;
    }
    if (remove) return zorvani::setup::Remove(places);
    if (request.session) places.entry.clear();
    status = zorvani::setup::SetUp(places, request);
    if (status != 0 || !request.session) return status;
    std::fflush(stdout);
    const std::string link = places.link().string();
    execl(link.c_str(), link.c_str(), static_cast<char*>(nullptr));
    std::fprintf(stderr, "%s: cannot start %s\n", kProgram, link.c_str());
    return 1;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s: %s\n", kProgram, error.what());
    return 1;
  }
}
