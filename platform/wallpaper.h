#pragma once
// Making a bitmap file the desktop wallpaper. Win32 calls
// SystemParametersInfoA(SPI_SETDESKWALLPAPER, 0, path, SPIF_UPDATEINIFILE | SPIF_SENDWININICHANGE);
// the POSIX backend sets the wallpaper of the running Linux desktop.
//
// The other calls serve a machine shared by several users and the program's removal.
// Their defaults do nothing; the POSIX desktops use them for now.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/screen.h"

namespace platform {

constexpr std::uint32_t kSpiSetDeskWallpaper = 20;
constexpr std::uint32_t kSpifUpdateIniFile = 1;
constexpr std::uint32_t kSpifSendWinIniChange = 2;

class Desktop {
 public:
  virtual ~Desktop() = default;
  virtual bool SystemParametersInfoA(std::uint32_t action, std::uint32_t param, const std::string& path,
                                     std::uint32_t flags) = 0;

  // This user's own folder for wp.bmp, for a calendar folder whose wp.bmp this user may
  // not replace (another user's, on a shared machine): made when missing, never a link;
  // ends in the separator. Empty where there is none (on Linux every calendar folder is
  // one user's already).
  virtual std::string UserBitmapFolder() { return {}; }
  // Keeps the wallpaper shown now as the one to give back, unless one is kept already
  // (from before an earlier log-on's first change). One of the program's own bitmaps
  // shown now (calendarBitmap, or this user's) is kept as no picture.
  virtual void RecordPreviousWallpaper(const std::string& /*calendarBitmap*/) {}
  // At the program's removal: gives the kept wallpaper back when the desktop still shows
  // one of the program's bitmaps (a wallpaper the user chose since stays), forgets it,
  // and takes away this user's own folder and the bitmap in it.
  virtual void RestorePreviousWallpaper(const std::string& /*calendarBitmap*/) {}

  // Several monitors, one of another shape than the month picture: how this desktop
  // shows a picture per monitor. PerMonitor: one bitmap each (SetMonitorWallpapers);
  // Spanned: one picture over the whole screen, each monitor's region its own
  // (SetSpannedWallpaper); None: the one stretched wp.bmp stays.
  enum class MonitorPictures { None, PerMonitor, Spanned };
  virtual MonitorPictures MonitorPicturesTaken() { return MonitorPictures::None; }
  struct MonitorBitmap {
    Monitor monitor;
    std::string path;
  };
  virtual bool SetMonitorWallpapers(const std::vector<MonitorBitmap>& /*bitmaps*/) { return false; }
  virtual bool SetSpannedWallpaper(const std::string& /*path*/) { return false; }
};

Desktop& SystemDesktop();

}  // namespace platform
