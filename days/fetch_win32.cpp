// Windows fetches nothing yet: the seam where a WinHTTP child (the program again with
// --fetch-calendar, as on Linux) will go. Until then no address marks a day.
#include "days/fetch.h"
#include "days/source_files.h"

namespace zorvani {
namespace days {

std::string CachedCopyPath(const std::string&) { return {}; }
void PollFetching() {}
bool Fetching() { return false; }
void StopFetching() {}
void SetFetchProgram(const std::string&) {}
int FetchCalendarsNow() { return 0; }

}  // namespace days
}  // namespace zorvani
