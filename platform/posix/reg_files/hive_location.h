#pragma once
// Where the stand-in registry keeps the .reg file of each root key.
//   HKEY_LOCAL_MACHINE: the user's own file, $XDG_CONFIG_HOME (~/.config) +
//     /zorvani-wallpaper/HKEY_LOCAL_MACHINE.reg, unless it is not there; otherwise the machine's,
//     first entry of $XDG_CONFIG_DIRS (/etc/xdg) + the same name. A user without root
//     can so register a calendar of their own over the machine's.
//   any other root: $XDG_CONFIG_HOME (~/.config) + /zorvani-wallpaper/<ROOT NAME>.reg
#include <string>

namespace platform {

std::string UserHiveFile(const std::string& rootName);
std::string MachineHiveFile(const std::string& rootName);
std::string HiveFile(const std::string& rootName);

}  // namespace platform
