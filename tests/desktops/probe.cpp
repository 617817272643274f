// zorvani-desktop-probe: writes a test picture through cDIBSection, as a refresh
// writes wp.bmp, and hands it to this session's desktop the way a refresh does.
//   zorvani-desktop-probe FILE WIDTH HEIGHT SEED [--hold]
// Four quadrants in colours picked by SEED, so that a flipped or stale picture shows.
// Exit 0 when the desktop took the file. --hold keeps the process (and a wallpaper
// client it started) until standard input closes, and repeats with SEED + 1, + 2, ...
// for each line read.
//   zorvani-desktop-probe --calendar DIR
// The program's own daily check and display-change handler for the calendar in DIR
// (WP.ini, ZorvaniYYYY/M.jpg) on the day of this month that DIR/day names, checked
// anew every 0.3 s, until an end signal. After each hand-over it prints each monitor
// ("NAME X Y WIDTH HEIGHT"), "taken" (or "refused") and "decodes N": the month
// pictures decoded so far.
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "dib/cDIBSection.h"
#include "general/general.h"
#include "platform/form.h"
#include "platform/screen.h"
#include "platform/services.h"
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

// The real services, but for the day of the month (read from a file) and a count of
// the pictures decoded; the hand-overs are reported as they happen.
class DayClock : public platform::Clock {
 public:
  explicit DayClock(std::string file) : file_(std::move(file)) {}
  platform::LocalTime Now() override {
    platform::LocalTime now = platform::SystemClock().Now();
    std::ifstream(file_) >> now.day;
    return now;
  }

 private:
  std::string file_;
};
class CountingLoader : public platform::PictureLoader {
 public:
  std::unique_ptr<platform::Picture> LoadPicture(const std::string& fileName) override {
    ++decodes;
    return platform::SystemPictureLoader().LoadPicture(fileName);
  }
  int decodes = 0;
};
class ReportingDesktop : public platform::Desktop {
 public:
  explicit ReportingDesktop(const CountingLoader& loader) : loader_(loader) {}
  bool SystemParametersInfoA(std::uint32_t action, std::uint32_t param, const std::string& path, std::uint32_t flags) override {
    return Report(real_.SystemParametersInfoA(action, param, path, flags));
  }
  std::string UserBitmapFolder() override { return real_.UserBitmapFolder(); }
  void RecordPreviousWallpaper(const std::string& bitmap) override { real_.RecordPreviousWallpaper(bitmap); }
  void RestorePreviousWallpaper(const std::string& bitmap) override { real_.RestorePreviousWallpaper(bitmap); }
  MonitorPictures MonitorPicturesTaken() override { return real_.MonitorPicturesTaken(); }
  bool SetMonitorWallpapers(const std::vector<MonitorBitmap>& bitmaps) override {
    return Report(real_.SetMonitorWallpapers(bitmaps));
  }
  bool SetSpannedWallpaper(const std::string& path) override {
    return Report(real_.SetSpannedWallpaper(path));
  }

 private:
  bool Report(bool taken) {
    for (const platform::Monitor& m : platform::Current().monitorLayout()) std::cout << m.name << ' ' << m.x << ' ' << m.y << ' ' << m.width << ' ' << m.height << '\n';
    std::cout << (taken ? "taken" : "refused") << "\ndecodes " << loader_.decodes << std::endl;
    return taken;
  }
  platform::Desktop& real_ = platform::SystemDesktop();
  const CountingLoader& loader_;
};

int Calendar(const std::string& folder) {
  DayClock clock(folder + "/day");
  CountingLoader loader;
  ReportingDesktop desktop(loader);
  platform::Current().clock = &clock, platform::Current().pictures = &loader, platform::Current().desktop = &desktop;
  zorvani::BaseDir = folder + "/";
  zorvani::LoadConfigFrom(folder + "/WP.ini");
  platform::HiddenForm form;
  const auto check = [] { zorvani::CheckDayChange(); };
  form.Load("probe", 300, {check, check, {}, zorvani::MonitorsChanged});
  return form.RunMessageLoop();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--calendar") return Calendar(argv[2]);
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
