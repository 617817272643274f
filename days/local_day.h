#pragma once
// The user's own zone, as the calendar reader sees it: where libical finds its zone
// data and which local day an instant falls on.
#include <ctime>
#include <string>

namespace zorvani {
namespace days {

// Before the first calendar is parsed: a TZID the file does not define is looked up in
// libical's zone data.
void PrepareZones();
// The day an instant falls on in the user's zone; false when there is none.
bool LocalDate(std::time_t when, int* year, int* month, int* day);
// What names the user's zone as LocalDate resolves it, and the data it is read from:
// marks made under another key may fall on other days.
std::string ZoneKey();

}  // namespace days
}  // namespace zorvani
