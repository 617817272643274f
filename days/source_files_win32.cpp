// Windows: a calendar file is read as it is; the machine's list is HKEY_LOCAL_MACHINE.
#include <windows.h>

#include "days/days.h"
#include "days/source_files.h"

namespace zorvani {
namespace days {

namespace {

// A handle's stamp: the volume and file index stand for device and inode, the last write
// time (100 ns ticks) for the modification time.
bool StampOf(HANDLE file, FileStamp* stamp) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileInformationByHandle(file, &info) == 0) return false;
  stamp->device = info.dwVolumeSerialNumber;
  stamp->inode = static_cast<std::uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
  stamp->size = static_cast<std::uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
  const std::uint64_t written =
      static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32 | info.ftLastWriteTime.dwLowDateTime;
  stamp->modifiedSeconds = static_cast<std::int64_t>(written / 10000000u);
  stamp->modifiedNanoseconds = static_cast<std::int64_t>(written % 10000000u * 100u);
  // FAT keeps write times to 2 s; NTFS's follow the system clock's tick.
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  const std::uint64_t nowTicks = static_cast<std::uint64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime;
  // A time further ahead of the clock than FAT's rounding holds at once: the next write
  // gives the file another.
  stamp->settled = written + 30000000u <= nowTicks || written > nowTicks + 30000000u;
  return true;
}

// Only a file on a disk: a device (CON, a pipe's name) could keep the refresh waiting.
HANDLE OpenDiskFile(const std::string& path, DWORD access) {
  const HANDLE file = CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return file;
  if (GetFileType(file) == FILE_TYPE_DISK) return file;
  CloseHandle(file);
  return INVALID_HANDLE_VALUE;
}

}  // namespace

std::optional<FileStamp> StampOfSourceFile(const std::string& path) {
  const HANDLE file = OpenDiskFile(path, FILE_READ_ATTRIBUTES);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  FileStamp stamp;
  const bool ok = StampOf(file, &stamp);
  CloseHandle(file);
  if (!ok) return std::nullopt;
  return stamp;
}

bool ReadSourceFile(const std::string& path, std::string* bytes, FileStamp* stamp) {
  bytes->clear();
  const HANDLE file = OpenDiskFile(path, GENERIC_READ);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size{};
  bool ok = GetFileSizeEx(file, &size) != 0 && size.QuadPart >= 0 &&
            static_cast<unsigned long long>(size.QuadPart) <= kMaxCalendarBytes && StampOf(file, stamp);
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

// A key's last write and its number of values stand for a file's time and size; a value
// is set whole, so a key's stamp holds at once.
bool ReadKeptMarks(std::string*) { return false; }
void KeepMarks(const std::string&) {}

ListStamps SourceListStamps() {
  ListStamps stamps;
  for (const HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    std::optional<FileStamp> stamp;
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, kSourcesKey, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
      DWORD values = 0;
      FILETIME written{};
      if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                           nullptr, &written) == ERROR_SUCCESS) {
        FileStamp made;
        made.size = values;
        made.modifiedSeconds = static_cast<std::int64_t>(written.dwHighDateTime);
        made.modifiedNanoseconds = static_cast<std::int64_t>(written.dwLowDateTime);
        made.settled = true;
        stamp = made;
      }
      RegCloseKey(key);
    }
    stamps.push_back(stamp);
  }
  return stamps;
}

std::vector<std::pair<std::string, std::string>> MachineFileSourceTexts() { return {}; }

}  // namespace days
}  // namespace zorvani
