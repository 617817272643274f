// Placeholder until the backend lands.
#include "platform/files.h"

namespace platform {
namespace {
class NoFiles : public Files {
 public:
  Handle CreateFileA(const std::string&) override { return kInvalidHandle; }
  bool WriteFile(Handle, const void*, std::uint32_t, std::uint32_t*) override { return false; }
  bool CloseHandle(Handle) override { return false; }
  bool MoveFileReplace(const std::string&, const std::string&) override { return false; }
  bool DeleteFileA(const std::string&) override { return false; }
  std::uint32_t GetLastError() override { return 0; }
  std::string FormatMessageA(std::uint32_t) override { return {}; }
  Handle GlobalAlloc(std::size_t) override { return 0; }
  void* GlobalLock(Handle) override { return nullptr; }
  bool GlobalUnlock(Handle) override { return false; }
  Handle GlobalFree(Handle) override { return 0; }
};
}  // namespace
Files& SystemFiles() { static NoFiles files; return files; }
}  // namespace platform
