// What only POSIX has: links replaced as files are, and reads that a FIFO cannot stall.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/replace_file.h"

namespace platform {

int OpenRegularFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return -1;
  struct stat info {};
  const int flags = fcntl(fd, F_GETFL);
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    const int error = S_ISREG(info.st_mode) ? errno : EINVAL;
    close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

bool ReadRegularFile(const std::string& path, std::string* bytes, std::size_t limit) {
  const int fd = OpenRegularFile(path);
  if (fd < 0) return false;
  bytes->clear();
  char chunk[65536];
  ssize_t n;
  while ((n = read(fd, chunk, sizeof chunk)) != 0) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    if (static_cast<std::size_t>(n) > limit - bytes->size()) {
      close(fd);
      bytes->clear();
      errno = EFBIG;
      return false;
    }
    bytes->append(chunk, static_cast<std::size_t>(n));
  }
  close(fd);
  return n == 0;
}

bool ReplaceWithLink(const std::string& link, const std::string& pointsTo, std::string* error) {
  Files& files = SystemFiles();
  RemoveLeftTemporaries(files, link);
  // symlink() makes a new name only: a name already taken, by chance or planted, gets another.
  std::string temporary;
  int failure = EEXIST;
  for (int attempt = 0; attempt < 8 && failure == EEXIST; ++attempt) {
    temporary = TemporaryNameFor(link);
    failure = symlink(pointsTo.c_str(), temporary.c_str()) == 0 ? 0 : errno;
  }
  if (failure == 0 && !files.MoveFileReplace(temporary, link)) {
    failure = static_cast<int>(files.GetLastError());
    unlink(temporary.c_str());
  }
  if (failure == 0) return true;
  if (error != nullptr) *error = "cannot write " + link + ": " + std::strerror(failure);
  return false;
}

}  // namespace platform
