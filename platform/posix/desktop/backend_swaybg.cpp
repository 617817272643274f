#include "platform/posix/desktop/backend_parts.h"

#include <sys/types.h>

#include <cstdlib>

namespace platform {
namespace posix {
namespace {

pid_t ownedClient = -1;

// Other Wayland compositors: a swaybg of our own, replaced at each change.
class SwaybgBackend : public DesktopBackend {
 public:
  const char* Name() const override { return "swaybg"; }
  bool Claims(const std::string&) const override { return false; }
  bool Detect(const Session& session) const override { return !session.Variable("WAYLAND_DISPLAY").empty(); }
  std::vector<const char*> Tools() const override { return {"swaybg"}; }
  // No Shown: the program's own swaybg ends with the program, which gives back what the
  // compositor showed beneath it.

  CommandResult Apply(const Session& session, const WallpaperRequest& request) const override {
    const std::string swaybg = session.FindProgram("swaybg");
    if (swaybg.empty()) return CommandResult::kFailed;
    static constexpr Placements kModes{"stretch", "center", "tile", "fit", "fill", "stretch"};
    const pid_t started = session.Start({swaybg, "-o", "*", "-i", request.path, "-m", kModes(request.style)});
    if (started < 0) return CommandResult::kFailed;
    // The new client draws over the old one before the old one goes: no bare moment.
    EndOwnedWallpaperClient();
    static const bool registered = std::atexit(EndOwnedWallpaperClient) == 0;
    (void)registered;
    ownedClient = started;
    return CommandResult::kSucceeded;
  }
};

}  // namespace

std::unique_ptr<DesktopBackend> MakeSwaybgBackend() { return std::make_unique<SwaybgBackend>(); }

void EndOwnedWallpaperClient() {
  if (ownedClient <= 0) return;
  Session::End(ownedClient);
  ownedClient = -1;
}

}  // namespace posix
}  // namespace platform
