#pragma once
// Making a bitmap file the desktop wallpaper. Win32 calls
// SystemParametersInfoA(SPI_SETDESKWALLPAPER, 0, path, SPIF_UPDATEINIFILE | SPIF_SENDWININICHANGE);
// the POSIX backend sets the wallpaper of the running Linux desktop.
#include <cstdint>
#include <string>

namespace platform {

constexpr std::uint32_t kSpiSetDeskWallpaper = 20;
constexpr std::uint32_t kSpifUpdateIniFile = 1;
constexpr std::uint32_t kSpifSendWinIniChange = 2;

class Desktop {
 public:
  virtual ~Desktop() = default;
  virtual bool SystemParametersInfoA(std::uint32_t action, std::uint32_t param, const std::string& path,
                                     std::uint32_t flags) = 0;
};

Desktop& SystemDesktop();

}  // namespace platform
