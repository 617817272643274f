// Linux: libical reads the system's zone files, and the C library's clock follows TZ.
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

}  // namespace days
}  // namespace zorvani
