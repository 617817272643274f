#include <windows.h>

#include "platform/profile.h"

namespace platform {

std::uint32_t GetPrivateProfileSectionA(const std::string& section, char* buffer, std::uint32_t size,
                                        const std::string& fileName) {
  return ::GetPrivateProfileSectionA(section.c_str(), buffer, size, fileName.c_str());
}

}  // namespace platform
