#pragma once
// One registry hive kept as a Windows .reg text file ("Windows Registry Editor Version 5.00",
// [ROOT\Key] sections, "Name"="text" values). Reading takes the last definition of a value,
// as importing the file would; rewriting keeps every other line byte for byte, comments,
// blank lines, line ends and values of other types included.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct RegValue {
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
};

class RegFile {
 public:
  explicit RegFile(const std::string& text);

  // Key paths start with the root name; names compare without regard to case.
  bool HasKey(const std::string& keyPath) const;
  std::optional<RegValue> FindValue(const std::string& keyPath, const std::string& name) const;
  // Replaces the value or adds it to the key's section; false when the key is absent.
  bool SetValue(const std::string& keyPath, const std::string& name, const RegValue& value);
  // Adds an empty section for a key (used only for a root key, which always exists).
  void AddSection(const std::string& keyPath);

  std::string Text() const;

 private:
  enum class Kind { kOther, kSection, kValue };
  struct Line {
    std::string text;  // may span several physical lines joined by '\' continuations
    std::string eol;
    Kind kind = Kind::kOther;
    std::string key;   // section lines: their key; value lines: the key they belong to
    std::string name;  // value lines: the value name ("" for @)
    std::optional<RegValue> value;  // value lines: empty when deleted ("=-") or unreadable
  };

  static void Classify(Line& line, std::string& currentKey);

  std::vector<Line> lines_;
  std::string eol_ = "\n";
};

}  // namespace platform
