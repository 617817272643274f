#pragma once
// What the source lists need from the system beyond the registry.
#include <string>
#include <utility>
#include <vector>

namespace zorvani {
namespace days {

// A local calendar file's bytes; false when it cannot be read or exceeds
// kMaxCalendarBytes (refused from its size, before it is read).
bool ReadSourceFile(const std::string& path, std::string* bytes);

// The cached copy of a published calendar's address, held to the same bound; false
// while there is none (never fetched, or no fetcher on this system).
bool ReadCachedCopy(const std::string& address, std::string* bytes);

// The machine's list as its own file holds it, where the registry shows the user's
// HKEY_LOCAL_MACHINE.reg instead (Linux); (value name, text) pairs. None on Windows,
// where HKEY_LOCAL_MACHINE is the machine's.
std::vector<std::pair<std::string, std::string>> MachineFileSourceTexts();

}  // namespace days
}  // namespace zorvani
