// A profile (INI) section reader that hands over a section in the same shape as Wine's
// GetPrivateProfileSectionA: comment (';') and blank lines dropped, white space around
// the key and around '=' removed, section names compared without case, only the first
// section of that name read, and a section that does not fit cut with two NULs.
// Only LF ends a line, as in Wine; a CR is white space.
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string_view>

#include "platform/posix/ascii_text.h"
#include "platform/profile.h"

namespace platform {
namespace {

bool IsProfileSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' || c == '\x1a';
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsProfileSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsProfileSpace(text.back())) text.remove_suffix(1);
  return text;
}

using posix::EqualNoCase;

// Collects one section's entries from the lines of a file, each entry followed by its NUL.
class SectionReader {
 public:
  SectionReader(const std::string& section, std::size_t wanted, std::string& entries)
      : section_(section), wanted_(wanted), entries_(entries) {}

  // False once the rest of the file no longer matters.
  bool Line(std::string_view line) {
    if (first_ && line.substr(0, 3) == "\xEF\xBB\xBF") line.remove_prefix(3);
    first_ = false;
    line = Trim(line);
    if (line.empty()) return true;
    if (line[0] == '[') {
      const std::size_t close = line.rfind(']');
      if (close != std::string_view::npos) {
        if (inSection_) return false;  // only the first section of that name counts
        inSection_ = EqualNoCase(Trim(line.substr(1, close - 1)), section_);
        return true;
      }
    }
    if (!inSection_ || line[0] == ';') return true;
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
      entries_ += line;
    } else {
      entries_ += Trim(line.substr(0, equals));
      entries_ += '=';
      entries_ += Trim(line.substr(equals + 1));
    }
    entries_ += '\0';
    // The caller asks again with a larger buffer when this one is cut, so reading on would
    // only make every try as slow as the whole section.
    return entries_.size() <= wanted_;
  }

 private:
  const std::string& section_;
  std::size_t wanted_;
  std::string& entries_;
  bool first_ = true;
  bool inSection_ = false;
};

// False when the file cannot be read.
bool ReadSectionEntries(const std::string& fileName, const std::string& section, std::size_t wanted,
                        std::string& entries) {
  const int fd = open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  SectionReader reader(section, wanted, entries);
  std::string pending;  // the start of a line whose end has not been read yet
  char chunk[65536];
  bool more = true;
  bool ok = true;
  while (more) {
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      if (ok && !pending.empty()) reader.Line(pending);
      break;
    }
    std::string_view data(chunk, static_cast<std::size_t>(n));
    for (std::size_t end; more && (end = data.find('\n')) != std::string_view::npos; data.remove_prefix(end + 1)) {
      if (pending.empty()) {
        more = reader.Line(data.substr(0, end));
      } else {
        pending.append(data.substr(0, end));
        more = reader.Line(pending);
        pending.clear();
      }
    }
    if (more) pending.append(data);
  }
  close(fd);
  return ok;
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
  if (!ReadSectionEntries(fileName, section, size - 2, entries) || entries.empty()) {
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
