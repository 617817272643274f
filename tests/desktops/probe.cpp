// zorvani-desktop-probe: writes a test picture through cDIBSection, as a refresh
// writes wp.bmp, and hands it to this session's desktop the way a refresh does.
//   zorvani-desktop-probe FILE WIDTH HEIGHT SEED [--hold]
// Four quadrants in colours picked by SEED, so that a flipped or stale picture shows.
// Exit 0 when the desktop took the file. --hold keeps the process (and a wallpaper
// client it started) until standard input closes, and repeats with SEED + 1, + 2, ...
// for each line read.
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <string>

#include "dib/cDIBSection.h"
#include "platform/wallpaper.h"

namespace {

// Writes picture `seed` to path and hands it to the desktop.
bool WriteAndApply(const std::string& path, int width, int height, int seed) {
  zorvani::cDIBSection picture;
  if (picture.Create(width, height) == zorvani::kFalse) return false;
  std::uint8_t* bits = picture.DIBSectionBitsPtr();
  const int stride = picture.BytesPerScanLine();
  for (int row = 0; row < height; ++row) {  // stored bottom-up
    for (int x = 0; x < width; ++x) {
      const int quadrant = (row < height / 2 ? 2 : 0) + (x < width / 2 ? 0 : 1);
      const int value = seed * 37 + quadrant * 61;
      std::uint8_t* pixel = bits + row * stride + 3 * x;
      pixel[0] = static_cast<std::uint8_t>(value * 3), pixel[1] = static_cast<std::uint8_t>(value * 5 + 40),
      pixel[2] = static_cast<std::uint8_t>(value * 7 + 90);
    }
  }
  return picture.SavePicture(path) != zorvani::kFalse &&
         platform::SystemDesktop().SystemParametersInfoA(platform::kSpiSetDeskWallpaper, 0, path,
                                                         platform::kSpifUpdateIniFile | platform::kSpifSendWinIniChange);
}

}  // namespace

int main(int argc, char** argv) {
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
