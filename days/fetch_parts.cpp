// The rounds' common part: the hour, the addresses, and one address into the cache.
#include "days/fetch_parts.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <thread>

#include "days/fetch.h"
#include "days/source_files.h"
#include "platform/process.h"
#include "platform/replace_file.h"
#include "platform/services.h"

namespace zorvani {
namespace days {
namespace fetching {
namespace {

constexpr long long kRoundEvery = 3600;  // seconds of the clock service

// The clock service's reading as seconds on one scale (days from the civil date), so
// that a test's clock and libfaketime move the rounds as they move the day.
long long ClockSeconds() {
  const platform::LocalTime t = platform::Current().clock->Now();
  const long long y = t.month <= 2 ? t.year - 1 : t.year;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const long long yearOfEra = y - era * 400;
  const long long dayOfYear = (153 * (t.month + (t.month > 2 ? -3 : 9)) + 2) / 5 + t.day - 1;
  const long long days = era * 146097 + yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return days * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

struct Validators {
  std::string etag, lastModified;
  bool failing = false;
};

Validators ReadValidators(const std::string& path) {
  Validators kept;
  std::string text;
  FileStamp stamp;
  if (!ReadSourceFile(path, &text, &stamp) || text.size() > 8192) return kept;
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  if (lines.size() >= 3) kept = {lines[0], lines[1], lines[2] == "1"};
  return kept;
}

bool WriteValidators(const std::string& path, const Validators& kept) {
  return platform::ReplaceFileWith(path, kept.etag + "\n" + kept.lastModified + "\n" + (kept.failing ? "1" : "0") + "\n");
}

bool LooksLikeCalendar(const std::string& body) {
  std::size_t at = body.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  at = body.find_first_not_of(" \t\r\n", at);
  if (at == std::string::npos || body.size() - at < 15) return false;
  std::string head = body.substr(at, 15);
  for (char& c : head) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return head == "BEGIN:VCALENDAR";
}

enum class Outcome { Replaced, Kept, Failed };

// One address into the cache. *why gets a reason fit for the log when it failed.
Outcome FetchOne(const std::string& folder, const std::string& address, std::string* why) {
  const std::string base = folder + platform::PathSeparator() + CacheName(address);
  Validators kept = ReadValidators(base + ".state");
  const bool haveCopy = StampOfSourceFile(base + ".ics").has_value();
  // Header values sent back as the server gave them; one with a line break is not used.
  const auto plain = [](const std::string& v) { return v.find_first_of("\r\n") == std::string::npos ? v : ""; };
  Request request;
  request.url = FetchedUrl(address);
  if (haveCopy) request.etag = plain(kept.etag), request.lastModified = plain(kept.lastModified);
  Response response;
  if (!Download(request, &response, why)) return Outcome::Failed;
  if (response.status == 304 && haveCopy) return Outcome::Kept;
  if (response.status != 200) return *why = "HTTP status " + std::to_string(response.status), Outcome::Failed;
  if (!response.encoding.empty() && response.encoding != "identity")
    return *why = "a compressed body (Content-Encoding " + response.encoding.substr(0, 32) + ") that was not asked for",
           Outcome::Failed;
  if (!LooksLikeCalendar(response.body)) return *why = "not a calendar", Outcome::Failed;

  std::string old;
  FileStamp stamp;
  kept.etag = response.etag, kept.lastModified = response.lastModified;
  if (haveCopy && ReadSourceFile(base + ".ics", &old, &stamp) && old == response.body) {
    WriteValidators(base + ".state", kept);
    return Outcome::Kept;
  }
  // Windows refuses to rename over a file while anyone has it open, as the check does
  // for a moment to look at its stamp: a few tries, which the child can wait for.
  for (int tries = 1; !platform::ReplaceFileWith(base + ".ics", response.body); ++tries) {
    if (tries == 5) return *why = "the cache cannot be written", Outcome::Failed;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  WriteValidators(base + ".state", kept);
  return Outcome::Replaced;
}

// True at the first call, then once an hour.
bool RoundDue() {
  static bool startedOnce = false;
  static long long lastStart = 0;
  const long long now = ClockSeconds();
  if (startedOnce && now >= lastStart && now - lastStart < kRoundEvery) return false;
  startedOnce = true;
  lastStart = now;
  return true;
}

// Both lists' addresses, each once.
std::vector<std::string> ListedAddresses() {
  std::vector<std::string> addresses;
  for (const std::vector<Listed>& list : {MachineSources(), UserSources()}) {
    for (const Listed& listed : list) {
      const std::string& address = listed.source.location;
      if (listed.source.IsAddress() && std::find(addresses.begin(), addresses.end(), address) == addresses.end())
        addresses.push_back(address);
    }
  }
  return addresses;
}

}  // namespace

std::vector<std::string> DueAddresses() {
  static ListStamps listStamps;
  static std::vector<std::string> known;  // listed at the last look
  const ListStamps stamps = SourceListStamps();
  if (RoundDue()) return listStamps = stamps, known = ListedAddresses();
  if (SameSettled(listStamps, stamps)) return {};
  listStamps = stamps;
  std::vector<std::string> listed = ListedAddresses(), added;
  for (const std::string& address : listed)
    if (std::find(known.begin(), known.end(), address) == known.end()) added.push_back(address);
  known = std::move(listed);
  return added;
}

std::string AddressLines(const std::vector<std::string>& addresses) {
  std::string text;
  for (const std::string& address : addresses) text += address + "\n";
  if (text.size() > kAddressesLimit) text.resize(kAddressesLimit);
  return text;
}

std::vector<std::string> AddressesOfLines(const std::string& text) {
  std::vector<std::string> addresses;
  for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos && at <= kAddressesLimit; at = end + 1) {
    Source source;
    source.location = text.substr(at, end - at);
    if (source.IsAddress()) addresses.push_back(source.location);
  }
  return addresses;
}

int FetchInto(const std::string& folder, const std::vector<std::string>& addresses) {
  bool replaced = false;
  for (const std::string& address : addresses) {
    std::string why;
    const Outcome outcome = FetchOne(folder, address, &why);
    replaced = replaced || outcome == Outcome::Replaced;
    const std::string state = folder + platform::PathSeparator() + CacheName(address) + ".state";
    Validators kept = ReadValidators(state);
    // One line a failure streak: a feed down all week is not 168 lines.
    if (outcome == Outcome::Failed && !kept.failing) {
      platform::TheSystemLog().Warning("calendar " + AddressHost(address) + " not fetched: " + why +
                                       "; its last copy is kept and it is tried again in an hour");
    }
    if ((outcome == Outcome::Failed) != kept.failing) {
      kept.failing = outcome == Outcome::Failed;
      WriteValidators(state, kept);
    }
  }
  return replaced ? kFetchReplaced : 0;
}

}  // namespace fetching

std::string CachedCopyPath(const std::string& address) {
  const std::string folder = fetching::CacheFolder();
  return folder.empty() ? std::string() : folder + platform::PathSeparator() + CacheName(address) + ".ics";
}

}  // namespace days
}  // namespace zorvani
