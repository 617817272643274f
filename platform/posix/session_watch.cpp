#include "platform/posix/session_watch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xcb/randr.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "xdg-output-client.h"

namespace platform {
namespace posix {
namespace {

using Clock = std::chrono::steady_clock;
// Each reading of the monitors: a display that holds its answer longer costs a tick.
constexpr std::chrono::seconds kAnswerDeadline{2};

int MillisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// A compositor's output: wl_output's mode, transform and scale, and xdg-output's
// logical place and size where the compositor offers it.
struct WaylandOutput {
  struct WaylandScreens* screens = nullptr;
  std::uint32_t global = 0;
  wl_output* output = nullptr;
  zxdg_output_v1* xdg = nullptr;
  std::string name;
  int x = 0, y = 0, modeWidth = 0, modeHeight = 0, transform = 0, scale = 1;
  int logicalX = 0, logicalY = 0, logicalWidth = 0, logicalHeight = 0;
};

struct WaylandScreens {
  wl_registry* registry = nullptr;
  zxdg_output_manager_v1* xdgOutputs = nullptr;
  std::vector<std::unique_ptr<WaylandOutput>> outputs;
  unsigned bound = 0;  // outputs bound so far: their first events are still to come
  bool* changed = nullptr;
};

void Describe(WaylandScreens* screens, WaylandOutput* output);

const wl_output_listener kOutputListener{
    [](void* data, wl_output*, std::int32_t x, std::int32_t y, std::int32_t, std::int32_t, std::int32_t, const char*,
       const char*, std::int32_t transform) {
      auto* output = static_cast<WaylandOutput*>(data);
      output->x = x, output->y = y, output->transform = transform;
    },
    [](void* data, wl_output*, std::uint32_t flags, std::int32_t width, std::int32_t height, std::int32_t) {
      auto* output = static_cast<WaylandOutput*>(data);
      if ((flags & WL_OUTPUT_MODE_CURRENT) != 0) output->modeWidth = width, output->modeHeight = height;
    },
    [](void* data, wl_output*) { *static_cast<WaylandOutput*>(data)->screens->changed = true; },
    [](void* data, wl_output*, std::int32_t factor) { static_cast<WaylandOutput*>(data)->scale = std::max(1, factor); },
    [](void* data, wl_output*, const char* name) { static_cast<WaylandOutput*>(data)->name = name; },
    [](void*, wl_output*, const char*) {}};

const zxdg_output_v1_listener kXdgOutputListener{
    [](void* data, zxdg_output_v1*, std::int32_t x, std::int32_t y) {
      auto* output = static_cast<WaylandOutput*>(data);
      output->logicalX = x, output->logicalY = y;
    },
    [](void* data, zxdg_output_v1*, std::int32_t width, std::int32_t height) {
      auto* output = static_cast<WaylandOutput*>(data);
      output->logicalWidth = width, output->logicalHeight = height;
    },
    [](void* data, zxdg_output_v1*) { *static_cast<WaylandOutput*>(data)->screens->changed = true; },
    [](void* data, zxdg_output_v1*, const char* name) { static_cast<WaylandOutput*>(data)->name = name; },
    [](void*, zxdg_output_v1*, const char*) {}};

void Describe(WaylandScreens* screens, WaylandOutput* output) {
  if (screens->xdgOutputs == nullptr || output->xdg != nullptr) return;
  output->xdg = zxdg_output_manager_v1_get_xdg_output(screens->xdgOutputs, output->output);
  zxdg_output_v1_add_listener(output->xdg, &kXdgOutputListener, output);
  ++screens->bound;
}

void Forget(WaylandOutput* output) {
  if (output->xdg != nullptr) zxdg_output_v1_destroy(output->xdg);
  if (wl_output_get_version(output->output) >= WL_OUTPUT_RELEASE_SINCE_VERSION) {
    wl_output_release(output->output);
  } else {
    wl_output_destroy(output->output);
  }
}

// Only outputs and xdg-output are looked at: other globals cost nothing.
const wl_registry_listener kRegistryListener{
    [](void* data, wl_registry* registry, std::uint32_t name, const char* interface, std::uint32_t version) {
      auto* screens = static_cast<WaylandScreens*>(data);
      if (std::strcmp(interface, wl_output_interface.name) == 0) {
        auto output = std::make_unique<WaylandOutput>();
        output->screens = screens;
        output->global = name;
        output->output = static_cast<wl_output*>(wl_registry_bind(registry, name, &wl_output_interface, std::min(version, 4u)));
        wl_output_add_listener(output->output, &kOutputListener, output.get());
        ++screens->bound;
        Describe(screens, output.get());
        screens->outputs.push_back(std::move(output));
        *screens->changed = true;
      } else if (std::strcmp(interface, zxdg_output_manager_v1_interface.name) == 0 && screens->xdgOutputs == nullptr) {
        screens->xdgOutputs = static_cast<zxdg_output_manager_v1*>(
            wl_registry_bind(registry, name, &zxdg_output_manager_v1_interface, std::min(version, 3u)));
        for (const auto& output : screens->outputs) Describe(screens, output.get());
      }
    },
    [](void* data, wl_registry*, std::uint32_t name) {
      auto* screens = static_cast<WaylandScreens*>(data);
      auto& outputs = screens->outputs;
      const auto gone = std::find_if(outputs.begin(), outputs.end(), [&](const auto& output) { return output->global == name; });
      if (gone == outputs.end()) return;
      Forget(gone->get());
      outputs.erase(gone);
      *screens->changed = true;
    }};

}  // namespace

bool Roundtrip(wl_display* display, Clock::time_point deadline) {
  static const wl_callback_listener kDone{[](void* data, wl_callback*, std::uint32_t) { *static_cast<bool*>(data) = true; }};
  wl_callback* done = wl_display_sync(display);
  bool answered = false;
  wl_callback_add_listener(done, &kDone, &answered);
  while (!answered) {
    if (wl_display_prepare_read(display) != 0) {
      if (wl_display_dispatch_pending(display) < 0) break;
      continue;
    }
    wl_display_flush(display);
    pollfd fd{wl_display_get_fd(display), POLLIN, 0};
    const int left = MillisecondsLeft(deadline);
    if (left <= 0 || poll(&fd, 1, left) <= 0) {
      wl_display_cancel_read(display);
      break;
    }
    if (wl_display_read_events(display) < 0 || wl_display_dispatch_pending(display) < 0) break;
  }
  wl_callback_destroy(done);
  return answered;
}

namespace {

// An X reply, waited for until the deadline; null (and the reply dropped) when it did
// not come. xcb's own *_reply functions wait without a limit.
template <class Reply>
Reply* Answer(xcb_connection_t* x, unsigned sequence, Clock::time_point deadline) {
  xcb_flush(x);
  for (;;) {
    void* reply = nullptr;
    xcb_generic_error_t* error = nullptr;
    if (xcb_poll_for_reply(x, sequence, &reply, &error) != 0) {
      std::free(error);
      return static_cast<Reply*>(reply);
    }
    pollfd fd{xcb_get_file_descriptor(x), POLLIN, 0};
    const int left = MillisecondsLeft(deadline);
    if (xcb_connection_has_error(x) != 0 || left <= 0 || (poll(&fd, 1, left) < 0 && errno != EINTR)) {
      xcb_discard_reply(x, sequence);
      return nullptr;
    }
  }
}

bool Same(const std::vector<Monitor>& a, const std::vector<Monitor>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const Monitor& x, const Monitor& y) {
    return x.name == y.name && x.x == y.x && x.y == y.y && x.width == y.width && x.height == y.height && x.primary == y.primary;
  });
}

template <class Reply>
using Owned = std::unique_ptr<Reply, decltype(&std::free)>;
template <class Reply>
Owned<Reply> Own(Reply* reply) {
  return Owned<Reply>(reply, &std::free);
}

}  // namespace

struct SessionWatch::Connection {
  wl_display* wayland = nullptr;
  xcb_connection_t* x = nullptr;
  int screen = 0;
  WaylandScreens wl;
  // RandR, once asked for: its first event's code, and whether it lists monitors (1.5).
  bool randrAsked = false, randr = false, randrMonitors = false;
  std::uint8_t randrEvents = 0;
  xcb_window_t root = 0;
  bool changed = false;
  std::vector<Monitor> layout;  // as last read
};

namespace {

bool Set(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

struct Display {
  wl_display* wayland = nullptr;
  xcb_connection_t* x = nullptr;
  int screen = 0;
};

Display Connect() {
  Display display;
  // Under a Wayland compositor DISPLAY may name an Xwayland that is started on demand
  // and ended when idle: the compositor is the session.
  if (Set("WAYLAND_DISPLAY") || Set("WAYLAND_SOCKET")) {
    display.wayland = wl_display_connect(nullptr);
    if (display.wayland != nullptr) return display;
  }
  if (Set("DISPLAY")) {
    display.x = xcb_connect(nullptr, &display.screen);
    if (xcb_connection_has_error(display.x) != 0) {
      xcb_disconnect(display.x);
      display.x = nullptr;
    }
  }
  return display;
}

void Disconnect(const Display& display) {
  if (display.wayland != nullptr) wl_display_disconnect(display.wayland);
  if (display.x != nullptr) xcb_disconnect(display.x);
}

// xcb_connect waits for the server's answer without a limit, and a hung X server, or a
// socket that another user bound for a stale display number, accepts and never answers
// (wl_display_connect's connect can wait the same way on a full backlog). So the attempt
// runs on a thread of its own, which closes what it gets once it has been given up on,
// whenever that is; the process may well end first.
struct Attempt {
  std::mutex mutex;
  bool givenUp = false, finished = false;
  Display display;
  int finishedSignal = eventfd(0, EFD_CLOEXEC);
  ~Attempt() {
    if (finishedSignal >= 0) close(finishedSignal);
  }
};

}  // namespace

SessionWatch::SessionWatch(int endSignals, std::chrono::milliseconds deadline) : connection_(new Connection) {
  if (!Set("WAYLAND_DISPLAY") && !Set("WAYLAND_SOCKET") && !Set("DISPLAY")) return;
  const auto attempt = std::make_shared<Attempt>();
  if (attempt->finishedSignal < 0) return;
  try {
    std::thread([attempt] {
      const Display display = Connect();
      const std::lock_guard<std::mutex> lock(attempt->mutex);
      if (attempt->givenUp) return Disconnect(display);
      attempt->display = display;
      attempt->finished = true;
      const std::uint64_t one = 1;
      if (write(attempt->finishedSignal, &one, sizeof one) < 0) return;
    }).detach();
  } catch (const std::system_error&) {
    return;
  }
  // An end signal only shows here; the form's loop takes it.
  pollfd fds[2] = {{attempt->finishedSignal, POLLIN, 0}, {endSignals, POLLIN, 0}};
  const int timeout = static_cast<int>(deadline.count());
  for (int interrupted = 0; poll(fds, 2, timeout) < 0 && errno == EINTR && interrupted < 3; ++interrupted) {
  }
  const std::lock_guard<std::mutex> lock(attempt->mutex);
  if (!attempt->finished) {
    attempt->givenUp = true;
    return;
  }
  connection_->wayland = attempt->display.wayland;
  connection_->x = attempt->display.x;
  connection_->screen = attempt->display.screen;
  WaylandScreens& screens = connection_->wl;
  screens.changed = &connection_->changed;
  // The outputs come as globals, taken in as the connection is read.
  if (connection_->wayland != nullptr && (screens.registry = wl_display_get_registry(connection_->wayland)) != nullptr) {
    wl_registry_add_listener(screens.registry, &kRegistryListener, &screens);
    wl_display_flush(connection_->wayland);
  }
}

SessionWatch::~SessionWatch() {
  if (Held() == this) Hold(nullptr);
  WaylandScreens& screens = connection_->wl;
  for (const auto& output : screens.outputs) Forget(output.get());
  if (screens.xdgOutputs != nullptr) zxdg_output_manager_v1_destroy(screens.xdgOutputs);
  if (screens.registry != nullptr) wl_registry_destroy(screens.registry);
  Disconnect({connection_->wayland, connection_->x, 0});
  delete connection_;
}

int SessionWatch::Descriptor() const {
  if (connection_->wayland != nullptr) return wl_display_get_fd(connection_->wayland);
  if (connection_->x != nullptr) return xcb_get_file_descriptor(connection_->x);
  return -1;
}

bool SessionWatch::Ended() {
  if (connection_->wayland != nullptr) {
    // Only the outputs' events are listened to; the end of the connection fails the read.
    return wl_display_dispatch(connection_->wayland) < 0;
  }
  if (connection_->x != nullptr) {
    // RandR's are the only events selected; the server's few unasked ones are dropped.
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection_->x)) {
      TakeEvent(event);
      std::free(event);
    }
    return xcb_connection_has_error(connection_->x) != 0;
  }
  return false;
}

void SessionWatch::TakeQueued() {
  if (connection_->x == nullptr) return;
  while (xcb_generic_event_t* event = xcb_poll_for_queued_event(connection_->x)) {
    TakeEvent(event);
    std::free(event);
  }
}

void SessionWatch::TakeEvent(const void* generic) {
  const auto* event = static_cast<const xcb_generic_event_t*>(generic);
  const int type = event->response_type & 0x7f;
  if (connection_->randr && (type == connection_->randrEvents + XCB_RANDR_SCREEN_CHANGE_NOTIFY ||
                             type == connection_->randrEvents + XCB_RANDR_NOTIFY))
    connection_->changed = true;
}

// An event is no change by itself: sway, for one, describes an output anew whenever
// its background is set.
bool SessionWatch::TakeLayoutChanged() {
  if (!connection_->changed) return false;
  const std::vector<Monitor> before = connection_->layout;
  std::vector<Monitor> now;
  if (Monitors(&now)) return !Same(now, before);
  connection_->changed = true;  // asked again at the next tick
  return false;
}

// RandR's version and events, asked once. Its major opcode comes from xcb's own cache
// of the extension, which the prefetch fills: its answer comes before ours, so reading
// the cache after ours does not wait.
bool SessionWatch::AskRandr(std::chrono::steady_clock::time_point deadline) {
  Connection& c = *connection_;
  if (c.randrAsked) return c.randr;
  c.randrAsked = true;
  xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(c.x));
  for (int skip = c.screen; skip > 0 && screens.rem > 0; --skip) xcb_screen_next(&screens);
  if (screens.rem <= 0) return false;
  c.root = screens.data->root;
  xcb_prefetch_extension_data(c.x, &xcb_randr_id);
  const auto present = Own(Answer<xcb_query_extension_reply_t>(c.x, xcb_query_extension(c.x, 5, "RANDR").sequence, deadline));
  if (present == nullptr || present->present == 0) return false;
  const xcb_query_extension_reply_t* randr = xcb_get_extension_data(c.x, &xcb_randr_id);
  if (randr == nullptr || randr->present == 0) return false;
  const auto version =
      Own(Answer<xcb_randr_query_version_reply_t>(c.x, xcb_randr_query_version(c.x, 1, 5).sequence, deadline));
  if (version == nullptr) return false;
  c.randr = true;
  c.randrEvents = randr->first_event;
  c.randrMonitors = version->major_version > 1 || (version->major_version == 1 && version->minor_version >= 5);
  xcb_randr_select_input(c.x, c.root,
                         XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE | XCB_RANDR_NOTIFY_MASK_CRTC_CHANGE |
                             XCB_RANDR_NOTIFY_MASK_OUTPUT_CHANGE);
  xcb_flush(c.x);
  return true;
}

bool SessionWatch::Monitors(std::vector<Monitor>* monitors) {
  monitors->clear();
  const auto deadline = Clock::now() + kAnswerDeadline;
  Connection& c = *connection_;
  if (c.wayland != nullptr) {
    if (c.wl.registry == nullptr) return false;
    // Until a round brings no new output: a new one's description comes a round later.
    unsigned bound = c.wl.bound + 1;
    for (int round = 0; round < 4 && bound != c.wl.bound; ++round) {
      bound = c.wl.bound;
      if (!Roundtrip(c.wayland, deadline)) return false;
    }
    for (const auto& output : c.wl.outputs) {
      Monitor monitor{output->name, output->logicalX, output->logicalY, output->logicalWidth, output->logicalHeight, false};
      if (output->xdg == nullptr || monitor.width <= 0 || monitor.height <= 0) {
        // The mode's pixels, turned and scaled as the compositor lays them out.
        const bool turned = (output->transform & 1) != 0;
        monitor = {output->name, output->x, output->y, (turned ? output->modeHeight : output->modeWidth) / output->scale,
                   (turned ? output->modeWidth : output->modeHeight) / output->scale, false};
      }
      if (monitor.width > 0 && monitor.height > 0) monitors->push_back(monitor);
    }
    // Wayland has no primary output: the one at the origin stands for it.
    const auto origin = std::find_if(monitors->begin(), monitors->end(), [](const Monitor& m) { return m.x == 0 && m.y == 0; });
    if (origin != monitors->end()) origin->primary = true, std::rotate(monitors->begin(), origin, origin + 1);
    if (!monitors->empty()) monitors->front().primary = true;
    c.changed = false;
    c.layout = *monitors;
    return true;
  }
  if (c.x == nullptr) return false;
  if (!AskRandr(deadline) || !c.randrMonitors) {
    // An X server without RandR 1.5: its screen as one monitor.
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(c.x));
    for (int skip = c.screen; skip > 0 && screens.rem > 0; --skip) xcb_screen_next(&screens);
    if (screens.rem <= 0 || xcb_connection_has_error(c.x) != 0) return false;
    monitors->push_back({"", 0, 0, screens.data->width_in_pixels, screens.data->height_in_pixels, true});
    c.layout = *monitors;
    return true;
  }
  c.changed = false;
  const auto listed = Own(Answer<xcb_randr_get_monitors_reply_t>(c.x, xcb_randr_get_monitors(c.x, c.root, 1).sequence, deadline));
  if (listed == nullptr) return false;
  std::vector<xcb_get_atom_name_cookie_t> names;
  for (auto it = xcb_randr_get_monitors_monitors_iterator(listed.get()); it.rem > 0; xcb_randr_monitor_info_next(&it)) {
    const xcb_randr_monitor_info_t& info = *it.data;
    names.push_back(xcb_get_atom_name(c.x, info.name));
    monitors->push_back({"", info.x, info.y, info.width, info.height, info.primary != 0});
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    const auto name = Own(Answer<xcb_get_atom_name_reply_t>(c.x, names[i].sequence, deadline));
    if (name == nullptr) {
      for (std::size_t rest = i + 1; rest < names.size(); ++rest) xcb_discard_reply(c.x, names[rest].sequence);
      monitors->clear();
      return false;
    }
    (*monitors)[i].name.assign(xcb_get_atom_name_name(name.get()), static_cast<std::size_t>(xcb_get_atom_name_name_length(name.get())));
  }
  monitors->erase(std::remove_if(monitors->begin(), monitors->end(), [](const Monitor& m) { return m.width <= 0 || m.height <= 0; }),
                  monitors->end());
  std::stable_partition(monitors->begin(), monitors->end(), [](const Monitor& m) { return m.primary; });
  c.layout = *monitors;
  return true;
}

namespace {
SessionWatch* held = nullptr;
}  // namespace

SessionWatch* SessionWatch::Held() { return held; }
void SessionWatch::Hold(SessionWatch* watch) { held = watch; }

}  // namespace posix
}  // namespace platform
