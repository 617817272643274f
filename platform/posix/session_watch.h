#pragma once
// The graphical session this process belongs to, watched through a connection to its
// display: the Wayland compositor when WAYLAND_DISPLAY is set, otherwise the X server
// of DISPLAY. The connection is held for the life of the process and ends when the
// session's display goes away. The session bus is no sign: it may outlive the session.
#include <chrono>

namespace platform {
namespace posix {

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

 private:
  struct Connection;
  Connection* connection_;
};

}  // namespace posix
}  // namespace platform
