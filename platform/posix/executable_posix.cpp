#include <errno.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/auxv.h>
#include <unistd.h>

#include "platform/process.h"

namespace platform {

// The path the program was started by, not the file it resolves to: started through a
// link in a calendar folder, the program's own folder is that calendar folder, while the
// link keeps pointing at the installed file that package upgrades replace.
std::string ExecutablePath() {
  const auto* started = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
  if (started != nullptr && *started != '\0') {
    std::string path = started;
    if (path.front() != '/') {
      char folder[PATH_MAX];
      if (getcwd(folder, sizeof folder) != nullptr) path = std::string(folder) + "/" + path;
    }
    return path;
  }
  char buffer[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer);
  if (n <= 0) return {};
  return std::string(buffer, static_cast<std::size_t>(n));
}

// Through the link in the calendar folder: a removed package leaves it dangling.
bool ProgramFileGone() {
  const std::string path = ExecutablePath();
  struct stat info;
  return !path.empty() && stat(path.c_str(), &info) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

bool InstallationRunning() { return false; }

}  // namespace platform
