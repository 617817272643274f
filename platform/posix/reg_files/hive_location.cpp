#include "platform/posix/reg_files/hive_location.h"

#include <errno.h>
#include <sys/stat.h>

#include <cstdlib>

namespace platform {
namespace {

std::string EnvOr(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? std::string(value) : fallback;
}

}  // namespace

std::string UserHiveFile(const std::string& rootName) {
  return EnvOr("XDG_CONFIG_HOME", EnvOr("HOME", "") + "/.config") + "/zorvani-wallpaper/" + rootName + ".reg";
}

std::string MachineHiveFile(const std::string& rootName) {
  std::string folder = EnvOr("XDG_CONFIG_DIRS", "/etc/xdg");
  folder = folder.substr(0, folder.find(':'));
  if (folder.empty()) folder = "/etc/xdg";
  return folder + "/zorvani-wallpaper/" + rootName + ".reg";
}

std::string HiveFile(const std::string& rootName) {
  if (rootName != "HKEY_LOCAL_MACHINE") return UserHiveFile(rootName);
  const std::string user = UserHiveFile(rootName);
  // Only a user's file that is not there gives way to the machine's: one that cannot be
  // looked at now (EIO on a network home, a link whose file is away) is still the user's.
  struct stat info {};
  return lstat(user.c_str(), &info) == 0 || (errno != ENOENT && errno != ENOTDIR) ? user : MachineHiveFile(rootName);
}

}  // namespace platform
