#include "platform/posix/session_watch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <wayland-client-core.h>
#include <xcb/xcb.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace platform {
namespace posix {

struct SessionWatch::Connection {
  wl_display* wayland = nullptr;
  xcb_connection_t* x = nullptr;
};

namespace {

bool Set(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

struct Display {
  wl_display* wayland = nullptr;
  xcb_connection_t* x = nullptr;
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
    display.x = xcb_connect(nullptr, nullptr);
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
}

SessionWatch::~SessionWatch() {
  Disconnect({connection_->wayland, connection_->x});
  delete connection_;
}

int SessionWatch::Descriptor() const {
  if (connection_->wayland != nullptr) return wl_display_get_fd(connection_->wayland);
  if (connection_->x != nullptr) return xcb_get_file_descriptor(connection_->x);
  return -1;
}

bool SessionWatch::Ended() {
  if (connection_->wayland != nullptr) {
    // Nothing was asked, so nothing but the end of the connection arrives; events
    // that do come are read and dropped.
    return wl_display_dispatch(connection_->wayland) < 0;
  }
  if (connection_->x != nullptr) {
    // No event was selected; the server's few unasked ones (MappingNotify) are dropped.
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection_->x)) std::free(event);
    return xcb_connection_has_error(connection_->x) != 0;
  }
  return false;
}

}  // namespace posix
}  // namespace platform
