#include "platform/posix/desktop_backends.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <utility>

namespace platform {
namespace posix {
namespace {

constexpr std::uint32_t kHkeyCurrentUser = 0x80000001;

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find(separator, start)) != std::string::npos; start = end + 1) {
    parts.push_back(text.substr(start, end - start));
  }
  parts.push_back(text.substr(start));
  return parts;
}

// GNOME and the desktops built on its settings: they read the background from
// org.gnome.desktop.background (XDG_CURRENT_DESKTOP is a list such as "ubuntu:GNOME").
class GnomeBackend : public DesktopBackend {
 public:
  const char* Name() const override { return "gnome"; }

  bool Detect(const Session& session) const override {
    bool gnomeLike = false;
    for (const std::string& name : Split(Lower(session.Variable("XDG_CURRENT_DESKTOP")), ':')) {
      gnomeLike = gnomeLike || name.find("gnome") != std::string::npos || name == "unity" ||
                  name.find("budgie") != std::string::npos || name == "pantheon";
    }
    return gnomeLike && !session.FindProgram("gsettings").empty();
  }

  CommandResult Apply(const Session& session, const WallpaperRequest& request) const override {
    const std::string gsettings = session.FindProgram("gsettings");
    // Placement first, so the new picture never shows with the old placement.
    CommandResult result = Set(session, gsettings, "picture-options", Options(request.style));
    if (result == CommandResult::kTimedOut) return result;
    result = Set(session, gsettings, "picture-uri", request.uri);
    if (result != CommandResult::kSucceeded) return result;
    // Only GNOME 42 and later know the dark-style key; older ones refuse it.
    if (Set(session, gsettings, "picture-uri-dark", request.uri) == CommandResult::kTimedOut) {
      return CommandResult::kTimedOut;
    }
    return CommandResult::kSucceeded;
  }

 private:
  static const char* Options(WallpaperStyle style) {
    switch (style) {
      case WallpaperStyle::kCentered: return "centered";
      case WallpaperStyle::kTiled: return "wallpaper";
      case WallpaperStyle::kScaled: return "scaled";
      case WallpaperStyle::kZoom: return "zoom";
      case WallpaperStyle::kSpanned: return "spanned";
      case WallpaperStyle::kStretched: break;
    }
    return "stretched";
  }

  static CommandResult Set(const Session& session, const std::string& gsettings, const std::string& key,
                           const std::string& value) {
    // A quoted GVariant string; the URI and the option names hold no quotes.
    return session.Run({gsettings, "set", "org.gnome.desktop.background", key, "'" + value + "'"});
  }
};

// A plain X11 session: feh paints the root window and remembers it in ~/.fehbg.
class FehBackend : public DesktopBackend {
 public:
  const char* Name() const override { return "feh"; }

  bool Detect(const Session& session) const override {
    return !session.Variable("DISPLAY").empty() && !session.FindProgram("feh").empty();
  }

  CommandResult Apply(const Session& session, const WallpaperRequest& request) const override {
    std::vector<std::string> command{session.FindProgram("feh")};
    switch (request.style) {
      case WallpaperStyle::kCentered: command.push_back("--bg-center"); break;
      case WallpaperStyle::kTiled: command.push_back("--bg-tile"); break;
      case WallpaperStyle::kScaled: command.push_back("--bg-max"); break;
      case WallpaperStyle::kZoom: command.push_back("--bg-fill"); break;
      case WallpaperStyle::kSpanned: command.insert(command.end(), {"--no-xinerama", "--bg-scale"}); break;
      case WallpaperStyle::kStretched: command.push_back("--bg-scale"); break;
    }
    command.push_back(request.path);
    return session.Run(command);
  }
};

std::string ReadString(Registry& registry, Handle key, const std::string& name) {
  std::uint8_t data[64] = {};
  std::uint32_t size = sizeof data;
  std::uint32_t type = 0;
  if (registry.RegQueryValueExA(key, name, &type, data, &size) != kErrorSuccess || type != kRegSz) return {};
  std::string text(reinterpret_cast<const char*>(data), std::min<std::size_t>(size, sizeof data));
  return text.substr(0, text.find('\0'));
}

bool HasDesktop(const Session& session) {
  return !session.Variable("DISPLAY").empty() || !session.Variable("WAYLAND_DISPLAY").empty() ||
         !session.Variable("DBUS_SESSION_BUS_ADDRESS").empty();
}

std::string AbsolutePath(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  std::vector<char> buffer(4096);
  if (getcwd(buffer.data(), buffer.size()) == nullptr) return {};
  std::string folder = buffer.data();
  if (folder.back() != '/') folder += '/';
  return folder + path;
}

}  // namespace

const std::vector<std::unique_ptr<DesktopBackend>>& DesktopBackends() {
  static const std::vector<std::unique_ptr<DesktopBackend>> backends = [] {
    std::vector<std::unique_ptr<DesktopBackend>> list;
    list.push_back(std::make_unique<GnomeBackend>());
    list.push_back(std::make_unique<FehBackend>());
    return list;
  }();
  return backends;
}

std::string FileUri(const std::string& absolutePath) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string uri = "file://";
  for (const char c : absolutePath) {
    const auto byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte) || c == '/' || c == '-' || c == '.' || c == '_' || c == '~') {
      uri += c;
    } else {
      uri += '%';
      uri += kHex[byte >> 4];
      uri += kHex[byte & 0xF];
    }
  }
  return uri;
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

LinuxDesktop::LinuxDesktop(Registry& registry, std::function<Session()> session)
    : registry_(registry), session_(std::move(session)) {}

bool LinuxDesktop::SystemParametersInfoA(std::uint32_t action, std::uint32_t, const std::string& path,
                                         std::uint32_t) {
  if (action != kSpiSetDeskWallpaper) return false;
  const Session session = session_();
  if (!HasDesktop(session)) return false;
  WallpaperRequest request;
  request.path = AbsolutePath(path);
  if (request.path.empty()) return false;
  request.uri = FileUri(request.path);
  request.style = StoredWallpaperStyle(registry_);

  for (const auto& backend : DesktopBackends()) {
    if (!backend->Detect(session)) continue;
    switch (backend->Apply(session, request)) {
      case CommandResult::kSucceeded: return true;
      case CommandResult::kTimedOut: return false;  // one hung command is enough waiting
      case CommandResult::kFailed: break;
    }
  }
  return false;
}

}  // namespace posix
}  // namespace platform
