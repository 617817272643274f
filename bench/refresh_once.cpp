// Runs one wallpaper refresh and exits, for whole-process timing against a plain
// JPEG decode of the same picture. Registry and desktop are left alone.
//
//   zorvani-refresh-once CALENDAR_FOLDER WP.ini [REPEAT [SOURCE...]]
//   zorvani-refresh-once --scale-only WIDTHxHEIGHT [REPEAT]
//
// CALENDAR_FOLDER must hold Zorvani<year>/<month>.jpg for today; wp.bmp is written there.
// Each SOURCE is one line of the user's calendar list ("events /path/to.ics"). With
// REPEAT above 1 the mean wall and CPU seconds of the refreshes after the first are
// printed: the resident program's refresh once its sources' months are known.
// ZORVANI_BENCH_MONITORS ("3840x2160+0+0,2160x3840+3840+0") attaches monitors, which a
// desktop takes a picture each of (ZORVANI_BENCH_TAKEN=per) or one spanned (span).
// --scale-only prints the CPU milliseconds of one plain scale of a picture of that size into
// each monitor's fitted size, no fill and no file: what the monitors' pictures cost at least.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "days/days.h"
#include "general/general.h"
#include "platform/process.h"
#include "platform/services.h"
#include "screens/screens.h"

namespace {

// Only the user's calendar list, when sources are given.
class QuietRegistry : public platform::Registry {
 public:
  std::vector<std::string> sources;
  long RegOpenKeyExA(std::uint32_t root, const std::string& key, std::uint32_t, std::uint32_t, platform::Handle*) override {
    const bool list = root == 0x80000001u && key == zorvani::days::kSourcesKey && !sources.empty();
    return list ? platform::kErrorSuccess : platform::kErrorFileNotFound;
  }
  long RegQueryValueExA(platform::Handle, const std::string& name, std::uint32_t* type, std::uint8_t* data,
                        std::uint32_t* size) override {
    const std::size_t n = static_cast<std::size_t>(std::atoi(name.c_str()));
    if (n < 1 || n > sources.size() || sources[n - 1].size() + 1 > *size) return platform::kErrorFileNotFound;
    std::memcpy(data, sources[n - 1].c_str(), sources[n - 1].size() + 1);
    *type = platform::kRegSz;
    *size = static_cast<std::uint32_t>(sources[n - 1].size() + 1);
    return platform::kErrorSuccess;
  }
  long RegSetValueExA(platform::Handle, const std::string&, std::uint32_t, const std::uint8_t*, std::uint32_t) override {
    return platform::kErrorFileNotFound;
  }
  long RegCloseKey(platform::Handle) override { return platform::kErrorSuccess; }
};

class QuietDesktop : public platform::Desktop {
 public:
  bool SystemParametersInfoA(std::uint32_t, std::uint32_t, const std::string&, std::uint32_t) override { return true; }
  MonitorPictures MonitorPicturesTaken() override { return taken; }
  bool SetMonitorWallpapers(const std::vector<MonitorBitmap>&) override { return true; }
  bool SetSpannedWallpaper(const std::string&) override { return true; }
  MonitorPictures taken = MonitorPictures::None;
};

std::vector<platform::Monitor> monitors;
std::vector<platform::Monitor> Monitors() { return monitors; }

void ReadMonitors() {
  const char* text = std::getenv("ZORVANI_BENCH_MONITORS");
  for (const char* at = text; at != nullptr && *at != '\0';) {
    platform::Monitor m;
    int used = 0;
    if (std::sscanf(at, "%dx%d%d%d%n", &m.width, &m.height, &m.x, &m.y, &used) != 4) break;
    m.name = "M" + std::to_string(monitors.size() + 1);
    monitors.push_back(m);
    at += used;
    if (*at == ',') ++at;
  }
}

int ScaleOnly(const char* size, int repeat) {
  int width = 0, height = 0;
  if (std::sscanf(size, "%dx%d", &width, &height) != 2 || !platform::PictureSizeAllowed(width, height)) return 2;
  std::vector<std::uint8_t> picture(screens::DibRowBytes(width) * static_cast<std::size_t>(height), 0x80);
  const screens::ConstPixels source = screens::DibView(picture.data(), width, height);
  for (int i = 0; i < repeat; ++i) {
    const std::clock_t start = std::clock();
    for (const platform::Monitor& m : monitors) {
      const screens::Placement place = screens::FitInside(width, height, m.width, m.height);
      std::vector<std::uint8_t> out(screens::DibRowBytes(place.width) * static_cast<std::size_t>(place.height));
      screens::Resample(source, screens::DibView(out.data(), place.width, place.height),
                        static_cast<double>(place.width) / width, static_cast<double>(place.height) / height, 0, 0);
    }
    std::printf("%.1f\n", 1000.0 * static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s CALENDAR_FOLDER WP.ini [REPEAT [SOURCE...]]\n", argv[0]);
    return 2;
  }
  ReadMonitors();
  if (std::string(argv[1]) == "--scale-only") return ScaleOnly(argv[2], argc > 3 ? std::atoi(argv[3]) : 1);
  QuietRegistry registry;
  for (int i = 4; i < argc; ++i) registry.sources.push_back(argv[i]);
  QuietDesktop desktop;
  const char* taken = std::getenv("ZORVANI_BENCH_TAKEN");
  if (taken != nullptr && std::string(taken) == "per") desktop.taken = platform::Desktop::MonitorPictures::PerMonitor;
  if (taken != nullptr && std::string(taken) == "span") desktop.taken = platform::Desktop::MonitorPictures::Spanned;
  platform::Current().registry = &registry;
  platform::Current().desktop = &desktop;
  platform::Current().monitorLayout = Monitors;

  zorvani::BaseDir = std::string(argv[1]) + platform::PathSeparator();
  zorvani::LoadConfigFrom(argv[2]);
  const int repeat = argc > 3 ? std::atoi(argv[3]) : 1;
  double wall = 0, cpu = 0;
  for (int i = 0; i < repeat; ++i) {
    const auto start = std::chrono::steady_clock::now();
    const std::clock_t startCpu = std::clock();
    if (zorvani::RefreshWallpaper() != 0) {
      std::fprintf(stderr, "refresh failed\n");
      return 1;
    }
    if (i == 0) continue;
    wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    cpu += static_cast<double>(std::clock() - startCpu) / CLOCKS_PER_SEC;
  }
  if (repeat > 1) std::printf("%.4f %.4f\n", wall / (repeat - 1), cpu / (repeat - 1));
  return 0;
}
