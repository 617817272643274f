// The wallpaper change on Linux: handed to the running desktop's own mechanism.
#include "platform/posix/desktop/desktop_backends.h"
#include "platform/wallpaper.h"

namespace platform {

Desktop& SystemDesktop() {
  static posix::LinuxDesktop desktop(SystemRegistry(), [] { return posix::Session::OfThisProcess(); });
  return desktop;
}

}  // namespace platform
