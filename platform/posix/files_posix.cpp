// The file and memory calls of the bitmap writer and of files replaced whole, on POSIX
// files. errno is the last-error code and strerror its text.
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>

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
    // Share mode 0: held until closed, so that another writer's clean-up leaves it alone.
    ::flock(fd, LOCK_EX | LOCK_NB);
    return FromFd(fd);
  }

  bool KeepPermissions(Handle file, const std::string& target) override {
    struct stat info {};
    if (::fstatat(AT_FDCWD, target.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode)) return true;
    return ::fchmod(ToFd(file), info.st_mode & 07777) == 0 || Fail(errno);
  }

  // Small writes (the bitmap's two header blocks) are held back and go out with the
  // next write in one writev, so a bitmap costs one system call instead of three.
  bool WriteFile(Handle file, const void* buffer, std::uint32_t count, std::uint32_t* written) override {
    if (written != nullptr) *written = 0;
    if (buffer == nullptr && count != 0) return Fail(EFAULT);
    std::lock_guard<std::mutex> lock(mutex_);
    std::string& held = held_[ToFd(file)];
    if (count != 0 && held.size() + count <= kHoldBack) {
      held.append(static_cast<const char*>(buffer), count);
      if (written != nullptr) *written = count;
      return true;
    }
    std::size_t done = 0;
    const int error = Send(ToFd(file), held, buffer, count, &done);
    // Only what reached the file beyond the held bytes counts for this call.
    const std::size_t mine = done > held.size() ? done - held.size() : 0;
    held_.erase(ToFd(file));
    if (written != nullptr) *written = static_cast<std::uint32_t>(mine);
    return error == 0 || Fail(error);
  }

  bool FlushFileBuffers(Handle file) override {
    if (SendHeld(ToFd(file)) != 0) return false;
    // EINVAL: a file system that has nothing to flush.
    return ::fsync(ToFd(file)) == 0 || errno == EINVAL || Fail(errno);
  }

  // The writer flushes before it closes, so held bytes that fail to go out here belong
  // to a file that is deleted anyway.
  bool CloseHandle(Handle file) override {
    const int error = SendHeld(ToFd(file));
    return (::close(ToFd(file)) == 0 && error == 0) || Fail(error != 0 ? error : errno);
  }

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

  bool DeleteFileA(const std::string& name) override {
    // A link or a file we may not open is removed as it is; a file another opener made
    // with CreateFileA and still holds is not, as on Windows.
    const int fd = ::open(name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      ::close(fd);
      return Fail(EBUSY);
    }
    const bool removed = ::unlink(name.c_str()) == 0;
    const int error = errno;
    if (fd >= 0) ::close(fd);
    return removed || Fail(error);
  }

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

 private:
  static constexpr std::size_t kHoldBack = 256;

  // Sends what WriteFile held back for fd, if anything; 0 or the errno of the failure.
  int SendHeld(int fd) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = held_.find(fd);
    if (it == held_.end()) return 0;
    std::size_t done = 0;
    const int error = Send(fd, it->second, nullptr, 0, &done);
    held_.erase(it);
    if (error != 0) Fail(error);
    return error;
  }

  // Writes held, then count bytes of buffer; *done counts what reached the file.
  // Returns 0 or the errno of the failed call.
  static int Send(int fd, const std::string& held, const void* buffer, std::size_t count, std::size_t* done) {
    iovec parts[2] = {{const_cast<char*>(held.data()), held.size()}, {const_cast<void*>(buffer), count}};
    iovec* next = parts;
    int left = 2;
    while (left > 0) {
      if (next->iov_len == 0) {
        ++next, --left;
        continue;
      }
      const ssize_t n = ::writev(fd, next, left);
      if (n < 0) {
        if (errno == EINTR) continue;
        return errno;
      }
      *done += static_cast<std::size_t>(n);
      for (auto rest = static_cast<std::size_t>(n); rest > 0 && left > 0;) {
        const std::size_t step = rest < next->iov_len ? rest : next->iov_len;
        next->iov_base = static_cast<char*>(next->iov_base) + step;
        next->iov_len -= step;
        rest -= step;
        if (next->iov_len == 0) ++next, --left;
      }
    }
    return 0;
  }

  std::mutex mutex_;
  std::unordered_map<int, std::string> held_;
};

}  // namespace

Files& SystemFiles() {
  static PosixFiles files;
  return files;
}

}  // namespace platform
