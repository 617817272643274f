// The wallpaper change on Windows: SystemParametersInfoA stores the path in the
// user's profile and tells every window of the change.
#include <windows.h>

#include <vector>

#include "platform/wallpaper.h"

namespace platform {
namespace {

class WindowsDesktop : public Desktop {
 public:
  bool SystemParametersInfoA(std::uint32_t action, std::uint32_t param, const std::string& path,
                             std::uint32_t flags) override {
    // The call takes a writable buffer, so hand it a copy.
    std::vector<char> text(path.begin(), path.end());
    text.push_back('\0');
    return ::SystemParametersInfoA(action, param, text.data(), flags) != FALSE;
  }
};

}  // namespace

Desktop& SystemDesktop() {
  static WindowsDesktop desktop;
  return desktop;
}

}  // namespace platform
