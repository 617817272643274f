#include "platform/replace_file.h"

#include <cerrno>
#include <random>
#include <utility>

namespace platform {
namespace {

constexpr std::size_t kTagDigits = 8;
constexpr int kNameTries = 8;
constexpr std::uint32_t kLargestWrite = 1u << 30;

// Ours: "<base>.<8 hex digits>.tmp", and "<base>.tmp" of earlier versions.
bool IsTemporaryOf(const std::string& entry, const std::string& base) {
  if (entry == base + ".tmp") return true;
  if (entry.size() != base.size() + kTagDigits + 5 || entry.compare(0, base.size() + 1, base + ".") != 0 ||
      entry.compare(entry.size() - 4, 4, ".tmp") != 0) {
    return false;
  }
  return entry.find_first_not_of("0123456789abcdef", base.size() + 1) == base.size() + 1 + kTagDigits;
}

// The codes of a step refused for want of rights. Under Wine a file of another owner
// in a folder with the sticky bit (EPERM on rename) also arrives as ERROR_ACCESS_DENIED.
#ifdef _WIN32
bool IsDenial(std::uint32_t code) { return code == 5; }  // ERROR_ACCESS_DENIED
#else
bool IsDenial(std::uint32_t code) { return code == EACCES || code == EPERM; }
#endif

thread_local bool lastReplacementDenied = false;

}  // namespace

bool FileReplacement::denied() const { return IsDenial(error_); }

bool LastReplacementDenied() { return lastReplacementDenied; }

std::string TemporaryNameFor(const std::string& target) {
  static const char kHex[] = "0123456789abcdef";
  std::random_device random;
  std::string tag;
  for (std::uint32_t bits = random(); tag.size() < kTagDigits; bits >>= 4) tag += kHex[bits & 15];
  return target + "." + tag + ".tmp";
}

// Deleting a link deletes the link, never what it points at; a temporary that a running
// writer holds is refused by DeleteFileA and stays.
void RemoveLeftTemporaries(Files& files, const std::string& target) {
  const auto slash = target.find_last_of("\\/");
  const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  const std::string base = target.substr(folder.size());
  for (const std::string& entry : files.FolderEntries(folder)) {
    if (IsTemporaryOf(entry, base)) files.DeleteFileA(folder + entry);
  }
}

FileReplacement::FileReplacement(Files& files, std::string target) : files_(files), target_(std::move(target)) {}

FileReplacement::~FileReplacement() {
  Abandon();
  lastReplacementDenied = denied();
}

bool FileReplacement::Fail() {
  if (error_ == 0) error_ = files_.GetLastError();
  Abandon();
  return false;
}

bool FileReplacement::Create() {
  RemoveLeftTemporaries(files_, target_);
  for (int attempt = 0; attempt < kNameTries && file_ == kInvalidHandle; ++attempt) {
    temporary_ = TemporaryNameFor(target_);
    file_ = files_.CreateFileA(temporary_);
  }
  if (file_ == kInvalidHandle) {
    error_ = files_.GetLastError();
    temporary_.clear();
    return false;
  }
  return files_.KeepPermissions(file_, target_) || Fail();
}

bool FileReplacement::Write(const void* data, std::size_t size) {
  if (file_ == kInvalidHandle) return false;
  const auto* next = static_cast<const char*>(data);
  while (size > 0) {
    const auto count = static_cast<std::uint32_t>(size < kLargestWrite ? size : kLargestWrite);
    std::uint32_t written = 0;
    if (!files_.WriteFile(file_, next, count, &written)) return Fail();
    // A write that takes nothing and reports no error would loop for ever.
    if (written == 0 || written > count) return Fail();
    next += written;
    size -= written;
  }
  return true;
}

bool FileReplacement::Commit() {
  if (file_ == kInvalidHandle) return false;
  // On the disk before the rename: otherwise a crash can leave the new name on an empty file.
  if (!files_.FlushFileBuffers(file_)) return Fail();
  const Handle file = std::exchange(file_, kInvalidHandle);
  if (!files_.CloseHandle(file) || !files_.MoveFileReplace(temporary_, target_)) return Fail();
  temporary_.clear();
  return true;
}

void FileReplacement::Abandon() {
  if (file_ != kInvalidHandle) files_.CloseHandle(std::exchange(file_, kInvalidHandle));
  if (!temporary_.empty()) files_.DeleteFileA(std::exchange(temporary_, std::string()));
}

bool ReplaceFileWith(Files& files, const std::string& target, std::string_view bytes, std::string* error) {
  FileReplacement replacement(files, target);
  if (replacement.Create() && replacement.Write(bytes.data(), bytes.size()) && replacement.Commit()) return true;
  if (error != nullptr) {
    *error = "cannot write " + target;
    const std::string text = files.FormatMessageA(replacement.error());
    if (replacement.error() != 0 && !text.empty()) *error += ": " + text.substr(0, text.find_last_not_of("\r\n") + 1);
  }
  return false;
}

bool ReplaceFileWith(const std::string& target, std::string_view bytes, std::string* error) {
  return ReplaceFileWith(SystemFiles(), target, bytes, error);
}

}  // namespace platform
