// A build without libical reads no calendar: every source marks nothing.
#include "days/days.h"

namespace zorvani {
namespace days {

bool CalendarReaderBuilt() { return false; }

bool CalendarDays(const std::string&, int, int, std::uint32_t* days, DayNames* names) {
  *days = 0;
  if (names != nullptr) *names = {};
  return false;
}

}  // namespace days
}  // namespace zorvani
