#pragma once
// What the source lists need from the system beyond the registry.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zorvani {
namespace days {

// What tells a file's new content from its old without reading it. A file written
// within the last second or two may be written again with the same size in the same
// tick of the file system's clock, so such a stamp is not settled: it proves nothing.
// The change time is the system's own: a file rewritten and given its old modification
// time back (touch -r, a restored backup of the same size) still gets a new one.
struct FileStamp {
  std::uint64_t device = 0, inode = 0, size = 0;
  std::int64_t modifiedSeconds = 0, modifiedNanoseconds = 0;
  std::int64_t changedSeconds = 0, changedNanoseconds = 0;
  bool settled = false;
  bool operator==(const FileStamp& other) const {
    return device == other.device && inode == other.inode && size == other.size &&
           modifiedSeconds == other.modifiedSeconds && modifiedNanoseconds == other.modifiedNanoseconds &&
           changedSeconds == other.changedSeconds && changedNanoseconds == other.changedNanoseconds;
  }
};
// The file's stamp now (one stat, no reading); none when it is not there.
std::optional<FileStamp> StampOfSourceFile(const std::string& path);

// A local calendar file's bytes and the stamp of what was read; false when it cannot be
// read or exceeds kMaxCalendarBytes (refused from its size, before it is read).
bool ReadSourceFile(const std::string& path, std::string* bytes, FileStamp* stamp);

// What tells either list's new content from its old without reading it: the stamps of
// the files that hold them (Linux) or of the keys' last writes (Windows); none where one
// is not there.
using ListStamps = std::vector<std::optional<FileStamp>>;
ListStamps SourceListStamps();
// The lists as they were when before was taken, for certain: an unsettled stamp proves
// nothing, so such a list is looked at again.
bool SameSettled(const ListStamps& before, const ListStamps& now);

// Where the cached copy of a published calendar's address lives, read like a local file
// (its stamp too); "" where there can be none (no cache folder).
std::string CachedCopyPath(const std::string& address);

// The month marks an earlier process kept, in the cache folder beside the copies: its
// bytes when it is a regular file of this user's own, no link (Windows: no reparse
// point), of at most kMaxKeptMarks bytes; false otherwise. Keeping replaces it whole
// (0600; Windows: the profile's own access list).
constexpr std::size_t kMaxKeptMarks = 64u << 10;
bool ReadKeptMarks(std::string* bytes);
void KeepMarks(const std::string& bytes);

// The machine's list as its own file holds it, where the registry shows the user's
// HKEY_LOCAL_MACHINE.reg instead (Linux); (value name, text) pairs. None on Windows,
// where HKEY_LOCAL_MACHINE is the machine's.
std::vector<std::pair<std::string, std::string>> MachineFileSourceTexts();

}  // namespace days
}  // namespace zorvani
