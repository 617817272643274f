// Each Windows user has a folder of their own for the bitmap; monitors of other shapes
// get one picture spanned over the virtual screen. (That the wallpaper change
// stores the path in the user's profile shows in the process-level suite under Wine.)
#ifdef _WIN32
#include <windows.h>
#include <versionhelpers.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/screen.h"
#include "platform/wallpaper.h"

namespace {

TEST(WallpaperWin32, EachUserHasABitmapFolderInTheirLocalApplicationData) {
  const std::string folder = platform::SystemDesktop().UserBitmapFolder();
  EXPECT_NE(folder.find("\\AppData\\Local\\ZorvaniWallpaper\\"), std::string::npos) << folder;
  EXPECT_NE(GetFileAttributesA(folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u) << "not made";
}

// Windows 8 and later show one picture spanned over the virtual screen: style 22, not
// tiled, and the spanned picture counts as the program's own when the wallpaper is kept
// and given back.
TEST(WallpaperWin32, ASpannedPictureIsShownWithStyle22AndCountsAsOurs) {
  // The layout in the same pixels as the primary screen's size, the primary first.
  int width = 0, height = 0;
  if (platform::PrimaryScreenSize(&width, &height)) {
    const std::vector<platform::Monitor> layout = platform::MonitorLayout();
    ASSERT_FALSE(layout.empty());
    EXPECT_TRUE(layout[0].primary && layout[0].x == 0 && layout[0].y == 0);
    EXPECT_EQ(std::make_pair(layout[0].width, layout[0].height), std::make_pair(width, height));
    EXPECT_EQ(layout[0].name.rfind("\\\\.\\DISPLAY", 0), 0u) << layout[0].name;
    // On the desktops suite's X server of several monitors, each where X puts it.
    if (const char* expected = std::getenv("ZORVANI_MONITORS")) {
      std::string seen;
      for (const platform::Monitor& m : layout)
        seen += std::to_string(m.x) + "," + std::to_string(m.y) + " " + std::to_string(m.width) + "x" + std::to_string(m.height) + ";";
      EXPECT_EQ(seen, expected);
    }
  }
  platform::Desktop& desktop = platform::SystemDesktop();
  // Wine's prefixes say Windows 7 unless set to another version.
  EXPECT_EQ(desktop.MonitorPicturesTaken(), IsWindows8OrGreater() ? platform::Desktop::MonitorPictures::Spanned
                                                                  : platform::Desktop::MonitorPictures::None);
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  const std::string bitmap = std::string(temp) + "wp.bmp", span = std::string(temp) + "wp-span.bmp";
  const auto value = [](const char* name) {
    char data[16] = {};
    DWORD size = sizeof data;
    RegGetValueA(HKEY_CURRENT_USER, "Control Panel\\Desktop", name, RRF_RT_REG_SZ, nullptr, data, &size);
    return std::string(data);
  };
  RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\ZorvaniWallpaper");
  ASSERT_TRUE(desktop.SetSpannedWallpaper(span));
  EXPECT_EQ(value("WallpaperStyle"), "22");
  EXPECT_EQ(value("TileWallpaper"), "0");
  char shown[MAX_PATH + 1] = {};
  SystemParametersInfoA(SPI_GETDESKWALLPAPER, MAX_PATH, shown, 0);
  EXPECT_EQ(std::string(shown), span);
  desktop.RecordPreviousWallpaper(bitmap);
  char kept[MAX_PATH] = "unset";
  DWORD size = sizeof kept;
  RegGetValueA(HKEY_CURRENT_USER, "Software\\ZorvaniWallpaper", "Wallpaper", RRF_RT_REG_SZ, nullptr, kept, &size);
  EXPECT_EQ(std::string(kept), "") << "the spanned picture was kept as the user's own";
  desktop.RestorePreviousWallpaper(bitmap);
  // The user's own picture comes back with the user's own placement.
  RegSetKeyValueA(HKEY_CURRENT_USER, "Control Panel\\Desktop", "WallpaperStyle", REG_SZ, "6", 2);
  ASSERT_TRUE(desktop.SystemParametersInfoA(SPI_SETDESKWALLPAPER, 0, "C:\\mine.bmp", SPIF_UPDATEINIFILE));
  desktop.RecordPreviousWallpaper(bitmap);
  ASSERT_TRUE(desktop.SetSpannedWallpaper(span));
  desktop.RestorePreviousWallpaper(bitmap);
  EXPECT_EQ(value("WallpaperStyle"), "6") << "given back with the calendar's placement";
  // A wallpaper the user chose after the calendar stays at removal (the one from before
  // coming back to the screen where the calendar still shows is the process-level suite's).
  ASSERT_TRUE(desktop.SystemParametersInfoA(SPI_SETDESKWALLPAPER, 0, "C:\\mine.bmp", SPIF_UPDATEINIFILE));
  desktop.RecordPreviousWallpaper(bitmap);
  desktop.SystemParametersInfoA(SPI_SETDESKWALLPAPER, 0, "C:\\later.bmp", SPIF_UPDATEINIFILE);
  desktop.RestorePreviousWallpaper(bitmap);
  SystemParametersInfoA(SPI_GETDESKWALLPAPER, MAX_PATH, shown, 0);
  EXPECT_EQ(std::string(shown), "C:\\later.bmp");
}

}  // namespace
#endif
