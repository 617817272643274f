#include "platform/posix/desktop/backend_parts.h"

namespace platform {
namespace posix {
namespace {

// KDE Plasma 5 and 6.
class PlasmaBackend : public DesktopBackend {
 public:
  const char* Name() const override { return "kde"; }
  bool Claims(const std::string& desktopName) const override {
    return desktopName == "kde" || StartsWith(desktopName, "plasma");
  }
  bool CachesByPath() const override { return true; }
  SessionSigns Signs() const override {
    return {{{"ksmserver", ""}, {"plasma_session", ""}}, {{"plasmashell", ""}}, "org.kde.plasmashell"};
  }
  std::vector<const char*> Tools() const override {
    return {"plasma-apply-wallpaperimage", "qdbus", "qdbus6", "gdbus", "dbus-send"};
  }

  CommandResult Apply(const Session& session, const WallpaperRequest& request) const override {
    // Plasma's image wallpaper fill modes (Qt's Image.fillMode).
    static constexpr Placements kFill{"0", "6", "3", "1", "2", "0"};
    std::string script =
        "var all = desktops(); for (var i = 0; i < all.length; ++i) { var d = all[i];"
        " d.wallpaperPlugin = 'org.kde.image';"
        " d.currentConfigGroup = ['Wallpaper', 'org.kde.image', 'General'];";
    const std::string apply = session.FindProgram("plasma-apply-wallpaperimage");
    // The URI is percent-encoded, so it holds no quote that could end the script's string.
    if (apply.empty()) script += " d.writeConfig('Image', '" + request.uri + "');";
    // A placement read back goes into the script only as the number it must be.
    std::string fill = kFill(request);
    if (fill.empty() || fill.size() > 2 || fill.find_first_not_of("0123456789") != std::string::npos) fill = kFill(request.style);
    script += " d.writeConfig('FillMode', " + fill + "); }";

    const std::vector<std::string> call = ScriptCall(session, script);
    if (apply.empty()) return call.empty() ? CommandResult::kFailed : session.Run(call);
    const CommandResult applied = session.Run({apply, request.path});
    if (applied != CommandResult::kSucceeded || call.empty()) return applied;
    // The tool takes no placement; a fill mode that cannot be set leaves Plasma's own.
    return session.Run(call) == CommandResult::kTimedOut ? CommandResult::kTimedOut : applied;
  }

  // The first desktop's image in Plasma's own file; its fill mode only as a number,
  // since it goes into the script.
  bool Shown(const Session& session, ShownWallpaper* shown) const override {
    static constexpr char kGroup[] = "[Containments][#][Wallpaper][org.kde.image][General]";
    const std::string file = ConfigFolder(session) + "/plasma-org.kde.plasma.desktop-appletsrc";
    std::string image;
    if (!IniValue(file, kGroup, "Image", &image) || !PathOfUri(image, &shown->path)) return false;
    if (!IniValue(file, kGroup, "FillMode", &shown->placement) || shown->placement.empty() ||
        shown->placement.find_first_not_of("0123456789") != std::string::npos)
      shown->placement.clear();
    return true;
  }

 private:
  static std::vector<std::string> ScriptCall(const Session& session, const std::string& script) {
    for (const char* qdbus : {"qdbus", "qdbus6"}) {
      const std::string tool = session.FindProgram(qdbus);
      if (!tool.empty()) return {tool, "org.kde.plasmashell", "/PlasmaShell", "org.kde.PlasmaShell.evaluateScript", script};
    }
    if (const std::string tool = session.FindProgram("gdbus"); !tool.empty()) {
      return {tool, "call", "--session", "--dest", "org.kde.plasmashell", "--object-path", "/PlasmaShell",
              "--method", "org.kde.PlasmaShell.evaluateScript", script};
    }
    if (const std::string tool = session.FindProgram("dbus-send"); !tool.empty()) {
      return {tool, "--session", "--type=method_call", "--print-reply", "--dest=org.kde.plasmashell",
              "/PlasmaShell", "org.kde.PlasmaShell.evaluateScript", "string:" + script};
    }
    return {};
  }
};

}  // namespace

std::unique_ptr<DesktopBackend> MakePlasmaBackend() { return std::make_unique<PlasmaBackend>(); }

}  // namespace posix
}  // namespace platform
