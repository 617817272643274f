// Runs one wallpaper refresh and exits, for whole-process timing against a plain
// JPEG decode of the same picture. Registry and desktop are left alone.
//
//   zorvani-refresh-once CALENDAR_FOLDER WP.ini [REPEAT]
//
// CALENDAR_FOLDER must hold Zorvani<year>/<month>.jpg for today; wp.bmp is written there.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "general/general.h"
#include "platform/process.h"
#include "platform/services.h"

namespace {

class QuietRegistry : public platform::Registry {
 public:
  long RegOpenKeyExA(std::uint32_t, const std::string&, std::uint32_t, std::uint32_t, platform::Handle*) override {
    return platform::kErrorFileNotFound;
  }
  long RegQueryValueExA(platform::Handle, const std::string&, std::uint32_t*, std::uint8_t*, std::uint32_t*) override {
    return platform::kErrorFileNotFound;
  }
  long RegSetValueExA(platform::Handle, const std::string&, std::uint32_t, const std::uint8_t*, std::uint32_t) override {
    return platform::kErrorFileNotFound;
  }
  long RegCloseKey(platform::Handle) override { return platform::kErrorSuccess; }
};

class QuietDesktop : public platform::Desktop {
 public:
  bool SystemParametersInfoA(std::uint32_t, std::uint32_t, const std::string&, std::uint32_t) override { return true; }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s CALENDAR_FOLDER WP.ini [REPEAT]\n", argv[0]);
    return 2;
  }
  QuietRegistry registry;
  QuietDesktop desktop;
  platform::Current().registry = &registry;
  platform::Current().desktop = &desktop;

  zorvani::BaseDir = std::string(argv[1]) + platform::PathSeparator();
  zorvani::LoadConfigFrom(argv[2]);
  const int repeat = argc > 3 ? std::atoi(argv[3]) : 1;
  for (int i = 0; i < repeat; ++i) {
    if (zorvani::RefreshWallpaper() != 0) {
      std::fprintf(stderr, "refresh failed\n");
      return 1;
    }
  }
  return 0;
}
