// A profile (INI) section reader that hands over a section in the same shape as Wine's
// GetPrivateProfileSectionA: comment (';') and blank lines dropped, white space around
// the key and around '=' removed, section names compared without case, only the first
// section of that name read, and a section that does not fit cut with two NULs.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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
// The whole file; false when it cannot be read. Plain POSIX reads: iostreams would
// bring their locale machinery into the resident process for this one file.
bool ReadWholeFile(const std::string& fileName, std::string& text) {
  const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char chunk[4096];
  ssize_t n;
  while ((n = ::read(fd, chunk, sizeof chunk)) != 0) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    text.append(chunk, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return n == 0;
}

bool ReadSectionEntries(const std::string& fileName, const std::string& section, std::string& entries) {
  std::string text;
  if (!ReadWholeFile(fileName, text)) return false;
  std::string line;
  bool first = true;
  bool inSection = false;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    line.assign(text, at, end - at);
    at = end + 1;
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
  return true;
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
