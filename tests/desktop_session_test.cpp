// The session's children: what a tool leaves behind when it hangs or is ended. (Whose
// processes count as this display's is the wallpaper table's.)
#ifndef _WIN32
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wayland-server.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <thread>

#include "common/files.h"
#include "platform/posix/desktop/backend_parts.h"
#include "platform/posix/desktop/desktop_session.h"
#include "platform/posix/session_watch.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using platform::posix::CommandResult;
using platform::posix::Session;

// Gone, or a zombie that nothing will run again (no init reaps orphans in a container),
// within two seconds: a killed process dies only once it is next scheduled.
bool Ended(pid_t pid) {
  for (const auto deadline = std::chrono::steady_clock::now() + 2s;; std::this_thread::sleep_for(10ms)) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return true;
    const std::size_t close = line.rfind(')');
    if (close != std::string::npos && line.compare(close + 2, 1, "Z") == 0) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
  }
}

// A tool that hangs and a wallpaper client that is ended: the grandchild each started
// (shell pipelines, D-Bus activation) ends with them.
TEST(DesktopSession, AToolThatHangsOrIsEndedLeavesNoProcessOfItsGroup) {
  const testing_files::TempFolder folder;
  const std::string pidFile = (folder / "grandchild").string();
  const auto script = [&](const std::string& before, const std::string& after) {
    return before + "/bin/sleep 60 & echo $! >'" + pidFile + "'; " + after + "wait";
  };
  const auto grandchild = [&] {
    testing_files::WaitForFile(pidFile, 2s);
    int pid = 0;
    std::ifstream(pidFile) >> pid;
    fs::remove(pidFile);
    return pid;
  };
  const Session session({"PATH=/usr/bin:/bin"}, 500ms);
  EXPECT_EQ(session.Run({"/bin/sh", "-c", script("", "")}), CommandResult::kTimedOut);
  pid_t left = grandchild();
  ASSERT_GT(left, 0);
  EXPECT_TRUE(Ended(left)) << "left running after the timeout";
  if (!Ended(left)) kill(left, SIGKILL);
  // What a tool prints is kept only up to a bound, however much it prints.
  std::string out;
  EXPECT_EQ(session.Run({"/usr/bin/seq", "200000"}, &out), CommandResult::kSucceeded);
  EXPECT_EQ(out.size(), 64u * 1024);

  // Ended as it is, one that ignores the end, or one that is stopped: killed, never awaited for ever.
  for (const auto& [before, after] : {std::pair<const char*, const char*>{"", ""}, {"trap '' TERM; ", ""}, {"", "kill -STOP $$; "}}) {
    const int started = session.Start({"/bin/sh", "-c", script(before, after)});
    ASSERT_GT(started, 0);
    left = grandchild();
    Session::End(started);
    EXPECT_TRUE(Ended(left) && Ended(started)) << "left running after the client was ended: " << before << after;
    if (!Ended(left)) kill(left, SIGKILL);
  }
}

// A compositor without xdg-output (a stand-in: every one here has it) tells of its output
// by wl_output alone: the mode in the panel's own pixels, its transform and scale.
struct StandInOutput {
  int transform, width, height, scale, laidWidth, laidHeight;
};
const StandInOutput kOutputs[] = {
    {WL_OUTPUT_TRANSFORM_NORMAL, 192, 108, 1, 192, 108},
    {WL_OUTPUT_TRANSFORM_90, 192, 108, 1, 108, 192},
    {WL_OUTPUT_TRANSFORM_FLIPPED_270, 384, 216, 2, 108, 192},
    {WL_OUTPUT_TRANSFORM_180, 384, 216, 2, 192, 108},
};
wl_resource* boundOutput = nullptr;  // the row's output as the watch bound it

TEST(SessionWatch, WaylandOutputsWithoutXdgOutputAreLaidOutTurnedAndScaled) {
  const testing_files::TempFolder folder;
  ASSERT_EQ(chmod(folder.path.c_str(), 0700), 0);
  std::map<std::string, std::optional<std::string>> kept;
  for (const char* name : {"XDG_RUNTIME_DIR", "WAYLAND_DISPLAY"}) {
    if (const char* value = std::getenv(name)) kept[name] = value;
    else kept[name] = std::nullopt;
  }
  setenv("XDG_RUNTIME_DIR", folder.path.c_str(), 1);
  for (const StandInOutput& row : kOutputs) {
    SCOPED_TRACE(row.transform);
    wl_display* server = wl_display_create();
    const char* socket = wl_display_add_socket_auto(server);
    ASSERT_NE(socket, nullptr);
    wl_global_create(server, &wl_output_interface, 4, const_cast<StandInOutput*>(&row),
                     [](wl_client* client, void* data, std::uint32_t version, std::uint32_t id) {
                       const auto& output = *static_cast<const StandInOutput*>(data);
                       wl_resource* resource = wl_resource_create(client, &wl_output_interface, static_cast<int>(version), id);
                       static const struct wl_output_interface kRelease{[](wl_client*, wl_resource* r) { wl_resource_destroy(r); }};
                       wl_resource_set_implementation(resource, &kRelease, nullptr, nullptr);
                       boundOutput = resource;
                       wl_output_send_geometry(resource, 0, 0, 0, 0, 0, "", "", output.transform);
                       wl_output_send_mode(resource, WL_OUTPUT_MODE_CURRENT, output.width, output.height, 60000);
                       wl_output_send_scale(resource, output.scale);
                       wl_output_send_name(resource, "OUT-1");
                       wl_output_send_done(resource);
                     });
    std::atomic<bool> done{false};
    std::atomic<int> resend{0};  // the output described again: 1 as it was, 2 wider, 3 taller and then silent
    std::atomic<bool> silent{false};
    boundOutput = nullptr;
    std::thread compositor([&] {
      while (!done) {
        if (const int what = resend.exchange(0); what != 0 && boundOutput != nullptr) {
          silent = what == 3;
          wl_output_send_mode(boundOutput, WL_OUTPUT_MODE_CURRENT, row.width + 8 * (what >= 2), row.height + 8 * (what == 3), 60000);
          wl_output_send_done(boundOutput);
          wl_display_flush_clients(server);
        }
        if (silent) {
          std::this_thread::sleep_for(std::chrono::milliseconds(20));
          continue;
        }
        wl_event_loop_dispatch(wl_display_get_event_loop(server), 20);
        wl_display_flush_clients(server);
      }
    });
    setenv("WAYLAND_DISPLAY", socket, 1);
    std::vector<platform::Monitor> monitors;
    {
      platform::posix::SessionWatch watch;
      EXPECT_TRUE(watch.Monitors(&monitors));
      // sway describes an output anew whenever its background is set: no change, or
      // every redraw would bring the next. A new mode is one, and one the compositor did
      // not describe in time is asked for again.
      for (const auto& [what, changed] : {std::pair{1, false}, std::pair{2, true}, std::pair{3, false}}) {
        if (monitors.empty() || &row != kOutputs) break;  // once, on an output that was read
        resend = what;
        pollfd readable{watch.Descriptor(), POLLIN, 0};
        if (poll(&readable, 1, 5000) != 1) {
          ADD_FAILURE() << "the output described again " << what << " never came";
          break;
        }
        EXPECT_FALSE(watch.Ended());
        EXPECT_EQ(watch.TakeLayoutChanged(), changed) << "described again " << what;
        if (what != 3) continue;
        silent = false;
        EXPECT_TRUE(watch.TakeLayoutChanged()) << "a change not read in time is forgotten";
      }
    }
    // Nor does it offer layer-shell, as Weston does not: no swaybg of ours is started on it.
    if (&row == kOutputs) {
      bool started = false;
      const Session session({std::string("WAYLAND_DISPLAY=") + socket, "XDG_RUNTIME_DIR=" + folder.path.string(), "PATH=" + folder.path.string()},
                            std::chrono::seconds(2), [&](const std::vector<std::string>&, std::string*) {
                              started = true;
                              return CommandResult::kSucceeded;
                            });
      testing_files::WriteProgram(folder / "swaybg", "");
      EXPECT_FALSE(session.FindProgram("swaybg").empty());
      platform::posix::MakeSwaybgBackend()->Apply(session, {"/x/wp.bmp", "file:///x/wp.bmp", "", platform::posix::WallpaperStyle::kZoom});
      EXPECT_FALSE(started) << "swaybg started on a compositor without layer-shell";
    }
    done = true;
    compositor.join();
    wl_display_destroy_clients(server);
    wl_display_destroy(server);
    ASSERT_EQ(monitors.size(), 1u);
    EXPECT_EQ(monitors[0].name, "OUT-1");
    EXPECT_EQ(monitors[0].width, row.laidWidth);
    EXPECT_EQ(monitors[0].height, row.laidHeight);
  }
  for (const auto& [name, value] : kept) value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
}

}  // namespace
#endif
