// Windows: a calendar file is read as it is; the machine's list is HKEY_LOCAL_MACHINE.
#include <windows.h>

#include "days/days.h"
#include "days/source_files.h"

namespace zorvani {
namespace days {

bool ReadSourceFile(const std::string& path, std::string* bytes) {
  bytes->clear();
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  // Only a file on a disk: a device (CON, a pipe's name) could keep the refresh waiting.
  LARGE_INTEGER size{};
  bool ok = GetFileType(file) == FILE_TYPE_DISK && GetFileSizeEx(file, &size) != 0 && size.QuadPart >= 0 &&
            static_cast<unsigned long long>(size.QuadPart) <= kMaxCalendarBytes;
  char chunk[65536];
  while (ok) {
    DWORD n = 0;
    ok = ReadFile(file, chunk, sizeof chunk, &n, nullptr) != 0;
    if (!ok || n == 0) break;
    // A file that grows while it is read is held to the same bound.
    ok = bytes->size() + n <= kMaxCalendarBytes;
    if (ok) bytes->append(chunk, n);
  }
  CloseHandle(file);
  return ok;
}

std::vector<std::pair<std::string, std::string>> MachineFileSourceTexts() { return {}; }

}  // namespace days
}  // namespace zorvani
