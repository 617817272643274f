#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>

#include "days/days.h"
#include "days/fetch_parts.h"
#include "days/source_files.h"
#include "platform/posix/reg_files/hive_location.h"
#include "platform/posix/reg_files/reg_file.h"
#include "platform/replace_file.h"

namespace zorvani {
namespace days {

namespace {

FileStamp StampOf(const struct stat& info) {
  FileStamp stamp;
  stamp.device = static_cast<std::uint64_t>(info.st_dev);
  stamp.inode = static_cast<std::uint64_t>(info.st_ino);
  stamp.size = static_cast<std::uint64_t>(info.st_size);
  stamp.modifiedSeconds = static_cast<std::int64_t>(info.st_mtim.tv_sec);
  stamp.modifiedNanoseconds = static_cast<std::int64_t>(info.st_mtim.tv_nsec);
  stamp.changedSeconds = static_cast<std::int64_t>(info.st_ctim.tv_sec);
  stamp.changedNanoseconds = static_cast<std::int64_t>(info.st_ctim.tv_nsec);
  // Inode times come from the kernel's coarse clock, a few milliseconds a tick. A time
  // ahead of the clock (a file from a machine, or a share's server, whose clock runs
  // ahead) would never settle and have the day drawn at every check; the next write
  // gives the file another time, so such a stamp holds at once.
  const auto now = static_cast<std::int64_t>(std::time(nullptr));
  stamp.settled = stamp.modifiedSeconds + 2 <= now || stamp.modifiedSeconds > now + 2;
  return stamp;
}

}  // namespace

std::optional<FileStamp> StampOfSourceFile(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return std::nullopt;
  return StampOf(info);
}

namespace {

// The rest of fd appended to bytes; false on a read error or past limit bytes in all,
// which also holds a file that grows while it is read.
bool ReadAtMost(int fd, std::size_t limit, std::string* bytes) {
  char chunk[65536];
  for (;;) {
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || bytes->size() + static_cast<std::size_t>(n) > limit) return false;
    if (n == 0) return true;
    bytes->append(chunk, static_cast<std::size_t>(n));
  }
}

}  // namespace

bool ReadSourceFile(const std::string& path, std::string* bytes, FileStamp* stamp) {
  const int fd = platform::OpenRegularFile(path);
  if (fd < 0) return false;
  struct stat info {};
  bool ok = fstat(fd, &info) == 0 && info.st_size >= 0 && static_cast<std::size_t>(info.st_size) <= kMaxCalendarBytes;
  if (ok) *stamp = StampOf(info);
  bytes->clear();
  ok = ok && ReadAtMost(fd, kMaxCalendarBytes, bytes);
  close(fd);
  return ok;
}

bool ReadKeptMarks(std::string* bytes) {
  const std::string folder = fetching::CacheFolder();
  const int fd = folder.empty() ? -1 : open((folder + "/month-marks").c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info {};
  bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == geteuid() &&
            static_cast<std::uint64_t>(info.st_size) <= kMaxKeptMarks;
  bytes->clear();
  ok = ok && ReadAtMost(fd, kMaxKeptMarks, bytes);
  close(fd);
  return ok;
}

void KeepMarks(const std::string& bytes) {
  const std::string folder = fetching::CacheFolder();
  if (folder.empty() || !fetching::MakeCacheFolder(folder)) return;
  const mode_t before = umask(077);
  platform::ReplaceFileWith(folder + "/month-marks", bytes);
  umask(before);
}

ListStamps SourceListStamps() {
  return {StampOfSourceFile(platform::UserHiveFile("HKEY_CURRENT_USER")),
          StampOfSourceFile(platform::UserHiveFile("HKEY_LOCAL_MACHINE")),
          StampOfSourceFile(platform::MachineHiveFile("HKEY_LOCAL_MACHINE"))};
}

std::vector<std::pair<std::string, std::string>> MachineFileSourceTexts() {
  std::vector<std::pair<std::string, std::string>> texts;
  const std::string machine = platform::MachineHiveFile("HKEY_LOCAL_MACHINE");
  std::string bytes;
  if (platform::HiveFile("HKEY_LOCAL_MACHINE") == machine || !platform::ReadRegularFile(machine, &bytes, platform::kLargestSettingsFile)) return texts;
  const platform::RegFile hive(std::move(bytes));
  const std::string key = std::string("HKEY_LOCAL_MACHINE\\") + kSourcesKey;
  for (int n = 1; n <= kMaxSources; ++n) {
    const std::optional<platform::RegValue> value = hive.FindValue(key, std::to_string(n));
    if (!value || value->type != 1) continue;
    std::string text(value->data.begin(), value->data.end());
    while (!text.empty() && text.back() == '\0') text.pop_back();
    texts.emplace_back(std::to_string(n), text);
  }
  return texts;
}

}  // namespace days
}  // namespace zorvani
