#pragma once
// Published calendars (https:// and webcal:// sources): fetched into a cache of the
// user's own, from which MarkedDays reads them like local files.
//
// The program stays single-threaded: the hidden form's loop, the check and the refresh
// share process-wide state without locks, and a thread blocked in a TLS handshake could
// not be ended at log-off. So a round of fetches runs in a child process of its own (the
// program again, with --fetch-calendar), under a deadline, in its own process group
// (Linux) or a job that ends with the program (Windows); the check only looks, without
// waiting, whether it has ended.
#include <cstdint>
#include <string>

namespace zorvani {
namespace days {

// From each check: starts a round at the first call and then once an hour (by the
// clock service), sees whether a running one has ended, and kills one past its deadline.
// Never waits on the network or on the child.
void PollFetching();
// True while a round runs.
bool Fetching();
// The program's end: a running round goes with it.
void StopFetching();
// The program a round runs (tests name the built program; this program's own file otherwise).
void SetFetchProgram(const std::string& path);

// The child's whole work, for --fetch-calendar: the addresses, one a line on standard
// input, each fetched once into the cache. Its exit status: kFetchReplaced when a cached
// copy changed, 0 otherwise.
constexpr int kFetchReplaced = 10;
int FetchCalendarsNow();

// What of an address may be shown (logs, set-up's output): scheme and host only; the
// path, the query and any user name or password are what make it secret.
std::string AddressHost(const std::string& address);
// webcal:// is https://.
std::string FetchedUrl(const std::string& address);
// The cache's name for an address: 16 hex digits of a hash, never the address itself.
std::string CacheName(const std::string& address);

}  // namespace days
}  // namespace zorvani
