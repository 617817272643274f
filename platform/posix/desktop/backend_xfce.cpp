#include "platform/posix/desktop/backend_parts.h"

#include <regex>

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

}  // namespace

std::unique_ptr<DesktopBackend> MakeXfceBackend() { return std::make_unique<XfceBackend>(); }

}  // namespace posix
}  // namespace platform
