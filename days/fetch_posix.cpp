// Published calendars on Linux: the round's child, run and watched from the check, and
// the fetches it makes with libcurl into the cache.
#include <curl/curl.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <set>
#include <vector>

#include "days/days.h"
#include "days/fetch.h"
#include "days/source_files.h"
#include "platform/replace_file.h"
#include "platform/services.h"

extern char** environ;

namespace zorvani {
namespace days {
namespace {

using Steady = std::chrono::steady_clock;

constexpr long long kRoundEvery = 3600;  // seconds of the clock service
// A round's whole time: at most kMaxSources fetches of kFetchSeconds each would be more,
// and what is left over is fetched at the next round.
constexpr std::chrono::seconds kRoundDeadline{600};
constexpr long kFetchSeconds = 30;
constexpr std::size_t kAddressesLimit = kMaxSources * 8192 + kMaxSources;

struct Round {
  pid_t pid = -1;
  Steady::time_point started;
  bool started_once = false;
  long long lastStart = 0;
  std::string program = "/proc/self/exe";
};

Round& TheRound() {
  static Round round;
  return round;
}

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

std::string CacheFolder() {
  const char* cache = getenv("XDG_CACHE_HOME");
  if (cache != nullptr && cache[0] == '/') return std::string(cache) + "/zorvani-wallpaper";
  const char* home = getenv("HOME");
  if (home != nullptr && home[0] == '/') return std::string(home) + "/.cache/zorvani-wallpaper";
  return {};
}

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

void Reap(Round& round) {
  int status = 0;
  const pid_t done = waitpid(round.pid, &status, WNOHANG);
  if (done == round.pid) {
    round.pid = -1;
  } else if (done < 0 && errno != EINTR) {
    round.pid = -1;
  }
}

// The addresses go through a pipe, never the command line, which every user may read.
void StartRound(Round& round, const std::vector<std::string>& addresses) {
  std::string text;
  for (const std::string& address : addresses) text += address + "\n";
  if (text.size() > kAddressesLimit) text.resize(kAddressesLimit);
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return;
  // Room for the whole list, so that the write below never waits on the child.
  fcntl(ends[1], F_SETPIPE_SZ, static_cast<int>(kAddressesLimit));
  fcntl(ends[1], F_SETFL, O_NONBLOCK);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, ends[0], 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // Its own process group, so that the deadline and the program's end take all of it;
  // none of the signal mask or handlers the hidden form set up for itself.
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  posix_spawnattr_setpgroup(&attributes, 0);
  sigset_t none, defaults;
  sigemptyset(&none);
  sigfillset(&defaults);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  std::string name = "zorvani-wallpaper", mode = "--fetch-calendar";
  char* argv[] = {name.data(), mode.data(), nullptr};
  pid_t child = -1;
  const int failed = posix_spawn(&child, round.program.c_str(), &actions, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  close(ends[0]);
  if (failed == 0) {
    round.pid = child;
    round.started = Steady::now();
    for (std::size_t done = 0; done < text.size();) {
      const ssize_t n = write(ends[1], text.data() + done, text.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
  }
  close(ends[1]);
}

// --- The child -------------------------------------------------------------------

struct Validators {
  std::string etag, lastModified;
  bool failing = false;
};

Validators ReadValidators(const std::string& path) {
  Validators kept;
  std::string text;
  if (!platform::ReadRegularFile(path, &text) || text.size() > 8192) return kept;
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

struct Response {
  std::string body, etag, lastModified, encoding;
  bool tooLarge = false;
};

std::size_t TakeBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto& response = *static_cast<Response*>(user);
  const std::size_t n = size * count;
  // Counted here, whatever the response claimed: a body without an end stops at the bound.
  if (response.body.size() + n > kMaxCalendarBytes) {
    response.tooLarge = true;
    return 0;
  }
  response.body.append(data, n);
  return n;
}

std::size_t TakeHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto& response = *static_cast<Response*>(user);
  const std::size_t n = size * count;
  std::string line(data, std::min<std::size_t>(n, 1024));
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  // Each response of a redirect chain starts anew; only the last one's count.
  if (line.compare(0, 5, "HTTP/") == 0) {
    response.etag.clear(), response.lastModified.clear(), response.encoding.clear();
    return n;
  }
  const std::size_t colon = line.find(':');
  if (colon == std::string::npos) return n;
  std::string name = line.substr(0, colon);
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::size_t start = line.find_first_not_of(' ', colon + 1);
  const std::string value = start == std::string::npos ? std::string() : line.substr(start);
  if (name == "etag") response.etag = value;
  if (name == "last-modified") response.lastModified = value;
  if (name == "content-encoding") response.encoding = value;
  return n;
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
  const std::string base = folder + "/" + CacheName(address);
  Validators kept = ReadValidators(base + ".state");
  struct stat info {};
  const bool haveCopy = stat((base + ".ics").c_str(), &info) == 0;
  if (!haveCopy) kept.etag.clear(), kept.lastModified.clear();

  CURL* curl = curl_easy_init();
  if (curl == nullptr) return *why = "libcurl would not start", Outcome::Failed;
  Response response;
  curl_slist* headers = nullptr;
  // Header values sent back as the server gave them; one with a line break is not used.
  const auto plain = [](const std::string& v) { return !v.empty() && v.find_first_of("\r\n") == std::string::npos; };
  if (plain(kept.etag)) headers = curl_slist_append(headers, ("If-None-Match: " + kept.etag).c_str());
  if (plain(kept.lastModified)) headers = curl_slist_append(headers, ("If-Modified-Since: " + kept.lastModified).c_str());
  const std::string url = FetchedUrl(address);
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  // https only, redirects included: no http://, file:// or anything else libcurl knows.
  // A libcurl older than 7.85 knows neither option: then nothing is fetched at all.
  if (curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "https") != CURLE_OK ||
      curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "https") != CURLE_OK) {
    curl_easy_cleanup(curl);
    curl_slist_free_all(headers);
    return *why = "libcurl cannot be held to https (older than 7.85)", Outcome::Failed;
  }
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
  // SSL_CERT_FILE is OpenSSL's own variable for the trusted certificates, which libcurl
  // leaves to its built-in bundle; honoured as the curl command honours it. Whoever sets
  // this program's environment could preload a library as well, so it opens nothing new.
  if (const char* authorities = getenv("SSL_CERT_FILE"); authorities != nullptr && authorities[0] == '/')
    curl_easy_setopt(curl, CURLOPT_CAINFO, authorities);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, kFetchSeconds);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 10L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 100L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, 15L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  // A length announced beyond the bound is refused before the body comes.
  curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxCalendarBytes));
  // No CURLOPT_ACCEPT_ENCODING: nothing is decompressed, so the bound counts what is kept.
  curl_easy_setopt(curl, CURLOPT_USERAGENT, "zorvani-wallpaper/" ZORVANI_VERSION);
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, TakeBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &response);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, TakeHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &response);
  const CURLcode code = curl_easy_perform(curl);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_easy_cleanup(curl);
  curl_slist_free_all(headers);

  if (response.tooLarge || code == CURLE_FILESIZE_EXCEEDED) return *why = "more than 16 MiB", Outcome::Failed;
  // libcurl's own text names no address.
  if (code != CURLE_OK) return *why = curl_easy_strerror(code), Outcome::Failed;
  if (status == 304 && haveCopy) return Outcome::Kept;
  if (status != 200) return *why = "HTTP status " + std::to_string(status), Outcome::Failed;
  if (!response.encoding.empty() && response.encoding != "identity")
    return *why = "a compressed body (Content-Encoding " + response.encoding.substr(0, 32) + ") that was not asked for",
           Outcome::Failed;
  if (!LooksLikeCalendar(response.body)) return *why = "not a calendar", Outcome::Failed;

  std::string old;
  FileStamp stamp;
  if (haveCopy && ReadSourceFile(base + ".ics", &old, &stamp) && old == response.body) {
    kept.etag = response.etag, kept.lastModified = response.lastModified;
    WriteValidators(base + ".state", kept);
    return Outcome::Kept;
  }
  std::string error;
  if (!platform::ReplaceFileWith(base + ".ics", response.body, &error))
    return *why = "the cache cannot be written", Outcome::Failed;
  kept.etag = response.etag, kept.lastModified = response.lastModified;
  WriteValidators(base + ".state", kept);
  return Outcome::Replaced;
}

// The cache folder, made 0700 and ours, or false.
bool MakeCacheFolder(const std::string& folder) {
  const std::size_t slash = folder.rfind('/');
  if (slash == std::string::npos) return false;
  mkdir(folder.substr(0, slash).c_str(), 0700);
  mkdir(folder.c_str(), 0700);
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info {};
  const bool ok = fstat(fd, &info) == 0 && info.st_uid == geteuid() &&
                  ((info.st_mode & 077) == 0 || fchmod(fd, 0700) == 0);
  close(fd);
  return ok;
}

}  // namespace

std::string CachedCopyPath(const std::string& address) {
  const std::string folder = CacheFolder();
  return folder.empty() ? std::string() : folder + "/" + CacheName(address) + ".ics";
}

void PollFetching() {
  Round& round = TheRound();
  if (round.pid > 0) {
    Reap(round);
    if (round.pid > 0 && Steady::now() - round.started > kRoundDeadline) {
      kill(-round.pid, SIGKILL);
      Reap(round);  // or at the next check: never waited on here
    }
    return;
  }
  const long long now = ClockSeconds();
  // A clock set back starts the hour anew.
  if (round.started_once && now >= round.lastStart && now - round.lastStart < kRoundEvery) return;
  round.started_once = true;
  round.lastStart = now;
  const std::vector<std::string> addresses = ListedAddresses();
  if (!addresses.empty()) StartRound(round, addresses);
}

bool Fetching() { return TheRound().pid > 0; }

void StopFetching() {
  Round& round = TheRound();
  if (round.pid <= 0) return;
  kill(-round.pid, SIGKILL);
  // Gone at once after SIGKILL, unless stuck in the kernel: then left, not waited for.
  const timespec step{0, 5000000};
  for (int i = 0; i < 20 && round.pid > 0; ++i) {
    Reap(round);
    if (round.pid > 0) nanosleep(&step, nullptr);
  }
}

void SetFetchProgram(const std::string& path) { TheRound().program = path; }

int FetchCalendarsNow() {
  // Ends with the program that started it, and by itself past the round's time.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  alarm(static_cast<unsigned>(kRoundDeadline.count()));
  // The cache holds the user's secret addresses' calendars: 0600 files, a 0700 folder.
  umask(077);
  std::string text;
  char chunk[4096];
  for (ssize_t n; text.size() <= kAddressesLimit && ((n = read(0, chunk, sizeof chunk)) > 0 || (n < 0 && errno == EINTR));)
    if (n > 0) text.append(chunk, static_cast<std::size_t>(n));
  std::vector<std::string> addresses;
  for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos && at <= kAddressesLimit; at = end + 1) {
    Source source;
    source.location = text.substr(at, end - at);
    if (source.IsAddress()) addresses.push_back(source.location);
  }
  const std::string folder = CacheFolder();
  if (addresses.empty() || folder.empty() || !MakeCacheFolder(folder)) return 0;
  if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) return 0;
  bool replaced = false;
  for (const std::string& address : addresses) {
    std::string why;
    const Outcome outcome = FetchOne(folder, address, &why);
    replaced = replaced || outcome == Outcome::Replaced;
    const std::string state = folder + "/" + CacheName(address) + ".state";
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
  curl_global_cleanup();
  return replaced ? kFetchReplaced : 0;
}

}  // namespace days
}  // namespace zorvani
