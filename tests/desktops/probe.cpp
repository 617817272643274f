// zorvani-desktop-probe: writes a test picture through cDIBSection, as a refresh
// writes wp.bmp, and hands it to this session's desktop the way a refresh does.
//   zorvani-desktop-probe FILE WIDTH HEIGHT SEED [--hold]
// Four quadrants in colours picked by SEED, so that a flipped or stale picture shows.
// Exit 0 when the desktop took the file. --hold keeps the process (and a wallpaper
// client it started) until standard input closes, and repeats with SEED + 1, + 2, ...
// for each line read.
//   zorvani-desktop-probe --monitors DIR SEED
// A picture per monitor of the layout (DIR/wp-NAME.bmp, SEED + its place), handed over
// as the desktop takes them: one each, or spanned in DIR/wp.bmp. Prints each monitor
// ("NAME X Y WIDTH HEIGHT") and "taken"; again, with the next SEED, whenever the layout
// changes, until an end signal.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <string>

#include <vector>

#include "dib/cDIBSection.h"
#include "platform/form.h"
#include "platform/screen.h"
#include "platform/wallpaper.h"

namespace {

// Paints picture `seed` into the region at (left, top) of a picture stored bottom-up.
void Paint(zorvani::cDIBSection& picture, int total, int left, int top, int width, int height, int seed) {
  std::uint8_t* bits = picture.DIBSectionBitsPtr();
  const int stride = picture.BytesPerScanLine();
  for (int y = 0; y < height; ++y) {
    const int row = total - 1 - (top + y);
    for (int x = 0; x < width; ++x) {
      const int quadrant = (y < height / 2 ? 0 : 2) + (x < width / 2 ? 0 : 1);
      const int value = seed * 37 + quadrant * 61;
      std::uint8_t* pixel = bits + row * stride + 3 * (left + x);
      pixel[0] = static_cast<std::uint8_t>(value * 3), pixel[1] = static_cast<std::uint8_t>(value * 5 + 40),
      pixel[2] = static_cast<std::uint8_t>(value * 7 + 90);
    }
  }
}

bool Write(const std::string& path, int width, int height, int seed) {
  zorvani::cDIBSection picture;
  if (picture.Create(width, height) == zorvani::kFalse) return false;
  Paint(picture, height, 0, 0, width, height, seed);
  return picture.SavePicture(path) != zorvani::kFalse;
}

// Writes picture `seed` to path and hands it to the desktop.
bool WriteAndApply(const std::string& path, int width, int height, int seed) {
  return Write(path, width, height, seed) &&
         platform::SystemDesktop().SystemParametersInfoA(platform::kSpiSetDeskWallpaper, 0, path,
                                                         platform::kSpifUpdateIniFile | platform::kSpifSendWinIniChange);
}

bool EachMonitor(const std::string& folder, int seed) {
  using Pictures = platform::Desktop::MonitorPictures;
  const std::vector<platform::Monitor> layout = platform::MonitorLayout();
  std::vector<platform::Desktop::MonitorBitmap> bitmaps;
  int right = 0, bottom = 0, number = 0;
  for (const platform::Monitor& monitor : layout) {
    std::cout << monitor.name << ' ' << monitor.x << ' ' << monitor.y << ' ' << monitor.width << ' ' << monitor.height << '\n';
    bitmaps.push_back({monitor, folder + "/wp-" + monitor.name + ".bmp"});
    if (!Write(bitmaps.back().path, monitor.width, monitor.height, seed + number++)) return false;
    right = std::max(right, monitor.x + monitor.width), bottom = std::max(bottom, monitor.y + monitor.height);
  }
  platform::Desktop& desktop = platform::SystemDesktop();
  bool taken = false;
  if (desktop.MonitorPicturesTaken() == Pictures::PerMonitor) {
    taken = desktop.SetMonitorWallpapers(bitmaps);
  } else if (desktop.MonitorPicturesTaken() == Pictures::Spanned && !layout.empty()) {
    zorvani::cDIBSection picture;
    taken = picture.Create(right, bottom) != zorvani::kFalse;
    number = 0;
    for (const platform::Monitor& m : layout) {
      if (taken && m.x >= 0 && m.y >= 0) Paint(picture, bottom, m.x, m.y, m.width, m.height, seed + number);
      ++number;
    }
    taken = taken && picture.SavePicture(folder + "/wp.bmp") != zorvani::kFalse && desktop.SetSpannedWallpaper(folder + "/wp.bmp");
  }
  std::cout << (taken ? "taken" : "refused") << std::endl;
  return taken;
}

int Monitors(const std::string& folder, int seed) {
  platform::HiddenForm form;
  bool taken = false;
  form.Load("probe", 60000, {[&] { taken = EachMonitor(folder, seed); }, {}, {}, [&] { taken = EachMonitor(folder, ++seed); }});
  form.RunMessageLoop();
  return taken ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--monitors") return Monitors(argv[2], std::atoi(argv[3]));
  if (argc < 5) {
    std::cerr << "usage: zorvani-desktop-probe FILE WIDTH HEIGHT SEED [--hold]\n";
    return 2;
  }
  const std::string path = argv[1];
  const int width = std::atoi(argv[2]), height = std::atoi(argv[3]);
  int seed = std::atoi(argv[4]);
  if (width <= 0 || height <= 0) return 2;
  bool taken = WriteAndApply(path, width, height, seed);
  if (argc > 5 && std::string(argv[5]) == "--hold") {
    std::cout << (taken ? "taken" : "refused") << std::endl;
    for (std::string line; std::getline(std::cin, line);) {
      taken = WriteAndApply(path, width, height, ++seed);
      std::cout << (taken ? "taken" : "refused") << std::endl;
    }
  }
  return taken ? 0 : 1;
}
