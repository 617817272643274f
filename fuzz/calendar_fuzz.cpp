// The calendar reader on any text: it marks some days of the month or none, and
// returns, within its bounds.
#include <cstdint>
#include <string>

#include "days/days.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  // One month at either side of a year's end and a February. Events passed over from
  // their text must be those that mark nothing, names included.
  for (const int month : {12, 2}) {
    std::uint32_t days = 0, each = 0;
    zorvani::days::DayNames names, eachNames;
    const bool read = zorvani::days::CalendarDays(text, month == 12 ? 2026 : 2028, month, &days, &names);
    const bool readEach = zorvani::days::CalendarDaysParsingEach(text, month == 12 ? 2026 : 2028, month, &each, &eachNames);
    if ((days & 1u) != 0) __builtin_trap();  // bit 0 is no day
    if (read != readEach || days != each || names != eachNames) __builtin_trap();
  }
  return 0;
}
