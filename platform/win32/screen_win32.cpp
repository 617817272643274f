#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/screen.h"

namespace platform {

bool PrimaryScreenSize(int* width, int* height) {
  *width = GetSystemMetrics(SM_CXSCREEN);
  *height = GetSystemMetrics(SM_CYSCREEN);
  return *width > 0 && *height > 0;
}

namespace {

// "\\.\DISPLAY2" as UTF-8; the device names are ASCII in practice.
std::string Utf8(const wchar_t* text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, nullptr, nullptr);
  out.pop_back();
  return out;
}

BOOL CALLBACK AddMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM list) {
  MONITORINFOEXW info{};
  info.cbSize = sizeof info;
  if (!GetMonitorInfoW(monitor, &info)) return TRUE;
  Monitor m;
  m.name = Utf8(info.szDevice);
  m.x = info.rcMonitor.left;
  m.y = info.rcMonitor.top;
  m.width = info.rcMonitor.right - info.rcMonitor.left;
  m.height = info.rcMonitor.bottom - info.rcMonitor.top;
  m.primary = (info.dwFlags & MONITORINFOF_PRIMARY) != 0;
  if (m.width > 0 && m.height > 0) reinterpret_cast<std::vector<Monitor>*>(list)->push_back(m);
  return TRUE;
}

}  // namespace

// In physical pixels: the manifest makes the program per-monitor DPI aware, so no
// monitor's size is scaled down to 96 dpi.
std::vector<Monitor> MonitorLayout() {
  std::vector<Monitor> layout;
  EnumDisplayMonitors(nullptr, nullptr, AddMonitor, reinterpret_cast<LPARAM>(&layout));
  std::stable_partition(layout.begin(), layout.end(), [](const Monitor& m) { return m.primary; });
  return layout;
}

}  // namespace platform
