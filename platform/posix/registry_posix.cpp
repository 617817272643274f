// Placeholder until the backend lands.
#include "platform/registry.h"

namespace platform {
namespace {
class NoRegistry : public Registry {
 public:
  long RegOpenKeyExA(std::uint32_t, const std::string&, std::uint32_t, std::uint32_t, Handle*) override { return kErrorFileNotFound; }
  long RegQueryValueExA(Handle, const std::string&, std::uint32_t*, std::uint8_t*, std::uint32_t*) override { return kErrorFileNotFound; }
  long RegSetValueExA(Handle, const std::string&, std::uint32_t, const std::uint8_t*, std::uint32_t) override { return kErrorAccessDenied; }
  long RegCloseKey(Handle) override { return kErrorInvalidHandle; }
};
}  // namespace
Registry& SystemRegistry() { static NoRegistry registry; return registry; }
}  // namespace platform
