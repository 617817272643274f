#include "platform/posix/session_watch.h"

#include <wayland-client-core.h>
#include <xcb/xcb.h>

#include <cstdlib>

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

}  // namespace

SessionWatch::SessionWatch() : connection_(new Connection) {
  // Under a Wayland compositor DISPLAY may name an Xwayland that is started on demand
  // and ended when idle: the compositor is the session.
  if (Set("WAYLAND_DISPLAY") || Set("WAYLAND_SOCKET")) {
    connection_->wayland = wl_display_connect(nullptr);
    if (connection_->wayland != nullptr) return;
  }
  if (Set("DISPLAY")) {
    connection_->x = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection_->x) != 0) {
      xcb_disconnect(connection_->x);
      connection_->x = nullptr;
    }
  }
}

SessionWatch::~SessionWatch() {
  if (connection_->wayland != nullptr) wl_display_disconnect(connection_->wayland);
  if (connection_->x != nullptr) xcb_disconnect(connection_->x);
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
