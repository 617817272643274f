#include "platform/posix/desktop/backend_parts.h"

#include <errno.h>
#include <sys/stat.h>

#include <algorithm>

#include "platform/replace_file.h"

namespace platform {
namespace posix {
namespace {

// A plain X11 session: one of the root-window painters.
class RootWindowBackend : public DesktopBackend {
 public:
  // Without an own file (feh's .fehbg), nothing can be read back.
  explicit RootWindowBackend(RootWindowTool tool) : t_(tool) {}
  const char* Name() const override { return t_.tool; }
  bool Claims(const std::string&) const override { return false; }
  bool Detect(const Session& session) const override {
    return !session.Variable("DISPLAY").empty() && !session.FindProgram(t_.tool).empty();
  }
  bool ReadsBitmap() const override { return t_.readsBitmap; }
  std::vector<const char*> Tools() const override { return {t_.tool}; }

  CommandResult Apply(const Session& session, const WallpaperRequest& request) const override {
    std::vector<std::string> command{session.FindProgram(t_.tool)};
    if (t_.noXinerama && request.style == WallpaperStyle::kSpanned) command.push_back("--no-xinerama");
    command.push_back(Option(request));
    command.push_back(request.path);
    return session.Run(command);
  }

  Desktop::MonitorPictures MonitorPictures() const override { return t_.monitors; }
  // feh gives its pictures to Xinerama's screens in turn, which RandR lists as it lists
  // its monitors: the primary first.
  CommandResult ApplyPerMonitor(const Session& session, const std::vector<MonitorRequest>& monitors) const override {
    std::vector<std::string> command{session.FindProgram(t_.tool)};
    if (t_.outputOption == nullptr) command.push_back(t_.options(WallpaperStyle::kStretched));
    for (const MonitorRequest& m : monitors) {
      if (t_.outputOption != nullptr) {
        if (!PlainOutputName(m.monitor.name)) return CommandResult::kFailed;
        command.insert(command.end(), {t_.outputOption, m.monitor.name, t_.options(WallpaperStyle::kStretched)});
      }
      command.push_back(m.request.path);
    }
    return session.Run(command);
  }

  // feh's own form, the path quoted as feh quotes it.
  std::string ToolFileText(const WallpaperRequest& request) const override {
    if (t_.ownFile == nullptr) return {};
    std::string quoted = "'";
    for (const char c : request.path) quoted += c == '\'' ? std::string("'\"'\"'") : std::string(1, c);
    return std::string("#!/bin/sh\n") + t_.tool + " --no-fehbg " + Option(request) + " " + quoted + "' \n";
  }

  // The first picture and its option as far as the file is in feh's own form ("feh
  // --no-fehbg --bg-… '…'", a quote inside the path written '"'"'), which is how it is
  // given back; its bytes, given back as they were only where it names no picture.
  // Nothing in it is run.
  bool Shown(const Session& session, ShownWallpaper* shown) const override {
    if (t_.ownFile == nullptr || session.Variable("HOME").empty()) return false;
    shown->toolFile = session.Variable("HOME") + "/" + t_.ownFile;
    std::string bytes;
    struct stat info {};
    // A few lines as feh writes it; a file far beyond that is not kept (nor read whole).
    if (stat(shown->toolFile.c_str(), &info) == 0 && info.st_size > 256 * 1024) return false;
    if (!ReadRegularFile(shown->toolFile, &bytes)) return errno == ENOENT;
    shown->toolFileBytes = bytes;
    std::size_t at = FehArguments(bytes);
    if (at == std::string::npos) return true;
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
  // Where the options start on the line that runs feh: "feh --no-fehbg …", or with feh
  // by its full path, as feh writes its own name when it was run by one.
  static std::size_t FehArguments(const std::string& bytes) {
    static constexpr char kNoFehbg[] = " --no-fehbg ";
    for (std::size_t line = 0; line < bytes.size();) {
      const std::size_t end = std::min(bytes.find('\n', line), bytes.size()), space = bytes.find(' ', line);
      if (space < end) {
        const std::string word = bytes.substr(line, space - line);
        const bool feh = word == "feh" || (word[0] == '/' && word.size() > 4 && word.compare(word.size() - 4, 4, "/feh") == 0);
        if (feh && bytes.compare(space, sizeof kNoFehbg - 1, kNoFehbg) == 0) return space + sizeof kNoFehbg - 1;
      }
      line = end + 1;
    }
    return std::string::npos;
  }

  // A placement read back only as one of the tool's own words, never another option.
  std::string Option(const WallpaperRequest& request) const {
    for (const WallpaperStyle style : {WallpaperStyle::kStretched, WallpaperStyle::kCentered, WallpaperStyle::kTiled,
                                       WallpaperStyle::kScaled, WallpaperStyle::kZoom}) {
      if (request.placement == t_.options(style)) return request.placement;
    }
    return t_.options(request.style);
  }

  RootWindowTool t_;
};

}  // namespace

std::unique_ptr<DesktopBackend> MakeRootWindowBackend(RootWindowTool tool) { return std::make_unique<RootWindowBackend>(tool); }

}  // namespace posix
}  // namespace platform
