// Each Windows user has a folder of their own for the bitmap. (That the wallpaper change
// stores the path in the user's profile shows in the process-level suite under Wine.)
#ifdef _WIN32
#include <windows.h>

#include <gtest/gtest.h>

#include "platform/wallpaper.h"

namespace {

TEST(WallpaperWin32, EachUserHasABitmapFolderInTheirLocalApplicationData) {
  const std::string folder = platform::SystemDesktop().UserBitmapFolder();
  EXPECT_NE(folder.find("\\AppData\\Local\\ZorvaniWallpaper\\"), std::string::npos) << folder;
  EXPECT_NE(GetFileAttributesA(folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u) << "not made";
}

}  // namespace
#endif
