#include "platform/posix/desktop/desktop_backends.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <regex>
#include <utility>

#include "platform/posix/reg_files/ascii_text.h"
#include "platform/posix/desktop/png_copy.h"
#include "platform/posix/private_folder.h"
#include "platform/replace_file.h"

namespace platform {
namespace posix {
namespace {

constexpr std::uint32_t kHkeyCurrentUser = 0x80000001;

std::string Lower(std::string text) {
  for (char& c : text) c = AsciiLower(c);
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

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

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
bool GVariantText(std::string printed, std::string* text) {
  while (!printed.empty() && (printed.back() == '\n' || printed.back() == ' ')) printed.pop_back();
  if (printed.size() < 2 || (printed[0] != '\'' && printed[0] != '"') || printed.back() != printed[0]) return false;
  text->clear();
  for (std::size_t at = 1; at + 1 < printed.size(); ++at) {
    char c = printed[at];
    if (c == '\\') {
      if (at + 2 >= printed.size()) return false;
      c = printed[++at];
      if (c == 'n') c = '\n';
      else if (c == 't') c = '\t';
      else if (c == 'r') c = '\r';
      else if (c == 'u' && at + 4 < printed.size()) {  // a code point below U+10000, as UTF-8
        const unsigned long code = std::strtoul(printed.substr(at + 1, 4).c_str(), nullptr, 16);
        at += 4;
        AppendUtf8(*text, static_cast<std::uint32_t>(code));
        continue;
      } else if (c != '\\' && c != '\'' && c != '"') return false;
    }
    *text += c;
  }
  return true;
}

// The path of a file URI (or of a plain path); false for another kind of URI.
bool PathOfUri(const std::string& uri, std::string* path) {
  if (!uri.empty() && uri[0] == '/') return *path = uri, true;
  if (uri.rfind("file://", 0) != 0 || uri.size() < 8 || uri[7] != '/') return false;
  path->clear();
  for (std::size_t at = 7; at < uri.size(); ++at) {
    if (uri[at] == '%' && at + 2 < uri.size() && std::isxdigit(static_cast<unsigned char>(uri[at + 1])) &&
        std::isxdigit(static_cast<unsigned char>(uri[at + 2]))) {
      *path += static_cast<char>(std::stoi(uri.substr(at + 1, 2), nullptr, 16));
      at += 2;
    } else {
      *path += uri[at];
    }
  }
  return true;
}

// The value of `key` in the group `group` of a desktop-entry style file (GKeyFile,
// KConfig, QSettings' ini) as read here: \s, \n, \t and \\ escapes undone, and with
// codePoints QSettings' "\x" and up to four hex digits for a character. The first group
// whose name matches wins. False when the file, the group or the key is missing, or the
// value holds another escape or quotes.
bool IniValue(const std::string& file, const std::regex& group, const std::string& key, std::string* value,
              bool codePoints = false) {
  std::string text;
  if (!ReadRegularFile(file, &text)) return false;
  bool inGroup = false;
  for (std::string line : Split(text, '\n')) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '[') {
      if (inGroup) return false;
      inGroup = std::regex_match(line, group);
      continue;
    }
    if (!inGroup || line.rfind(key + "=", 0) != 0) continue;
    value->clear();
    for (std::size_t at = key.size() + 1; at < line.size(); ++at) {
      if (line[at] != '\\') { *value += line[at]; continue; }
      if (++at == line.size()) return false;
      const char escaped = line[at];
      if (escaped == 's') *value += ' ';
      else if (escaped == 'n') *value += '\n';
      else if (escaped == 't') *value += '\t';
      else if (escaped == '\\') *value += '\\';
      else if (escaped != 'x' || !codePoints) return false;
      else {
        std::size_t digits = 0;
        while (digits < 4 && at + 1 + digits < line.size() && std::isxdigit(static_cast<unsigned char>(line[at + 1 + digits]))) ++digits;
        if (digits == 0) return false;
        AppendUtf8(*value, static_cast<std::uint32_t>(std::stoul(line.substr(at + 1, digits), nullptr, 16)));
        at += digits;
      }
    }
    return value->empty() || (*value)[0] != '"';
  }
  return false;
}

// The user's configuration folder.
std::string ConfigFolder(const Session& session) {
  const std::string config = session.Variable("XDG_CONFIG_HOME");
  return !config.empty() && config[0] == '/' ? config : session.Variable("HOME") + "/.config";
}

// A quoted GVariant string: a path may hold quotes and backslashes.
std::string GVariantString(const std::string& text) { return BackslashQuoted(text, '\''); }

bool AnyRuns(const Session& session, const std::vector<RunningProgram>& programs) {
  return std::any_of(programs.begin(), programs.end(), [&](const RunningProgram& program) {
    return session.Runs(program.name, program.argument);
  });
}

// The painter's bus name, asked only where the processes cannot be seen (a sandbox):
// a desktop that never gets ready would otherwise cost a bus call at every tick.
bool BusShows(const Session& session, const SessionSigns& signs) {
  return signs.busName != nullptr && !session.ProcessesVisible() && session.BusNameOwned(signs.busName);
}

// What draws the desktop's background runs in this session.
bool PainterRuns(const Session& session, const SessionSigns& signs) {
  return AnyRuns(session, signs.painters) || BusShows(session, signs);
}

// What GLib takes as text (g_utf8_validate): GSettings strings and the D-Bus strings
// xfconf sends must be UTF-8; the real gsettings crashes on anything else.
bool ValidUtf8(const std::string& text) {
  for (std::size_t at = 0; at < text.size();) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const int extra = lead < 0x80 ? 0 : lead >= 0xC2 && lead < 0xE0 ? 1 : lead >= 0xE0 && lead < 0xF0 ? 2 : lead >= 0xF0 && lead < 0xF5 ? 3 : -1;
    if (extra < 0 || text.size() - at <= static_cast<std::size_t>(extra)) return false;
    std::uint32_t code = lead & (0x7F >> extra);
    for (int i = 1; i <= extra; ++i) {
      const auto next = static_cast<unsigned char>(text[at + static_cast<std::size_t>(i)]);
      if ((next & 0xC0) != 0x80) return false;
      code = code << 6 | (next & 0x3F);
    }
    static constexpr std::uint32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    at += static_cast<std::size_t>(extra) + 1;
  }
  return true;
}

CommandResult Worse(CommandResult a, CommandResult b) {
  if (a == CommandResult::kTimedOut || b == CommandResult::kTimedOut) return CommandResult::kTimedOut;
  return a == CommandResult::kSucceeded ? b : a;
}

// GNOME and the desktops that share its background settings through gsettings.
class GsettingsBackend : public DesktopBackend {
 public:
  GsettingsBackend(const char* name, std::initializer_list<const char*> names, SessionSigns signs, const char* schema,
                   const char* pictureKey, bool plainPath, bool darkKey, bool cachesByPath)
      : name_(name), names_(names), signs_(std::move(signs)), schema_(schema), pictureKey_(pictureKey),
        plainPath_(plainPath), darkKey_(darkKey), cachesByPath_(cachesByPath) {}

  const char* Name() const override { return name_; }
  bool Claims(const std::string& desktopName) const override {
    return std::any_of(names_.begin(), names_.end(),
                       [&](const char* prefix) { return StartsWith(desktopName, prefix); });
  }
  bool CachesByPath() const override { return cachesByPath_; }
  SessionSigns Signs() const override { return signs_; }
  std::vector<const char*> Tools() const override { return {"gsettings"}; }
  bool StoresText() const override { return plainPath_; }

  CommandResult Apply(const Session& session, const WallpaperRequest& request) const override {
    const std::string gsettings = session.FindProgram("gsettings");
    if (gsettings.empty()) return CommandResult::kFailed;
    const auto set = [&](const char* key, const std::string& value) {
      return session.Run({gsettings, "set", schema_, key, GVariantString(value)});
    };
    // Placement first, so the new picture never shows with the old placement.
    static constexpr Placements kOptions{"stretched", "centered", "wallpaper", "scaled", "zoom", "spanned"};
    CommandResult result = set("picture-options", kOptions(request));
    if (result == CommandResult::kTimedOut) return result;
    result = set(pictureKey_, plainPath_ ? request.path : request.uri);
    if (result != CommandResult::kSucceeded || !darkKey_) return result;
    // Only GNOME 42 and later know the dark-style key; older ones refuse it.
    return set("picture-uri-dark", request.uri) == CommandResult::kTimedOut ? CommandResult::kTimedOut
                                                                            : CommandResult::kSucceeded;
  }

  // The light picture only: a GNOME whose dark one differed gets the light one for both.
  bool Shown(const Session& session, ShownWallpaper* shown) const override {
    const std::string gsettings = session.FindProgram("gsettings");
    std::string picture, options;
    return !gsettings.empty() &&
           session.Run({gsettings, "get", schema_, pictureKey_}, &picture) == CommandResult::kSucceeded &&
           session.Run({gsettings, "get", schema_, "picture-options"}, &options) == CommandResult::kSucceeded &&
           GVariantText(picture, &picture) && GVariantText(options, &shown->placement) &&
           (picture.empty() || PathOfUri(picture, &shown->path));
  }

 private:
  const char* name_;
  std::vector<const char*> names_;
  SessionSigns signs_;
  const char* schema_;
  const char* pictureKey_;
  bool plainPath_, darkKey_, cachesByPath_;
};

// XFCE: xfdesktop draws what xfconf holds per monitor and workspace.
class XfceBackend : public DesktopBackend {
 public:
  const char* Name() const override { return "xfce"; }
  bool Claims(const std::string& desktopName) const override {
    return desktopName.find("xfce") != std::string::npos || desktopName == "xubuntu";
  }
  SessionSigns Signs() const override { return {{{"xfce4-session", ""}}, {{"xfdesktop", ""}}, "org.xfce.xfdesktop"}; }
  // xfconf takes the value at any time, but at log-on xfdesktop's first start would
  // meet a half-made set of properties: wait for it.
  bool Ready(const Session& session) const override { return PainterRuns(session, Signs()); }
  std::vector<const char*> Tools() const override { return {"xfconf-query"}; }
  bool StoresText() const override { return true; }

  CommandResult Apply(const Session& session, const WallpaperRequest& request) const override {
    const std::string query = session.FindProgram("xfconf-query");
    if (query.empty()) return CommandResult::kFailed;
    std::string listing;
    const CommandResult listed = session.Run({query, "-c", "xfce4-desktop", "-l"}, &listing);
    if (listed == CommandResult::kTimedOut) return listed;
    std::vector<std::string> images = Images(listing);
    // Before xfdesktop ever ran nothing is listed: create the first monitor's first workspace.
    if (images.empty()) images.push_back("/backdrop/screen0/monitor" + FirstMonitor(session) + "/workspace0/last-image");

    CommandResult result = CommandResult::kSucceeded;
    for (const std::string& image : images) {
      const std::string style = StyleOf(image);
      result = Worse(result, session.Run({query, "-c", "xfce4-desktop", "-p", style, "-n", "-t", "int", "-s",
                                          kStyles(request)}));
      if (result == CommandResult::kTimedOut) return result;
      result = Worse(result, session.Run({query, "-c", "xfce4-desktop", "-p", image, "-n", "-t", "string", "-s",
                                          request.path}));
      if (result == CommandResult::kTimedOut) return result;
    }
    return result;
  }

  // The first monitor's first workspace as listed; nothing before xfdesktop stored any.
  bool Shown(const Session& session, ShownWallpaper* shown) const override {
    const std::string query = session.FindProgram("xfconf-query");
    std::string listing;
    if (query.empty() || session.Run({query, "-c", "xfce4-desktop", "-l"}, &listing) != CommandResult::kSucceeded) return false;
    const std::vector<std::string> images = Images(listing);
    if (images.empty()) return false;
    const std::string& image = images.front();
    const auto value = [&](const std::string& property, std::string* text) {
      const bool read = session.Run({query, "-c", "xfce4-desktop", "-p", property}, text) == CommandResult::kSucceeded;
      if (read && !text->empty() && text->back() == '\n') text->pop_back();
      return read;
    };
    return value(image, &shown->path) && value(StyleOf(image), &shown->placement) &&
           shown->placement.find_first_not_of("0123456789") == std::string::npos;
  }

 private:
  static constexpr Placements kStyles{"3", "1", "2", "4", "5", "6"};
  static std::vector<std::string> Images(const std::string& listing) {
    static const std::regex kImage(R"(/backdrop/screen[0-9]+/monitor[^/\s]+/workspace[0-9]+/last-image)");
    std::vector<std::string> images;
    for (const std::string& line : Split(listing, '\n')) {
      if (std::regex_match(line, kImage)) images.push_back(line);
    }
    return images;
  }
  static std::string StyleOf(const std::string& image) {
    return image.substr(0, image.size() - std::string("last-image").size()) + "image-style";
  }
  // xfdesktop names monitors by their RandR output ("monitorVGA-1"); "0" without xrandr.
  static std::string FirstMonitor(const Session& session) {
    const std::string xrandr = session.FindProgram("xrandr");
    std::string listing;
    if (xrandr.empty() || session.Run({xrandr, "--listmonitors"}, &listing) != CommandResult::kSucceeded) return "0";
    static const std::regex kMonitor(R"(^\s*[0-9]+: \+\*?\S+ .* (\S+)$)");
    std::smatch match;
    for (const std::string& line : Split(listing, '\n')) {
      if (std::regex_match(line, match, kMonitor)) return match[1];
    }
    return "0";
  }
};

// KDE Plasma 5 and 6.
class PlasmaBackend : public DesktopBackend {
 public:
  const char* Name() const override { return "kde"; }
  bool Claims(const std::string& desktopName) const override {
    return desktopName == "kde" || StartsWith(desktopName, "plasma");
  }
  bool CachesByPath() const override { return true; }
  SessionSigns Signs() const override {
    return {{{"ksmserver", ""}, {"plasma_session", ""}}, {{"plasmashell", ""}}, "org.kde.plasmashell"};
  }
  std::vector<const char*> Tools() const override {
    return {"plasma-apply-wallpaperimage", "qdbus", "qdbus6", "gdbus", "dbus-send"};
  }

  CommandResult Apply(const Session& session, const WallpaperRequest& request) const override {
    // Plasma's image wallpaper fill modes (Qt's Image.fillMode).
    static constexpr Placements kFill{"0", "6", "3", "1", "2", "0"};
    std::string script =
        "var all = desktops(); for (var i = 0; i < all.length; ++i) { var d = all[i];"
        " d.wallpaperPlugin = 'org.kde.image';"
        " d.currentConfigGroup = ['Wallpaper', 'org.kde.image', 'General'];";
    const std::string apply = session.FindProgram("plasma-apply-wallpaperimage");
    // The URI is percent-encoded, so it holds no quote that could end the script's string.
    if (apply.empty()) script += " d.writeConfig('Image', '" + request.uri + "');";
    script += " d.writeConfig('FillMode', " + kFill(request) + "); }";

    const std::vector<std::string> call = ScriptCall(session, script);
    if (apply.empty()) return call.empty() ? CommandResult::kFailed : session.Run(call);
    const CommandResult applied = session.Run({apply, request.path});
    if (applied != CommandResult::kSucceeded || call.empty()) return applied;
    // The tool takes no placement; a fill mode that cannot be set leaves Plasma's own.
    return session.Run(call) == CommandResult::kTimedOut ? CommandResult::kTimedOut : applied;
  }

  // The first desktop's image in Plasma's own file; its fill mode only as a number,
  // since it goes into the script.
  bool Shown(const Session& session, ShownWallpaper* shown) const override {
    static const std::regex kGroup(R"(\[Containments\]\[[0-9]+\]\[Wallpaper\]\[org\.kde\.image\]\[General\])");
    const std::string file = ConfigFolder(session) + "/plasma-org.kde.plasma.desktop-appletsrc";
    std::string image;
    if (!IniValue(file, kGroup, "Image", &image) || !PathOfUri(image, &shown->path)) return false;
    if (!IniValue(file, kGroup, "FillMode", &shown->placement) || shown->placement.empty() ||
        shown->placement.find_first_not_of("0123456789") != std::string::npos)
      shown->placement.clear();
    return true;
  }

 private:
  static std::vector<std::string> ScriptCall(const Session& session, const std::string& script) {
    for (const char* qdbus : {"qdbus", "qdbus6"}) {
      const std::string tool = session.FindProgram(qdbus);
      if (!tool.empty()) return {tool, "org.kde.plasmashell", "/PlasmaShell", "org.kde.PlasmaShell.evaluateScript", script};
    }
    if (const std::string tool = session.FindProgram("gdbus"); !tool.empty()) {
      return {tool, "call", "--session", "--dest", "org.kde.plasmashell", "--object-path", "/PlasmaShell",
              "--method", "org.kde.PlasmaShell.evaluateScript", script};
    }
    if (const std::string tool = session.FindProgram("dbus-send"); !tool.empty()) {
      return {tool, "--session", "--type=method_call", "--print-reply", "--dest=org.kde.plasmashell",
              "/PlasmaShell", "org.kde.PlasmaShell.evaluateScript", "string:" + script};
    }
    return {};
  }
};

// LXDE (pcmanfm) and LXQt (pcmanfm-qt): the running desktop manager takes the file.
// Called while no desktop manager runs, the tool becomes the first instance itself
// and puts up "Desktop manager is not active" (and may keep the session's own from
// starting): it is only called once the session's "--desktop" instance runs and, for
// pcmanfm, listens on its socket.
class PcmanfmBackend : public DesktopBackend {
 public:
  // Where the desktop manager keeps its wallpaper: the file in each profile's folder,
  // its group and keys.
  struct Settings {
    const char* file;
    const char* group;
    const char* pathKey;
    const char* modeKey;  // null: not read back
    bool codePoints;      // QSettings' escapes
  };
  PcmanfmBackend(const char* name, const char* tool, const char* sessionManager, Placements modes, bool cachesByPath,
                 bool socketInRuntimeFolder, Settings settings)
      : name_(name), tool_(tool), sessionManager_(sessionManager), modes_(modes), cachesByPath_(cachesByPath),
        socketInRuntimeFolder_(socketInRuntimeFolder), settings_(settings) {}
  const char* Name() const override { return name_; }
  bool Claims(const std::string& desktopName) const override { return StartsWith(desktopName, name_); }
  bool CachesByPath() const override { return cachesByPath_; }
  SessionSigns Signs() const override { return {{{sessionManager_, ""}}, {{tool_, "--desktop"}}, nullptr}; }
  bool Ready(const Session& session) const override {
    return PainterRuns(session, Signs()) && (!socketInRuntimeFolder_ || ListensOnSocket(session));
  }
  std::vector<const char*> Tools() const override { return {tool_}; }

  CommandResult Apply(const Session& session, const WallpaperRequest& request) const override {
    const std::string tool = session.FindProgram(tool_);
    if (tool.empty()) return CommandResult::kFailed;
    return session.Run({tool, "--set-wallpaper=" + request.path, "--wallpaper-mode=" + modes_(request)});
  }

  // Read from the profile's file, never through the tool: the session's profile is
  // named like the session (LXDE, lxqt), else "default".
  bool Shown(const Session& session, ShownWallpaper* shown) const override {
    const std::string folder = ConfigFolder(session) + "/" + tool_ + "/";
    std::string profile = session.Variable("DESKTOP_SESSION");
    struct stat info {};
    if (profile.empty() || profile.find('/') != std::string::npos || stat((folder + profile).c_str(), &info) != 0)
      profile = "default";
    const std::string file = folder + profile + "/" + settings_.file;
    const std::regex group(std::string("\\[") + settings_.group + "\\]");
    return IniValue(file, group, settings_.pathKey, &shown->path, settings_.codePoints) &&
           (settings_.modeKey == nullptr || IniValue(file, group, settings_.modeKey, &shown->placement)) &&
           (shown->path.empty() || shown->path[0] == '/');
  }

 private:
  // The first instance's socket, "<tool>-socket-<host>-<display number>" in the user's
  // runtime folder (GLib's: the cache folder when XDG_RUNTIME_DIR is not set).
  bool ListensOnSocket(const Session& session) const {
    const std::string display = session.Variable("DISPLAY");
    const std::size_t colon = display.rfind(':');
    if (colon == std::string::npos) return false;
    std::string folder = session.Variable("XDG_RUNTIME_DIR");
    if (folder.empty()) folder = session.Variable("XDG_CACHE_HOME");
    if (folder.empty()) folder = session.Variable("HOME") + "/.cache";
    const std::string socket = folder + "/" + tool_ + "-socket-" + display.substr(0, colon) + "-" +
                               std::to_string(std::atoi(display.c_str() + colon + 1));
    struct stat info {};
    return stat(socket.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
  }

  const char* name_;
  const char* tool_;
  const char* sessionManager_;
  Placements modes_;
  bool cachesByPath_, socketInRuntimeFolder_;
  Settings settings_;
};

// sway: its own swaybg, through the output configuration.
class SwayBackend : public DesktopBackend {
 public:
  const char* Name() const override { return "sway"; }
  bool Claims(const std::string& desktopName) const override { return desktopName == "sway"; }
  bool Detect(const Session& session) const override { return !session.Variable("SWAYSOCK").empty(); }
  // swaymsg joins its arguments into one command line, which sway splits at ';' and ','
  // and expands like a shell word ($(...) and backticks run).
  bool ReadsCommandLanguage() const override { return true; }
  std::vector<const char*> Tools() const override { return {"swaymsg"}; }

  CommandResult Apply(const Session& session, const WallpaperRequest& request) const override {
    const std::string swaymsg = session.FindProgram("swaymsg");
    if (swaymsg.empty() || request.plainPath.empty()) return CommandResult::kFailed;
    static constexpr Placements kModes{"stretch", "center", "tile", "fit", "fill", "stretch"};
    return session.Run({swaymsg, "output", "*", "bg", request.plainPath, kModes(request.style)});
  }
  // No Shown: sway reports no output's background (get_outputs has none), and its
  // configuration file is sway's command language. Nothing is given back; sway's own
  // configuration shows again at its next start.
};

// Hyprland: hyprpaper when it runs, else swww. Neither reads BMP.
class HyprlandBackend : public DesktopBackend {
 public:
  const char* Name() const override { return "hyprland"; }
  bool Claims(const std::string& desktopName) const override { return desktopName == "hyprland"; }
  bool Detect(const Session& session) const override {
    return !session.Variable("HYPRLAND_INSTANCE_SIGNATURE").empty();
  }
  bool ReadsBitmap() const override { return false; }
  bool CachesByPath() const override { return true; }
  // hyprctl hands hyprpaper one line, split at commas.
  bool ReadsCommandLanguage() const override { return true; }
  std::vector<const char*> Tools() const override { return {"hyprctl", "swww"}; }
  // No Shown: hyprpaper's configuration and swww's cache are theirs; nothing is given back.

  CommandResult Apply(const Session& session, const WallpaperRequest& request) const override {
    const std::string hyprctl = session.FindProgram("hyprctl");
    // listloaded fails when no hyprpaper answers.
    if (!hyprctl.empty() && session.Run({hyprctl, "hyprpaper", "listloaded"}) == CommandResult::kSucceeded) {
      if (request.plainPath.empty()) return CommandResult::kFailed;
      CommandResult result = session.Run({hyprctl, "hyprpaper", "preload", request.plainPath});
      if (result == CommandResult::kSucceeded) result = session.Run({hyprctl, "hyprpaper", "wallpaper", "," + request.plainPath});
      if (result == CommandResult::kSucceeded && !request.previousPlainPath.empty()) {
        session.Run({hyprctl, "hyprpaper", "unload", request.previousPlainPath});  // only frees memory
      }
      return result;
    }
    // swww takes the path as one argument and keeps it for its next start: the real one.
    const std::string swww = session.FindProgram("swww");
    if (swww.empty()) return CommandResult::kFailed;
    static constexpr Placements kResize{"crop", "no", "no", "fit", "crop", "crop"};
    return session.Run({swww, "img", request.path, "--resize", kResize(request.style)});
  }
};

// Other Wayland compositors: a swaybg of our own, replaced at each change.
pid_t ownedClient = -1;

class SwaybgBackend : public DesktopBackend {
 public:
  const char* Name() const override { return "swaybg"; }
  bool Claims(const std::string&) const override { return false; }
  bool Detect(const Session& session) const override { return !session.Variable("WAYLAND_DISPLAY").empty(); }
  std::vector<const char*> Tools() const override { return {"swaybg"}; }
  // No Shown: the program's own swaybg ends with the program, which gives back what the
  // compositor showed beneath it.

  CommandResult Apply(const Session& session, const WallpaperRequest& request) const override {
    const std::string swaybg = session.FindProgram("swaybg");
    if (swaybg.empty()) return CommandResult::kFailed;
    static constexpr Placements kModes{"stretch", "center", "tile", "fit", "fill", "stretch"};
    const pid_t started = session.Start({swaybg, "-o", "*", "-i", request.path, "-m", kModes(request.style)});
    if (started < 0) return CommandResult::kFailed;
    // The new client draws over the old one before the old one goes: no bare moment.
    EndOwnedWallpaperClient();
    static const bool registered = std::atexit(EndOwnedWallpaperClient) == 0;
    (void)registered;
    ownedClient = started;
    return CommandResult::kSucceeded;
  }
};

// A plain X11 session: one of the root-window painters.
class RootWindowBackend : public DesktopBackend {
 public:
  // ownFile: the file in the home folder where the tool names what it shows (feh's
  // .fehbg), or null; without it, nothing can be read back.
  RootWindowBackend(const char* tool, Placements options, bool readsBitmap, bool noXinerama, const char* ownFile)
      : tool_(tool), options_(options), readsBitmap_(readsBitmap), noXinerama_(noXinerama), ownFile_(ownFile) {}
  const char* Name() const override { return tool_; }
  bool Claims(const std::string&) const override { return false; }
  bool Detect(const Session& session) const override {
    return !session.Variable("DISPLAY").empty() && !session.FindProgram(tool_).empty();
  }
  bool ReadsBitmap() const override { return readsBitmap_; }
  std::vector<const char*> Tools() const override { return {tool_}; }

  CommandResult Apply(const Session& session, const WallpaperRequest& request) const override {
    std::vector<std::string> command{session.FindProgram(tool_)};
    if (noXinerama_ && request.style == WallpaperStyle::kSpanned) command.push_back("--no-xinerama");
    command.push_back(options_(request));
    command.push_back(request.path);
    return session.Run(command);
  }

  // The file's bytes, given back as they were; the first picture and its option as far
  // as the file is in feh's own form ("feh --no-fehbg --bg-… '…'", a quote inside the
  // path written '"'"'). Nothing in it is run.
  bool Shown(const Session& session, ShownWallpaper* shown) const override {
    if (ownFile_ == nullptr || session.Variable("HOME").empty()) return false;
    shown->toolFile = session.Variable("HOME") + "/" + ownFile_;
    std::string bytes;
    if (!ReadRegularFile(shown->toolFile, &bytes)) return errno == ENOENT;
    shown->toolFileBytes = bytes;
    const std::size_t start = bytes.find("\nfeh --no-fehbg ");
    if (start == std::string::npos) return true;
    std::size_t at = start + 16;
    for (std::size_t end; at < bytes.size() && bytes[at] == '-'; at = end + 1) {
      end = bytes.find(' ', at);
      if (end == std::string::npos) return true;
      if (bytes.compare(at, 5, "--bg-") == 0) shown->placement = bytes.substr(at, end - at);
    }
    std::string path;
    while (at < bytes.size() && (bytes[at] == '\'' || bytes[at] == '"')) {
      const std::size_t end = bytes.find(bytes[at], at + 1);
      if (end == std::string::npos) return true;
      path += bytes.substr(at + 1, end - at - 1);
      at = end + 1;
    }
    if (!path.empty() && path[0] == '/' && (at == bytes.size() || bytes[at] == ' ' || bytes[at] == '\n')) shown->path = path;
    return true;
  }

 private:
  const char* tool_;
  Placements options_;
  bool readsBitmap_, noXinerama_;
  const char* ownFile_;
};

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

}  // namespace

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

namespace {

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
    list.push_back(std::make_unique<GsettingsBackend>("gnome", std::initializer_list<const char*>{"gnome", "ubuntu", "unity", "budgie"},
                                                      SessionSigns{{}, {{"gnome-shell", ""}}, "org.gnome.Shell"},
                                                      "org.gnome.desktop.background", "picture-uri", false, true, false));
    list.push_back(std::make_unique<GsettingsBackend>("pantheon", std::initializer_list<const char*>{"pantheon"}, SessionSigns{},
                                                      "org.gnome.desktop.background", "picture-uri", false, true, true));
    list.push_back(std::make_unique<GsettingsBackend>("cinnamon", std::initializer_list<const char*>{"x-cinnamon", "cinnamon"},
                                                      SessionSigns{{{"cinnamon-session", ""}}, {{"cinnamon", ""}, {"nemo-desktop", ""}}, nullptr},
                                                      "org.cinnamon.desktop.background", "picture-uri", false, false, false));
    list.push_back(std::make_unique<GsettingsBackend>("mate", std::initializer_list<const char*>{"mate"},
                                                      SessionSigns{{{"mate-session", ""}}, {{"caja", ""}}, nullptr},
                                                      "org.mate.background", "picture-filename", true, false, false));
    list.push_back(std::make_unique<XfceBackend>());
    list.push_back(std::make_unique<PlasmaBackend>());
    list.push_back(std::make_unique<PcmanfmBackend>("lxqt", "pcmanfm-qt", "lxqt-session",
                                                    Placements{"stretch", "center", "tile", "fit", "zoom", "stretch"}, true, false,
                                                    // pcmanfm-qt 1.2 left WallpaperMode=none in its file after --wallpaper-mode=fit:
                                                    // the mode is not read back.
                                                    PcmanfmBackend::Settings{"settings.conf", "Desktop", "Wallpaper", nullptr, true}));
    list.push_back(std::make_unique<PcmanfmBackend>("lxde", "pcmanfm", "lxsession",
                                                    Placements{"stretch", "center", "tile", "fit", "crop", "screen"}, false, true,
                                                    PcmanfmBackend::Settings{"desktop-items-0.conf", "\\*", "wallpaper", "wallpaper_mode", false}));
    list.push_back(std::make_unique<SwayBackend>());
    list.push_back(std::make_unique<HyprlandBackend>());
    list.push_back(std::make_unique<SwaybgBackend>());
    list.push_back(std::make_unique<RootWindowBackend>("feh", Placements{"--bg-scale", "--bg-center", "--bg-tile", "--bg-max", "--bg-fill", "--bg-scale"}, true, true, ".fehbg"));
    list.push_back(std::make_unique<RootWindowBackend>("xwallpaper", Placements{"--stretch", "--center", "--tile", "--maximize", "--zoom", "--stretch"}, false, false, nullptr));
    list.push_back(std::make_unique<RootWindowBackend>("hsetroot", Placements{"-fill", "-center", "-tile", "-full", "-cover", "-fill"}, true, false, nullptr));
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

void EndOwnedWallpaperClient() {
  if (ownedClient <= 0) return;
  Session::End(ownedClient);
  ownedClient = -1;
}

LinuxDesktop::LinuxDesktop(Registry& registry, std::function<Session()> session)
    : registry_(registry), session_(std::move(session)) {}

bool LinuxDesktop::SystemParametersInfoA(std::uint32_t action, std::uint32_t, const std::string& path,
                                         std::uint32_t) {
  if (action != kSpiSetDeskWallpaper) return false;
  const Session session = session_();
  const bool display = !session.Variable("DISPLAY").empty() || !session.Variable("WAYLAND_DISPLAY").empty();
  if (!display && session.Variable("DBUS_SESSION_BUS_ADDRESS").empty()) return true;  // no desktop to tell
  const DesktopBackend* backend = ChooseDesktopBackend(session);
  // A session bus alone, with no desktop named, is a log-in without a desktop (ssh).
  if (backend == nullptr) return !display;
  if (!backend->Ready(session)) return false;
  if (keep_) KeepShown(session, *backend);

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
  if (stamped && waiting_.backend == backend && waiting_.bitmap == bitmap && waiting_.bitmapStamp == bitmapStamp &&
      StampOf(waiting_.path, &copyStamp) && copyStamp == waiting_.stamp) {
    file = {waiting_.path, waiting_.previous, true};  // made for this very wp.bmp at an earlier try
  } else if (!PrepareFile(bitmap, *backend, &file)) {
    return false;
  }
  waiting_ = {};
  WallpaperRequest request{file.path, FileUri(file.path), file.previous, StoredWallpaperStyle(registry_), {}, {}};
  std::string plainFolder;
  if (backend->ReadsCommandLanguage() && !(plainFolder = PlainFolder(session)).empty()) {
    request.plainPath = LinkPlainly(plainFolder, file.path);
    if (!file.previous.empty()) request.previousPlainPath = plainFolder + "/" + PlainName(file.previous);
  }
  const bool applied = backend->Apply(session, request) == CommandResult::kSucceeded;
  // What shows from now on is the program's own: never to be kept as the previous one.
  if (applied) keep_ = false;
  if (!file.derived) return applied;
  if (!applied) {
    // Kept for the retry; the file the desktop shows stays too.
    if (stamped && StampOf(file.path, &copyStamp)) waiting_ = {backend, bitmap, file.path, file.previous, bitmapStamp, copyStamp};
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
