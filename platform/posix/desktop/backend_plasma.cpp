#include "platform/posix/desktop/backend_parts.h"

#include <sys/stat.h>

#include <cerrno>

#include "platform/replace_file.h"

namespace platform {
namespace posix {
namespace {

constexpr char kLockGroup[] = "[Greeter][Wallpaper][org.kde.image][General]";
// Plasma's image wallpaper fill modes (Qt's Image.fillMode).
constexpr Placements kFill{"0", "6", "3", "1", "2", "0"};

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
    std::string script =
        "var all = desktops(); for (var i = 0; i < all.length; ++i) { var d = all[i];"
        " d.wallpaperPlugin = 'org.kde.image';"
        " d.currentConfigGroup = ['Wallpaper', 'org.kde.image', 'General'];";
    const std::string apply = session.FindProgram("plasma-apply-wallpaperimage");
    // The URI is percent-encoded, so it holds no quote that could end the script's string.
    if (apply.empty()) script += " d.writeConfig('Image', '" + request.uri + "');";
    script += " d.writeConfig('FillMode', " + FillMode(request.placement, kFill(request.style)) + "); }";

    const std::vector<std::string> call = ScriptCall(session, script);
    if (apply.empty()) return call.empty() ? CommandResult::kFailed : session.Run(call);
    const CommandResult applied = session.Run({apply, request.path});
    if (applied != CommandResult::kSucceeded || call.empty()) return applied;
    // The tool takes no placement; a fill mode that cannot be set leaves Plasma's own.
    return session.Run(call) == CommandResult::kTimedOut ? CommandResult::kTimedOut : applied;
  }

  // The lock screen's greeter reads its image wallpaper's settings from kscreenlockerrc
  // each time it starts.
  bool HasLockScreen() const override { return true; }

  bool LockScreenShown(const Session& session, ShownWallpaper* shown) const override {
    const std::string file = ConfigFolder(session) + "/kscreenlockerrc";
    std::string image, text;
    if (!ReadRegularFile(file, &text, kLargestSettingsFile) ? errno == ENOENT : text.rfind("Image=", 0) != 0 && text.find("\nImage=") == std::string::npos) {
      *shown = {};
      return true;
    }
    if (!IniValue(file, kLockGroup, "Image", &image) || !PathOfUri(image, &shown->path)) return false;
    if (!IniValue(file, kLockGroup, "FillMode", &shown->placement) || FillMode(shown->placement, "") != shown->placement) shown->placement.clear();
    return true;
  }

  CommandResult ApplyLockScreen(const Session& session, const WallpaperRequest& request) const override {
    std::string tool = session.FindProgram("kwriteconfig6");
    if (tool.empty()) tool = session.FindProgram("kwriteconfig5");
    if (tool.empty()) return CommandResult::kFailed;
    const auto write = [&](const char* key, const std::string& value) {
      std::vector<std::string> call{tool, "--file", "kscreenlockerrc", "--group", "Greeter", "--group", "Wallpaper",
                                    "--group", "org.kde.image", "--group", "General", "--key", key};
      if (value.empty()) call.push_back("--delete");
      else call.insert(call.end(), {"--", value});
      return session.Run(call);
    };
    const bool set = !request.path.empty();
    const CommandResult result = write("FillMode", FillMode(request.placement, set ? kFill(request.style) : ""));
    return result == CommandResult::kSucceeded ? write("Image", set ? request.uri : std::string()) : result;
  }

  // A containment per screen: each desktop takes the picture of the monitor at its
  // screen's place. Only numbers and percent-encoded URIs go into the script.
  Desktop::MonitorPictures MonitorPictures() const override { return Desktop::MonitorPictures::PerMonitor; }
  CommandResult ApplyPerMonitor(const Session& session, const std::vector<MonitorRequest>& monitors) const override {
    std::string pictures;
    for (const MonitorRequest& m : monitors) {
      pictures += "[" + std::to_string(m.monitor.x) + ", " + std::to_string(m.monitor.y) + ", '" + m.request.uri + "'],";
    }
    const std::vector<std::string> call = ScriptCall(
        session, "var pictures = [" + pictures + "]; var all = desktops(); var taken = 0;"
                 " for (var i = 0; i < all.length; ++i) { var d = all[i]; var g = screenGeometry(d.screen);"
                 " for (var j = 0; j < pictures.length; ++j) { if (pictures[j][0] != g.x || pictures[j][1] != g.y) continue;"
                 " d.wallpaperPlugin = 'org.kde.image';"
                 " d.currentConfigGroup = ['Wallpaper', 'org.kde.image', 'General'];"
                 " d.writeConfig('Image', pictures[j][2]); d.writeConfig('FillMode', 0); ++taken; } }"
                 " if (taken < pictures.length) throw 'not every screen has a desktop';");
    return call.empty() ? CommandResult::kFailed : session.Run(call);
  }

  // The look-and-feel's default package, by a script: the running shell ignores an
  // empty Image, and the image plugin picks the package's size itself.
  CommandResult ShowDefault(const Session& session, const WallpaperRequest& request) const override {
    const std::string package = DefaultPackage(session);
    const std::vector<std::string> call = ScriptCall(
        session, std::string("var all = desktops(); for (var i = 0; i < all.length; ++i) { var d = all[i];"
                             " d.wallpaperPlugin = 'org.kde.image';"
                             " d.currentConfigGroup = ['Wallpaper', 'org.kde.image', 'General'];") +
                     " d.writeConfig('Image', '" + FileUri(package) + "/'); d.writeConfig('FillMode', " +
                     FillMode(request.placement, "2") + "); }");
    return package.empty() || call.empty() ? CommandResult::kFailed : session.Run(call);
  }

  // The first desktop's image in Plasma's own file; its fill mode only as a number,
  // since it goes into the script. A file without any Image line (a new user's, or none
  // yet): Plasma shows its default.
  bool Shown(const Session& session, ShownWallpaper* shown) const override {
    static constexpr char kGroup[] = "[Containments][#][Wallpaper][org.kde.image][General]";
    const std::string file = ConfigFolder(session) + "/plasma-org.kde.plasma.desktop-appletsrc";
    std::string image, text;
    if (!ReadRegularFile(file, &text, kLargestSettingsFile) ? errno == ENOENT : text.rfind("Image=", 0) != 0 && text.find("\nImage=") == std::string::npos) {
      shown->path.clear();
      return true;
    }
    if (!IniValue(file, kGroup, "Image", &image) || !PathOfUri(image, &shown->path)) return false;
    if (!IniValue(file, kGroup, "FillMode", &shown->placement) || shown->placement.empty() ||
        shown->placement.find_first_not_of("0123456789") != std::string::npos)
      shown->placement.clear();
    return true;
  }

 private:
  // A placement read back goes into the script only as the number it must be.
  static std::string FillMode(const std::string& placement, const char* otherwise) {
    const bool number = !placement.empty() && placement.size() <= 2 && placement.find_first_not_of("0123456789") == std::string::npos;
    return number ? placement : otherwise;
  }

  // The wallpaper package the look-and-feel (kdeglobals' LookAndFeelPackage, else
  // Breeze) names as its default, in the user's or the system's data folders; empty for none.
  static std::string DefaultPackage(const Session& session) {
    std::string look, image;
    static constexpr char kKde[] = "[KDE]", kWallpaper[] = "[Wallpaper]";
    if (!IniValue(ConfigFolder(session) + "/kdeglobals", kKde, "LookAndFeelPackage", &look) || look.empty()) look = "org.kde.breeze.desktop";
    if (look.find('/') != std::string::npos) return {};
    const std::string home = session.Variable("XDG_DATA_HOME"), system = session.Variable("XDG_DATA_DIRS");
    std::vector<std::string> folders = Split(system.empty() ? "/usr/local/share:/usr/share" : system, ':');
    folders.insert(folders.begin(), !home.empty() && home[0] == '/' ? home : session.Variable("HOME") + "/.local/share");
    for (const std::string& folder : folders) {
      if (!image.empty() || folder.empty() || folder[0] != '/') continue;
      IniValue(folder + "/plasma/look-and-feel/" + look + "/contents/defaults", kWallpaper, "Image", &image);
    }
    struct stat info {};
    for (const std::string& folder : folders) {
      const std::string package = folder + "/wallpapers/" + image;
      if (!image.empty() && image.find('/') == std::string::npos && folder[0] == '/' && stat(package.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
        return package;
    }
    return {};
  }

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
