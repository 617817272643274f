#pragma once
// Reading one section of a profile (INI) file. Win32 calls GetPrivateProfileSectionA;
// the POSIX backend has its own reader that hands over the entries in the same shape.
#include <cstdint>
#include <string>

namespace platform {

// Fills buffer with the section's entries, each "key=value" followed by NUL, and one
// more NUL after the last. Returns the characters placed (0 for a missing file or
// section); when the section does not fit it returns size - 2.
std::uint32_t GetPrivateProfileSectionA(const std::string& section, char* buffer, std::uint32_t size,
                                        const std::string& fileName);

}  // namespace platform
