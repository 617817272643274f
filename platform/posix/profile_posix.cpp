// A profile (INI) section reader that hands over a section in the same shape as Wine's
// GetPrivateProfileSectionA: comment (';') and blank lines dropped, white space around
// the key and around '=' removed, section names compared without case, only the first
// section of that name read, and a section that does not fit cut with two NULs.
#include <cctype>
#include <cstring>
#include <fstream>

#include "platform/profile.h"

namespace platform {
namespace {

bool IsProfileSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' || c == '\x1a';
}

std::string Trim(const std::string& text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsProfileSpace(text[begin])) ++begin;
  while (end > begin && IsProfileSpace(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

bool EqualNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto ca = static_cast<unsigned char>(a[i]);
    const auto cb = static_cast<unsigned char>(b[i]);
    if (ca != cb && !(ca < 128 && cb < 128 && std::tolower(ca) == std::tolower(cb))) return false;
  }
  return true;
}

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
