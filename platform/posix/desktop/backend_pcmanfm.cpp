#include "platform/posix/desktop/backend_parts.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

namespace platform {
namespace posix {
namespace {

// LXDE (pcmanfm) and LXQt (pcmanfm-qt): the running desktop manager takes the file.
// Called while no desktop manager runs, the tool becomes the first instance itself
// and puts up "Desktop manager is not active" (and may keep the session's own from
// starting): it is only called once the session's "--desktop" instance runs and, for
// pcmanfm, listens on its socket (pcmanfm-qt: owns its bus name).
class PcmanfmBackend : public DesktopBackend {
 public:
  explicit PcmanfmBackend(PcmanfmDesktop desktop) : d_(desktop) {}
  const char* Name() const override { return d_.name; }
  bool Claims(const std::string& desktopName) const override { return StartsWith(desktopName, d_.name); }
  bool CachesByPath() const override { return d_.cachesByPath; }
  SessionSigns Signs() const override { return {{{d_.sessionManager, ""}}, {{d_.tool, "--desktop"}}, nullptr}; }
  bool Ready(const Session& session) const override {
    return PainterRuns(session, Signs()) && (!d_.socketInRuntimeFolder || ListensOnSocket(session)) &&
           (d_.busName == nullptr || session.BusNameOwned(d_.busName));
  }
  std::vector<const char*> Tools() const override { return {d_.tool}; }
  // pcmanfm's "screen" mode spans the picture over every monitor. pcmanfm-qt has no such
  // mode, and its wallpaper per screen is set in its dialog only.
  Desktop::MonitorPictures MonitorPictures() const override {
    return std::string(d_.modes.spanned) != d_.modes.stretched ? Desktop::MonitorPictures::Spanned
                                                               : Desktop::MonitorPictures::None;
  }

  CommandResult Apply(const Session& session, const WallpaperRequest& request) const override {
    const std::string tool = session.FindProgram(d_.tool);
    if (tool.empty()) return CommandResult::kFailed;
    const CommandResult result = session.Run({tool, "--set-wallpaper=" + request.path, "--wallpaper-mode=" + d_.modes(request)});
    if (result != CommandResult::kSucceeded || d_.busName == nullptr) return result;
    ShownWallpaper shown;
    return Shown(session, &shown) && shown.path == request.path ? result : CommandResult::kFailed;
  }

  // Read from the profile's file, never through the tool. A user without a file of
  // their own sees the profile's default from the system's folders, where the desktop
  // reads it too (pcmanfm-qt: XDG_CONFIG_DIRS, then its data folder).
  bool Shown(const Session& session, ShownWallpaper* shown) const override {
    const std::string profile = Profile(session);
    std::string file = ConfigFolder(session) + "/" + d_.tool + "/" + profile + "/" + d_.file;
    struct stat info {};
    if (lstat(file.c_str(), &info) != 0 && errno == ENOENT) {
      std::string folders = session.Variable("XDG_CONFIG_DIRS");
      for (const std::string& folder : Split((folders.empty() ? "/etc/xdg" : folders) + ":/usr/share", ':')) {
        file = folder + "/" + d_.tool + "/" + profile + "/" + d_.file;
        if (!folder.empty() && folder[0] == '/' && stat(file.c_str(), &info) == 0) break;
      }
    }
    const std::string group = std::string("[") + d_.group + "]";
    return IniValue(file, group, d_.pathKey, &shown->path, d_.codePoints) &&
           (d_.modeKey == nullptr || IniValue(file, group, d_.modeKey, &shown->placement)) &&
           (shown->path.empty() || shown->path[0] == '/');
  }

 private:
  // The session's profile: DESKTOP_SESSION's or the desktop's own, when the desktop
  // instance was started with it or the user has its folder; else "default".
  std::string Profile(const Session& session) const {
    const std::string folder = ConfigFolder(session) + "/" + d_.tool + "/";
    for (const std::string& name : {session.Variable("DESKTOP_SESSION"), std::string(d_.profile)}) {
      struct stat info {};
      if (!name.empty() && name.find('/') == std::string::npos && name[0] != '.' &&
          (session.Runs(d_.tool, "--profile=" + name) || session.Runs(d_.tool, name) || stat((folder + name).c_str(), &info) == 0))
        return name;
    }
    return "default";
  }

  // The first instance's socket, "<tool>-socket-<host>-<display number>" in the user's
  // runtime folder (GLib's: the cache folder when XDG_RUNTIME_DIR is not set).
  bool ListensOnSocket(const Session& session) const {
    const std::string display = session.Variable("DISPLAY");
    const std::size_t colon = display.rfind(':');
    if (colon == std::string::npos) return false;
    std::string folder = session.Variable("XDG_RUNTIME_DIR");
    if (folder.empty()) folder = session.Variable("XDG_CACHE_HOME");
    if (folder.empty()) folder = session.Variable("HOME") + "/.cache";
    const std::string socket = folder + "/" + d_.tool + "-socket-" + display.substr(0, colon) + "-" +
                               std::to_string(std::atoi(display.c_str() + colon + 1));
    struct stat info {};
    return stat(socket.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
  }

  PcmanfmDesktop d_;
};

}  // namespace

std::unique_ptr<DesktopBackend> MakePcmanfmBackend(PcmanfmDesktop desktop) { return std::make_unique<PcmanfmBackend>(desktop); }

}  // namespace posix
}  // namespace platform
