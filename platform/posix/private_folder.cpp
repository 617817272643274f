#include "platform/posix/private_folder.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace posix {

std::string PrivateFolderPath(const std::string& runtimeDir, const std::string& tmpDir) {
  if (!runtimeDir.empty() && runtimeDir[0] == '/') return runtimeDir + "/zorvani-wallpaper";
  const std::string tmp = !tmpDir.empty() && tmpDir[0] == '/' ? tmpDir : "/tmp";
  return tmp + "/zorvani-wallpaper-" + std::to_string(geteuid());
}

int OpenPrivateFolder(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos || slash + 1 >= path.size()) return -1;
  const std::string parentPath = slash == 0 ? "/" : path.substr(0, slash), name = path.substr(slash + 1);
  // The parent is the system's (XDG_RUNTIME_DIR, /tmp): a link there is the system's choice.
  const int parent = open(parentPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (parent < 0) return -1;
  struct stat info {};
  const bool parentSafe = fstat(parent, &info) == 0 && (info.st_uid == geteuid() || info.st_uid == 0) &&
                          ((info.st_mode & (S_IWGRP | S_IWOTH)) == 0 || (info.st_mode & S_ISVTX) != 0);
  int folder = -1;
  if (parentSafe && (mkdirat(parent, name.c_str(), 0700) == 0 || errno == EEXIST)) {
    folder = openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  }
  close(parent);
  if (folder < 0) return -1;
  // Made by someone else first, or opened to others: not ours to trust.
  if (fstat(folder, &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != geteuid() ||
      (info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    close(folder);
    return -1;
  }
  return folder;
}

bool PlainPathText(const std::string& text) {
  for (const char c : text) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' ||
                       c == '.' || c == '_' || c == '-';
    if (!plain) return false;
  }
  return true;
}

}  // namespace posix
}  // namespace platform
