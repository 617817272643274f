// The bitmap writer's file and memory calls on POSIX files. errno is the last-error
// code and strerror its text.
#include <sys/file.h>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/files.h"

namespace platform {
namespace {

thread_local std::uint32_t lastError = 0;

bool Fail(int error) {
  lastError = static_cast<std::uint32_t>(error);
  return false;
}

// A descriptor travels as fd + 1, so that descriptor 0 is never the "none" handle.
Handle FromFd(int fd) { return static_cast<Handle>(fd) + 1; }
int ToFd(Handle h) { return static_cast<int>(h - 1); }

class PosixFiles : public Files {
 public:
  Handle CreateFileA(const std::string& name) override {
    // A new file only, and never through a link planted in the folder.
    const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
      Fail(errno);
      return kInvalidHandle;
    }
    return FromFd(fd);
  }

  bool WriteFile(Handle file, const void* buffer, std::uint32_t count, std::uint32_t* written) override {
    if (written != nullptr) *written = 0;
    if (buffer == nullptr && count != 0) return Fail(EFAULT);
    const char* p = static_cast<const char*>(buffer);
    std::uint32_t done = 0;
    while (done < count) {
      const ssize_t n = ::write(ToFd(file), p + done, count - done);
      if (n < 0) {
        if (errno == EINTR) continue;
        const int error = errno;
        if (written != nullptr) *written = done;
        return Fail(error);
      }
      done += static_cast<std::uint32_t>(n);
    }
    if (written != nullptr) *written = done;
    return true;
  }

  bool FlushFileBuffers(Handle file) override {
    // EINVAL: a file system that has nothing to flush.
    return ::fsync(ToFd(file)) == 0 || errno == EINVAL || Fail(errno);
  }

  bool CloseHandle(Handle file) override { return ::close(ToFd(file)) == 0 || Fail(errno); }

  bool MoveFileReplace(const std::string& from, const std::string& to) override {
    // Windows will not replace a file that another opener holds with share mode 0;
    // take the same lock on the target for the moment of the rename.
    // Not through a link, and not stalled by a FIFO planted in its place.
    const int target = ::open(to.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (target >= 0 && ::flock(target, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      ::close(target);
      return Fail(error);
    }
    const bool moved = ::rename(from.c_str(), to.c_str()) == 0;
    const int error = errno;
    if (target >= 0) ::close(target);
    if (!moved) return Fail(error);
    // The rename is on the disk only once the folder is: without this a crash can
    // bring back the old file, or none. Some file systems cannot sync a folder; the
    // file is in place all the same.
    const auto slash = to.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : to.substr(0, slash);
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
      ::fsync(dir);
      ::close(dir);
    }
    return true;
  }

  bool DeleteFileA(const std::string& name) override { return ::unlink(name.c_str()) == 0 || Fail(errno); }

  std::vector<std::string> FolderEntries(const std::string& folder) override {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr) return names;
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
    return names;
  }

  std::uint32_t GetLastError() override { return lastError; }

  std::string FormatMessageA(std::uint32_t code) override { return std::strerror(static_cast<int>(code)); }

  Handle GlobalAlloc(std::size_t size) override {
    void* block = std::calloc(size == 0 ? 1 : size, 1);
    if (block == nullptr) Fail(ENOMEM);
    return reinterpret_cast<Handle>(block);
  }
  void* GlobalLock(Handle block) override { return reinterpret_cast<void*>(block); }
  bool GlobalUnlock(Handle) override { return true; }
  Handle GlobalFree(Handle block) override {
    std::free(reinterpret_cast<void*>(block));
    return 0;
  }
};

}  // namespace

Files& SystemFiles() {
  static PosixFiles files;
  return files;
}

}  // namespace platform
