#include <windows.h>

#include "platform/screen.h"

namespace platform {

bool PrimaryScreenSize(int* width, int* height) {
  *width = GetSystemMetrics(SM_CXSCREEN);
  *height = GetSystemMetrics(SM_CYSCREEN);
  return *width > 0 && *height > 0;
}

// Not read yet: every monitor is handed the one wp.bmp.
std::vector<Monitor> MonitorLayout() { return {}; }

}  // namespace platform
