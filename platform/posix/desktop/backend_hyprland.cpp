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
    return Swww(session, request, nullptr);
  }

  // hyprpaper and swww both take a picture per monitor by its name.
  Desktop::MonitorPictures MonitorPictures() const override { return Desktop::MonitorPictures::PerMonitor; }
  CommandResult ApplyPerMonitor(const Session& session, const std::vector<MonitorRequest>& monitors) const override {
    const std::string hyprctl = session.FindProgram("hyprctl");
    const bool hyprpaper = !hyprctl.empty() && session.Run({hyprctl, "hyprpaper", "listloaded"}) == CommandResult::kSucceeded;
    CommandResult result = CommandResult::kSucceeded;
    for (const MonitorRequest& m : monitors) {
      if (!PlainOutputName(m.monitor.name) || (hyprpaper && m.request.plainPath.empty())) return CommandResult::kFailed;
      if (!hyprpaper) {
        result = Worse(result, Swww(session, m.request, m.monitor.name.c_str()));
        continue;
      }
      CommandResult shown = session.Run({hyprctl, "hyprpaper", "preload", m.request.plainPath});
      if (shown == CommandResult::kSucceeded)
        shown = session.Run({hyprctl, "hyprpaper", "wallpaper", m.monitor.name + "," + m.request.plainPath});
      if (shown == CommandResult::kSucceeded && !m.request.previousPlainPath.empty())
        session.Run({hyprctl, "hyprpaper", "unload", m.request.previousPlainPath});
      result = Worse(result, shown);
    }
    return result;
  }

 private:
  // swww takes the path as one argument and keeps it for its next start: the real one.
  static CommandResult Swww(const Session& session, const WallpaperRequest& request, const char* output) {
    const std::string swww = session.FindProgram("swww");
    if (swww.empty()) return CommandResult::kFailed;
    static constexpr Placements kResize{"crop", "no", "no", "fit", "crop", "crop"};
    std::vector<std::string> command{swww, "img", request.path, "--resize", kResize(request.style)};
    if (output != nullptr) command.insert(command.end(), {"--outputs", output});
    return session.Run(command);
  }
};

}  // namespace

std::unique_ptr<DesktopBackend> MakeHyprlandBackend() { return std::make_unique<HyprlandBackend>(); }

}  // namespace posix
}  // namespace platform
