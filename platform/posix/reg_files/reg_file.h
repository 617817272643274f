#pragma once
// One registry hive kept as a Windows .reg text file ("Windows Registry Editor Version 5.00",
// [ROOT\Key] sections, "Name"="text" values), in UTF-8 or, as regedit exports it, in UTF-16LE
// with a byte-order mark. Reading takes the last definition of a value, as importing the file
// would; rewriting keeps every other line byte for byte, comments, blank lines, line ends and
// values of other types included, and writes in the file's own encoding and line end.
// CR, LF and CRLF all end a line. The text is held once and every call scans it, so time and
// memory stay linear in the size of the file.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct RegValue {
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
  bool operator==(const RegValue& other) const { return type == other.type && data == other.data; }
};

class RegFile {
 public:
  // The file's bytes as read.
  explicit RegFile(std::string bytes);

  // Key paths start with the root name; names compare without regard to case.
  bool HasKey(const std::string& keyPath) const;
  std::optional<RegValue> FindValue(const std::string& keyPath, const std::string& name) const;
  // Replaces the value or adds it to the key's section; false when the key is absent.
  bool SetValue(const std::string& keyPath, const std::string& name, const RegValue& value);
  // Adds an empty section for a key (used only for a root key, which always exists).
  void AddSection(const std::string& keyPath);

  // The bytes to write back.
  std::string Text() const;

 private:
  struct Line;
  template <typename Visit>
  void Scan(Visit visit) const;

  std::string text_;  // UTF-8; a UTF-16 file is converted on reading and back on writing
  std::string eol_ = "\n";
  bool utf16_ = false;
  std::string oddByte_;  // a UTF-16 file's stray last byte, written back as found
};

}  // namespace platform
