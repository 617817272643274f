#include <vector>

#include "platform/posix/session_watch.h"
#include "platform/screen.h"

namespace platform {

// On the form's connection, which also sees the changes; the tools, which hold none,
// make one of their own with the same deadline.
std::vector<Monitor> MonitorLayout() {
  std::vector<Monitor> monitors;
  if (posix::SessionWatch* held = posix::SessionWatch::Held()) {
    held->Monitors(&monitors);
    return monitors;
  }
  posix::SessionWatch own;
  own.Monitors(&monitors);
  return monitors;
}

bool PrimaryScreenSize(int* width, int* height) {
  const std::vector<Monitor> monitors = MonitorLayout();
  if (monitors.empty()) return false;
  *width = monitors.front().width;
  *height = monitors.front().height;
  return true;
}

}  // namespace platform
