#include "platform/posix/desktop/backend_parts.h"

#include <algorithm>
#include <cctype>

namespace platform {
namespace posix {
namespace {

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
      result = Worse(result, Set(session, query, image, request));
      if (result == CommandResult::kTimedOut) return result;
    }
    return result;
  }

  // xfdesktop keeps a picture per monitor (by its RandR name) and workspace: every
  // workspace listed for the monitor, else its first.
  Desktop::MonitorPictures MonitorPictures() const override { return Desktop::MonitorPictures::PerMonitor; }
  CommandResult ApplyPerMonitor(const Session& session, const std::vector<MonitorRequest>& monitors) const override {
    const std::string query = session.FindProgram("xfconf-query");
    if (query.empty()) return CommandResult::kFailed;
    std::string listing;
    const CommandResult listed = session.Run({query, "-c", "xfce4-desktop", "-l"}, &listing);
    if (listed == CommandResult::kTimedOut) return listed;
    const std::vector<std::string> images = Images(listing);
    CommandResult result = CommandResult::kSucceeded;
    for (const MonitorRequest& m : monitors) {
      if (!PlainOutputName(m.monitor.name)) return CommandResult::kFailed;
      const std::string monitor = "/monitor" + m.monitor.name + "/";
      std::vector<std::string> own;
      for (const std::string& image : images) {
        if (image.find(monitor) != std::string::npos) own.push_back(image);
      }
      if (own.empty()) own.push_back("/backdrop/screen0" + monitor + "workspace0/last-image");
      for (const std::string& image : own) {
        result = Worse(result, Set(session, query, image, m.request));
        if (result == CommandResult::kTimedOut) return result;
      }
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
  // The placement, then the picture of one monitor's workspace.
  static CommandResult Set(const Session& session, const std::string& query, const std::string& image,
                           const WallpaperRequest& request) {
    const CommandResult style = session.Run({query, "-c", "xfce4-desktop", "-p", StyleOf(image), "-n", "-t", "int", "-s",
                                             kStyles(request)});
    if (style == CommandResult::kTimedOut) return style;
    return Worse(style, session.Run({query, "-c", "xfce4-desktop", "-p", image, "-n", "-t", "string", "-s", request.path}));
  }
  // "/backdrop/screen0/monitorVGA-1/workspace0/last-image": a monitor name without '/' or
  // blanks. Scanned by hand: a long name would overflow std::regex's recursion.
  static std::vector<std::string> Images(const std::string& listing) {
    std::vector<std::string> images;
    for (const std::string& line : Split(listing, '\n')) {
      const std::vector<std::string> parts = Split(line, '/');
      if (parts.size() == 6 && parts[0].empty() && parts[1] == "backdrop" && Numbered(parts[2], "screen") &&
          parts[3].size() > 7 && StartsWith(parts[3], "monitor") && !HasBlank(parts[3]) &&
          Numbered(parts[4], "workspace") && parts[5] == "last-image")
        images.push_back(line);
    }
    return images;
  }
  static bool Numbered(const std::string& part, const std::string& word) {
    return part.size() > word.size() && StartsWith(part, word.c_str()) &&
           part.find_first_not_of("0123456789", word.size()) == std::string::npos;
  }
  static bool HasBlank(const std::string& text) {
    return std::any_of(text.begin(), text.end(), [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; });
  }
  static std::string StyleOf(const std::string& image) {
    return image.substr(0, image.size() - std::string("last-image").size()) + "image-style";
  }
  // xfdesktop names monitors by their RandR output ("monitorVGA-1"); "0" without xrandr.
  static std::string FirstMonitor(const Session& session) {
    const std::string xrandr = session.FindProgram("xrandr");
    std::string listing;
    if (xrandr.empty() || session.Run({xrandr, "--listmonitors"}, &listing) != CommandResult::kSucceeded) return "0";
    for (const std::string& line : Split(listing, '\n')) {
      const std::string name = MonitorName(line);
      if (!name.empty()) return name;
    }
    return "0";
  }
  // " 0: +*DP-2 1920/527x1080/296+0+0  DP-2": the line's last word, after the number, the
  // output and its geometry; empty for any other line.
  static std::string MonitorName(const std::string& line) {
    std::size_t at = 0;
    while (at < line.size() && std::isspace(static_cast<unsigned char>(line[at]))) ++at;
    const std::size_t number = at;
    while (at < line.size() && line[at] >= '0' && line[at] <= '9') ++at;
    if (at == number || line.compare(at, 3, ": +") != 0) return {};
    const std::size_t output = at + 3, gap = line.find(' ', output);
    const std::size_t last = line.rfind(' ');
    if (gap == std::string::npos || gap == output || HasBlank(line.substr(output, gap - output)) || last <= gap) return {};
    const std::string name = line.substr(last + 1);
    return HasBlank(name) ? std::string() : name;
  }
};

}  // namespace

std::unique_ptr<DesktopBackend> MakeXfceBackend() { return std::make_unique<XfceBackend>(); }

}  // namespace posix
}  // namespace platform
