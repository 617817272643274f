// Windows: libical's own zone files lie in the zoneinfo folder beside the program, and
// the user's zone is Windows' key name turned into the name libical files it under.
#include <windows.h>

#include <libical/ical.h>

#include <mutex>
#include <string>

#include "days/local_day.h"
#include "days/windows_zones.h"

namespace zorvani {
namespace days {

namespace {

std::string zoneFolder;  // libical's, as it was given

}  // namespace

void PrepareZones() {
  static std::once_flag once;
  std::call_once(once, [] {
    wchar_t path[MAX_PATH + 1];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) return;
    std::wstring folder(path, length);
    folder.erase(folder.find_last_of(L"\\/") + 1);
    folder += L"zoneinfo";
    // libical opens its files by narrow name: the short form spells a folder that the
    // ANSI code page cannot.
    wchar_t shortPath[MAX_PATH + 1];
    const DWORD shortLength = GetShortPathNameW(folder.c_str(), shortPath, MAX_PATH + 1);
    const wchar_t* use = shortLength > 0 && shortLength <= MAX_PATH ? shortPath : folder.c_str();
    char narrow[2 * MAX_PATH + 1];
    BOOL lossy = FALSE;
    if (WideCharToMultiByte(CP_ACP, 0, use, -1, narrow, static_cast<int>(sizeof narrow), nullptr, &lossy) == 0 ||
        lossy) {
      return;
    }
    set_zone_directory(narrow);
    zoneFolder = narrow;
  });
}

namespace {

// The user's zone as Windows keeps it, and the libical zone its key name is filed under:
// "" for a name the table does not know, or with automatic daylight saving turned off,
// when the clock keeps standard time all year and the named zone does not.
bool WindowsZone(DYNAMIC_TIME_ZONE_INFORMATION* info, std::string* iana) {
  *info = {};
  iana->clear();
  if (GetDynamicTimeZoneInformation(info) == TIME_ZONE_ID_INVALID) return false;
  std::string name;
  for (const wchar_t c : info->TimeZoneKeyName) {
    if (c == 0) break;
    if (c > 0x7e) return true;
    name += static_cast<char>(c);
  }
  if (!info->DynamicDaylightTimeDisabled) *iana = IanaZoneOfWindowsZone(name);
  return true;
}

icaltimezone* UserZone() {
  DYNAMIC_TIME_ZONE_INFORMATION info;
  std::string iana;
  if (!WindowsZone(&info, &iana) || iana.empty()) return nullptr;
  return icaltimezone_get_builtin_timezone(iana.c_str());
}

}  // namespace

bool LocalDate(std::time_t when, int* year, int* month, int* day) {
  if (icaltimezone* zone = UserZone()) {
    const icaltimetype local = icaltime_from_timet_with_zone(when, 0, zone);
    *year = local.year, *month = local.month, *day = local.day;
    return true;
  }
  // A zone the table or the zone files do not know: the C runtime's view, which is
  // Windows' bias and this year's daylight-saving rule.
  std::tm local{};
  if (localtime_s(&local, &when) != 0) return false;
  *year = local.tm_year + 1900, *month = local.tm_mon + 1, *day = local.tm_mday;
  return true;
}

std::string ZoneKey() {
  // The C runtime's fallback keeps the zone it first read: read again, so that it
  // follows what the key names.
  _tzset();
  // All Windows says of the zone (key, biases, this year's rules, daylight saving off),
  // which the C runtime's fallback follows, and the stamp of libical's file of it.
  DYNAMIC_TIME_ZONE_INFORMATION info;
  std::string iana;
  if (!WindowsZone(&info, &iana)) return "-";
  std::string key(reinterpret_cast<const char*>(&info), sizeof info);
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!iana.empty() && !zoneFolder.empty() &&
      GetFileAttributesExA((zoneFolder + "\\" + iana + ".ics").c_str(), GetFileExInfoStandard, &data) != 0) {
    key += "|" + iana + "|" + std::to_string(data.nFileSizeLow) + "|" + std::to_string(data.ftLastWriteTime.dwLowDateTime) +
           "|" + std::to_string(data.ftLastWriteTime.dwHighDateTime);
  }
  return key;
}

}  // namespace days
}  // namespace zorvani
