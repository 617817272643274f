#pragma once
// What the desktop backends share: the text forms their stores use, the signs of a
// running session, and a maker per backend for the table in desktop_backends.cpp.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/posix/desktop/desktop_backends.h"

namespace platform {
namespace posix {

std::string Lower(std::string text);
std::vector<std::string> Split(const std::string& text, char separator);
inline bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// One of six words per placement, in the order of WallpaperStyle.
struct Placements {
  const char* stretched;
  const char* centered;
  const char* tiled;
  const char* scaled;
  const char* zoom;
  const char* spanned;
  const char* operator()(WallpaperStyle style) const {
    switch (style) {
      case WallpaperStyle::kCentered: return centered;
      case WallpaperStyle::kTiled: return tiled;
      case WallpaperStyle::kScaled: return scaled;
      case WallpaperStyle::kZoom: return zoom;
      case WallpaperStyle::kSpanned: return spanned;
      case WallpaperStyle::kStretched: break;
    }
    return stretched;
  }
  // The placement read back from the store, else the style's.
  std::string operator()(const WallpaperRequest& request) const {
    return request.placement.empty() ? (*this)(request.style) : request.placement;
  }
};

// The text of a GVariant string as gsettings prints it ('…' or "…", with backslash
// escapes); false for anything else.
bool GVariantText(std::string printed, std::string* text);
// A quoted GVariant string: a path may hold quotes and backslashes.
std::string GVariantString(const std::string& text);
// The path of a file URI (or of a plain path); false for another kind of URI.
bool PathOfUri(const std::string& uri, std::string* path);
// The value of `key` in the group `group` of a desktop-entry style file (GKeyFile,
// KConfig, QSettings' ini) as read here: \s, \n, \t and \\ escapes undone, and with
// codePoints QSettings' "\x" and up to four hex digits for a character, its \" and its
// value in quotes. The first group whose header matches `group` ("[Desktop]"; a '#' in
// it stands for a run of digits) wins. False when the file, the group or the key is
// missing, or the value holds another escape or quotes.
bool IniValue(const std::string& file, const std::string& group, const std::string& key, std::string* value,
              bool codePoints = false);
// The user's configuration folder.
std::string ConfigFolder(const Session& session);

bool AnyRuns(const Session& session, const std::vector<RunningProgram>& programs);
// The painter's bus name, asked only where the processes cannot be seen (a sandbox).
bool BusShows(const Session& session, const SessionSigns& signs);
// What draws the desktop's background runs in this session.
bool PainterRuns(const Session& session, const SessionSigns& signs);

// What GLib takes as text (g_utf8_validate): GSettings strings and the D-Bus strings
// xfconf sends must be UTF-8; the real gsettings crashes on anything else.
bool ValidUtf8(const std::string& text);
// An output's name as RandR or the compositor gives it ("HDMI-1", "eDP-1", "HEADLESS-2"):
// letters, digits and ".-_+" only, so that it stays a name inside a tool's command
// language or a settings path.
bool PlainOutputName(const std::string& name);
// A timeout outweighs a failure, which outweighs success.
CommandResult Worse(CommandResult a, CommandResult b);

// The backends, a file each.
// GNOME and the desktops that share its background settings through gsettings.
struct GsettingsDesktop {
  const char* name;
  std::vector<const char*> names;  // prefixes of the session names it claims
  SessionSigns signs;
  const char* schema;
  const char* pictureKey;
  bool plainPath;     // the key holds a path, not a URI
  bool darkKey;       // it has GNOME 42's picture-uri-dark
  bool cachesByPath;  // the same path again is not read again
  // The locker's own picture key, of the same kind as pictureKey, and whether its schema
  // has a picture-options of its own; none where the locker shows the desktop's picture.
  const char* lockSchema = nullptr;
  const char* lockKey = nullptr;
  bool lockOptions = false;
};
std::unique_ptr<DesktopBackend> MakeGsettingsBackend(GsettingsDesktop desktop);
std::unique_ptr<DesktopBackend> MakeXfceBackend();
std::unique_ptr<DesktopBackend> MakePlasmaBackend();
// LXDE (pcmanfm) and LXQt (pcmanfm-qt).
struct PcmanfmDesktop {
  const char* name;
  const char* tool;
  const char* sessionManager;
  Placements modes;
  bool cachesByPath;
  bool socketInRuntimeFolder;  // ready once the desktop instance listens on its socket
  // Where the desktop manager keeps its wallpaper: the file in each profile's folder,
  // its group and keys.
  const char* file;
  const char* group;
  const char* pathKey;
  const char* modeKey;  // null: not read back
  bool codePoints;      // QSettings' escapes
  // The profile its session runs (--profile), read where DESKTOP_SESSION names none.
  const char* profile;
  // The name its desktop instance owns on the session bus, or null. Such a desktop is
  // ready once the name has an owner, and a change counts once read back from its file:
  // a tool that finds no owner runs as an instance of its own and changes nothing shown.
  const char* busName = nullptr;
};
std::unique_ptr<DesktopBackend> MakePcmanfmBackend(PcmanfmDesktop desktop);
std::unique_ptr<DesktopBackend> MakeSwayBackend();
std::unique_ptr<DesktopBackend> MakeHyprlandBackend();
std::unique_ptr<DesktopBackend> MakeSwaybgBackend();
// A plain X11 session's root-window painter.
struct RootWindowTool {
  const char* tool;
  Placements options;
  bool readsBitmap;
  bool noXinerama;      // takes --no-xinerama for the spanned placement
  const char* ownFile;  // where in the home folder it names what it shows, or null
  // Several monitors: PerMonitor takes the pictures in one call, by output name before
  // each (outputOption) or else in the order of Xinerama's screens.
  Desktop::MonitorPictures monitors = Desktop::MonitorPictures::None;
  const char* outputOption = nullptr;
};
std::unique_ptr<DesktopBackend> MakeRootWindowBackend(RootWindowTool tool);

}  // namespace posix
}  // namespace platform
