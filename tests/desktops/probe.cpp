// zorvani-desktop-probe: writes a test picture through cDIBSection, as a refresh
// writes wp.bmp, and hands it to this session's desktop the way a refresh does.
//   zorvani-desktop-probe FILE WIDTH HEIGHT SEED [--hold]
// Four quadrants in colours picked by SEED, so that a flipped or stale picture shows.
// Exit 0 when the desktop took the file. --hold keeps the process (and a wallpaper
// client it started) until standard input closes.
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <string>

#include "dib/cDIBSection.h"
#include "platform/wallpaper.h"

int main(int argc, char** argv) {
  if (argc < 5) {
    std::cerr << "usage: zorvani-desktop-probe FILE WIDTH HEIGHT SEED [--hold]\n";
    return 2;
  }
  const std::string path = argv[1];
  const int width = std::atoi(argv[2]), height = std::atoi(argv[3]), seed = std::atoi(argv[4]);
  zorvani::cDIBSection picture;
  if (width <= 0 || height <= 0 || picture.Create(width, height) == zorvani::kFalse) return 2;
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
  if (picture.SavePicture(path) == zorvani::kFalse) return 2;
  const bool taken = platform::SystemDesktop().SystemParametersInfoA(
      platform::kSpiSetDeskWallpaper, 0, path, platform::kSpifUpdateIniFile | platform::kSpifSendWinIniChange);
  if (argc > 5 && std::string(argv[5]) == "--hold") {
    std::cout << (taken ? "taken" : "refused") << std::endl;
    std::string line;
    while (std::getline(std::cin, line)) {
    }
  }
  return taken ? 0 : 1;
}
