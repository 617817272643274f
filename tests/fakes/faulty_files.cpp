#include "fakes/faulty_files.h"

namespace fakes {

platform::Handle FaultyFiles::CreateFileA(const std::string& name) {
  const platform::Handle file = real_.CreateFileA(name);
  if (file != platform::kInvalidHandle) ++openFiles;
  return file;
}

bool FaultyFiles::WriteFile(platform::Handle file, const void* buffer, std::uint32_t count, std::uint32_t* written) {
  writeSizes.push_back(count);
  if (static_cast<int>(writeSizes.size()) == faultyWrite) {
    if (writeFault == Fault::kFail) {
      *written = 0;
      return false;
    }
    if (writeFault == Fault::kShort) return real_.WriteFile(file, buffer, count / 2, written);
  }
  return real_.WriteFile(file, buffer, count, written);
}

bool FaultyFiles::CloseHandle(platform::Handle file) {
  const bool closed = real_.CloseHandle(file);
  if (closed) --openFiles;
  return closed;
}

bool FaultyFiles::MoveFileReplace(const std::string& from, const std::string& to) {
  return !failMove && real_.MoveFileReplace(from, to);
}

bool FaultyFiles::DeleteFileA(const std::string& name) { return real_.DeleteFileA(name); }
std::uint32_t FaultyFiles::GetLastError() { return real_.GetLastError(); }
std::string FaultyFiles::FormatMessageA(std::uint32_t code) { return real_.FormatMessageA(code); }

platform::Handle FaultyFiles::GlobalAlloc(std::size_t size) {
  const platform::Handle block = real_.GlobalAlloc(size);
  if (block != 0) ++liveBlocks;
  return block;
}
void* FaultyFiles::GlobalLock(platform::Handle block) { return real_.GlobalLock(block); }
bool FaultyFiles::GlobalUnlock(platform::Handle block) { return real_.GlobalUnlock(block); }
platform::Handle FaultyFiles::GlobalFree(platform::Handle block) {
  const platform::Handle left = real_.GlobalFree(block);
  if (left == 0) --liveBlocks;
  return left;
}

}  // namespace fakes
