#include "platform/posix/desktop/backend_parts.h"

namespace platform {
namespace posix {
namespace {

// sway: its own swaybg, through the output configuration.
class SwayBackend : public DesktopBackend {
 public:
  const char* Name() const override { return "sway"; }
  bool Claims(const std::string& desktopName) const override { return desktopName == "sway"; }
  bool Detect(const Session& session) const override { return !session.Variable("SWAYSOCK").empty(); }
  // swaymsg joins its arguments into one command line, which sway splits at ';' and ','
  // and expands like a shell word ($(...) and backticks run).
  bool ReadsCommandLanguage() const override { return true; }
  std::vector<const char*> Tools() const override { return {"swaymsg"}; }

  CommandResult Apply(const Session& session, const WallpaperRequest& request) const override {
    const std::string swaymsg = session.FindProgram("swaymsg");
    if (swaymsg.empty() || request.plainPath.empty()) return CommandResult::kFailed;
    static constexpr Placements kModes{"stretch", "center", "tile", "fit", "fill", "stretch"};
    return session.Run({swaymsg, "output", "*", "bg", request.plainPath, kModes(request.style)});
  }
  Desktop::MonitorPictures MonitorPictures() const override { return Desktop::MonitorPictures::PerMonitor; }
  CommandResult ApplyPerMonitor(const Session& session, const std::vector<MonitorRequest>& monitors) const override {
    const std::string swaymsg = session.FindProgram("swaymsg");
    if (swaymsg.empty()) return CommandResult::kFailed;
    CommandResult result = CommandResult::kSucceeded;
    for (const MonitorRequest& m : monitors) {
      if (!PlainOutputName(m.monitor.name) || m.request.plainPath.empty()) return CommandResult::kFailed;
      result = Worse(result, session.Run({swaymsg, "output", m.monitor.name, "bg", m.request.plainPath, "fill"}));
      if (result == CommandResult::kTimedOut) return result;
    }
    return result;
  }
  // No Shown: sway reports no output's background (get_outputs has none), and its
  // configuration file is sway's command language. Nothing is given back; sway's own
  // configuration shows again at its next start.
};

}  // namespace

std::unique_ptr<DesktopBackend> MakeSwayBackend() { return std::make_unique<SwayBackend>(); }

}  // namespace posix
}  // namespace platform
