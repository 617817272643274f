#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <string>

#include "platform/posix/private_folder.h"
#include "platform/posix/reg_files/ascii_text.h"
#include "platform/process.h"

namespace platform {
namespace {

const char* Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// The graphical session a copy belongs to: its Wayland display, else its X display
// without the screen number, else none. Bytes other than letters, digits, '.', ':', '-'
// and '_' are written as %XX, so the key is one plain file name.
std::string SessionKey() {
  std::string display = Environment("WAYLAND_DISPLAY");
  if (display.empty()) {
    display = Environment("DISPLAY");
    const std::size_t colon = display.rfind(':'), dot = display.rfind('.');
    if (colon != std::string::npos && dot != std::string::npos && dot > colon) display.erase(dot);
  }
  return posix::PercentEscaped(display, [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == ':' || c == '-' || c == '_';
  });
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
  // One copy per graphical session, locked in a folder no one else can reach or plant
  // a link in. Without such a folder, better a second copy than none.
  const int folder = posix::OpenPrivateFolder(posix::PrivateFolderPath(Environment("XDG_RUNTIME_DIR"), Environment("TMPDIR")));
  if (folder < 0) return false;
  const std::string key = SessionKey();
  const std::string name = key.empty() ? "instance.lock" : "instance-" + key + ".lock";
  const int fd = openat(folder, name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  close(folder);
  if (fd < 0) return false;
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
