// The wallpaper change on Windows: the path lands in the user's profile, where the
// desktop reads it back, and each user has a folder of their own for the bitmap.
#ifdef _WIN32
#include <windows.h>

#include <gtest/gtest.h>

#include "platform/wallpaper.h"

namespace {

TEST(WallpaperWin32, TheBitmapPathIsStoredForTheUser) {
  char before[MAX_PATH] = {}, folder[MAX_PATH] = {}, stored[MAX_PATH] = {};
  ::SystemParametersInfoA(SPI_GETDESKWALLPAPER, MAX_PATH, before, 0);
  GetTempPathA(MAX_PATH, folder);
  const std::string path = std::string(folder) + "zorvani wp.bmp";
  EXPECT_TRUE(platform::SystemDesktop().SystemParametersInfoA(
      platform::kSpiSetDeskWallpaper, 0, path, platform::kSpifUpdateIniFile | platform::kSpifSendWinIniChange));
  ::SystemParametersInfoA(SPI_GETDESKWALLPAPER, MAX_PATH, stored, 0);
  EXPECT_EQ(std::string(stored), path);
  ::SystemParametersInfoA(SPI_SETDESKWALLPAPER, 0, before, SPIF_UPDATEINIFILE);
}

TEST(WallpaperWin32, EachUserHasABitmapFolderInTheirLocalApplicationData) {
  const std::string folder = platform::SystemDesktop().UserBitmapFolder();
  EXPECT_NE(folder.find("\\AppData\\Local\\ZorvaniWallpaper\\"), std::string::npos) << folder;
  EXPECT_NE(GetFileAttributesA(folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u) << "not made";
}

}  // namespace
#endif
