// The wallpaper the desktop showed before the program's first change, kept in the
// user's state folder until the program is removed and gives it back.
//
// The record is a few "name=value" lines (a backslash before "\" and "n"), written
// whole: the backend that read it, the picture's path, the placement in the backend's
// own words and, for feh, the path and bytes of ~/.fehbg.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>

#include "platform/posix/desktop/desktop_backends.h"
#include "platform/posix/private_folder.h"
#include "platform/replace_file.h"

namespace platform {
namespace posix {
namespace {

// Far beyond any record: the largest ~/.fehbg kept is a quarter of it.
constexpr std::size_t kLargestRecord = 1 << 20;

std::string Line(const std::string& name, const std::string& value) {
  std::string line = name + "=";
  for (const char c : value) {
    if (c == '\\' || c == '\n') line += '\\';
    line += c == '\n' ? 'n' : c;
  }
  return line + "\n";
}

// The record, read as it is written: only from the user's own private folder (a state
// folder that another user made first, in a shared folder, is no proof of anything),
// and only a regular file of the user's. Nobody else reaches into that folder, so the
// file's own mode (a umask of 002 leaves it group-writable) proves nothing either way.
bool ReadKept(int folder, const std::string& name, std::string* text) {
  const int fd = openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info {};
  bool read = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == geteuid();
  char buffer[4096];
  for (ssize_t n; read && (n = ::read(fd, buffer, sizeof buffer)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    read = n > 0 && text->size() + static_cast<std::size_t>(n) <= kLargestRecord;
    if (read) text->append(buffer, static_cast<std::size_t>(n));
  }
  close(fd);
  return read;
}

// As feh writes ~/.fehbg: through a link to it (dotfile managers keep it so) when that
// leads to a regular file of the user's, and left executable.
void GiveBackToolFile(const std::string& file, const std::string& text) {
  std::string target = file;
  struct stat info {};
  if (lstat(file.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
    char resolved[PATH_MAX];
    if (realpath(file.c_str(), resolved) == nullptr || stat(resolved, &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_uid != geteuid())
      return;
    target = resolved;
  }
  if (!ReplaceFileWith(target, text)) return;
  const int fd = open(target.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;
  if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) fchmod(fd, (info.st_mode & 07777) | S_IXUSR | S_IXGRP);
  close(fd);
}

bool IsLink(int folder, const std::string& name) {
  struct stat info {};
  return fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode);
}

// A calendar folder that zorvani-wallpaper-setup --session made for the machine's
// calendar holds links alone, as its .zorvani-setup lists them (the program, WP.ini,
// the year folders), besides the program's output. Without the program nothing of it
// works, and set-up makes it again at the next log-on where the machine's calendar
// still is: it goes whole. A folder with anything set-up made as a file, or a sample
// calendar, is this user's own and stays; so does anything the user added.
void RemoveSessionCalendar(const std::string& bitmap) {
  const std::string path = bitmap.substr(0, bitmap.rfind('/'));
  const int folder = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (folder < 0) return;
  std::string list;
  const int listed = openat(folder, ".zorvani-setup", O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (listed >= 0) {
    char buffer[4096];
    for (ssize_t n; (n = read(listed, buffer, sizeof buffer)) > 0 && list.size() < 65536;) list.append(buffer, static_cast<std::size_t>(n));
    close(listed);
  }
  std::vector<std::string> names;
  bool links = listed >= 0;
  for (std::size_t start = 0, end; links && start < list.size(); start = end + 1) {
    end = std::min(list.find('\n', start), list.size());
    const std::string name = list.substr(start, end - start);
    if (name.empty()) continue;
    struct stat info {};
    const bool gone = fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0;
    links = name.find('/') == std::string::npos && name != "." && name != ".." && (gone || S_ISLNK(info.st_mode));
    if (!gone) names.push_back(name);
  }
  links = links && list.find("zorvani-wallpaper\n") != std::string::npos;  // set-up always lists its program link
  if (links) {
    for (const std::string& name : names) {
      if (IsLink(folder, name)) unlinkat(folder, name.c_str(), 0);
    }
    for (const std::string& output : OutputNames(bitmap)) {
      RemoveLeftTemporaries(SystemFiles(), output);
      unlinkat(folder, output.substr(output.rfind('/') + 1).c_str(), 0);
    }
    unlinkat(folder, ".zorvani-setup", 0);
  }
  close(folder);
  if (links) rmdir(path.c_str());  // only when the user added nothing
}

// A path the program itself handed to the desktop: its output beside wp.bmp, or the
// plain link to one in the private folder.
bool IsOurs(const Session& session, const std::string& calendarBitmap, const std::string& path) {
  if (path.empty() || calendarBitmap.empty()) return false;
  const std::string plain = PlainFolder(session), absolute = AbsolutePath(calendarBitmap);
  for (const std::string& output : OutputNames(absolute)) {
    if (path == output || (!plain.empty() && path == plain + "/" + PlainName(output))) return true;
  }
  // The monitors' own pictures beside wp.bmp (wp-<output>.bmp, wp-span.bmp) and their
  // copies, in the calendar folder or the private one.
  const auto monitorPicture = [&path](const std::string& folder) {
    const std::string prefix = folder + "wp-";
    if (folder.size() < 2 || path.compare(0, prefix.size(), prefix) != 0) return false;
    const std::string name = path.substr(folder.size());
    const auto ends = [&name](const char* tail) {
      const std::string t = tail;
      return name.size() > t.size() && name.compare(name.size() - t.size(), t.size(), t) == 0;
    };
    return name.find('/') == std::string::npos && (ends(".bmp") || ends(".png"));
  };
  return monitorPicture(absolute.substr(0, absolute.rfind('/') + 1)) || (!plain.empty() && monitorPicture(plain + "/"));
}

// The record's folder made the user's own, then the record replaced whole.
bool WriteKept(const std::string& file, const std::string& text) {
  const std::string folder = file.substr(0, file.rfind('/'));
  // The state folders the program makes are the user's alone (XDG's are), whatever the
  // umask: a group-writable parent would make the record's folder no private one.
  for (std::size_t slash = 1; (slash = folder.find('/', slash)) != std::string::npos; ++slash) {
    mkdir(folder.substr(0, slash).c_str(), 0700);
  }
  const int opened = OpenPrivateFolder(folder);
  if (opened < 0) return false;
  close(opened);
  return ReplaceFileWith(file, text);
}

// The record as ReadKept reads it; false with errno ENOENT where there is none.
bool ReadRecord(const std::string& file, std::string* text) {
  struct stat info {};
  if (lstat(file.c_str(), &info) != 0 && errno == ENOENT) return false;
  const int folder = OpenPrivateFolder(file.substr(0, file.rfind('/')));
  const bool read = folder >= 0 && ReadKept(folder, file.substr(file.rfind('/') + 1), text);
  if (folder >= 0) close(folder);
  if (!read) errno = EACCES;
  return read;
}

// The lock screen's picture from the record back where the program's still shows, and
// the record's lock lines dropped (the whole record when nothing else is in it).
void GiveBackLockScreen(const Session& session, const DesktopBackend& backend, const std::string& file, const std::string& text,
                        const std::string& calendarBitmap) {
  std::map<std::string, std::string> record = PreviousWallpaperFields(text);
  ShownWallpaper now;
  if (!backend.LockScreenShown(session, &now)) return;
  const std::string& path = record["lock-path"];
  // A path the store cannot hold is not given back, and not tried again either.
  const bool named = path.empty() || (path[0] == '/' && TextStoreTakes(backend, path));
  if (IsOurs(session, calendarBitmap, now.path) && named) {
    if (backend.ApplyLockScreen(session, {path, path.empty() ? std::string() : FileUri(path), {}, WallpaperStyle::kStretched, {}, {},
                                          record["lock-placement"]}) != CommandResult::kSucceeded)
      return;
  }
  std::string rest;
  for (std::size_t start = 0, end; start < text.size(); start = end + 1) {
    end = std::min(text.find('\n', start), text.size());
    const std::string line = text.substr(start, end - start);
    if (line.rfind("lock-", 0) != 0) rest += line + "\n";
  }
  if (rest.empty()) unlink(file.c_str());
  else WriteKept(file, rest);
}

}  // namespace

std::map<std::string, std::string> PreviousWallpaperFields(const std::string& text) {
  std::map<std::string, std::string> fields;
  std::string name, value;
  bool inName = true;
  for (std::size_t at = 0; at < text.size(); ++at) {
    const char c = text[at];
    if (inName) {
      if (c == '=') inName = false;
      else name += c;
    } else if (c == '\n') {
      fields[name] = value;
      name.clear(), value.clear(), inName = true;
    } else if (c == '\\' && at + 1 < text.size()) {
      value += text[++at] == 'n' ? '\n' : text[at];
    } else {
      value += c;
    }
  }
  return fields;
}

std::string KeptWallpaperFile(const Session& session) {
  std::string state = session.Variable("XDG_STATE_HOME");
  if (state.empty() || state[0] != '/') {
    const std::string home = session.Variable("HOME");
    if (home.empty() || home[0] != '/') return {};
    state = home + "/.local/state";
  }
  return state + "/zorvani-wallpaper/previous-wallpaper";
}

void LinuxDesktop::RecordPreviousWallpaper(const std::string& calendarBitmap) {
  calendarBitmap_ = calendarBitmap;
  keep_ = true;  // kept at the first change that finds the desktop ready
}

void LinuxDesktop::KeepShown(const Session& session, const DesktopBackend& backend) {
  const std::string file = KeptWallpaperFile(session);
  struct stat info {};
  if (file.empty() || lstat(file.c_str(), &info) == 0) {
    keep_ = false;  // one record per user, whatever the log-on
    return;
  }
  ShownWallpaper shown;
  if (!backend.Shown(session, &shown)) return;  // tried again at the next change
  if (IsOurs(session, calendarBitmap_, shown.path)) shown = {{}, {}, shown.toolFile, std::nullopt};
  std::string text = Line("backend", backend.Name()) + Line("path", shown.path) + Line("placement", shown.placement) +
                     Line("tool-file", shown.toolFile);
  if (shown.toolFileBytes) text += Line("tool-file-bytes", *shown.toolFileBytes);
  if (WriteKept(file, text)) keep_ = false;
}

void LinuxDesktop::FollowOnLockScreen(const Session& session, const DesktopBackend& backend, const std::string& bitmap,
                                      WallpaperStyle style) {
  const std::string file = KeptWallpaperFile(session);
  if (!backend.HasLockScreen() || file.empty()) return;
  const bool on = LockScreenChosen(registry_);
  std::string text;
  const bool kept = ReadRecord(file, &text);
  if (!kept && errno != ENOENT) return;  // a record that cannot be read is never written over
  const std::map<std::string, std::string> record = PreviousWallpaperFields(text);
  const auto lockBackend = record.find("lock-backend");
  const bool ownLockScreen = lockBackend != record.end() && lockBackend->second == backend.Name();
  // Every picture the program hands over lies beside wp.bmp.
  const std::string calendarBitmap = bitmap.substr(0, bitmap.rfind('/') + 1) + "wp.bmp";
  if (!on) {
    if (ownLockScreen) GiveBackLockScreen(session, backend, file, text, calendarBitmap);
    return;
  }
  // Kept once, before the first change, as the desktop's picture is.
  if (lockBackend == record.end()) {
    ShownWallpaper shown;
    if (!backend.LockScreenShown(session, &shown)) return;
    if (IsOurs(session, calendarBitmap, shown.path)) shown = {};
    if (!WriteKept(file, text + Line("lock-backend", backend.Name()) + Line("lock-path", shown.path) +
                             Line("lock-placement", shown.placement)))
      return;
  } else if (!ownLockScreen) {
    return;  // kept from another desktop's locker: its picture is not this one's to give back
  }
  backend.ApplyLockScreen(session, {bitmap, FileUri(bitmap), {}, style, {}, {}});
}

void LinuxDesktop::RestorePreviousWallpaper(const std::string& calendarBitmap) {
  const Session session = session_();
  const std::string file = KeptWallpaperFile(session);
  const std::string folderPath = file.substr(0, file.rfind('/')), name = file.substr(file.rfind('/') + 1);
  const int folder = file.empty() ? -1 : OpenPrivateFolder(folderPath);
  std::string text;
  const bool kept = folder >= 0 && ReadKept(folder, name, &text);
  const DesktopBackend* backend = ChooseDesktopBackend(session);
  ShownWallpaper now;
  const bool known = backend != nullptr && backend->Ready(session) && backend->Shown(session, &now);
  // The program's file the desktop still shows after this, if any.
  std::string showing = known && IsOurs(session, calendarBitmap, now.path) ? now.path : std::string();
  // A record of the lock screen alone keeps no picture of the desktop's.
  if (kept && !showing.empty() && PreviousWallpaperFields(text).count("backend") != 0) {
    std::map<std::string, std::string> previous = PreviousWallpaperFields(text);
    // Another desktop's placement means nothing to this one.
    if (previous["backend"] != backend->Name()) previous["placement"].clear();
    const std::string& path = previous["path"];
    const WallpaperRequest request{path, path.empty() ? std::string() : FileUri(path), {}, StoredWallpaperStyle(registry_), {}, {},
                                   previous["placement"]};
    const bool named = !path.empty() && path[0] == '/';
    if (path.empty()) {
      if (backend->ShowDefault(session, request) == CommandResult::kSucceeded) showing.clear();
    } else if (named && TextStoreTakes(*backend, path) && !backend->ReadsCommandLanguage()) {
      if (backend->Apply(session, request) == CommandResult::kSucceeded) showing.clear();
    }
    // The tool's file in its own form where it named a picture; only a file of another
    // form goes back as it was.
    const std::string& toolFile = previous["tool-file"];
    if (!toolFile.empty() && toolFile == now.toolFile) {
      const std::string own = named ? backend->ToolFileText(request) : std::string();
      if (previous.count("tool-file-bytes") == 0) unlink(toolFile.c_str());
      else GiveBackToolFile(toolFile, own.empty() ? previous["tool-file-bytes"] : own);
    }
  }
  if (kept && backend != nullptr && backend->HasLockScreen() && backend->Ready(session) &&
      PreviousWallpaperFields(text)["lock-backend"] == backend->Name())
    GiveBackLockScreen(session, *backend, file, text, calendarBitmap);
  // A record that could not be read stays: it may be the only copy of what was shown.
  if (folder >= 0 && kept) unlinkat(folder, name.c_str(), 0);
  if (folder >= 0) {
    close(folder);
    rmdir(folderPath.c_str());
  }
  // The copies handed to desktops, and their plain links, unless the desktop may still
  // show one (it could not be read, or it kept the program's picture).
  const std::string bitmap = AbsolutePath(calendarBitmap);
  const std::string plain = PlainFolder(session);
  if (known && showing.empty() && !bitmap.empty()) {
    for (const std::string& output : OutputNames(bitmap)) {
      if (!plain.empty()) unlink((plain + "/" + PlainName(output)).c_str());
      if (output != bitmap) unlink(output.c_str());
    }
  }
  if (!bitmap.empty()) RemoveSessionCalendar(bitmap);
}

}  // namespace posix
}  // namespace platform
