#pragma once
// A Files that delegates to the linked backend but fails its Nth write (counted from 1;
// 0 fails none) with nothing written: FaultyFiles files(3) fails the third write. With
// shortWrite the Nth write reports success having written one byte less.
#include <string>

#include "platform/files.h"

namespace fakes {

class FaultyFiles : public platform::Files {
 public:
  explicit FaultyFiles(int failing = 0) : failingWrite(failing) {}
  int failingWrite;
  int writes = 0;  // made so far, the failed one included
  bool shortWrite = false;

  platform::Handle CreateFileA(const std::string& name) override { return real_.CreateFileA(name); }
  bool WriteFile(platform::Handle file, const void* buffer, std::uint32_t count, std::uint32_t* written) override {
    if (++writes != failingWrite) return real_.WriteFile(file, buffer, count, written);
    if (shortWrite) return real_.WriteFile(file, buffer, count - 1, written);
    *written = 0;
    return false;
  }
  bool FlushFileBuffers(platform::Handle file) override { return real_.FlushFileBuffers(file); }
  bool CloseHandle(platform::Handle file) override { return real_.CloseHandle(file); }
  bool MoveFileReplace(const std::string& from, const std::string& to) override { return real_.MoveFileReplace(from, to); }
  bool DeleteFileA(const std::string& name) override { return real_.DeleteFileA(name); }
  std::vector<std::string> FolderEntries(const std::string& folder) override { return real_.FolderEntries(folder); }
  std::uint32_t GetLastError() override { return real_.GetLastError(); }
  std::string FormatMessageA(std::uint32_t code) override { return real_.FormatMessageA(code); }
  platform::Handle GlobalAlloc(std::size_t size) override { return real_.GlobalAlloc(size); }
  void* GlobalLock(platform::Handle block) override { return real_.GlobalLock(block); }
  bool GlobalUnlock(platform::Handle block) override { return real_.GlobalUnlock(block); }
  platform::Handle GlobalFree(platform::Handle block) override { return real_.GlobalFree(block); }

 private:
  platform::Files& real_ = platform::SystemFiles();
};

}  // namespace fakes
