// Placeholder until the backend lands.
#include "platform/profile.h"

namespace platform {
std::uint32_t GetPrivateProfileSectionA(const std::string&, char* buffer, std::uint32_t size, const std::string&) {
  if (size >= 2) buffer[0] = buffer[1] = '\0';
  return 0;
}
}  // namespace platform
