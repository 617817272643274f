#pragma once
// The graphical session this process belongs to, watched through a connection to its
// display: the Wayland compositor when WAYLAND_DISPLAY is set, otherwise the X server
// of DISPLAY. The connection is held for the life of the process and ends when the
// session's display goes away. The session bus is no sign: it may outlive the session.
// The monitors are read on the same connection, and their changes seen there.
#include <chrono>
#include <vector>

#include "platform/screen.h"

struct wl_display;

namespace platform {
namespace posix {

// wl_display_roundtrip with a deadline: true when the compositor answered in time.
bool Roundtrip(wl_display* display, std::chrono::steady_clock::time_point deadline);

class SessionWatch {
 public:
  // Connects to the display of this process's environment, waiting for its answer until
  // the deadline, or until an end signal shows on endSignals (a signalfd; -1: none).
  // Nothing is watched when there is no display, or when it cannot be reached or does
  // not answer in that time: the program then goes on without a session to watch.
  explicit SessionWatch(int endSignals = -1, std::chrono::milliseconds deadline = std::chrono::seconds(3));
  ~SessionWatch();
  SessionWatch(const SessionWatch&) = delete;
  SessionWatch& operator=(const SessionWatch&) = delete;

  // The connection's descriptor to poll for input, or -1 when nothing is watched.
  int Descriptor() const;
  // Takes in what the display sent, once the descriptor is readable or hung up; true
  // when the connection is gone: the session has ended.
  bool Ended();

  // The monitors as the display has them now (RandR's monitors; Wayland's outputs at
  // their logical place and size), the primary first; asked with a deadline. False when
  // nothing is watched or the display did not answer in time.
  bool Monitors(std::vector<Monitor>* monitors);
  // True once after the display told of a monitor added, removed, turned, moved or
  // resized since the monitors were last read.
  bool TakeLayoutChanged();
  // Takes in the events read off the connection while waiting for an answer, which the
  // descriptor no longer shows.
  void TakeQueued();

  // The connection the hidden form holds for its life, or null outside it.
  static SessionWatch* Held();
  static void Hold(SessionWatch* watch);

 private:
  void TakeEvent(const void* event);
  bool AskRandr(std::chrono::steady_clock::time_point deadline);
  struct Connection;
  Connection* connection_;
};

}  // namespace posix
}  // namespace platform
