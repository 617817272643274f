#include "platform/posix/desktop/desktop_backends.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>

#include "platform/posix/desktop/backend_parts.h"
#include "platform/posix/private_folder.h"
#include "platform/posix/reg_files/ascii_text.h"

namespace platform {
namespace posix {
namespace {

constexpr std::uint32_t kHkeyCurrentUser = 0x80000001;

std::string ReadString(Registry& registry, Handle key, const std::string& name) {
  std::uint8_t data[64] = {};
  std::uint32_t size = sizeof data;
  std::uint32_t type = 0;
  if (registry.RegQueryValueExA(key, name, &type, data, &size) != kErrorSuccess || type != kRegSz) return {};
  std::string text(reinterpret_cast<const char*>(data), std::min<std::size_t>(size, sizeof data));
  return text.substr(0, text.find('\0'));
}

}  // namespace

std::string AbsolutePath(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  std::vector<char> buffer(4096);
  if (getcwd(buffer.data(), buffer.size()) == nullptr) return {};
  std::string folder = buffer.data();
  if (folder.back() != '/') folder += '/';
  return folder + path;
}

std::string PlainName(const std::string& path) {
  std::string name = path.substr(path.rfind('/') + 1);
  for (char& c : name) {
    if (!PlainPathText(std::string(1, c))) c = '_';
  }
  return name;
}

std::string PlainFolder(const Session& session) {
  const std::string folder = PrivateFolderPath(session.Variable("XDG_RUNTIME_DIR"), session.Variable("TMPDIR"));
  return PlainPathText(folder) ? folder : std::string();
}

bool TextStoreTakes(const DesktopBackend& backend, const std::string& path) {
  return !backend.StoresText() || ValidUtf8(path);
}

std::vector<std::string> OutputNames(const std::string& bitmap) {
  const std::size_t dot = bitmap.rfind('.');
  const std::string stem = dot != std::string::npos && bitmap.find('/', dot) == std::string::npos ? bitmap.substr(0, dot) : bitmap;
  return {bitmap, stem + "-a.bmp", stem + "-b.bmp", stem + ".png", stem + "-a.png", stem + "-b.png"};
}

const std::vector<std::unique_ptr<DesktopBackend>>& DesktopBackends() {
  static const std::vector<std::unique_ptr<DesktopBackend>> backends = [] {
    std::vector<std::unique_ptr<DesktopBackend>> list;
    // Handed the same path again, GNOME, Cinnamon and MATE (their background code
    // watches the file), xfdesktop, pcmanfm and sway show the file as it is now; Plasma
    // 5.27, LXQt (pcmanfm-qt reuses its scaled copy while the path is unchanged), an
    // older Pantheon (Gala) and hyprpaper keep what they loaded.
    // gnome-session also runs Pantheon and others: only the shell shows GNOME.
    // name, the session names it claims, signs, schema, picture key, plain path, dark key, caches by path,
    // then the lock screen's schema and key, and whether it has placements of its own.
    // GNOME Shell 3.36 and later draw the lock screen from the desktop's picture, blurred;
    // the screensaver keys are read by older shells and GNOME's other lockers. Cinnamon's
    // locker shows the desktop's picture, and Pantheon's lock screen is the display
    // manager's greeter; no other desktop here keeps a dark picture of its own.
    list.push_back(MakeGsettingsBackend({"gnome", {"gnome", "ubuntu", "unity", "budgie"},
                                         {{}, {{"gnome-shell", ""}}, "org.gnome.Shell"},
                                         "org.gnome.desktop.background", "picture-uri", false, true, false,
                                         "org.gnome.desktop.screensaver", "picture-uri", true}));
    list.push_back(MakeGsettingsBackend({"pantheon", {"pantheon"}, {}, "org.gnome.desktop.background", "picture-uri", false, true, true}));
    list.push_back(MakeGsettingsBackend({"cinnamon", {"x-cinnamon", "cinnamon"},
                                         {{{"cinnamon-session", ""}}, {{"cinnamon", ""}, {"nemo-desktop", ""}}, nullptr},
                                         "org.cinnamon.desktop.background", "picture-uri", false, false, false}));
    list.push_back(MakeGsettingsBackend({"mate", {"mate"}, {{{"mate-session", ""}}, {{"caja", ""}}, nullptr},
                                         "org.mate.background", "picture-filename", true, false, false,
                                         "org.mate.screensaver", "picture-filename", false}));
    list.push_back(MakeXfceBackend());
    list.push_back(MakePlasmaBackend());
    // name, tool, session manager, modes, caches by path, socket in the runtime folder,
    // then the settings file, its group, the path's and the mode's keys, QSettings' escapes,
    // the session's profile and the desktop instance's bus name.
    // pcmanfm-qt 1.2 left WallpaperMode=none in its file after --wallpaper-mode=fit: the
    // mode is not read back.
    list.push_back(MakePcmanfmBackend({"lxqt", "pcmanfm-qt", "lxqt-session", {"stretch", "center", "tile", "fit", "zoom", "stretch"},
                                       true, false, "settings.conf", "Desktop", "Wallpaper", nullptr, true, "lxqt",
                                       "org.pcmanfm.PCManFM"}));
    list.push_back(MakePcmanfmBackend({"lxde", "pcmanfm", "lxsession", {"stretch", "center", "tile", "fit", "crop", "screen"},
                                       false, true, "desktop-items-0.conf", "*", "wallpaper", "wallpaper_mode", false, "LXDE"}));
    list.push_back(MakeSwayBackend());
    list.push_back(MakeHyprlandBackend());
    list.push_back(MakeSwaybgBackend());
    // tool, its placements, reads BMP, --no-xinerama when spanned, its own file
    using Pictures = Desktop::MonitorPictures;
    list.push_back(MakeRootWindowBackend({"feh", {"--bg-scale", "--bg-center", "--bg-tile", "--bg-max", "--bg-fill", "--bg-scale"}, true, true, ".fehbg",
                                          Pictures::PerMonitor}));
    list.push_back(MakeRootWindowBackend({"xwallpaper", {"--stretch", "--center", "--tile", "--maximize", "--zoom", "--stretch"}, false, false, nullptr,
                                          Pictures::PerMonitor, "--output"}));
    // hsetroot knows no monitors: its picture fills the whole root window.
    list.push_back(MakeRootWindowBackend({"hsetroot", {"-fill", "-center", "-tile", "-full", "-cover", "-fill"}, true, false, nullptr,
                                          Pictures::Spanned}));
    return list;
  }();
  return backends;
}

const DesktopBackend* ChooseDesktopBackend(const Session& session) {
  std::vector<std::string> names = Split(Lower(session.Variable("XDG_CURRENT_DESKTOP")), ':');
  // Some display managers put the session file's path here.
  const std::string desktopSession = Lower(session.Variable("DESKTOP_SESSION"));
  names.push_back(desktopSession.substr(desktopSession.rfind('/') + 1));
  for (const std::string& name : names) {
    if (name.empty()) continue;
    for (const auto& backend : DesktopBackends()) {
      if (backend->Claims(name)) return backend.get();
    }
  }
  // Plain xfce4-session and many .xinitrc files name no desktop: the session shows it.
  // The session manager runs first at log-on; the painter may come seconds later.
  using Sign = bool (*)(const Session&, const SessionSigns&);
  static constexpr Sign kSigns[] = {
      [](const Session& s, const SessionSigns& signs) { return AnyRuns(s, signs.sessionManagers); },
      [](const Session& s, const SessionSigns& signs) { return AnyRuns(s, signs.painters); },
      [](const Session& s, const SessionSigns& signs) { return BusShows(s, signs); },
  };
  const bool display = !session.Variable("DISPLAY").empty() || !session.Variable("WAYLAND_DISPLAY").empty();
  for (const Sign sign : kSigns) {
    for (const auto& backend : DesktopBackends()) {
      if (display && sign(session, backend->Signs())) return backend.get();
    }
  }
  for (const auto& backend : DesktopBackends()) {
    if (backend->Detect(session)) return backend.get();
  }
  return nullptr;
}

std::string FileUri(const std::string& absolutePath) {
  return "file://" + PercentEscaped(absolutePath, [](char c) {
           return std::isalnum(static_cast<unsigned char>(c)) || c == '/' || c == '-' || c == '.' || c == '_' ||
                  c == '~';
         });
}

WallpaperStyle StoredWallpaperStyle(Registry& registry) {
  Handle key = 0;
  if (registry.RegOpenKeyExA(kHkeyCurrentUser, "Control Panel\\Desktop", 0, kKeyQueryValue, &key) !=
      kErrorSuccess) {
    return WallpaperStyle::kStretched;
  }
  const std::string style = ReadString(registry, key, "WallpaperStyle");
  const std::string tile = ReadString(registry, key, "TileWallpaper");
  registry.RegCloseKey(key);
  if (style == "0") return tile == "1" ? WallpaperStyle::kTiled : WallpaperStyle::kCentered;
  if (style == "6") return WallpaperStyle::kScaled;
  if (style == "10") return WallpaperStyle::kZoom;
  if (style == "22") return WallpaperStyle::kSpanned;
  return WallpaperStyle::kStretched;
}

bool LockScreenChosen(Registry& registry) {
  Handle key = 0;
  if (registry.RegOpenKeyExA(kHkeyCurrentUser, "Software\\ZorvaniWallpaper", 0, kKeyQueryValue, &key) != kErrorSuccess) return false;
  const bool on = ReadString(registry, key, "LockScreen") == "1";
  registry.RegCloseKey(key);
  return on;
}

}  // namespace posix
}  // namespace platform
