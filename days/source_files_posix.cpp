#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "days/days.h"
#include "days/source_files.h"
#include "platform/posix/reg_files/hive_location.h"
#include "platform/posix/reg_files/reg_file.h"
#include "platform/replace_file.h"

namespace zorvani {
namespace days {

bool ReadSourceFile(const std::string& path, std::string* bytes) {
  const int fd = platform::OpenRegularFile(path);
  if (fd < 0) return false;
  struct stat info {};
  bool ok = fstat(fd, &info) == 0 && info.st_size >= 0 && static_cast<std::size_t>(info.st_size) <= kMaxCalendarBytes;
  bytes->clear();
  char chunk[65536];
  while (ok) {
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    // A file that grows while it is read is held to the same bound.
    ok = n >= 0 && bytes->size() + static_cast<std::size_t>(n) <= kMaxCalendarBytes;
    if (n <= 0) break;
    if (ok) bytes->append(chunk, static_cast<std::size_t>(n));
  }
  close(fd);
  return ok;
}

std::vector<std::pair<std::string, std::string>> MachineFileSourceTexts() {
  std::vector<std::pair<std::string, std::string>> texts;
  const std::string machine = platform::MachineHiveFile("HKEY_LOCAL_MACHINE");
  std::string bytes;
  if (platform::HiveFile("HKEY_LOCAL_MACHINE") == machine || !platform::ReadRegularFile(machine, &bytes)) return texts;
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
