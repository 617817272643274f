// The stand-in registry: one Windows .reg text file per root key, found as
// platform/posix/reg_files/hive_location.h tells.
// The file is read again at every call, so changes made by hand or by another process
// show at once; a write replaces the file in one rename.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <utility>

#include "platform/posix/reg_files/hive_location.h"
#include "platform/posix/reg_files/reg_file.h"
#include "platform/registry.h"

namespace platform {
namespace {

constexpr long kErrorInvalidParameter = 87;
constexpr long kErrorKeyDeleted = 1018;
constexpr std::uint32_t kKeySetValue = 0x2;

const char* RootName(std::uint32_t root) {
  for (const RootKey& key : kRootKeys) {
    if (key.value == root) return key.name;
  }
  return nullptr;
}

// Far beyond any exported hive; a larger file is refused rather than read into memory.
constexpr off_t kLargestHive = off_t{1} << 30;

// 0 on success, otherwise the registry error that stands for the failure.
long ReadHive(const std::string& path, std::string& text) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == EACCES ? kErrorAccessDenied : kErrorFileNotFound;
  struct stat info {};
  long result = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= kLargestHive ? kErrorSuccess
                                                                                               : kErrorFileNotFound;
  text.clear();
  if (result == kErrorSuccess) text.reserve(static_cast<std::size_t>(info.st_size));
  char chunk[65536];
  while (result == kErrorSuccess) {
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    // A file that grows while it is read is held to the same bound.
    if (n < 0 || text.size() + static_cast<std::size_t>(n) > kLargestHive) result = kErrorFileNotFound;
    if (n <= 0 || result != kErrorSuccess) break;
    text.append(chunk, static_cast<std::size_t>(n));
  }
  close(fd);
  return result;
}

bool WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Our temporaries are named ".<file>.<pid>.XXXXXX" beside the file. Those whose writer no
// longer runs were left by a crash between creating and renaming and are removed; a running
// writer's are its own business.
void RemoveStaleTemporaries(const std::string& folder, const std::string& prefix) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    const std::size_t dot = name.find('.', prefix.size());
    if (dot == std::string::npos || dot == prefix.size() || name.size() - dot != 7 ||
        name.find_first_not_of("0123456789", prefix.size()) != dot)
      continue;
    const long pid = std::strtol(name.c_str() + prefix.size(), nullptr, 10);
    struct stat info {};
    if (pid <= 0 || pid > INT_MAX || kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
    if (fstatat(dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode) &&
        info.st_uid == geteuid())
      unlinkat(dirfd(dir), entry->d_name, 0);
  }
  closedir(dir);
}

// Writes beside the file and renames over it, so a reader sees the old or the new text,
// never half of one, and a crash leaves one or the other on disk. A symbolic link to the
// file is followed, so the link stays in place; the temporary itself is made new, never
// opened through an existing name.
bool ReplaceHive(const std::string& path, const std::string& text) {
  char resolved[PATH_MAX];
  const std::string target = realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
  struct stat info {};
  const mode_t mode = stat(target.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0644;

  const std::size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
  const std::string prefix = "." + target.substr(slash == std::string::npos ? 0 : slash + 1) + ".";
  RemoveStaleTemporaries(folder, prefix);
  std::string temporary = folder + "/" + prefix + std::to_string(getpid()) + ".XXXXXX";
  const int fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return false;
  const bool written = WriteAll(fd, text) && fchmod(fd, mode) == 0 && fsync(fd) == 0;
  const bool closed = close(fd) == 0;
  if (!written || !closed || rename(temporary.c_str(), target.c_str()) != 0) {
    unlink(temporary.c_str());
    return false;
  }
  // The rename itself lasts only once the folder is on disk.
  const int folderFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folderFd >= 0) {
    fsync(folderFd);
    close(folderFd);
  }
  return true;
}

class FileRegistry : public Registry {
 public:
  long RegOpenKeyExA(std::uint32_t root, const std::string& subKey, std::uint32_t, std::uint32_t access,
                     Handle* key) override {
    *key = 0;
    const char* rootName = RootName(root);
    if (rootName == nullptr) return kErrorInvalidHandle;
    OpenKey open{HiveFile(rootName), subKey.empty() ? rootName : rootName + std::string("\\") + subKey,
                 subKey.empty(), access};
    std::string text;
    const long read = ReadHive(open.file, text);
    if (read != kErrorSuccess) return read;
    // The root key always exists once its file does; any other key needs its own section.
    if (!open.isRoot && !RegFile(std::move(text)).HasKey(open.keyPath)) return kErrorFileNotFound;
    nextHandle_ += 4;
    open_[nextHandle_] = open;
    *key = nextHandle_;
    return kErrorSuccess;
  }

  long RegQueryValueExA(Handle key, const std::string& valueName, std::uint32_t* type, std::uint8_t* data,
                        std::uint32_t* size) override {
    const auto it = open_.find(key);
    if (it == open_.end()) return kErrorInvalidHandle;
    if ((it->second.access & kKeyQueryValue) == 0) return kErrorAccessDenied;
    if (data != nullptr && size == nullptr) return kErrorInvalidParameter;
    std::string text;
    if (ReadHive(it->second.file, text) != kErrorSuccess) return kErrorKeyDeleted;
    const RegFile hive(std::move(text));
    if (!it->second.isRoot && !hive.HasKey(it->second.keyPath)) return kErrorKeyDeleted;
    const auto value = hive.FindValue(it->second.keyPath, valueName);
    if (!value) return kErrorFileNotFound;

    if (type != nullptr) *type = value->type;
    const auto needed = static_cast<std::uint32_t>(value->data.size());
    if (data != nullptr && *size < needed) {
      *size = needed;
      return kErrorMoreData;
    }
    if (data != nullptr) std::copy(value->data.begin(), value->data.end(), data);
    if (size != nullptr) *size = needed;
    return kErrorSuccess;
  }

  long RegSetValueExA(Handle key, const std::string& valueName, std::uint32_t type, const std::uint8_t* data,
                      std::uint32_t size) override {
    const auto it = open_.find(key);
    if (it == open_.end()) return kErrorInvalidHandle;
    if ((it->second.access & kKeySetValue) == 0) return kErrorAccessDenied;
    if (data == nullptr && size != 0) return kErrorInvalidParameter;
    std::string text;
    if (ReadHive(it->second.file, text) != kErrorSuccess) return kErrorKeyDeleted;
    RegFile hive(std::move(text));
    RegValue value;
    value.type = type;
    if (size != 0) value.data.assign(data, data + size);
    if (!hive.SetValue(it->second.keyPath, valueName, value)) {
      if (!it->second.isRoot) return kErrorKeyDeleted;
      hive.AddSection(it->second.keyPath);
      hive.SetValue(it->second.keyPath, valueName, value);
    }
    return ReplaceHive(it->second.file, hive.Text()) ? kErrorSuccess : kErrorAccessDenied;
  }

  long RegCloseKey(Handle key) override { return open_.erase(key) == 1 ? kErrorSuccess : kErrorInvalidHandle; }

 private:
  struct OpenKey {
    std::string file;
    std::string keyPath;
    bool isRoot;
    std::uint32_t access;
  };
  std::map<Handle, OpenKey> open_;
  Handle nextHandle_ = 0x100;
};

}  // namespace

Registry& SystemRegistry() {
  static FileRegistry registry;
  return registry;
}

}  // namespace platform
