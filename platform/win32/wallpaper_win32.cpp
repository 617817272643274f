// Placeholder until the backend lands.
#include "platform/wallpaper.h"

namespace platform {
namespace {
class NoDesktop : public Desktop {
 public:
  bool SystemParametersInfoA(std::uint32_t, std::uint32_t, const std::string&, std::uint32_t) override { return false; }
};
}  // namespace
Desktop& SystemDesktop() { static NoDesktop desktop; return desktop; }
}  // namespace platform
