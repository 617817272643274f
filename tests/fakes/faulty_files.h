#pragma once
// A Files that delegates to the linked backend but fails its Nth write (counted from 1; 0
// fails none) with nothing written, or with shortWrite reports it whole one byte short. It
// can also cut every write to longestWrite bytes, fail a create, the flush or a rename, plant something
// at a name just before it is created, and logs the calls that change files.
#include <functional>
#include <string>
#include <vector>

#include "platform/files.h"

namespace fakes {

class FaultyFiles : public platform::Files {
 public:
  int failingWrite = 0;
  int writes = 0;  // made so far, the failed one included
  bool shortWrite = false;
  std::uint32_t longestWrite = 0;  // 0: no limit
  bool failFlush = false;
  std::string failMoveTo;  // a rename onto this target fails
  std::string failCreateOf;  // creating a temporary of this target fails
  std::uint32_t failureCode = 0;  // the last-error code of an injected failure
  std::function<void(const std::string&)> beforeCreate;
  std::vector<std::string> calls;  // "create", "write", "flush", "close", "move", "delete"

  platform::Handle CreateFileA(const std::string& name) override {
    calls.push_back("create");
    if (beforeCreate) beforeCreate(name);
    if (!failCreateOf.empty() && name.rfind(failCreateOf, 0) == 0) return Injected(), platform::kInvalidHandle;
    return real_.CreateFileA(name);
  }
  bool WriteFile(platform::Handle file, const void* buffer, std::uint32_t count, std::uint32_t* written) override {
    calls.push_back("write");
    if (longestWrite != 0 && count > longestWrite) count = longestWrite;
    if (++writes != failingWrite) return real_.WriteFile(file, buffer, count, written);
    if (shortWrite) return real_.WriteFile(file, buffer, count - 1, written);
    *written = 0;
    return Injected();
  }
  bool FlushFileBuffers(platform::Handle file) override {
    calls.push_back("flush");
    return failFlush ? Injected() : real_.FlushFileBuffers(file);
  }
  bool CloseHandle(platform::Handle file) override { return calls.push_back("close"), real_.CloseHandle(file); }
  bool MoveFileReplace(const std::string& from, const std::string& to) override {
    calls.push_back("move");
    return to == failMoveTo ? Injected() : real_.MoveFileReplace(from, to);
  }
  bool DeleteFileA(const std::string& name) override { return calls.push_back("delete"), real_.DeleteFileA(name); }
  std::uint32_t GetLastError() override { return injected_ ? failureCode : real_.GetLastError(); }

  // Passed through.
  bool KeepPermissions(platform::Handle file, const std::string& target) override {
    return real_.KeepPermissions(file, target);
  }
  std::vector<std::string> FolderEntries(const std::string& folder) override { return real_.FolderEntries(folder); }
  std::string FormatMessageA(std::uint32_t code) override { return real_.FormatMessageA(code); }
  platform::Handle GlobalAlloc(std::size_t size) override { return real_.GlobalAlloc(size); }
  void* GlobalLock(platform::Handle block) override { return real_.GlobalLock(block); }
  bool GlobalUnlock(platform::Handle block) override { return real_.GlobalUnlock(block); }
  platform::Handle GlobalFree(platform::Handle block) override { return real_.GlobalFree(block); }

 private:
  bool Injected() { return injected_ = true, false; }
  platform::Files& real_ = platform::SystemFiles();
  bool injected_ = false;
};

}  // namespace fakes
