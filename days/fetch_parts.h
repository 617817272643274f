#pragma once
// What both systems' rounds share: when a round is due, which addresses it takes and how
// they reach the child, and the child's work around one download (validators, the
// checks on what came, the cache and the log). Each system brings the child process
// and its HTTP client.
#include <cstddef>
#include <string>
#include <vector>

#include "days/days.h"

namespace zorvani {
namespace days {
namespace fetching {

// A round's whole time: at most kMaxSources fetches of kFetchSeconds each would be more,
// and what is left over is fetched at the next round.
constexpr int kRoundSeconds = 600;
constexpr int kFetchSeconds = 30;
constexpr int kConnectSeconds = 10;
constexpr int kMaxRedirects = 5;
constexpr std::size_t kAddressesLimit = kMaxSources * 8192 + kMaxSources;

// From a check with no round running: the addresses a round is due for now, or none.
// Both lists' addresses, each once, at the first call and then once an hour by the clock
// service (a clock set back starts the hour anew); in between, at once, those a list has
// gained (its stamps are the cue: a list as it was is not read).
std::vector<std::string> DueAddresses();
// The text the child reads the addresses from (one a line, bounded), and back.
std::string AddressLines(const std::vector<std::string>& addresses);
std::vector<std::string> AddressesOfLines(const std::string& text);

// The user's cache folder for the copies (the system's own place); "" where there is none.
std::string CacheFolder();
// The cache folder made, a folder of the user's own rather than a link, or false.
bool MakeCacheFolder(const std::string& folder);

struct Request {
  std::string url;                 // https:// only
  std::string etag, lastModified;  // as the server gave them; empty: none sent
};
struct Response {
  long status = 0;  // of the last response of the chain
  std::string body, etag, lastModified, encoding;
};
// The system's HTTP client: one GET, https only for the address and every redirect (at
// most kMaxRedirects), certificates checked, kFetchSeconds in all, nothing decompressed,
// and at most kMaxCalendarBytes of body counted as it comes. False with *why (a reason
// fit for the log, naming no address) when it did not end with a response.
bool Download(const Request& request, Response* response, std::string* why);

// The child's round into folder (made and checked by the caller): each address fetched
// once, one log line a failure streak. Its exit status (kFetchReplaced or 0).
int FetchInto(const std::string& folder, const std::vector<std::string>& addresses);

}  // namespace fetching
}  // namespace days
}  // namespace zorvani
