#pragma once
// The Linux desktops whose wallpaper this program can set. Each backend says whether
// it runs the user's session and, if so, applies a picture with its own mechanism.
// A new desktop is one more backend in DesktopBackends().
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/posix/desktop/desktop_session.h"
#include "platform/registry.h"
#include "platform/wallpaper.h"

namespace platform {
namespace posix {

// The placements that Windows stores as "WallpaperStyle" and "TileWallpaper".
enum class WallpaperStyle { kStretched, kCentered, kTiled, kScaled, kZoom, kSpanned };

struct WallpaperRequest {
  std::string path;          // absolute: wp.bmp, or the copy made for this desktop
  std::string uri;           // file:// and the percent-encoded path
  std::string previousPath;  // the copy handed over last time, removed after a change; may be empty
  WallpaperStyle style;
  // The same two files under plain names in the program's private folder, for tools
  // that read a command language; empty for the others.
  std::string plainPath, previousPlainPath;
  // The store's own word for the placement, used instead of style when not empty: a
  // placement read back from the store is handed back as it was.
  std::string placement = {};
};

// One monitor's own picture, prepared as a WallpaperRequest is.
struct MonitorRequest {
  Monitor monitor;
  WallpaperRequest request;
};

// What a desktop shows, read back from where its backend writes it.
struct ShownWallpaper {
  std::string path;       // the picture, empty when the store names none
  std::string placement;  // the store's own word for its placement
  // A file the tool writes itself to name what it shows (feh's ~/.fehbg): its path and
  // its bytes, none when there was no such file. Empty for the other tools.
  std::string toolFile;
  std::optional<std::string> toolFileBytes;
};

// A program seen running in the session: its file name and, when not empty, one of
// its arguments.
struct RunningProgram {
  const char* name;
  const char* argument;
};

// What shows a desktop in a session that does not name it.
struct SessionSigns {
  std::vector<RunningProgram> sessionManagers;  // the desktop's session manager
  std::vector<RunningProgram> painters;         // what draws its background
  const char* busName = nullptr;                // a name the painter owns on the session bus
};

class DesktopBackend {
 public:
  virtual ~DesktopBackend() = default;
  virtual const char* Name() const = 0;
  // True when a lower-case name from XDG_CURRENT_DESKTOP or DESKTOP_SESSION is this desktop.
  virtual bool Claims(const std::string& desktopName) const = 0;
  // The programs and bus name that show this desktop running in a session.
  virtual SessionSigns Signs() const { return {}; }
  // For a session that names no known desktop and runs none of the signs' programs:
  // true when its environment and tools show this one.
  virtual bool Detect(const Session&) const { return false; }
  // False while the desktop cannot take a picture yet (at log-on, before what draws the
  // background runs): the tool is then not run at all, as it could put up a dialog.
  virtual bool Ready(const Session&) const { return true; }
  // False for a tool that cannot read a 24-bit BMP: it is handed a PNG copy instead.
  virtual bool ReadsBitmap() const { return true; }
  // True when handing the same path again does not make the desktop read the file
  // again: it is then handed a copy under one of two alternating names.
  virtual bool CachesByPath() const { return false; }
  // True when the tool reads the path inside a command language of its own (sway's
  // commands, hyprctl's comma lists): it is only ever handed request.plainPath.
  virtual bool ReadsCommandLanguage() const { return false; }
  // The programs it can work with: nothing is prepared for it unless one is on PATH.
  virtual std::vector<const char*> Tools() const = 0;
  // True when it keeps the path as text, which GLib and D-Bus take only in UTF-8.
  virtual bool StoresText() const { return false; }
  virtual CommandResult Apply(const Session& session, const WallpaperRequest& request) const = 0;
  // Reads back what the desktop shows now from where Apply writes it. False where that
  // cannot be read (now, or at all): nothing is given back there. An empty path: the
  // user holds no picture of their own (an absent or empty key), so the desktop shows
  // its own default.
  virtual bool Shown(const Session&, ShownWallpaper*) const { return false; }
  // The text of the tool's own file (ShownWallpaper::toolFile) as the tool writes it for
  // this request; empty for a tool without one.
  virtual std::string ToolFileText(const WallpaperRequest&) const { return {}; }
  // Makes the desktop show its own default again, through its own key or tool, with
  // request.placement when not empty; request.path is empty.
  virtual CommandResult ShowDefault(const Session&, const WallpaperRequest&) const { return CommandResult::kFailed; }
  // How it shows several monitors a picture each: PerMonitor through ApplyPerMonitor,
  // Spanned through Apply with WallpaperStyle::kSpanned, or not at all.
  virtual Desktop::MonitorPictures MonitorPictures() const { return Desktop::MonitorPictures::None; }
  virtual CommandResult ApplyPerMonitor(const Session&, const std::vector<MonitorRequest>&) const {
    return CommandResult::kFailed;
  }
  // The lock screen, where the desktop's locker keeps a picture apart from the
  // desktop's: LockScreenShown reads it back as Shown does, ApplyLockScreen sets it, or
  // with an empty request.path gives the locker its own default again. Neither exists
  // where the locker shows the desktop's picture, or none.
  virtual bool HasLockScreen() const { return false; }
  virtual bool LockScreenShown(const Session&, ShownWallpaper*) const { return false; }
  virtual CommandResult ApplyLockScreen(const Session&, const WallpaperRequest&) const { return CommandResult::kFailed; }
};

// In the order they are tried.
const std::vector<std::unique_ptr<DesktopBackend>>& DesktopBackends();

// The backend for this session: by XDG_CURRENT_DESKTOP, then DESKTOP_SESSION, then,
// with a display, by the programs running on it (a session manager, then a painter) and
// the painters' bus names, then by what the session shows (compositor sockets, a
// display, the tools on PATH); null for none.
const DesktopBackend* ChooseDesktopBackend(const Session& session);

// "file://" and the path with every byte but unreserved characters and "/" encoded.
std::string FileUri(const std::string& absolutePath);

// The style stored under "HKEY_CURRENT_USER\Control Panel\Desktop"; stretched when
// it is missing or unknown.
WallpaperStyle StoredWallpaperStyle(Registry& registry);
// True when the user turned on the lock screen's picture in set-up: "LockScreen"="1"
// under "HKEY_CURRENT_USER\Software\ZorvaniWallpaper". Off when missing.
bool LockScreenChosen(Registry& registry);

// Ends the wallpaper client (swaybg) this process started, if one runs; also run at exit.
void EndOwnedWallpaperClient();

// One version of a file: a file rewritten or replaced gets another stamp.
struct FileStamp {
  std::uint64_t device = 0, inode = 0, size = 0, modifiedNs = 0;
  bool operator==(const FileStamp& other) const {
    return device == other.device && inode == other.inode && size == other.size && modifiedNs == other.modifiedNs;
  }
};

// SystemParametersInfoA(SPI_SETDESKWALLPAPER, ...) for the running Linux desktop.
// True when the desktop took the file, and when there is no desktop session to tell;
// false when a desktop was found and is not ready, or its tool failed, timed out or is
// missing.
class LinuxDesktop : public Desktop {
 public:
  LinuxDesktop(Registry& registry, std::function<Session()> session);
  bool SystemParametersInfoA(std::uint32_t action, std::uint32_t param, const std::string& path,
                             std::uint32_t flags) override;
  // The wallpaper shown before the first change is kept in the user's state folder
  // ($XDG_STATE_HOME, ~/.local/state when unset, + /zorvani-wallpaper/previous-wallpaper),
  // which outlives the session, once the desktop can be read: at the first change that
  // finds the desktop ready.
  void RecordPreviousWallpaper(const std::string& calendarBitmap) override;
  // Also takes away a calendar folder that holds nothing but set-up's links to the
  // machine's calendar (zorvani-wallpaper-setup --session) and the program's output.
  void RestorePreviousWallpaper(const std::string& calendarBitmap) override;
  MonitorPictures MonitorPicturesTaken() override;
  bool SetMonitorWallpapers(const std::vector<MonitorBitmap>& bitmaps) override;
  bool SetSpannedWallpaper(const std::string& path) override;

 private:
  // The desktop of this session once it can take a picture; false (with *done) when
  // there is no desktop to tell, or no backend for it.
  const DesktopBackend* ReadyBackend(const Session& session, bool* done);
  bool Hand(const std::string& path, std::optional<WallpaperStyle> style);
  void KeepShown(const Session& session, const DesktopBackend& backend);
  // After a change: the lock screen shows `bitmap` too while the option is on, its own
  // picture kept in the record first; with the option off, a lock screen the program
  // changed gets that picture back.
  void FollowOnLockScreen(const Session& session, const DesktopBackend& backend, const std::string& bitmap, WallpaperStyle style);
  // The copy made for one version of wp.bmp that the desktop has not taken yet: a retry
  // hands it over again instead of writing it again.
  struct Copy {
    const DesktopBackend* backend = nullptr;
    std::string bitmap, path, previous;
    FileStamp bitmapStamp, stamp;
    std::optional<WallpaperStyle> style;
  };
  Registry& registry_;
  std::function<Session()> session_;
  Copy waiting_;
  std::string calendarBitmap_;
  bool keep_ = false;
};

// The kept wallpaper's file for this session's user.
std::string KeptWallpaperFile(const Session& session);
// The kept wallpaper's record read into its fields: "name=value" lines, a backslash
// before "\" and "n".
std::map<std::string, std::string> PreviousWallpaperFields(const std::string& text);

// The program's output: the bitmap and the copies desktops are handed beside it.
std::vector<std::string> OutputNames(const std::string& bitmap);

// The path, made absolute against the working folder; empty when that cannot be read.
std::string AbsolutePath(const std::string& path);
// The private folder's path for the session, or empty when a tool could read it as
// anything but a path.
std::string PlainFolder(const Session& session);
// The name in the private folder for a file beside wp.bmp; its own names are plain already.
std::string PlainName(const std::string& path);
// False when the backend keeps the path as text and the path is no UTF-8.
bool TextStoreTakes(const DesktopBackend& backend, const std::string& path);

}  // namespace posix
}  // namespace platform
