// Linux: libical reads the system's zone files, and the C library's clock follows TZ.
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>

#include "days/local_day.h"

namespace zorvani {
namespace days {

void PrepareZones() {}

bool LocalDate(std::time_t when, int* year, int* month, int* day) {
  std::tm local{};
  if (localtime_r(&when, &local) == nullptr) return false;
  *year = local.tm_year + 1900, *month = local.tm_mon + 1, *day = local.tm_mday;
  return true;
}

std::string ZoneKey() {
  // The C library reads the zone once and keeps it: read again, so that the days marked
  // from here on fall in the zone the key names, not in one the user has left since.
  tzset();
  // TZ, else /etc/localtime: where it points and the zone file's own stamp, which a
  // tzdata update changes.
  const char* tz = std::getenv("TZ");
  std::string key = tz != nullptr ? std::string("TZ=") + tz : "-";
  char target[512];
  const ssize_t n = readlink("/etc/localtime", target, sizeof target);
  if (n > 0) key.append("|").append(target, static_cast<std::size_t>(n));
  struct stat info {};
  if (stat(tz != nullptr && tz[0] == ':' ? tz + 1 : "/etc/localtime", &info) == 0) {
    key += "|" + std::to_string(info.st_ino) + "|" + std::to_string(info.st_size) + "|" +
           std::to_string(info.st_mtim.tv_sec) + "." + std::to_string(info.st_mtim.tv_nsec);
  }
  return key;
}

}  // namespace days
}  // namespace zorvani
