// Reads the stand-in registry and a profile file once, as the program does at start-up and
// at each refresh, for whole-process timing of large hand-made files (/usr/bin/time -v).
//
//   zorvani-parse-once CONFIG_FOLDER [WP.ini]
//
// CONFIG_FOLDER serves as both XDG config folders: it holds zorvani-wallpaper/*.reg.
// Prints the auto-start value's length and the resident memory once the files are parsed.
#include <stdlib.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "general/general.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s CONFIG_FOLDER [WP.ini]\n", argv[0]);
    return 2;
  }
  setenv("XDG_CONFIG_DIRS", argv[1], 1);
  setenv("XDG_CONFIG_HOME", argv[1], 1);
  std::string run = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
  const std::string program = zorvani::RegistryReadValue(run, "ZorvaniWallPaper");
  for (const char* name : {"TileWallpaper", "WallpaperStyle"}) {
    std::string desktop = "HKEY_CURRENT_USER\\Control Panel\\Desktop";
    zorvani::RegistryWriteValue(desktop, name, "0");
  }
  if (argc > 2) zorvani::LoadConfigFrom(argv[2]);

  std::ifstream status("/proc/self/status");
  std::string line, rss;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) rss = line;
  std::printf("value of %zu characters; %s\n", program.size(), rss.c_str());
  return 0;
}
