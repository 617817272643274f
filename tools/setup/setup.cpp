#include "tools/setup/setup.h"

#include <dirent.h>
#include <fcntl.h>
#include <iconv.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "days/days.h"
#include "days/fetch.h"
#include "platform/picture.h"
#include "platform/posix/reg_files/hive_location.h"
#include "platform/posix/reg_files/reg_file.h"
#include "platform/replace_file.h"
#include "runtime/runtime_error.h"
#include "tools/calendar/month_picture.h"

namespace zorvani {
namespace setup {

namespace fs = std::filesystem;

namespace {

const char kRunKey[] = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kRunValue[] = "ZorvaniWallPaper";
const char kDesktopKey[] = "HKEY_CURRENT_USER\\Control Panel\\Desktop";
const char kOptionsKey[] = "HKEY_CURRENT_USER\\Software\\ZorvaniWallpaper";
const char kHiveHeader[] = "Windows Registry Editor Version 5.00\n";
const char kMadeList[] = ".zorvani-setup";
const char kEntryName[] = "zorvani-wallpaper.desktop";

std::string Env(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}

// A file descriptor that closes itself.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  int get() const { return fd_; }
  bool ok() const { return fd_ >= 0; }

 private:
  int fd_;
};

std::string ReadAll(int fd, const std::string& what) {
  std::string bytes;
  char buffer[65536];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got == 0) return bytes;
    if (got < 0 && errno != EINTR) throw std::system_error(errno, std::generic_category(), "cannot read " + what);
    if (got > 0) bytes.append(buffer, static_cast<std::size_t>(got));
  }
}

// A plain file in the folder, opened without following a link and without waiting on a
// FIFO; nothing when there is no such file.
std::optional<std::string> ReadPlainFile(int folder, const std::string& name, const fs::path& shown) {
  const Fd file(openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat status;
  if (!file.ok() || fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
  return ReadAll(file.get(), shown.string());
}

bool IsYearFolderName(const std::string& name) {
  return name.size() > 7 && name.compare(0, 7, "Zorvani") == 0 &&
         std::all_of(name.begin() + 7, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A line end or another control character would end a line of the .reg file or the
// entry early: no reader gets such a path back.
void CheckLine(const std::string& path) {
  if (std::any_of(path.begin(), path.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }))
    throw Unrepresentable("the path " + path + " holds a line end or another control character");
}

// glibc's converter from UTF-8 to code points refuses every byte sequence that is not
// UTF-8 of a Unicode character.
bool IsUtf8(const std::string& text) {
  const iconv_t converter = iconv_open("UTF-32LE", "UTF-8");
  if (converter == reinterpret_cast<iconv_t>(-1)) return false;
  std::string in = text, out(text.size() * 4, '\0');
  char* from = in.data();
  char* to = out.data();
  std::size_t left = in.size(), room = out.size();
  const bool valid = iconv(converter, &from, &left, &to, &room) != static_cast<std::size_t>(-1);
  iconv_close(converter);
  return valid;
}

// Desktop Entry string values: a backslash starts an escape, so it is doubled.
std::string EscapeString(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\\') out += '\\';
    out += c;
  }
  return out;
}

bool Exists(const fs::path& path) { return fs::exists(fs::symlink_status(path)); }

// "made" when the file was written, "unchanged" when it already held the text.
const char* Ensure(const fs::path& path, const std::string& text) {
  if (fs::exists(path) && ReadFile(path) == text) return "unchanged";
  ReplaceFile(path, text);
  return "made";
}

std::string RunHiveText(const std::string& existing, const std::string& line) {
  platform::RegFile hive(existing.empty() ? kHiveHeader : existing);
  if (!hive.HasKey(kRunKey)) hive.AddSection(kRunKey);
  platform::RegValue value;
  value.type = 1;  // REG_SZ, stored with its NUL
  value.data.assign(line.begin(), line.end());
  value.data.push_back(0);
  hive.SetValue(kRunKey, kRunValue, value);
  return hive.Text();
}

void Say(const char* what, const fs::path& where, const std::string& note) {
  std::printf("%-18s %s%s\n", what, where.c_str(), note.empty() ? "" : ("  (" + note + ")").c_str());
}

// No month picture set-up copies is larger than twice the largest picture's own pixels
// (a noise picture saved at full quality takes 1.4 times its pixels), nor than twice its
// own pixels and 16 MiB of camera and colour data.
constexpr std::int64_t kMaxPictureFileBytes = platform::kMaxPicturePixels * 6;
std::int64_t LargestFileFor(std::int64_t width, std::int64_t height) {
  return std::min(kMaxPictureFileBytes, width * height * 6 + (std::int64_t{16} << 20));
}

// Copies one month picture when the program can show it: a plain file, opened without
// following a link or waiting on a FIFO, whose header the program's own loader accepts,
// copied a piece at a time up to the size that header allows. Otherwise says why not.
bool CopyPicture(int year, const std::string& picture, const fs::path& source, const fs::path& target) {
  const Fd file(openat(year, picture.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat status;
  if (!file.ok() || fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    Say("Skipped:", source, "a link or no plain file");
    return false;
  }
  std::int64_t largest = kMaxPictureFileBytes;
  if (status.st_size <= largest) {
    try {
      // The loader takes a name: the descriptor's own keeps it to the file opened here.
      const auto header = platform::SystemPictureLoader().LoadPicture("/proc/self/fd/" + std::to_string(file.get()));
      largest = LargestFileFor(header->Width(), header->Height());
    } catch (const zorvani::RuntimeError&) {
      Say("Skipped:", source,
          "not a JPEG picture the program can show: damaged, or beyond its picture size limits");
      return false;
    }
  }
  if (status.st_size > largest) {
    Say("Skipped:", source, std::to_string(status.st_size) + " bytes, more than such a picture needs");
    return false;
  }
  fs::create_directories(target.parent_path());
  platform::FileReplacement copy(platform::SystemFiles(), target.string());
  std::vector<char> buffer(64 * 1024);
  std::int64_t copied = 0;
  bool written = copy.Create();
  for (ssize_t got = 1; written && got != 0;) {
    got = pread(file.get(), buffer.data(), buffer.size(), copied);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw std::system_error(errno, std::generic_category(), "cannot read " + source.string());
    copied += got;
    // A file that grows while it is copied is cut off at what its header allows.
    if (copied > largest) {
      copy.Abandon();
      Say("Skipped:", source, "grew beyond the size such a picture needs while it was copied");
      return false;
    }
    written = copy.Write(buffer.data(), static_cast<std::size_t>(got));
  }
  if (!written || !copy.Commit()) {
    throw std::system_error(static_cast<int>(copy.error()), std::generic_category(), "cannot write " + target.string());
  }
  return true;
}

// Copies the month pictures of the Zorvani<year> folders in the folder named on the
// command line. Run as root, this reads a folder a user may have made, so only plain
// files 1.jpg ... 12.jpg in year folders that are real folders count: a planted link to
// a file or folder only root may read is never followed into the machine's calendar.
void CopyPictures(const Places& places, const std::string& pictures, bool hadIni, MadeList& made) {
  const Fd folder(open(pictures.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder.ok()) throw std::system_error(errno, std::generic_category(), "cannot read " + pictures);
  std::vector<std::string> years;
  for (const auto& entry : fs::directory_iterator(pictures)) {
    if (IsYearFolderName(entry.path().filename().string())) years.push_back(entry.path().filename().string());
  }
  std::sort(years.begin(), years.end());
  for (const std::string& name : years) {
    const Fd year(openat(folder.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!year.ok()) {
      Say("Skipped:", fs::path(pictures) / name, "a link or no folder");
      continue;
    }
    int copied = 0;
    for (int month = 1; month <= 12; ++month) {
      const std::string picture = std::to_string(month) + ".jpg";
      const fs::path source = fs::path(pictures) / name / picture;
      const fs::path target = places.folder / name / picture;
      struct stat status;
      if (fstatat(year.get(), picture.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 || Exists(target)) continue;
      if (!CopyPicture(year.get(), picture, source, target)) continue;
      made.Add(name + "/" + picture);
      ++copied;
    }
    Say("Pictures:", places.folder / name, copied > 0 ? std::to_string(copied) + " copied" : "unchanged");
  }
  if (hadIni) return;
  if (const std::optional<std::string> ini = ReadPlainFile(folder.get(), "WP.ini", fs::path(pictures) / "WP.ini")) {
    ReplaceFile(places.folder / "WP.ini", *ini);
  } else if (Exists(fs::path(pictures) / "WP.ini")) {
    Say("Skipped:", fs::path(pictures) / "WP.ini", "a link or no plain file");
  }
}

int ThisYear() {
  const std::time_t now = std::time(nullptr);
  return std::localtime(&now)->tm_year + 1900;
}

// Makes the sample years among this year and the next that the folder lacks; a WP.ini
// the folder had stays as it was (the user's frame colour).
void MakeSampleYears(const fs::path& folder, int width, int height, MadeList& made) {
  const fs::path ini = folder / "WP.ini";
  const bool hadIni = fs::exists(ini);
  const std::string keptIni = hadIni ? ReadFile(ini) : std::string();
  bool madeAny = false;
  for (const int y : {ThisYear(), ThisYear() + 1}) {
    const std::string name = "Zorvani" + std::to_string(y);
    if (Exists(folder / name)) {
      Say("Pictures:", folder / name, "unchanged");
      continue;
    }
    zorvani::tools::WriteCalendar(folder.string(), y, width, height, 92);
    madeAny = true;
    for (int month = 1; month <= 12; ++month) made.Add(name + "/" + std::to_string(month) + ".jpg");
    made.AddSample(name);
    Say("Pictures:", folder / name,
        "sample calendar made, " + std::to_string(width) + "x" + std::to_string(height));
  }
  if (hadIni && madeAny) ReplaceFile(ini, keptIni);
}

// Makes this year's and next year's sample pictures, or copies the user's own.
void PlacePictures(const Places& places, const Request& request, MadeList& made) {
  const fs::path ini = places.folder / "WP.ini";
  const bool hadIni = fs::exists(ini);
  if (!request.pictures.empty()) {
    CopyPictures(places, request.pictures, hadIni, made);
  } else {
    MakeSampleYears(places.folder, request.width, request.height, made);
  }
  if (!fs::exists(ini)) ReplaceFile(ini, zorvani::tools::WpIniText(zorvani::tools::GridGeometry()));
  if (!hadIni) made.Add("WP.ini");
  Say("Settings:", ini, hadIni ? "unchanged" : "made");
}

// The user's folder shows the machine's year folders and WP.ini through links, so
// pictures the administrator adds later show at the next log-on.
void LinkMachinePictures(const Places& places, MadeList& made) {
  for (const auto& entry : fs::directory_iterator(places.machineFolder)) {
    const std::string name = entry.path().filename().string();
    const bool shared = name == "WP.ini" || (entry.is_directory() && IsYearFolderName(name));
    const fs::path link = places.folder / name;
    if (!shared || fs::exists(fs::symlink_status(link))) continue;
    fs::create_symlink(entry.path(), link);
    made.Add(name);
    Say(name == "WP.ini" ? "Settings:" : "Pictures:", link, "links to " + entry.path().string());
  }
}

const char* PlaceLink(const fs::path& link, const fs::path& program) {
  std::error_code error;
  if (fs::is_symlink(link) && fs::read_symlink(link, error) == program) return "unchanged";
  // A copy left by an earlier set-up would go stale at the next upgrade: replace it.
  std::string problem;
  if (!platform::ReplaceWithLink(link.string(), program.string(), &problem)) throw std::runtime_error(problem);
  return "made";
}

// True when the hive holds nothing but what set-up and the program put there.
bool OnlyOurs(const std::string& text, const std::vector<std::string>& ours) {
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string lower = line;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    const bool known = lower.empty() || std::any_of(ours.begin(), ours.end(), [&](const std::string& prefix) {
                         return lower.rfind(prefix, 0) == 0;
                       });
    if (!known) return false;
    start = end + 1;
  }
  return true;
}

void RemoveHive(const char* what, const fs::path& hive, const std::vector<std::string>& ours) {
  if (!fs::exists(hive)) return;
  if (!OnlyOurs(ReadFile(hive), ours)) {
    Say(what, hive, "kept: it holds other values");
    return;
  }
  fs::remove(hive);
  Say(what, hive, "removed");
  std::error_code ignored;
  fs::remove(hive.parent_path(), ignored);  // only when empty
}

// Walks a name relative to the calendar folder down to the folder that holds its last
// part, never through a link. Not ok, with errno set, when a folder on the way is
// missing, a link or no folder.
Fd OpenParentOf(int root, const std::string& name, std::string* last) {
  Fd current(fcntl(root, F_DUPFD_CLOEXEC, 0));
  std::size_t start = 0;
  for (std::size_t slash; (slash = name.find('/', start)) != std::string::npos; start = slash + 1) {
    const std::string part = name.substr(start, slash - start);
    current = Fd(openat(current.get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!current.ok()) return current;
  }
  *last = name.substr(start);
  return current;
}

// A name as set-up lists it: relative, without empty, "." or ".." parts.
bool IsListedName(const std::string& name) {
  for (std::size_t start = 0;;) {
    const std::size_t slash = name.find('/', start);
    const std::string part = name.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (part.empty() || part == "." || part == "..") return false;
    if (slash == std::string::npos) return true;
    start = slash + 1;
  }
}

// Removes a file or link that set-up made in the calendar folder; a link is removed, never
// what it points at. What is not set-up's stays and is named: a name reached through a
// link, a folder where set-up made a file or link. False when a removal failed.
bool RemoveMade(int root, const fs::path& folder, const std::string& name) {
  std::string last;
  const Fd parent = OpenParentOf(root, name, &last);
  if (!parent.ok()) {
    if (errno == ENOENT) return true;
    if (errno != ELOOP && errno != ENOTDIR) {
      Say("Not removed:", folder / name, std::strerror(errno));
      return false;
    }
    Say("Kept:", folder / name, "a folder on its way is a link or no folder: not what set-up made");
    return true;
  }
  struct stat status;
  if (fstatat(parent.get(), last.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) return true;
  if (S_ISDIR(status.st_mode)) {
    Say("Kept:", folder / name, "a folder: not what set-up made");
    return true;
  }
  if (unlinkat(parent.get(), last.c_str(), 0) == 0 || errno == ENOENT) return true;
  Say("Not removed:", folder / name, std::strerror(errno));
  return false;
}

}  // namespace

namespace {

struct SourceHive {
  fs::path file;
  std::string key;
  bool secret;
};

SourceHive SourceHiveFor(bool system) {
  const char* root = system ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
  return {system ? platform::MachineHiveFile(root) : platform::UserHiveFile(root),
          std::string(root) + "\\" + days::kSourcesKey, !system};
}

std::optional<std::string> SourceValue(const platform::RegFile& hive, const std::string& key, int n) {
  const std::optional<platform::RegValue> value = hive.FindValue(key, std::to_string(n));
  if (!value || value->type != 1) return std::nullopt;
  std::string text(value->data.begin(), value->data.end());
  while (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

// An address is never printed whole: its path, query and any password are what make it secret.
std::string ShownLocation(const std::string& location) {
  const days::Source source{days::Kind::Event, std::nullopt, location};
  return source.IsAddress() ? days::AddressHost(location) + "/..." : location;
}

std::string Shown(const days::Source& source) {
  days::Source shown = source;
  shown.location = ShownLocation(source.location);
  return days::SourceText(shown);
}

void WriteSourceHive(const SourceHive& where, const std::string& text) {
  fs::create_directories(where.file.parent_path());
  if (where.secret) {
    // 0600 before the secret goes in; the replacement keeps the file's mode.
    const int fd = open(where.file.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 || fchmod(fd, 0600) != 0) {
      if (fd >= 0) close(fd);
      throw std::runtime_error("cannot make " + where.file.string() + " private: " + std::strerror(errno));
    }
    close(fd);
  }
  ReplaceFile(where.file, text);
}

}  // namespace

int AddSource(bool system, const std::string& text) {
  std::optional<days::Source> source = days::ParseSource(text);
  if (!source) {
    std::fprintf(stderr, "not a calendar source: want \"holidays|events [#RRGGBB] FILE-OR-https://-ADDRESS\"\n");
    return 2;
  }
  if (!source->IsAddress()) {
    if (!fs::is_regular_file(source->location)) {
      std::fprintf(stderr, "no calendar file %s\n", source->location.c_str());
      return 2;
    }
    source->location = fs::absolute(source->location).lexically_normal().string();
  }
  if (source->IsAddress() && std::any_of(source->location.begin(), source->location.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
      })) {
    std::fprintf(stderr, "the address %s holds a control character\n", ShownLocation(source->location).c_str());
    return 2;
  }
  CheckLine(source->location);
  const SourceHive where = SourceHiveFor(system);
  const std::string existing = ReadFile(where.file);
  platform::RegFile hive(existing.empty() ? kHiveHeader : existing);
  if (!hive.HasKey(where.key)) hive.AddSection(where.key);
  int free = 0;
  for (int n = days::kMaxSources; n >= 1; --n) {
    const std::optional<std::string> listed = SourceValue(hive, where.key, n);
    if (!listed) free = n;
    if (listed && days::ParseSource(*listed) && days::ParseSource(*listed)->location == source->location) {
      std::fprintf(stderr, "already listed as %d\n", n);
      return 1;
    }
  }
  if (free == 0) {
    std::fprintf(stderr, "the list is full (%d sources)\n", days::kMaxSources);
    return 1;
  }
  const std::string line = days::SourceText(*source);
  platform::RegValue value;
  value.type = 1;
  value.data.assign(line.begin(), line.end());
  value.data.push_back(0);
  hive.SetValue(where.key, std::to_string(free), value);
  WriteSourceHive(where, hive.Text());
  Say("Calendar source:", where.file, std::to_string(free) + " " + Shown(*source));
  return 0;
}

int ListSources(bool system) {
  const SourceHive where = SourceHiveFor(system);
  const platform::RegFile hive(ReadFile(where.file));
  for (int n = 1; n <= days::kMaxSources; ++n) {
    const std::optional<std::string> listed = SourceValue(hive, where.key, n);
    const std::optional<days::Source> source = listed ? days::ParseSource(*listed) : std::nullopt;
    if (source) std::printf("%d %s\n", n, Shown(*source).c_str());
  }
  return 0;
}

int RemoveSource(bool system, const std::string& which) {
  const SourceHive where = SourceHiveFor(system);
  const std::string existing = ReadFile(where.file);
  if (existing.empty()) return 1;
  platform::RegFile hive(existing);
  for (int n = 1; n <= days::kMaxSources; ++n) {
    const std::optional<std::string> listed = SourceValue(hive, where.key, n);
    const std::optional<days::Source> source = listed ? days::ParseSource(*listed) : std::nullopt;
    if (!listed || (which != std::to_string(n) && (!source || source->location != which))) continue;
    // Emptied, not deleted: the .reg text has no deletion but in its own syntax.
    platform::RegValue none;
    none.type = 0;
    hive.SetValue(where.key, std::to_string(n), none);
    WriteSourceHive(where, hive.Text());
    Say("Removed source:", where.file, std::to_string(n));
    return 0;
  }
  std::fprintf(stderr, "no source %s in %s\n", ShownLocation(which).c_str(), where.file.c_str());
  return 1;
}

Places PlacesFor(bool system) {
  Places places;
  places.system = system;
  if (system) {
    places.folder = places.machineFolder;
    places.runHive = platform::MachineHiveFile("HKEY_LOCAL_MACHINE");
    return places;
  }
  const std::string home = Env("HOME", "");
  places.folder = fs::path(Env("XDG_DATA_HOME", home + "/.local/share")) / "zorvani-wallpaper";
  places.runHive = platform::UserHiveFile("HKEY_LOCAL_MACHINE");
  places.desktopHive = platform::UserHiveFile("HKEY_CURRENT_USER");
  places.entry = fs::path(Env("XDG_CONFIG_HOME", home + "/.config")) / "autostart" / kEntryName;
  places.declined = fs::path(Env("XDG_CONFIG_HOME", home + "/.config")) / "zorvani-wallpaper" / "machine-calendar-declined";
  return places;
}

bool MachineCalendarRefused(const Places& places) {
  return !places.declined.empty() && fs::exists(fs::symlink_status(places.declined));
}

// The user's own auto-start value names another program than this folder's link: a
// calendar of their own, registered by hand or by an older set-up.
bool RunsAnotherCalendar(const Places& places) {
  std::error_code ignored;
  if (places.system || !fs::is_regular_file(places.runHive, ignored)) return false;
  const std::optional<platform::RegValue> value = platform::RegFile(ReadFile(places.runHive)).FindValue(kRunKey, kRunValue);
  if (!value) return false;
  std::string text(value->data.begin(), value->data.end());
  text = text.substr(0, text.find('\0'));
  try {
    return !text.empty() && text != RunValueOf(places.link());
  } catch (const std::exception&) {
    return false;  // a link the value cannot name: none names it
  }
}

bool MachineCalendarDeclined(const Places& places) {
  return MachineCalendarRefused(places) ||
         (!places.declined.empty() && (MadeList(places.folder).PlacedPictures() || RunsAnotherCalendar(places)));
}

std::string RunValueOf(const fs::path& program) {
  const std::string path = program.string();
  CheckLine(path);
  if (path.find(' ') == std::string::npos) return path;
  if (path.find('"') != std::string::npos)
    throw Unrepresentable("the path " + path + " holds a space and a \", which the auto-start value cannot hold");
  return "\"" + path + "\"";
}

std::string ExecArgument(const fs::path& program) {
  const std::string path = program.string();
  CheckLine(path);
  if (!IsUtf8(path)) throw Unrepresentable("the path " + path + " is not UTF-8, as a log-on entry must be");
  // GLib looks for the program by its Exec text before it turns %% into %, so it would
  // never find a program whose path holds a %.
  if (path.find('%') != std::string::npos)
    throw Unrepresentable("the path " + path + " holds a %, which a log-on entry cannot name");
  if (path.find_first_of(" \t\"'\\><~|&;$*?#()`=") == std::string::npos) return path;
  std::string quoted = "\"";
  for (const char c : path) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    quoted += c;
  }
  // Exec is a string value too: its backslashes are escaped once more.
  return EscapeString(quoted + "\"");
}

void ReplaceFile(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::string error;
  if (!platform::ReplaceFileWith(path.string(), bytes, &error)) throw std::runtime_error(error);
}

MadeList::MadeList(const fs::path& folder) : file_(folder / kMadeList) {
  const Fd in(open(file_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat status;
  if (!in.ok() || fstat(in.get(), &status) != 0 || !S_ISREG(status.st_mode)) return;
  const std::string text = ReadAll(in.get(), file_.string());
  for (std::size_t start = 0, end; start < text.size(); start = end + 1) {
    end = std::min(text.find('\n', start), text.size());
    if (end == start) continue;
    const std::string line = text.substr(start, end - start);
    if (line.back() == '/') {
      samples_.insert(line.substr(0, line.size() - 1));
    } else {
      names_.insert(line);
    }
  }
}

bool MadeList::PlacedPictures() const {
  return !samples_.empty() ||
         std::any_of(names_.begin(), names_.end(), [](const std::string& name) { return name.find('/') != std::string::npos; });
}

void MadeList::Save() const {
  if (!changed_) return;
  std::string text;
  for (const std::string& name : names_) text += name + "\n";
  for (const std::string& year : samples_) text += year + "/\n";
  ReplaceFile(file_, text);
}

std::string EntryText(const fs::path& program, const fs::path& setup) {
  const std::string exec = setup.empty() ? ExecArgument(program)
                                         : ExecArgument(setup) + " --logon " + ExecArgument(program);
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=Zorvani Wallpaper\n"
         "Comment=Frames today on this month's calendar picture and makes it the wallpaper\n"
         "Exec=" + exec + "\n"
         "TryExec=" + EscapeString(program.string()) + "\n"
         "Terminal=false\n"
         "NoDisplay=true\n"
         "X-GNOME-Autostart-enabled=true\n";
}

int SetUp(const Places& places, const Request& request) {
  if (!fs::is_regular_file(request.program)) {
    std::fprintf(stderr, "zorvani-wallpaper-setup: no program at %s (give it with --program)\n", request.program.c_str());
    return 1;
  }
  const fs::path program = fs::absolute(request.program).lexically_normal();
  // Every text set-up writes names the link: refuse what one cannot hold before writing.
  std::string runValue, entryText;
  try {
    runValue = RunValueOf(places.link());
    if (!places.entry.empty() && request.autostart) entryText = EntryText(places.link(), request.setup);
  } catch (const Unrepresentable& problem) {
    std::fprintf(stderr, "zorvani-wallpaper-setup: nothing set up: %s\n", problem.what());
    return 1;
  }
  if (!request.session && MachineCalendarRefused(places)) {
    fs::remove(places.declined);
    Say("Declined:", places.declined, "removed: set up again");
  }
  fs::create_directories(places.folder);
  Say("Calendar folder:", places.folder, "");
  MadeList made(places.folder);
  if (request.session) {
    LinkMachinePictures(places, made);
  } else {
    PlacePictures(places, request, made);
  }
  Say("Program:", places.link(), std::string(PlaceLink(places.link(), program)) + ", links to " + program.string());
  made.Add("zorvani-wallpaper");
  made.Save();

  Say("Auto-start value:", places.runHive, Ensure(places.runHive, RunHiveText(ReadFile(places.runHive), runValue)));
  if (!places.desktopHive.empty()) {
    // The program writes its desktop values only into a key that exists.
    const std::string text = ReadFile(places.desktopHive);
    platform::RegFile hive(text.empty() ? kHiveHeader : text);
    if (!hive.HasKey(kDesktopKey)) hive.AddSection(kDesktopKey);
    if (request.lockScreen) {
      if (!hive.HasKey(kOptionsKey)) hive.AddSection(kOptionsKey);
      platform::RegValue value;
      value.type = 1;
      value.data = {static_cast<std::uint8_t>(*request.lockScreen ? '1' : '0'), 0};
      hive.SetValue(kOptionsKey, "LockScreen", value);
    }
    Say("Desktop key:", places.desktopHive, Ensure(places.desktopHive, hive.Text()));
    if (request.lockScreen)
      Say("Lock screen:", places.desktopHive,
          *request.lockScreen ? "on: it shows the calendar too from the next change; --remove gives its picture back"
                              : "off: a lock screen the program changed gets its picture back at the next change");
  }
  if (!entryText.empty()) Say("Log-on entry:", places.entry, Ensure(places.entry, entryText));
  if (places.system) {
    Say("Log-on entry:", "/etc/xdg/autostart/zorvani-wallpaper.desktop", "from the package");
    std::printf("At log-on each user without a calendar of their own gets one that shows these pictures.\n");
  } else {
    std::printf("The wallpaper is written to %s %s.\n", (places.folder / "wp.bmp").c_str(),
                request.autostart ? "at every log-on and every new day" : "whenever the program runs");
  }
  return 0;
}

int Remove(const Places& places) {
  // Without this the machine's log-on entry would make the calendar again at the next log-on.
  if (!places.declined.empty() && fs::is_directory(places.machineFolder) && !MachineCalendarRefused(places)) {
    ReplaceFile(places.declined, "This user declined the machine's calendar (zorvani-wallpaper-setup --remove).\n"
                                 "zorvani-wallpaper-setup without --remove takes it back.\n");
    Say("Declined:", places.declined, "the machine's calendar stays off at log-on");
  }
  std::string link;
  try {
    link = ExecArgument(places.link()) + "\n";
  } catch (const Unrepresentable&) {
    // Set-up writes no entry for such a folder.
  }
  // The entry starts the link, itself or through set-up --logon (earlier set-ups wrote the first).
  const std::string entry = link.empty() || places.entry.empty() ? std::string() : ReadFile(places.entry);
  if (!link.empty() && (entry.find("\nExec=" + link) != std::string::npos ||
                        (entry.find("\nExec=") != std::string::npos && entry.find(" --logon " + link) != std::string::npos))) {
    fs::remove(places.entry);
    Say("Log-on entry:", places.entry, "removed");
    std::error_code ignored;
    fs::remove(places.entry.parent_path(), ignored);  // only when empty
  }
  RemoveHive("Auto-start value:", places.runHive,
             {"windows registry editor", "[hkey_local_machine\\software\\microsoft\\windows\\currentversion\\run]",
              "\"zorvaniwallpaper\"="});
  if (!places.desktopHive.empty()) {
    RemoveHive("Desktop key:", places.desktopHive,
               {"windows registry editor", "[hkey_current_user\\control panel\\desktop]", "\"tilewallpaper\"=",
                "\"wallpaperstyle\"=", "\"wallpaper\"=", "[hkey_current_user\\software\\zorvaniwallpaper]", "\"lockscreen\"="});
  }
  // Everything below works relative to the folder, opened without following a link: a
  // user may have made any part of it a link to pictures of their own.
  const Fd root(open(places.folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!root.ok()) {
    if (errno == ENOENT) return 0;
    if (errno != ELOOP && errno != ENOTDIR) throw std::system_error(errno, std::generic_category(), places.folder.string());
    Say("Kept:", places.folder, "a link or no folder: not what set-up made");
    return 0;
  }
  const MadeList made(places.folder);
  // What is not set-up's is skipped and the rest finished, so a second run has nothing
  // left to stumble on; the list stays only after a removal that failed.
  bool removed = true;
  std::set<std::string> folders;
  for (const std::string& name : made.names()) {
    if (!IsListedName(name)) continue;  // a doctored list
    removed = RemoveMade(root.get(), places.folder, name) && removed;
    if (name.find('/') != std::string::npos) folders.insert(name.substr(0, name.rfind('/')));
  }
  // The program's output: wp.bmp and the copies some desktops are handed instead.
  std::vector<std::string> output = {"wp.bmp", "wp.png"};
  // ...and the pictures made for each monitor or spanned over them ("wp-HDMI-1.bmp",
  // "wp-span.bmp") with their copies.
  const int listed = dup(root.get());
  DIR* const listing = listed >= 0 ? fdopendir(listed) : nullptr;
  if (listing == nullptr && listed >= 0) close(listed);
  if (listing != nullptr) {
    while (const dirent* found = readdir(listing)) {
      const std::string name = found->d_name;
      if (name.size() > 7 && name.compare(0, 3, "wp-") == 0 &&
          (name.compare(name.size() - 4, 4, ".bmp") == 0 || name.compare(name.size() - 4, 4, ".png") == 0)) {
        output.push_back(name);
      }
    }
    closedir(listing);
  }
  for (const std::string& name : output) removed = RemoveMade(root.get(), places.folder, name) && removed;
  if (removed) RemoveMade(root.get(), places.folder, kMadeList);
  // Folders go only when empty, so added pictures stay; deepest first.
  for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder) {
    std::string last;
    const Fd parent = OpenParentOf(root.get(), *folder, &last);
    if (parent.ok()) unlinkat(parent.get(), last.c_str(), AT_REMOVEDIR);
  }
  const bool kept = rmdir(places.folder.c_str()) != 0;
  Say("Calendar folder:", places.folder, kept ? "kept with the pictures you added" : "removed");
  return removed ? 0 : 1;
}

void AtLogOn(const fs::path& folder, const std::function<std::pair<int, int>()>& size) {
  if (access(folder.c_str(), W_OK) != 0) return;
  MadeList made(folder);
  std::vector<std::string> samples;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (!IsYearFolderName(name)) continue;
    // A year that is not set-up's sample, or a link the user put there: their calendar.
    if (!made.IsSample(name) || !fs::is_directory(fs::symlink_status(entry.path()))) return;
    samples.push_back(name);
  }
  if (samples.empty()) return;
  const int year = ThisYear();
  if (Exists(folder / ("Zorvani" + std::to_string(year))) && Exists(folder / ("Zorvani" + std::to_string(year + 1))))
    return;
  // The kept WP.ini's grid was drawn for the samples already there: a new year at another
  // screen's shape would put its days elsewhere, so it takes their size.
  auto [width, height] = size();
  std::sort(samples.begin(), samples.end());
  const fs::path january = folder / samples.back() / "1.jpg";
  const Fd file(open(january.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat status;
  if (file.ok() && fstat(file.get(), &status) == 0 && S_ISREG(status.st_mode) && status.st_size <= kMaxPictureFileBytes) {
    try {
      const auto shown = platform::SystemPictureLoader().LoadPicture("/proc/self/fd/" + std::to_string(file.get()));
      width = shown->Width(), height = shown->Height();
    } catch (const zorvani::RuntimeError&) {
    }
  }
  MakeSampleYears(folder, width, height, made);
  made.Save();
}

bool StartDetached(const fs::path& program, std::string* problem) {
  const std::string path = program.string();
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) {
    *problem = std::strerror(errno);
    return false;
  }
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    // A new session has no controlling terminal: closing the terminal sends it nothing.
    // The session's leader forks once more and ends, so the program can never gain a
    // terminal again and is nobody's child to reap but init's.
    setsid();
    const pid_t program_pid = fork();
    if (program_pid != 0) _exit(program_pid < 0 ? 1 : 0);
    const int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
      dup2(null, 0);
      dup2(null, 1);
      dup2(null, 2);
      if (null > 2) close(null);
    }
    // Only the standard streams go on: a descriptor that set-up's caller left open (a lock
    // it holds) would stay with the program for the whole session. The report pipe moves
    // to descriptor 3 and closes at the exec.
    const int reportEnd = report[1] == 3 ? 3 : dup3(report[1], 3, O_CLOEXEC);
    closefrom(reportEnd == 3 ? 4 : 3);
    if (chdir("/") != 0) _exit(1);
    execl(path.c_str(), path.c_str(), static_cast<char*>(nullptr));
    const int error = errno;
    if (write(reportEnd, &error, sizeof error) < 0) _exit(1);
    _exit(1);
  }
  close(report[1]);
  if (child < 0) {
    *problem = std::strerror(errno);
    close(report[0]);
    return false;
  }
  int status = 0;
  for (const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
       waitpid(child, &status, WNOHANG) == 0;) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  // The pipe closes at exec; an exec that failed writes its errno first.
  int error = 0;
  pollfd wait{report[0], POLLIN, 0};
  const bool answered = poll(&wait, 1, 5000) == 1 && read(report[0], &error, sizeof error) == sizeof error;
  close(report[0]);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    *problem = "cannot start a new session for it";
    return false;
  }
  if (answered) {
    *problem = std::strerror(error);
    return false;
  }
  return true;
}

}  // namespace setup
}  // namespace zorvani
