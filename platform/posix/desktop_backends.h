#pragma once
// The Linux desktops whose wallpaper this program can set. Each backend says whether
// it runs the user's session and, if so, applies a picture with its own mechanism.
// A new desktop is one more backend in DesktopBackends().
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/posix/desktop_session.h"
#include "platform/registry.h"
#include "platform/wallpaper.h"

namespace platform {
namespace posix {

// The placements that Windows stores as "WallpaperStyle" and "TileWallpaper".
enum class WallpaperStyle { kStretched, kCentered, kTiled, kScaled, kZoom, kSpanned };

struct WallpaperRequest {
  std::string path;  // absolute
  std::string uri;   // file:// and the percent-encoded path
  WallpaperStyle style;
};

class DesktopBackend {
 public:
  virtual ~DesktopBackend() = default;
  virtual const char* Name() const = 0;
  virtual bool Detect(const Session& session) const = 0;
  virtual CommandResult Apply(const Session& session, const WallpaperRequest& request) const = 0;
};

// In the order they are tried.
const std::vector<std::unique_ptr<DesktopBackend>>& DesktopBackends();

// "file://" and the path with every byte but unreserved characters and "/" encoded.
std::string FileUri(const std::string& absolutePath);

// The style stored under "HKEY_CURRENT_USER\Control Panel\Desktop"; stretched when
// it is missing or unknown.
WallpaperStyle StoredWallpaperStyle(Registry& registry);

// SystemParametersInfoA(SPI_SETDESKWALLPAPER, ...) for the running Linux desktop:
// the first detected backend that succeeds wins; nothing happens without a desktop.
class LinuxDesktop : public Desktop {
 public:
  LinuxDesktop(Registry& registry, std::function<Session()> session);
  bool SystemParametersInfoA(std::uint32_t action, std::uint32_t param, const std::string& path,
                             std::uint32_t flags) override;

 private:
  Registry& registry_;
  std::function<Session()> session_;
};

}  // namespace posix
}  // namespace platform
