#include "platform/posix/desktop/backend_parts.h"

#include <sys/socket.h>
#include <sys/types.h>
#include <wayland-client.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "platform/posix/session_watch.h"
#include "platform/replace_file.h"
#include "platform/system_log.h"

namespace platform {
namespace posix {
namespace {

pid_t ownedClient = -1;

enum class Compositor { kUnreachable, kSilent, kAnswered };

// Whether the compositor offers layer-shell, asked on a connection of this process's own
// with a deadline: a compositor that takes the connection and does not answer in time is
// one no wallpaper client can be sure of either. Its program's name comes from the
// socket's peer. Only the one name is looked for, so a flood of globals costs nothing.
Compositor AskCompositor(const Session& session, bool* layerShell, std::string* compositor) {
  std::string socket = session.Variable("WAYLAND_DISPLAY");
  if (!socket.empty() && socket[0] != '/') socket = session.Variable("XDG_RUNTIME_DIR") + "/" + socket;
  if (socket.empty() || socket[0] != '/') return Compositor::kUnreachable;
  wl_display* display = wl_display_connect(socket.c_str());
  if (display == nullptr) return Compositor::kUnreachable;
  ucred peer{};
  socklen_t size = sizeof peer;
  if (getsockopt(wl_display_get_fd(display), SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.pid > 0 &&
      ReadRegularFile("/proc/" + std::to_string(peer.pid) + "/comm", compositor)) {
    while (!compositor->empty() && compositor->back() == '\n') compositor->pop_back();
  }
  static const wl_registry_listener kRegistry{
      [](void* data, wl_registry*, std::uint32_t, const char* interface, std::uint32_t) {
        if (std::strcmp(interface, "zwlr_layer_shell_v1") == 0) *static_cast<bool*>(data) = true;
      },
      [](void*, wl_registry*, std::uint32_t) {}};
  wl_registry* registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &kRegistry, layerShell);
  const bool answered = Roundtrip(display, std::chrono::steady_clock::now() + std::chrono::seconds(2));
  wl_registry_destroy(registry);
  wl_display_disconnect(display);
  return answered ? Compositor::kAnswered : Compositor::kSilent;
}

// Once per process: the retries of every day would repeat it.
void LogOnce(const std::string& line) {
  static bool logged = false;
  if (!logged) TheSystemLog().Warning(line);
  logged = true;
}

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
    std::string compositor;
    if (swaybg.empty() || !Answers(session, request.path, &compositor)) return CommandResult::kFailed;
    static constexpr Placements kModes{"stretch", "center", "tile", "fit", "fill", "stretch"};
    return Start(session, {swaybg, "-o", "*", "-i", request.path, "-m", kModes(request.style)}, compositor);
  }

  // One swaybg for every output, each with its own picture.
  Desktop::MonitorPictures MonitorPictures() const override { return Desktop::MonitorPictures::PerMonitor; }
  CommandResult ApplyPerMonitor(const Session& session, const std::vector<MonitorRequest>& monitors) const override {
    std::string compositor;
    std::vector<std::string> command{session.FindProgram("swaybg")};
    for (const MonitorRequest& m : monitors) {
      if (!PlainOutputName(m.monitor.name)) return CommandResult::kFailed;
      command.insert(command.end(), {"-o", m.monitor.name, "-i", m.request.path, "-m", "fill"});
    }
    return command[0].empty() || monitors.empty() ||
                   !Answers(session, monitors.front().request.path, &compositor) ? CommandResult::kFailed
                                                                                   : Start(session, command, compositor);
  }

 private:
  // Whether the compositor answers and offers layer-shell, on which swaybg draws: a
  // compositor without one (Weston) cannot take a background from any other program.
  static bool Answers(const Session& session, const std::string& path, std::string* compositor) {
    bool layerShell = false;
    *compositor = session.Variable("XDG_CURRENT_DESKTOP");
    const Compositor answer = AskCompositor(session, &layerShell, compositor);
    if (compositor->empty()) *compositor = "the Wayland compositor";
    if (answer == Compositor::kSilent) return false;  // tried again at the next tick
    if (answer == Compositor::kAnswered && !layerShell) {
      LogOnce(*compositor + " offers no layer-shell (zwlr_layer_shell_v1): no program can draw the calendar as its "
                            "background; set " + path + " in its own settings");
      return false;
    }
    return true;
  }

  static CommandResult Start(const Session& session, const std::vector<std::string>& command, const std::string& compositor) {
    const pid_t started = session.Start(command);
    if (started < 0) {
      LogOnce("swaybg ended at once on " + compositor + ": the calendar is not shown");
      return CommandResult::kFailed;
    }
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
