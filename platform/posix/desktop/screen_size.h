#pragma once
#include <string>

namespace platform {
namespace posix {

// The primary monitor in what "xrandr --current" prints, on X11 and under XWayland
// alike ("HDMI-1 connected primary 1920x1080+0+0 ..."), else the first connected
// monitor with a mode; false when none has one.
bool PrimaryMonitorOfXrandr(const std::string& output, int* width, int* height);

}  // namespace posix
}  // namespace platform
