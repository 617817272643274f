// GNOME, Pantheon, Cinnamon and MATE: the background settings in gsettings.
#include "platform/posix/desktop/backend_parts.h"

#include <algorithm>
#include <utility>

namespace platform {
namespace posix {
namespace {

constexpr Placements kOptions{"stretched", "centered", "wallpaper", "scaled", "zoom", "spanned"};

class GsettingsBackend : public DesktopBackend {
 public:
  explicit GsettingsBackend(GsettingsDesktop desktop) : d_(std::move(desktop)) {}

  const char* Name() const override { return d_.name; }
  bool Claims(const std::string& desktopName) const override {
    return std::any_of(d_.names.begin(), d_.names.end(),
                       [&](const char* prefix) { return StartsWith(desktopName, prefix); });
  }
  bool CachesByPath() const override { return d_.cachesByPath; }
  SessionSigns Signs() const override { return d_.signs; }
  std::vector<const char*> Tools() const override { return {"gsettings"}; }
  bool StoresText() const override { return d_.plainPath; }
  // One picture-uri for every monitor; 'spanned' lays it over the whole screen.
  Desktop::MonitorPictures MonitorPictures() const override { return Desktop::MonitorPictures::Spanned; }

  CommandResult Apply(const Session& session, const WallpaperRequest& request) const override {
    const std::string gsettings = session.FindProgram("gsettings");
    if (gsettings.empty()) return CommandResult::kFailed;
    const auto set = [&](const char* key, const std::string& value) {
      return session.Run({gsettings, "set", d_.schema, key, GVariantString(value)});
    };
    // Placement first, so the new picture never shows with the old placement.
    CommandResult result = set("picture-options", kOptions(request));
    if (result == CommandResult::kTimedOut) return result;
    result = set(d_.pictureKey, d_.plainPath ? request.path : request.uri);
    if (result != CommandResult::kSucceeded || !d_.darkKey) return result;
    // Only GNOME 42 and later know the dark-style key; older ones refuse it.
    return set("picture-uri-dark", request.uri) == CommandResult::kTimedOut ? CommandResult::kTimedOut
                                                                            : CommandResult::kSucceeded;
  }

  // The picture key reset to the schema's own default (MATE's draws its colours).
  CommandResult ShowDefault(const Session& session, const WallpaperRequest& request) const override {
    const std::string gsettings = session.FindProgram("gsettings");
    if (gsettings.empty()) return CommandResult::kFailed;
    CommandResult result = session.Run({gsettings, "set", d_.schema, "picture-options", GVariantString(kOptions(request))});
    if (result == CommandResult::kTimedOut) return result;
    result = Worse(result, session.Run({gsettings, "reset", d_.schema, d_.pictureKey}));
    if (result != CommandResult::kSucceeded || !d_.darkKey) return result;
    return session.Run({gsettings, "reset", d_.schema, "picture-uri-dark"}) == CommandResult::kTimedOut ? CommandResult::kTimedOut
                                                                                                          : CommandResult::kSucceeded;
  }

  bool HasLockScreen() const override { return d_.lockKey != nullptr; }

  bool LockScreenShown(const Session& session, ShownWallpaper* shown) const override {
    const std::string gsettings = session.FindProgram("gsettings");
    std::string picture, options;
    if (!d_.lockOptions) options = "''";
    else if (!gsettings.empty()) session.Run({gsettings, "get", d_.lockSchema, "picture-options"}, &options);
    return HasLockScreen() && !gsettings.empty() &&
           session.Run({gsettings, "get", d_.lockSchema, d_.lockKey}, &picture) == CommandResult::kSucceeded &&
           GVariantText(picture, &picture) && GVariantText(options, &shown->placement) &&
           (picture.empty() || PathOfUri(picture, &shown->path));
  }

  CommandResult ApplyLockScreen(const Session& session, const WallpaperRequest& request) const override {
    const std::string gsettings = session.FindProgram("gsettings");
    if (!HasLockScreen() || gsettings.empty()) return CommandResult::kFailed;
    CommandResult result = CommandResult::kSucceeded;
    if (d_.lockOptions) result = session.Run({gsettings, "set", d_.lockSchema, "picture-options", GVariantString(kOptions(request))});
    if (result != CommandResult::kSucceeded) return result;
    if (request.path.empty()) return session.Run({gsettings, "reset", d_.lockSchema, d_.lockKey});
    return session.Run({gsettings, "set", d_.lockSchema, d_.lockKey, GVariantString(d_.plainPath ? request.path : request.uri)});
  }

  // The light picture only: a GNOME whose dark one differed gets the light one for both.
  bool Shown(const Session& session, ShownWallpaper* shown) const override {
    const std::string gsettings = session.FindProgram("gsettings");
    std::string picture, options;
    return !gsettings.empty() &&
           session.Run({gsettings, "get", d_.schema, d_.pictureKey}, &picture) == CommandResult::kSucceeded &&
           session.Run({gsettings, "get", d_.schema, "picture-options"}, &options) == CommandResult::kSucceeded &&
           GVariantText(picture, &picture) && GVariantText(options, &shown->placement) &&
           // MATE's own default, "${prefix}/share/…", names no file: it draws its colours.
           (picture.empty() || picture[0] == '$' || PathOfUri(picture, &shown->path));
  }

 private:
  GsettingsDesktop d_;
};

}  // namespace

std::unique_ptr<DesktopBackend> MakeGsettingsBackend(GsettingsDesktop desktop) {
  return std::make_unique<GsettingsBackend>(std::move(desktop));
}

}  // namespace posix
}  // namespace platform
