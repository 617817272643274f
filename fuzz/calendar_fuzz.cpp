// The calendar reader on any text: it marks some days of the month or none, and
// returns, within its bounds.
#include <cstdint>
#include <string>

#include "days/days.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::uint32_t days = 0;
  // One month at either side of a year's end and a February.
  zorvani::days::CalendarDays(text, 2026, 12, &days);
  zorvani::days::CalendarDays(text, 2028, 2, &days);
  if ((days & 1u) != 0) __builtin_trap();  // bit 0 is no day
  return 0;
}
