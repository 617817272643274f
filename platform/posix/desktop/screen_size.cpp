#include <cstdio>
#include <sstream>
#include <string>

#include "platform/posix/desktop/desktop_session.h"
#include "platform/posix/desktop/screen_size.h"
#include "platform/screen.h"

namespace platform {
namespace posix {

bool PrimaryMonitorOfXrandr(const std::string& output, int* width, int* height) {
  bool found = false;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    const std::size_t connected = line.find(" connected ");
    if (connected == std::string::npos) continue;
    const bool primary = line.compare(connected + 11, 8, "primary ") == 0;
    int w = 0, h = 0, x = 0, y = 0;
    const std::string geometry = line.substr(connected + (primary ? 19 : 11));
    if (std::sscanf(geometry.c_str(), "%dx%d+%d+%d", &w, &h, &x, &y) != 4 || w <= 0 || h <= 0) continue;
    if (!found || primary) {
      *width = w;
      *height = h;
      found = true;
    }
    if (primary) break;
  }
  return found;
}

}  // namespace posix

bool PrimaryScreenSize(int* width, int* height) {
  const posix::Session session = posix::Session::OfThisProcess();
  const std::string xrandr = session.FindProgram("xrandr");
  std::string output;
  return !session.Variable("DISPLAY").empty() && !xrandr.empty() &&
         session.Run({xrandr, "--current"}, &output) == posix::CommandResult::kSucceeded &&
         posix::PrimaryMonitorOfXrandr(output, width, height);
}

// Not read yet: every monitor is handed the one wp.bmp.
std::vector<Monitor> MonitorLayout() { return {}; }

}  // namespace platform
