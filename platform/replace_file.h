#pragma once
// Replacing a file whole, for the program and its tools alike: the new bytes go to a
// temporary beside the target, "<name>.<8 hex digits>.tmp", made only if no file of that
// name exists and never through a link, written out whole, flushed to the disk and
// renamed over the target (write-through on Windows; on Linux the folder is synced too).
// A reader sees the old file or the new one, never part of one, and a crash leaves one
// of them. A leftover of the pattern (or a "<name>.tmp" of earlier versions) goes at the
// next replace of the same target, unless its writer still holds it open.
//
// It runs on the platform Files calls, so the same steps run on both systems and a test
// can fail or watch any one of them.
#include <cstddef>
#include <string>
#include <string_view>

#include "platform/files.h"

namespace platform {

// One replacement, step by step, for a writer that sends its bytes itself (the bitmap
// writer keeps its own checks on each write). A replacement that is not committed
// removes its temporary when it goes.
class FileReplacement {
 public:
  FileReplacement(Files& files, std::string target);
  ~FileReplacement();
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;

  // Removes the target's leftovers and makes the temporary; a name already taken, by
  // chance or planted, gets another. False with Files::GetLastError() set on failure.
  bool Create();
  Handle file() const { return file_; }
  // All of it, a short write continued where it stopped.
  bool Write(const void* data, std::size_t size);
  // Flush, close, rename over the target. False, with the temporary gone, on failure.
  bool Commit();
  // Closes and removes the temporary; the target stays as it was.
  void Abandon();
  // The system error code of the first step that failed, 0 when none did.
  std::uint32_t error() const { return error_; }
  // That step was refused for want of rights (Windows: ERROR_ACCESS_DENIED).
  bool denied() const;

 private:
  bool Fail();
  Files& files_;
  std::string target_, temporary_;
  Handle file_ = kInvalidHandle;
  std::uint32_t error_ = 0;
};

// Whether the last replacement on this thread that has gone failed for want of rights,
// for a caller that hears only "failed" from the writer in between (SavePicture).
bool LastReplacementDenied();

// The whole replacement with bytes. On failure, *error (when given) gets
// "cannot write TARGET: <system text>" and the target is as it was.
bool ReplaceFileWith(Files& files, const std::string& target, std::string_view bytes, std::string* error = nullptr);
bool ReplaceFileWith(const std::string& target, std::string_view bytes, std::string* error = nullptr);

// The pieces, for a replacement made of something other than bytes: a fresh temporary
// name for target, and the removal of its leftovers.
std::string TemporaryNameFor(const std::string& target);
void RemoveLeftTemporaries(Files& files, const std::string& target);

#ifndef _WIN32
// The same for a symbolic link: LINK becomes a link to pointsTo in one rename, whatever
// stood there, and nothing is followed on the way.
bool ReplaceWithLink(const std::string& link, const std::string& pointsTo, std::string* error = nullptr);

// Opens a file to read without waiting (a FIFO or a device in its place cannot stall the
// open) and refuses anything that is not a regular file: the descriptor, in blocking
// mode, or -1 with errno set (EINVAL for a file of another kind).
int OpenRegularFile(const std::string& path);
// Its whole contents through OpenRegularFile; false when it cannot be read or holds more
// than limit bytes (errno EFBIG). The default holds the largest bitmap the program writes;
// a desktop's settings file is read with the smaller bound.
constexpr std::size_t kLargestReadFile = std::size_t{256} << 20;
constexpr std::size_t kLargestSettingsFile = std::size_t{4} << 20;
bool ReadRegularFile(const std::string& path, std::string* bytes, std::size_t limit = kLargestReadFile);
#endif

}  // namespace platform
