#include "platform/posix/desktop/backend_parts.h"

namespace platform {
namespace posix {
namespace {

// Hyprland: hyprpaper when it runs, else swww. Neither reads BMP.
class HyprlandBackend : public DesktopBackend {
 public:
  const char* Name() const override { return "hyprland"; }
  bool Claims(const std::string& desktopName) const override { return desktopName == "hyprland"; }
  bool Detect(const Session& session) const override {
    return !session.Variable("HYPRLAND_INSTANCE_SIGNATURE").empty();
  }
  bool ReadsBitmap() const override { return false; }
  bool CachesByPath() const override { return true; }
  // hyprctl hands hyprpaper one line, split at commas.
  bool ReadsCommandLanguage() const override { return true; }
  std::vector<const char*> Tools() const override { return {"hyprctl", "swww"}; }
  // No Shown: hyprpaper's configuration and swww's cache are theirs; nothing is given back.

  CommandResult Apply(const Session& session, const WallpaperRequest& request) const override {
    const std::string hyprctl = session.FindProgram("hyprctl");
    // listloaded fails when no hyprpaper answers.
    if (!hyprctl.empty() && session.Run({hyprctl, "hyprpaper", "listloaded"}) == CommandResult::kSucceeded) {
      if (request.plainPath.empty()) return CommandResult::kFailed;
      CommandResult result = session.Run({hyprctl, "hyprpaper", "preload", request.plainPath});
      if (result == CommandResult::kSucceeded) result = session.Run({hyprctl, "hyprpaper", "wallpaper", "," + request.plainPath});
      if (result == CommandResult::kSucceeded && !request.previousPlainPath.empty()) {
        session.Run({hyprctl, "hyprpaper", "unload", request.previousPlainPath});  // only frees memory
      }
      return result;
    }
    // swww takes the path as one argument and keeps it for its next start: the real one.
    const std::string swww = session.FindProgram("swww");
    if (swww.empty()) return CommandResult::kFailed;
    static constexpr Placements kResize{"crop", "no", "no", "fit", "crop", "crop"};
    return session.Run({swww, "img", request.path, "--resize", kResize(request.style)});
  }
};

}  // namespace

std::unique_ptr<DesktopBackend> MakeHyprlandBackend() { return std::make_unique<HyprlandBackend>(); }

}  // namespace posix
}  // namespace platform
