#pragma once
// The file and memory services of the bitmap writer and of every file replaced whole
// (platform/replace_file.h), under their Windows names.
// The Win32 backend calls kernel32; the POSIX backend uses POSIX files and strerror.
// Virtual so that tests can make the Nth write fail or write short.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/handle.h"

namespace platform {

constexpr Handle kInvalidHandle = ~Handle{0};  // INVALID_HANDLE_VALUE

class Files {
 public:
  virtual ~Files() = default;

  // CreateFileA(name, GENERIC_READ | GENERIC_WRITE, share mode 0, no security,
  // CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, no template): a
  // new file only, never one that exists and never through a link (O_CREAT | O_EXCL |
  // O_NOFOLLOW). kInvalidHandle on failure, with the last-error code set.
  virtual Handle CreateFileA(const std::string& name) = 0;
  // The permission bits of target, when it is a regular file (not followed through a
  // link), onto a new file that is to replace it; nothing on Windows, where a new file
  // takes its folder's.
  virtual bool KeepPermissions(Handle file, const std::string& target) = 0;
  virtual bool WriteFile(Handle file, const void* buffer, std::uint32_t count, std::uint32_t* written) = 0;
  // The file's data on the disk (fsync).
  virtual bool FlushFileBuffers(Handle file) = 0;
  virtual bool CloseHandle(Handle file) = 0;
  // MoveFileExA with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH: puts a finished
  // file in place in one step, the rename itself on the disk when it returns.
  virtual bool MoveFileReplace(const std::string& from, const std::string& to) = 0;
  // Fails, as on Windows, while another opener holds a file made by CreateFileA.
  virtual bool DeleteFileA(const std::string& name) = 0;
  // The names in a folder ("" and "." both mean the current one), without "." and "..".
  virtual std::vector<std::string> FolderEntries(const std::string& folder) = 0;
  // The last-error code of the preceding call on this thread.
  virtual std::uint32_t GetLastError() = 0;
  // FormatMessageA(0x1200, ...) into a 256-character buffer: the text, or empty when
  // the system has none for the code.
  virtual std::string FormatMessageA(std::uint32_t code) = 0;

  // GlobalAlloc(GMEM_ZEROINIT, size) and friends, for the zero-filled header block.
  virtual Handle GlobalAlloc(std::size_t size) = 0;
  virtual void* GlobalLock(Handle block) = 0;
  virtual bool GlobalUnlock(Handle block) = 0;
  virtual Handle GlobalFree(Handle block) = 0;
};

Files& SystemFiles();

}  // namespace platform
