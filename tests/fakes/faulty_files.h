#pragma once
// A Files that delegates to the linked backend and can make the Nth write fail or
// write only half its bytes, or the final move fail; it counts open file handles.
#include <string>
#include <vector>

#include "platform/files.h"

namespace fakes {

class FaultyFiles : public platform::Files {
 public:
  enum class Fault { kNone, kFail, kShort };
  Fault writeFault = Fault::kNone;
  int faultyWrite = 0;  // 1-based number of the write that goes wrong
  bool failMove = false;

  int openFiles = 0;
  int liveBlocks = 0;
  std::vector<std::uint32_t> writeSizes;  // asked-for size of each write

  platform::Handle CreateFileA(const std::string& name) override;
  bool WriteFile(platform::Handle file, const void* buffer, std::uint32_t count, std::uint32_t* written) override;
  bool CloseHandle(platform::Handle file) override;
  bool MoveFileReplace(const std::string& from, const std::string& to) override;
  bool DeleteFileA(const std::string& name) override;
  std::uint32_t GetLastError() override;
  std::string FormatMessageA(std::uint32_t code) override;
  platform::Handle GlobalAlloc(std::size_t size) override;
  void* GlobalLock(platform::Handle block) override;
  bool GlobalUnlock(platform::Handle block) override;
  platform::Handle GlobalFree(platform::Handle block) override;

 private:
  platform::Files& real_ = platform::SystemFiles();
};

}  // namespace fakes
