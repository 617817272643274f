// The file and memory calls of the bitmap writer and of files replaced whole: kernel32,
// ANSI entry points.
#include <windows.h>

#include "platform/files.h"

namespace platform {
namespace {

// Held right after each call, so that nothing the C++ runtime does in between can
// change the code the writer reports.
thread_local DWORD lastError = 0;

template <typename T>
T Track(T result) {
  lastError = ::GetLastError();
  return result;
}

HANDLE ToHandle(Handle h) { return reinterpret_cast<HANDLE>(h); }

class Win32Files : public Files {
 public:
  Handle CreateFileA(const std::string& name) override {
    // A new file only; with FILE_FLAG_OPEN_REPARSE_POINT a planted link counts as a
    // file that exists instead of being followed.
    const HANDLE file = Track(::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    return file == INVALID_HANDLE_VALUE ? kInvalidHandle : reinterpret_cast<Handle>(file);
  }

  // A new file takes its folder's access rules, as the target did.
  bool KeepPermissions(Handle, const std::string&) override { return true; }

  bool WriteFile(Handle file, const void* buffer, std::uint32_t count, std::uint32_t* written) override {
    DWORD done = 0;
    const BOOL ok = Track(::WriteFile(ToHandle(file), buffer, count, &done, nullptr));
    if (written != nullptr) *written = done;
    return ok != FALSE;
  }

  bool FlushFileBuffers(Handle file) override { return Track(::FlushFileBuffers(ToHandle(file))) != FALSE; }

  bool CloseHandle(Handle file) override { return Track(::CloseHandle(ToHandle(file))) != FALSE; }

  bool MoveFileReplace(const std::string& from, const std::string& to) override {
    return Track(::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) != FALSE;
  }

  bool DeleteFileA(const std::string& name) override { return Track(::DeleteFileA(name.c_str())) != FALSE; }

  std::vector<std::string> FolderEntries(const std::string& folder) override {
    std::vector<std::string> names;
    std::string pattern = folder.empty() ? "." : folder;
    if (pattern.back() != '\\' && pattern.back() != '/') pattern += '\\';
    WIN32_FIND_DATAA found{};
    const HANDLE search = ::FindFirstFileA((pattern + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
      const std::string name = found.cFileName;
      if (name != "." && name != "..") names.push_back(name);
    } while (::FindNextFileA(search, &found));
    ::FindClose(search);
    return names;
  }

  std::uint32_t GetLastError() override { return lastError; }

  std::string FormatMessageA(std::uint32_t code) override {
    char buffer[256] = {};
    const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                     buffer, sizeof buffer, nullptr);
    return std::string(buffer, n);
  }

  Handle GlobalAlloc(std::size_t size) override {
    return reinterpret_cast<Handle>(Track(::GlobalAlloc(GMEM_ZEROINIT | GMEM_FIXED, size)));
  }
  void* GlobalLock(Handle block) override { return Track(::GlobalLock(reinterpret_cast<HGLOBAL>(block))); }
  bool GlobalUnlock(Handle block) override { return Track(::GlobalUnlock(reinterpret_cast<HGLOBAL>(block))) != FALSE; }
  Handle GlobalFree(Handle block) override {
    return reinterpret_cast<Handle>(Track(::GlobalFree(reinterpret_cast<HGLOBAL>(block))));
  }
};

}  // namespace

Files& SystemFiles() {
  static Win32Files files;
  return files;
}

}  // namespace platform
