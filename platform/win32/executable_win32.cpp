#include <windows.h>

#include "platform/process.h"

namespace platform {

std::string ExecutablePath() {
  std::string path(MAX_PATH, '\0');
  for (;;) {
    const DWORD n = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);  // a long path was cut; ask again with room for it
  }
}

bool ProgramFileGone() {
  const std::string path = ExecutablePath();
  if (path.empty() || GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) return false;
  const DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool InstallationRunning() {
  HANDLE installing = OpenMutexA(SYNCHRONIZE, FALSE, "Global\\_MSIExecute");
  if (installing == nullptr) return false;
  CloseHandle(installing);
  return true;
}

}  // namespace platform
