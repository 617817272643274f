// A profile (INI) section reader that hands over a section in the same shape as Wine's
// GetPrivateProfileSectionA: comment (';') and blank lines dropped, white space around
// the key and around '=' removed, section names compared without case, only the first
// section of that name read, and a section that does not fit cut with two NULs.
#include <cstring>
#include <fstream>

#include "platform/posix/ascii_text.h"
#include "platform/profile.h"

namespace platform {
namespace {

bool IsProfileSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' || c == '\x1a';
}

std::string Trim(const std::string& text) { return posix::TrimIf(text, IsProfileSpace); }

using posix::EqualNoCase;

// The section's entries, each followed by its NUL; false when the file cannot be read.
bool ReadSectionEntries(const std::string& fileName, const std::string& section, std::string& entries) {
  std::ifstream file(fileName, std::ios::binary);
  if (!file) return false;
  std::string line;
  bool first = true;
  bool inSection = false;
  while (std::getline(file, line)) {
    if (first && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
    first = false;
    line = Trim(line);
    if (line.empty()) continue;
    if (line[0] == '[') {
      const std::size_t close = line.rfind(']');
      if (close != std::string::npos) {
        if (inSection) return true;  // only the first section of that name counts
        inSection = EqualNoCase(Trim(line.substr(1, close - 1)), section);
        continue;
      }
    }
    if (!inSection || line[0] == ';') continue;
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) {
      entries += line;
    } else {
      entries += Trim(line.substr(0, equals));
      entries += '=';
      entries += Trim(line.substr(equals + 1));
    }
    entries += '\0';
  }
  return !file.bad();
}

}  // namespace

std::uint32_t GetPrivateProfileSectionA(const std::string& section, char* buffer, std::uint32_t size,
                                        const std::string& fileName) {
  if (buffer == nullptr || size == 0) return 0;
  if (size == 1) {
    buffer[0] = '\0';
    return 0;
  }
  std::string entries;
  if (!ReadSectionEntries(fileName, section, entries) || entries.empty()) {
    buffer[0] = buffer[1] = '\0';
    return 0;
  }
  if (entries.size() <= size - 2) {
    std::memcpy(buffer, entries.data(), entries.size());
    buffer[entries.size()] = '\0';
    return static_cast<std::uint32_t>(entries.size());
  }
  std::memcpy(buffer, entries.data(), size - 2);
  buffer[size - 2] = buffer[size - 1] = '\0';
  return size - 2;
}

}  // namespace platform
