#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/process.h"

namespace platform {
namespace {

// The lock lives in the user's runtime folder; the shared temporary folder gets the
// user id in the name so that two users do not shut each other out.
std::string InstanceLockPath() {
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime != '\0')
    return std::string(runtime) + "/zorvani-wallpaper.lock";
  const char* tmp = std::getenv("TMPDIR");
  const std::string folder = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
  return folder + "/zorvani-wallpaper-" + std::to_string(getuid()) + ".lock";
}

void WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace

char PathSeparator() { return '/'; }

bool PreviousInstanceRunning() {
  // The descriptor stays open for the life of the process; the kernel drops the lock
  // when the process ends, however it ends.
  static int lockFile = -1;
  if (lockFile >= 0) return false;
  const int fd = open(InstanceLockPath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return false;  // no place for a lock: better a second copy than none
  int result;
  do {
    result = flock(fd, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    close(fd);
    return errno == EWOULDBLOCK;
  }
  lockFile = fd;
  return false;
}

void EndProgramNow(int status) { _exit(status); }

void PrintToStandardOutput(const std::string& text) { WriteAll(STDOUT_FILENO, text); }

void ReportFatalError(const std::string&, const std::string& text) {
  if (fcntl(STDERR_FILENO, F_GETFL) == -1) return;
  WriteAll(STDERR_FILENO, text + "\n");
}

}  // namespace platform
