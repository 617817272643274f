// Published calendars on Linux: the round's child, run and watched from the check, and
// the fetches it makes with libcurl into the cache.
#include <curl/curl.h>
#include <dirent.h>
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
#include <vector>

#include "days/days.h"
#include "days/fetch.h"
#include "days/fetch_parts.h"
#include "days/source_files.h"
#include "platform/replace_file.h"
#include "platform/services.h"

extern char** environ;

namespace zorvani {
namespace days {
namespace {

using Steady = std::chrono::steady_clock;
using namespace fetching;

constexpr std::chrono::seconds kRoundDeadline{kRoundSeconds};

struct Round {
  pid_t pid = -1;
  Steady::time_point started;
  std::string program = "/proc/self/exe";
};

Round& TheRound() {
  static Round round;
  return round;
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
  const std::string text = AddressLines(addresses);
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

struct Taken {
  fetching::Response& response;
  bool tooLarge = false;
};

std::size_t TakeBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto& taken = *static_cast<Taken*>(user);
  const std::size_t n = size * count;
  // Counted here, whatever the response claimed: a body without an end stops at the bound.
  if (taken.response.body.size() + n > kMaxCalendarBytes) {
    taken.tooLarge = true;
    return 0;
  }
  taken.response.body.append(data, n);
  return n;
}

std::size_t TakeHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto& response = static_cast<Taken*>(user)->response;
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

}  // namespace

namespace fetching {

// The cache folder, made 0700 and ours, or false. A file in it that others may read (made
// by hand, or copied in) is made 0600 first, as the replacement keeps the mode it finds.
bool MakeCacheFolder(const std::string& folder) {
  const std::size_t slash = folder.rfind('/');
  if (slash == std::string::npos) return false;
  mkdir(folder.substr(0, slash).c_str(), 0700);
  mkdir(folder.c_str(), 0700);
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info {};
  bool ok = fstat(fd, &info) == 0 && info.st_uid == geteuid() &&
            ((info.st_mode & 077) == 0 || fchmod(fd, 0700) == 0);
  const int listing = ok ? dup(fd) : -1;
  DIR* entries = listing < 0 ? nullptr : fdopendir(listing);
  if (entries == nullptr && listing >= 0) close(listing);
  for (const dirent* entry; entries != nullptr && (entry = readdir(entries)) != nullptr;) {
    const int file = openat(fd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (file < 0) continue;
    struct stat kept {};
    if (fstat(file, &kept) == 0 && S_ISREG(kept.st_mode) && kept.st_uid == geteuid() && (kept.st_mode & 077) != 0)
      ok = fchmod(file, kept.st_mode & 0700) == 0 && ok;
    close(file);
  }
  if (entries != nullptr) closedir(entries);
  close(fd);
  return ok;
}

std::string CacheFolder() {
  const char* cache = getenv("XDG_CACHE_HOME");
  if (cache != nullptr && cache[0] == '/') return std::string(cache) + "/zorvani-wallpaper";
  const char* home = getenv("HOME");
  if (home != nullptr && home[0] == '/') return std::string(home) + "/.cache/zorvani-wallpaper";
  return {};
}

bool Download(const Request& request, Response* response, std::string* why) {
  CURL* curl = curl_easy_init();
  if (curl == nullptr) return *why = "libcurl would not start", false;
  curl_slist* headers = nullptr;
  if (!request.etag.empty()) headers = curl_slist_append(headers, ("If-None-Match: " + request.etag).c_str());
  if (!request.lastModified.empty())
    headers = curl_slist_append(headers, ("If-Modified-Since: " + request.lastModified).c_str());
  curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
  // https only, redirects included: no http://, file:// or anything else libcurl knows.
  // A libcurl older than 7.85 knows neither option: then nothing is fetched at all.
  if (curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "https") != CURLE_OK ||
      curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "https") != CURLE_OK) {
    curl_easy_cleanup(curl);
    curl_slist_free_all(headers);
    return *why = "libcurl cannot be held to https (older than 7.85)", false;
  }
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, static_cast<long>(kMaxRedirects));
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
  // SSL_CERT_FILE is OpenSSL's own variable for the trusted certificates, which libcurl
  // leaves to its built-in bundle; honoured as the curl command honours it. Whoever sets
  // this program's environment could preload a library as well, so it opens nothing new.
  if (const char* authorities = getenv("SSL_CERT_FILE"); authorities != nullptr && authorities[0] == '/')
    curl_easy_setopt(curl, CURLOPT_CAINFO, authorities);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, static_cast<long>(kFetchSeconds));
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, static_cast<long>(kConnectSeconds));
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 100L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, 15L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  // A length announced beyond the bound is refused before the body comes.
  curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxCalendarBytes));
  // No CURLOPT_ACCEPT_ENCODING: nothing is decompressed, so the bound counts what is kept.
  curl_easy_setopt(curl, CURLOPT_USERAGENT, "zorvani-wallpaper/" ZORVANI_VERSION);
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  Taken taken{*response};
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, TakeBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &taken);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, TakeHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &taken);
  const CURLcode code = curl_easy_perform(curl);
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response->status);
  curl_easy_cleanup(curl);
  curl_slist_free_all(headers);
  if (taken.tooLarge || code == CURLE_FILESIZE_EXCEEDED) return *why = "more than 16 MiB", false;
  // libcurl's own text names no address.
  if (code != CURLE_OK) return *why = curl_easy_strerror(code), false;
  return true;
}

}  // namespace fetching

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
  const std::vector<std::string> addresses = DueAddresses();
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
  const std::vector<std::string> addresses = AddressesOfLines(text);
  const std::string folder = CacheFolder();
  if (addresses.empty() || folder.empty() || !MakeCacheFolder(folder)) return 0;
  if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) return 0;
  const int status = FetchInto(folder, addresses);
  curl_global_cleanup();
  return status;
}

}  // namespace days
}  // namespace zorvani
