// Windows fetches nothing yet: the seam where a WinHTTP child (the program again with
// --fetch-calendar, as on Linux) will go. Until then no address marks a day.
#include "days/fetch.h"
#include "days/source_files.h"

namespace zorvani {
namespace days {

bool ReadCachedCopy(const std::string&, std::string*) { return false; }
void PollFetching() {}
bool Fetching() { return false; }
std::uint64_t ContentGeneration() { return 0; }
void StopFetching() {}
void SetFetchProgram(const std::string&) {}
int FetchCalendarsNow() { return 0; }

}  // namespace days
}  // namespace zorvani
