#include "platform/posix/desktop/desktop_backends.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "platform/posix/desktop/backend_parts.h"
#include "platform/posix/desktop/png_copy.h"
#include "platform/posix/private_folder.h"
#include "platform/replace_file.h"

namespace platform {
namespace posix {
namespace {

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// The stamp of a regular file, not following a link; false for anything else.
bool StampOf(const std::string& path, FileStamp* stamp) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  *stamp = {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
            static_cast<std::uint64_t>(info.st_size),
            static_cast<std::uint64_t>(info.st_mtim.tv_sec) * 1000000000u + static_cast<std::uint64_t>(info.st_mtim.tv_nsec)};
  return true;
}

// Replaced whole: a link planted at either name is replaced, never written through.
bool CopyFile(const std::string& from, const std::string& to) {
  std::string bytes;
  return ReadRegularFile(from, &bytes) && ReplaceFileWith(to, bytes);
}

// The file a backend is handed: wp.bmp itself, or beside it a PNG copy and/or a copy
// under one of two names that alternate, so the path differs from the last change's.
struct DesktopFile {
  std::string path, previous;
  bool derived = false;
};

bool PrepareFile(const std::string& bitmap, const DesktopBackend& backend, DesktopFile* file) {
  if (backend.ReadsBitmap() && !backend.CachesByPath()) {
    file->path = bitmap;
    return true;
  }
  const std::size_t dot = bitmap.rfind('.');
  const std::string stem = dot != std::string::npos && bitmap.find('/', dot) == std::string::npos ? bitmap.substr(0, dot) : bitmap;
  const std::string extension = backend.ReadsBitmap() ? ".bmp" : ".png";
  if (backend.CachesByPath()) {
    const std::string a = stem + "-a" + extension, b = stem + "-b" + extension;
    FileStamp atA, atB;
    if (StampOf(a, &atA) && StampOf(b, &atB)) {
      // The desktop shows the older one; the newer was made for a change it never took.
      const bool aNewer = atA.modifiedNs > atB.modifiedNs;
      file->path = aNewer ? a : b;
      file->previous = aNewer ? b : a;
    } else {
      file->path = Exists(a) ? b : a;
      file->previous = Exists(a) ? a : (Exists(b) ? b : "");
    }
  } else {
    file->path = stem + extension;
  }
  file->derived = true;
  return backend.ReadsBitmap() ? CopyFile(bitmap, file->path) : WritePngCopy(bitmap, file->path);
}

// Points the private folder's name for `path` at it (a link, replaced in one step,
// and left alone when it already points there); the link's path, or empty.
std::string LinkPlainly(const std::string& folderPath, const std::string& path) {
  const int folder = OpenPrivateFolder(folderPath);
  if (folder < 0) return {};
  const std::string name = PlainName(path);
  std::vector<char> target(path.size() + 2);
  const ssize_t length = readlinkat(folder, name.c_str(), target.data(), target.size());
  close(folder);
  const std::string link = folderPath + "/" + name;
  const bool linked = (length >= 0 && std::string(target.data(), static_cast<std::size_t>(length)) == path) ||
                      ReplaceWithLink(link, path);
  return linked ? link : std::string();
}

}  // namespace

LinuxDesktop::LinuxDesktop(Registry& registry, std::function<Session()> session)
    : registry_(registry), session_(std::move(session)) {}

bool LinuxDesktop::SystemParametersInfoA(std::uint32_t action, std::uint32_t, const std::string& path,
                                         std::uint32_t) {
  if (action != kSpiSetDeskWallpaper) return false;
  return Hand(path, std::nullopt);
}

const DesktopBackend* LinuxDesktop::ReadyBackend(const Session& session, bool* done) {
  *done = false;
  const bool display = !session.Variable("DISPLAY").empty() || !session.Variable("WAYLAND_DISPLAY").empty();
  if (!display && session.Variable("DBUS_SESSION_BUS_ADDRESS").empty()) {
    *done = true;  // no desktop to tell
    return nullptr;
  }
  const DesktopBackend* backend = ChooseDesktopBackend(session);
  // A session bus alone, with no desktop named, is a log-in without a desktop (ssh).
  if (backend == nullptr) {
    *done = !display;
    return nullptr;
  }
  if (!backend->Ready(session)) return nullptr;
  if (keep_) KeepShown(session, *backend);
  return backend;
}

Desktop::MonitorPictures LinuxDesktop::MonitorPicturesTaken() {
  const DesktopBackend* backend = ChooseDesktopBackend(session_());
  return backend == nullptr ? MonitorPictures::None : backend->MonitorPictures();
}

bool LinuxDesktop::SetSpannedWallpaper(const std::string& path) { return Hand(path, WallpaperStyle::kSpanned); }

bool LinuxDesktop::SetMonitorWallpapers(const std::vector<MonitorBitmap>& bitmaps) {
  const Session session = session_();
  bool done = false;
  const DesktopBackend* backend = ReadyBackend(session, &done);
  if (backend == nullptr) return done;
  // An output's name goes into commands and settings paths: a strange one changes nothing,
  // rather than one monitor of several.
  if (backend->MonitorPictures() != MonitorPictures::PerMonitor || bitmaps.empty() ||
      std::any_of(bitmaps.begin(), bitmaps.end(), [](const MonitorBitmap& b) { return !PlainOutputName(b.monitor.name); }))
    return false;
  const std::vector<const char*> tools = backend->Tools();
  if (std::none_of(tools.begin(), tools.end(), [&](const char* tool) { return !session.FindProgram(tool).empty(); })) return false;
  const std::string plainFolder = backend->ReadsCommandLanguage() ? PlainFolder(session) : std::string();
  if (backend->ReadsCommandLanguage() && plainFolder.empty()) return false;
  std::vector<MonitorRequest> requests;
  std::vector<DesktopFile> files;
  for (const MonitorBitmap& bitmap : bitmaps) {
    const std::string path = AbsolutePath(bitmap.path);
    DesktopFile file;
    // Each picture is made for its monitor's shape: stretched, it is shown as it is.
    if (path.empty() || (backend->StoresText() && !ValidUtf8(path)) || !PrepareFile(path, *backend, &file)) return false;
    WallpaperRequest request{file.path, FileUri(file.path), file.previous, WallpaperStyle::kStretched, {}, {}};
    if (!plainFolder.empty()) {
      request.plainPath = LinkPlainly(plainFolder, file.path);
      if (request.plainPath.empty()) return false;
      if (!file.previous.empty()) request.previousPlainPath = plainFolder + "/" + PlainName(file.previous);
    }
    requests.push_back({bitmap.monitor, request});
    files.push_back(file);
  }
  waiting_ = {};
  if (backend->ApplyPerMonitor(session, requests) != CommandResult::kSucceeded) return false;
  keep_ = false;
  // One picture for the lock screen: the primary monitor's, made for its shape.
  FollowOnLockScreen(session, *backend, AbsolutePath(bitmaps.front().path), WallpaperStyle::kStretched);
  for (const DesktopFile& file : files) {
    if (!file.derived || file.previous.empty()) continue;
    unlink(file.previous.c_str());
    if (!plainFolder.empty()) unlink((plainFolder + "/" + PlainName(file.previous)).c_str());
  }
  return true;
}

bool LinuxDesktop::Hand(const std::string& path, std::optional<WallpaperStyle> style) {
  const Session session = session_();
  bool done = false;
  const DesktopBackend* backend = ReadyBackend(session, &done);
  if (backend == nullptr) return done;
  if (style == WallpaperStyle::kSpanned && backend->MonitorPictures() != MonitorPictures::Spanned) return false;

  const std::string bitmap = AbsolutePath(path);
  // Nothing is written for a desktop whose tool is missing or whose store cannot hold
  // the path: the retries of such a day cost a few lookups.
  const std::vector<const char*> tools = backend->Tools();
  if (bitmap.empty() || std::none_of(tools.begin(), tools.end(), [&](const char* tool) { return !session.FindProgram(tool).empty(); }) ||
      (backend->StoresText() && !ValidUtf8(bitmap))) {
    return false;
  }
  DesktopFile file;
  FileStamp bitmapStamp, copyStamp;
  const bool stamped = StampOf(bitmap, &bitmapStamp);
  if (stamped && waiting_.backend == backend && waiting_.bitmap == bitmap && waiting_.style == style && waiting_.bitmapStamp == bitmapStamp &&
      StampOf(waiting_.path, &copyStamp) && copyStamp == waiting_.stamp) {
    file = {waiting_.path, waiting_.previous, true};  // made for this very wp.bmp at an earlier try
  } else if (!PrepareFile(bitmap, *backend, &file)) {
    return false;
  }
  waiting_ = {};
  WallpaperRequest request{file.path, FileUri(file.path), file.previous, style ? *style : StoredWallpaperStyle(registry_), {}, {}};
  std::string plainFolder;
  if (backend->ReadsCommandLanguage() && !(plainFolder = PlainFolder(session)).empty()) {
    request.plainPath = LinkPlainly(plainFolder, file.path);
    if (!file.previous.empty()) request.previousPlainPath = plainFolder + "/" + PlainName(file.previous);
  }
  const bool applied = backend->Apply(session, request) == CommandResult::kSucceeded;
  // What shows from now on is the program's own: never to be kept as the previous one.
  if (applied) keep_ = false;
  // The lock screen reads its picture afresh each time it locks: wp.bmp itself, never a copy
  // that goes at the next change.
  if (applied) FollowOnLockScreen(session, *backend, bitmap, request.style);
  if (!file.derived) return applied;
  if (!applied) {
    // Kept for the retry; the file the desktop shows stays too.
    if (stamped && StampOf(file.path, &copyStamp)) waiting_ = {backend, bitmap, file.path, file.previous, bitmapStamp, copyStamp, style};
    return false;
  }
  // Only the file the desktop shows stays beside wp.bmp, and only its link.
  if (!file.previous.empty()) {
    unlink(file.previous.c_str());
    if (!plainFolder.empty()) unlink((plainFolder + "/" + PlainName(file.previous)).c_str());
  }
  return true;
}

}  // namespace posix
}  // namespace platform
