#include "platform/posix/reg_files/hive_location.h"

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
  struct stat info {};
  return stat(user.c_str(), &info) == 0 ? user : MachineHiveFile(rootName);
}

}  // namespace platform
