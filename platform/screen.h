#pragma once
// The screens of this session: the primary one's size, for pictures that fill it
// without being stretched, and every attached monitor, for a picture per monitor.
#include <string>
#include <vector>

namespace platform {

// False when there is no display to ask (a console, an ssh session, a build machine).
bool PrimaryScreenSize(int* width, int* height);

// One attached monitor, in the desktop's own pixels, at its place in the whole
// screen (x and y may be negative left of or above the primary monitor). The name is
// the system's own for the output ("HDMI-1", "\\.\DISPLAY2"); a rotated monitor has
// its rotated size.
struct Monitor {
  std::string name;
  int x = 0, y = 0, width = 0, height = 0;
  bool primary = false;
};

// Every attached monitor with a mode, the primary first, from the connection the
// program already holds to its display. Empty where there is no display to ask.
std::vector<Monitor> MonitorLayout();

}  // namespace platform
