// A profile (INI) section reader that hands over a section in the same shape as Wine's
// GetPrivateProfileSectionA: comment (';') and blank lines dropped, white space around
// the key and around '=' removed, section names compared without case, only the first
// section of that name read, and a section that does not fit cut with two NULs.
// Only LF ends a line, as in Wine; a CR is white space.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string_view>
#include <utility>

#include "platform/posix/reg_files/ascii_text.h"
#include "platform/profile.h"
#include "platform/replace_file.h"

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
        inSection_ = entered_ = EqualNoCase(Trim(line.substr(1, close - 1)), section_);
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

  // Reads on from the line after the section's header.
  void StartInSection() { first_ = false, inSection_ = true; }
  // True once, for the line that was the section's header.
  bool Entered() { return std::exchange(entered_, false); }

 private:
  const std::string& section_;
  std::size_t wanted_;
  std::string& entries_;
  bool first_ = true;
  bool inSection_ = false;
  bool entered_ = false;
};

// Where the section of a cut read began, so that LoadConfig's next try with a larger buffer
// reads on from there instead of scanning the file from the top again. Kept only from a cut
// read to the next call, and used only while the file and its header line are unchanged.
struct SectionStart {
  std::string fileName, section, header;
  struct stat file {};
  off_t offset = -1;  // of the line after the header

  bool Matches(int fd, const std::string& name, const std::string& wanted, const struct stat& now) const {
    if (offset < 0 || name != fileName || wanted != section || now.st_dev != file.st_dev ||
        now.st_ino != file.st_ino || now.st_size != file.st_size || now.st_mtim.tv_sec != file.st_mtim.tv_sec ||
        now.st_mtim.tv_nsec != file.st_mtim.tv_nsec)
      return false;
    std::string found(header.size(), '\0');
    const off_t at = offset - static_cast<off_t>(header.size());
    return pread(fd, found.data(), found.size(), at) == static_cast<ssize_t>(found.size()) && found == header;
  }
};
SectionStart lastStart;
constexpr std::size_t kLongestRememberedHeader = 4096;

// False when the file cannot be read.
bool ReadSectionEntries(const std::string& fileName, const std::string& section, std::size_t wanted,
                        std::string& entries) {
  // A FIFO or a device in the file's place is refused, not waited on.
  const int fd = OpenRegularFile(fileName);
  if (fd < 0) return false;
  SectionReader reader(section, wanted, entries);
  struct stat file {};
  off_t offset = 0;  // of the data not yet split into lines
  if (fstat(fd, &file) == 0 && lastStart.Matches(fd, fileName, section, file) &&
      lseek(fd, lastStart.offset, SEEK_SET) == lastStart.offset) {
    offset = lastStart.offset;
    reader.StartInSection();
  }
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
      std::string_view line = data.substr(0, end + 1);
      if (!pending.empty()) line = pending.append(line);
      more = reader.Line(line.substr(0, line.size() - 1));
      offset += static_cast<off_t>(end + 1);
      if (reader.Entered() && line.size() <= kLongestRememberedHeader)
        lastStart = SectionStart{fileName, section, std::string(line), file, offset};
      pending.clear();
    }
    if (more) {
      pending.append(data);
      offset += static_cast<off_t>(data.size());
    }
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
  const bool read = ReadSectionEntries(fileName, section, size - 2, entries);
  if (!read || entries.size() <= size - 2) lastStart.offset = -1;  // no retry will follow
  if (!read || entries.empty()) {
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
