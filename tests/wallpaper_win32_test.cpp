// The wallpaper change on Windows: the path lands in the user's profile, where the
// desktop reads it back.
#ifdef _WIN32
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/wallpaper.h"

namespace {

std::string CurrentWallpaper() {
  char path[MAX_PATH] = {};
  ::SystemParametersInfoA(SPI_GETDESKWALLPAPER, MAX_PATH, path, 0);
  return path;
}

TEST(WallpaperWin32, TheBitmapPathIsStoredForTheUser) {
  const std::string before = CurrentWallpaper();
  char folder[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, folder);
  const std::string path = std::string(folder) + "zorvani wp.bmp";

  EXPECT_TRUE(platform::SystemDesktop().SystemParametersInfoA(
      platform::kSpiSetDeskWallpaper, 0, path, platform::kSpifUpdateIniFile | platform::kSpifSendWinIniChange));
  EXPECT_EQ(CurrentWallpaper(), path);

  std::string restore = before;
  ::SystemParametersInfoA(SPI_SETDESKWALLPAPER, 0, restore.data(), SPIF_UPDATEINIFILE);
}

}  // namespace
#endif
