#include "platform/posix/desktop/backend_parts.h"

#include <sys/stat.h>

#include <cstdlib>

namespace platform {
namespace posix {
namespace {

// LXDE (pcmanfm) and LXQt (pcmanfm-qt): the running desktop manager takes the file.
// Called while no desktop manager runs, the tool becomes the first instance itself
// and puts up "Desktop manager is not active" (and may keep the session's own from
// starting): it is only called once the session's "--desktop" instance runs and, for
// pcmanfm, listens on its socket.
class PcmanfmBackend : public DesktopBackend {
 public:
  explicit PcmanfmBackend(PcmanfmDesktop desktop) : d_(desktop) {}
  const char* Name() const override { return d_.name; }
  bool Claims(const std::string& desktopName) const override { return StartsWith(desktopName, d_.name); }
  bool CachesByPath() const override { return d_.cachesByPath; }
  SessionSigns Signs() const override { return {{{d_.sessionManager, ""}}, {{d_.tool, "--desktop"}}, nullptr}; }
  bool Ready(const Session& session) const override {
    return PainterRuns(session, Signs()) && (!d_.socketInRuntimeFolder || ListensOnSocket(session));
  }
  std::vector<const char*> Tools() const override { return {d_.tool}; }

  CommandResult Apply(const Session& session, const WallpaperRequest& request) const override {
    const std::string tool = session.FindProgram(d_.tool);
    if (tool.empty()) return CommandResult::kFailed;
    return session.Run({tool, "--set-wallpaper=" + request.path, "--wallpaper-mode=" + d_.modes(request)});
  }

  // Read from the profile's file, never through the tool: the session's profile is
  // named like the session (LXDE, lxqt), else "default".
  bool Shown(const Session& session, ShownWallpaper* shown) const override {
    const std::string folder = ConfigFolder(session) + "/" + d_.tool + "/";
    std::string profile = session.Variable("DESKTOP_SESSION");
    struct stat info {};
    if (profile.empty() || profile.find('/') != std::string::npos || stat((folder + profile).c_str(), &info) != 0)
      profile = "default";
    const std::string file = folder + profile + "/" + d_.file;
    const std::string group = std::string("[") + d_.group + "]";
    return IniValue(file, group, d_.pathKey, &shown->path, d_.codePoints) &&
           (d_.modeKey == nullptr || IniValue(file, group, d_.modeKey, &shown->placement)) &&
           (shown->path.empty() || shown->path[0] == '/');
  }

 private:
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
