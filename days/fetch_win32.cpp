// Published calendars on Windows: the round's child (the program again, in a job that
// ends with the program), run and watched from the check, and the fetches it makes with
// WinHTTP into the cache.
#include <windows.h>
#include <shlobj.h>
#include <winhttp.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "days/days.h"
#include "days/fetch.h"
#include "days/fetch_parts.h"
#include "days/source_files.h"
#include "platform/process.h"

namespace zorvani {
namespace days {
namespace {

using Steady = std::chrono::steady_clock;
using namespace fetching;

constexpr std::chrono::seconds kRoundDeadline{kRoundSeconds};

struct Round {
  HANDLE process = nullptr, job = nullptr;
  Steady::time_point started;
  std::string program;  // empty: this program's own file
};

Round& TheRound() {
  static Round round;
  return round;
}

void Forget(Round& round) {
  CloseHandle(round.process);
  // The job's last handle: KILL_ON_JOB_CLOSE takes anything of the round still there.
  if (round.job != nullptr) CloseHandle(round.job);
  round.process = round.job = nullptr;
}

void Reap(Round& round) {
  if (WaitForSingleObject(round.process, 0) != WAIT_TIMEOUT) Forget(round);
}

void Kill(Round& round) {
  if (round.job == nullptr || !TerminateJobObject(round.job, 1)) TerminateProcess(round.process, 1);
}

// The addresses go through a pipe, never the command line, which every user may read.
void StartRound(Round& round, const std::vector<std::string>& addresses) {
  const std::string text = AddressLines(addresses);
  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  HANDLE input = nullptr, feed = nullptr;
  // A buffer for the whole list, so that the write below never waits on the child.
  // (Wine's PIPE_NOWAIT pipes take nothing at the first write.)
  if (!CreatePipe(&input, &feed, &inherited, static_cast<DWORD>(text.size() + 4096))) return;
  SetHandleInformation(feed, HANDLE_FLAG_INHERIT, 0);
  const HANDLE nowhere = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                                     OPEN_EXISTING, 0, nullptr);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = startup.hStdError = nowhere;
  const std::string program = round.program.empty() ? platform::ExecutablePath() : round.program;
  std::string command = "\"" + program + "\" --fetch-calendar";
  // A job that goes with the program, however it ends, and takes the child with it.
  HANDLE job = CreateJobObjectA(nullptr, nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (job != nullptr && !SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits))
    CloseHandle(job), job = nullptr;
  PROCESS_INFORMATION made{};
  if (CreateProcessA(program.c_str(), command.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED | CREATE_NO_WINDOW,
                     nullptr, nullptr, &startup, &made)) {
    // Inside a job that allows no other (before Windows 8) only the deadline ends it.
    if (job != nullptr && !AssignProcessToJobObject(job, made.hProcess)) CloseHandle(job), job = nullptr;
    ResumeThread(made.hThread);
    CloseHandle(made.hThread);
    round.process = made.hProcess, round.job = job, round.started = Steady::now();
    for (std::size_t done = 0; done < text.size();) {
      DWORD n = 0;
      if (!WriteFile(feed, text.data() + done, static_cast<DWORD>(text.size() - done), &n, nullptr) || n == 0) break;
      done += n;
    }
  } else if (job != nullptr) {
    CloseHandle(job);
  }
  CloseHandle(input);
  CloseHandle(feed);
  if (nowhere != INVALID_HANDLE_VALUE) CloseHandle(nowhere);
}

DWORD WINAPI EndPastTheRound(void*) {
  Sleep(static_cast<DWORD>(kRoundSeconds) * 1000);
  ExitProcess(0);
}

// --- The child's HTTP client -------------------------------------------------------

struct Internet {
  HINTERNET handle;
  ~Internet() {
    if (handle != nullptr) WinHttpCloseHandle(handle);
  }
};

std::wstring Wide(const std::string& text) {
  std::wstring wide;
  for (const char c : text) wide += static_cast<wchar_t>(static_cast<unsigned char>(c));
  return wide;
}

// A header's value, or "" when the response has none. Only ASCII is kept: validators
// and encodings are tokens, and they go back to the server as they came.
std::string Header(HINTERNET request, DWORD which) {
  wchar_t value[4096];
  DWORD size = sizeof value;
  if (!WinHttpQueryHeaders(request, which, WINHTTP_HEADER_NAME_BY_INDEX, value, &size, WINHTTP_NO_HEADER_INDEX))
    return {};
  std::string text;
  for (DWORD i = 0; i < size / sizeof(wchar_t); ++i)
    text += value[i] >= 0x20 && value[i] < 0x7f ? static_cast<char>(value[i]) : '?';
  return text;
}

std::string Reason(DWORD error) {
  switch (error) {
    case ERROR_WINHTTP_TIMEOUT: return "no answer in time";
    case ERROR_WINHTTP_CANNOT_CONNECT: return "no connection";
    case ERROR_WINHTTP_CONNECTION_ERROR:
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE: return "the connection was broken";
    case ERROR_WINHTTP_NAME_NOT_RESOLVED: return "the host's name is not known";
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_INVALID_CERT: return "the server's certificate was refused";
    default: return "WinHTTP error " + std::to_string(error);
  }
}

// Where a Location leads from url, or "" when it is no address this client follows.
std::string Resolve(const std::string& url, const std::string& location) {
  const std::size_t hostStart = url.find("://") + 3;
  const std::size_t pathStart = std::min(url.find('/', hostStart), url.size());
  const std::size_t colon = location.find(':'), slash = location.find('/');
  if (colon != std::string::npos && (slash == std::string::npos || colon < slash)) return location;  // scheme given
  if (location.compare(0, 2, "//") == 0) return url.substr(0, hostStart - 2) + location;
  if (location.compare(0, 1, "/") == 0) return url.substr(0, pathStart) + location;
  const std::string path = url.substr(0, url.find_first_of("?#", pathStart));
  // A query alone replaces the query; a fragment alone leads to the same address.
  if (location[0] == '?') return path + location;
  if (location[0] == '#') return url;
  const std::size_t last = path.rfind('/');
  return (last == std::string::npos || last < pathStart ? path + "/" : path.substr(0, last + 1)) + location;
}

// The milliseconds left before deadline, at least 1.
int Left(ULONGLONG deadline) {
  const ULONGLONG now = GetTickCount64();
  return now >= deadline ? 1 : static_cast<int>(deadline - now);
}

bool DownloadNow(const Request& request, Response* response, std::string* why) {
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(kFetchSeconds) * 1000;
  // No proxy of the user's: WinHTTP's own setting, as for the system's services.
  Internet session{WinHttpOpen(Wide("zorvani-wallpaper/" ZORVANI_VERSION).c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                               WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0)};
  if (session.handle == nullptr) return *why = "WinHTTP would not start", false;
  std::string url = request.url;
  for (int hop = 0;; ++hop) {
    for (const char c : url)
      if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7f)
        return *why = "an address that is not plain ASCII", false;
    const std::wstring wideUrl = Wide(url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    // https only, redirects included: no http://, file:// or anything else.
    if (!WinHttpCrackUrl(wideUrl.c_str(), 0, 0, &parts) || parts.nScheme != INTERNET_SCHEME_HTTPS)
      return *why = hop == 0 ? "not an https:// address" : "a redirect to something other than https://", false;
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    // The fragment is the client's alone; WinHTTP would send it, encoded, as part of the path.
    std::wstring path = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                        std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    path = path.substr(0, path.find(L'#'));
    Internet connection{WinHttpConnect(session.handle, host.c_str(), parts.nPort, 0)};
    if (connection.handle == nullptr) return *why = Reason(GetLastError()), false;
    Internet get{WinHttpOpenRequest(connection.handle, L"GET", path.empty() ? L"/" : path.c_str(), nullptr,
                                    WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE)};
    if (get.handle == nullptr) return *why = Reason(GetLastError()), false;
    // Redirects are followed here, where each one is checked and counted. Nothing sets
    // WINHTTP_OPTION_DECOMPRESSION, so the bound counts what is kept; certificate
    // errors stay errors.
    DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    if (!WinHttpSetOption(get.handle, WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof never))
      return *why = "WinHTTP would not leave redirects to this program", false;
    const int left = Left(deadline);
    WinHttpSetTimeouts(get.handle, std::min(left, kConnectSeconds * 1000), std::min(left, kConnectSeconds * 1000),
                       left, std::min(left, 15000));
    std::wstring headers;
    if (!request.etag.empty()) headers += L"If-None-Match: " + Wide(request.etag) + L"\r\n";
    if (!request.lastModified.empty()) headers += L"If-Modified-Since: " + Wide(request.lastModified) + L"\r\n";
    if (!WinHttpSendRequest(get.handle, headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
                            headers.empty() ? 0 : static_cast<DWORD>(-1), WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(get.handle, nullptr))
      return *why = Reason(GetLastError()), false;
    DWORD status = 0, size = sizeof status;
    if (!WinHttpQueryHeaders(get.handle, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
      return *why = "no status", false;
    response->status = static_cast<long>(status);
    if (status == 301 || status == 302 || status == 303 || status == 307 || status == 308) {
      if (hop == kMaxRedirects) return *why = "more than " + std::to_string(kMaxRedirects) + " redirects", false;
      const std::string location = Header(get.handle, WINHTTP_QUERY_LOCATION);
      if (location.empty()) return *why = "a redirect without a Location", false;
      url = Resolve(url, location);
      continue;
    }
    response->etag = Header(get.handle, WINHTTP_QUERY_ETAG);
    response->lastModified = Header(get.handle, WINHTTP_QUERY_LAST_MODIFIED);
    response->encoding = Header(get.handle, WINHTTP_QUERY_CONTENT_ENCODING);
    // Only a plain calendar's body is worth reading.
    if (status != 200 || !response->encoding.empty()) return true;
    const std::string length = Header(get.handle, WINHTTP_QUERY_CONTENT_LENGTH);
    // A length announced beyond the bound is refused before the body comes.
    const bool number = !length.empty() && length.find_first_not_of("0123456789") == std::string::npos;
    if (number && (length.size() > 9 || std::stoul(length) > kMaxCalendarBytes)) return *why = "more than 16 MiB", false;
    std::vector<char> chunk(65536);
    for (;;) {
      DWORD wait = static_cast<DWORD>(std::min(Left(deadline), 15000));
      WinHttpSetOption(get.handle, WINHTTP_OPTION_RECEIVE_TIMEOUT, &wait, sizeof wait);
      DWORD n = 0;
      if (!WinHttpReadData(get.handle, chunk.data(), static_cast<DWORD>(chunk.size()), &n))
        return *why = Reason(GetLastError()), false;
      if (n == 0) return true;
      // Counted here, whatever the response claimed: a body without an end stops at the bound.
      if (response->body.size() + n > kMaxCalendarBytes) return *why = "more than 16 MiB", false;
      response->body.append(chunk.data(), n);
      if (GetTickCount64() >= deadline) return *why = "no whole answer in " + std::to_string(kFetchSeconds) + " s", false;
    }
  }
}

// One fetch, owned by its thread and by the caller until the caller stops waiting.
struct Fetch {
  Request request;
  Response response;
  std::string why;
  bool done = false;
};

DWORD WINAPI FetchThread(void* held) {
  const std::unique_ptr<std::shared_ptr<Fetch>> fetch(static_cast<std::shared_ptr<Fetch>*>(held));
  Fetch& f = **fetch;
  f.done = DownloadNow(f.request, &f.response, &f.why);
  return 0;
}

}  // namespace

namespace fetching {

// The folder made, and a folder rather than a link or junction planted to send the
// copies elsewhere. Under %LOCALAPPDATA% it takes the profile's own access list.
bool MakeCacheFolder(const std::string& folder) {
  CreateDirectoryA(folder.substr(0, folder.rfind('\\')).c_str(), nullptr);
  CreateDirectoryA(folder.c_str(), nullptr);
  for (const std::string& path : {folder.substr(0, folder.rfind('\\')), folder}) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
      return false;
  }
  return true;
}

// %LOCALAPPDATA% as the variable names it, else as the shell knows it; a folder of its
// own beside wp.bmp's.
std::string CacheFolder() {
  char base[MAX_PATH] = {};
  const DWORD n = GetEnvironmentVariableA("LOCALAPPDATA", base, MAX_PATH);
  if ((n == 0 || n >= MAX_PATH) &&
      SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, base) != S_OK)
    return {};
  if (base[0] == '\0') return {};
  return std::string(base) + "\\ZorvaniWallpaper\\Calendars";
}

// WinHTTP's timeouts are per receive: headers or a body sent a few bytes at a time
// hold a synchronous call for as long as the server likes (under Wine, for both). The
// fetch runs in a thread of its own, and one past its time is left to the round's end,
// which takes it with the child.
bool Download(const Request& request, Response* response, std::string* why) {
  const auto fetch = std::make_shared<Fetch>();
  fetch->request = request;
  auto held = std::make_unique<std::shared_ptr<Fetch>>(fetch);
  const HANDLE thread = CreateThread(nullptr, 0, FetchThread, held.get(), 0, nullptr);
  if (thread == nullptr) return *why = "no thread for the fetch", false;
  held.release();
  const bool ended = WaitForSingleObject(thread, static_cast<DWORD>(kFetchSeconds + 5) * 1000) == WAIT_OBJECT_0;
  CloseHandle(thread);
  if (!ended) return *why = "no whole answer in " + std::to_string(kFetchSeconds) + " s", false;
  *response = std::move(fetch->response);
  *why = fetch->why;
  return fetch->done;
}

}  // namespace fetching

void PollFetching() {
  Round& round = TheRound();
  if (round.process != nullptr) {
    Reap(round);
    if (round.process != nullptr && Steady::now() - round.started > kRoundDeadline) {
      Kill(round);
      Reap(round);  // or at the next check: never waited on here
    }
    return;
  }
  const std::vector<std::string> addresses = DueAddresses();
  if (!addresses.empty()) StartRound(round, addresses);
}

bool Fetching() { return TheRound().process != nullptr; }

void StopFetching() {
  Round& round = TheRound();
  if (round.process == nullptr) return;
  Kill(round);
  // Gone at once, unless stuck in a driver: then left, not waited for.
  if (WaitForSingleObject(round.process, 100) != WAIT_TIMEOUT) Forget(round);
}

void SetFetchProgram(const std::string& path) { TheRound().program = path; }

int FetchCalendarsNow() {
  // Ends by itself past the round's time, should the job not take it.
  const HANDLE watch = CreateThread(nullptr, 0, EndPastTheRound, nullptr, 0, nullptr);
  if (watch != nullptr) CloseHandle(watch);
  std::string text;
  char chunk[4096];
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  for (DWORD n = 0; text.size() <= kAddressesLimit && ReadFile(input, chunk, sizeof chunk, &n, nullptr) && n > 0;)
    text.append(chunk, n);
  const std::vector<std::string> addresses = AddressesOfLines(text);
  const std::string folder = CacheFolder();
  if (addresses.empty() || folder.empty() || !MakeCacheFolder(folder)) return 0;
  return FetchInto(folder, addresses);
}

}  // namespace days
}  // namespace zorvani
