// The stand-in registry: one Windows .reg text file per root key, found as
// platform/posix/reg_files/hive_location.h tells.
// The file is read again at every call, so changes made by hand or by another process
// show at once; a write replaces the file whole (platform/replace_file.h).
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <utility>

#include "platform/posix/reg_files/hive_location.h"
#include "platform/posix/reg_files/reg_file.h"
#include "platform/registry.h"
#include "platform/replace_file.h"

namespace platform {
namespace {

constexpr long kErrorInvalidParameter = 87;
constexpr long kErrorRegistryIoFailed = 1016;
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

// Only a file that is not there is a missing key. Anything else (EIO from a network home
// that hiccups, a FIFO in the hive's place, a link whose file is away for a moment) is a
// hive that cannot be read now, which no caller may take for a removal.
long OpenError(const std::string& path, int error) {
  struct stat info {};
  if ((error == ENOENT || error == ENOTDIR) && !(lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode))) return kErrorFileNotFound;
  return error == EACCES ? kErrorAccessDenied : kErrorRegistryIoFailed;
}

// 0 on success, otherwise the registry error that stands for the failure.
long ReadHive(const std::string& path, std::string& text) {
  // A FIFO or a device in the hive's place is refused, not waited on.
  const int fd = OpenRegularFile(path);
  if (fd < 0) return OpenError(path, errno);
  struct stat info {};
  long result = fstat(fd, &info) == 0 && info.st_size <= kLargestHive ? kErrorSuccess : kErrorRegistryIoFailed;
  text.clear();
  if (result == kErrorSuccess) text.reserve(static_cast<std::size_t>(info.st_size));
  char chunk[65536];
  while (result == kErrorSuccess) {
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    // A file that grows while it is read is held to the same bound.
    if (n < 0 || text.size() + static_cast<std::size_t>(n) > kLargestHive) result = kErrorRegistryIoFailed;
    if (n <= 0 || result != kErrorSuccess) break;
    text.append(chunk, static_cast<std::size_t>(n));
  }
  close(fd);
  return result;
}

// Replaced whole, so a reader sees the old or the new text, never half of one. A symbolic
// link to the file is followed, so the link stays in place and its file keeps its mode.
bool ReplaceHive(const std::string& path, const std::string& text) {
  char resolved[PATH_MAX];
  const std::string target = realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
  return ReplaceFileWith(target, text);
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
    if (const long read = ReadHive(it->second.file, text); read != kErrorSuccess)
      return read == kErrorFileNotFound ? kErrorKeyDeleted : read;
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
    if (const long read = ReadHive(it->second.file, text); read != kErrorSuccess)
      return read == kErrorFileNotFound ? kErrorKeyDeleted : read;
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
