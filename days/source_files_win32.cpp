// Windows: a calendar file is read as it is; the machine's list is HKEY_LOCAL_MACHINE.
#include <windows.h>
#include <aclapi.h>

#include <memory>

#include "days/days.h"
#include "days/fetch_parts.h"
#include "days/source_files.h"
#include "platform/replace_file.h"

namespace zorvani {
namespace days {

namespace {

// A handle's stamp: the volume and file index stand for device and inode, the last write
// time (100 ns ticks) for the modification time, NTFS's change time for the change time.
bool StampOf(HANDLE file, FileStamp* stamp) {
  BY_HANDLE_FILE_INFORMATION info{};
  FILE_BASIC_INFO basic{};
  if (GetFileInformationByHandle(file, &info) == 0 ||
      GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) == 0)
    return false;
  const auto changed = static_cast<std::uint64_t>(basic.ChangeTime.QuadPart);
  stamp->changedSeconds = static_cast<std::int64_t>(changed / 10000000u);
  stamp->changedNanoseconds = static_cast<std::int64_t>(changed % 10000000u * 100u);
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

// The rest of the file appended to bytes; false on a read error or past limit bytes in
// all, which also holds a file that grows while it is read.
bool ReadAtMost(HANDLE file, std::size_t limit, std::string* bytes) {
  char chunk[65536];
  for (;;) {
    DWORD n = 0;
    if (ReadFile(file, chunk, sizeof chunk, &n, nullptr) == 0 || bytes->size() + n > limit) return false;
    if (n == 0) return true;
    bytes->append(chunk, n);
  }
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
  ok = ok && ReadAtMost(file, kMaxCalendarBytes, bytes);
  CloseHandle(file);
  return ok;
}

namespace {

// Whether the file's owner is the user this process runs as. A file made by an elevated
// process belongs to Administrators and is not taken: the marks are made again.
bool OwnedByUser(HANDLE file) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                      &descriptor) != ERROR_SUCCESS)
    return false;
  const std::unique_ptr<void, decltype(&LocalFree)> held(descriptor, &LocalFree);
  HANDLE token = nullptr;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) == 0) return false;
  alignas(TOKEN_USER) char user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD size = 0;
  const bool ok = GetTokenInformation(token, TokenUser, user, sizeof user, &size) != 0 && owner != nullptr &&
                  EqualSid(owner, reinterpret_cast<TOKEN_USER*>(user)->User.Sid) != 0;
  CloseHandle(token);
  return ok;
}

}  // namespace

bool ReadKeptMarks(std::string* bytes) {
  bytes->clear();
  const std::string folder = fetching::CacheFolder();
  if (folder.empty()) return false;
  // The link or junction itself, never what it leads to.
  const HANDLE file = CreateFileA((folder + "\\month-marks").c_str(), GENERIC_READ | READ_CONTROL,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  bool ok = GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) != 0 &&
            (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0 &&
            info.nFileSizeHigh == 0 && info.nFileSizeLow <= kMaxKeptMarks && OwnedByUser(file);
  ok = ok && ReadAtMost(file, kMaxKeptMarks, bytes);
  CloseHandle(file);
  return ok;
}

void KeepMarks(const std::string& bytes) {
  const std::string folder = fetching::CacheFolder();
  if (!folder.empty() && fetching::MakeCacheFolder(folder)) platform::ReplaceFileWith(folder + "\\month-marks", bytes);
}

// A key's last write and its number of values stand for a file's time and size; a value
// is set whole, so a key's stamp holds at once.
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
