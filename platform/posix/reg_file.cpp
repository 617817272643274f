#include "platform/posix/reg_file.h"

#include <cctype>
#include <cstdio>

#include "platform/posix/ascii_text.h"

namespace platform {
namespace {

constexpr std::uint32_t kRegSzType = 1;
constexpr std::uint32_t kRegBinaryType = 3;
constexpr std::uint32_t kRegDwordType = 4;

using posix::EqualNoCase;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string TrimBlanks(const std::string& text) { return posix::TrimIf(text, IsBlank); }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  const int lower = std::tolower(static_cast<unsigned char>(c));
  if (lower >= 'a' && lower <= 'f') return lower - 'a' + 10;
  return -1;
}

// Reads a quoted text starting at text[pos] == '"'; \\ and \" are the only escapes.
bool ReadQuoted(const std::string& text, std::size_t& pos, std::string& out) {
  out.clear();
  for (++pos; pos < text.size(); ++pos) {
    const char c = text[pos];
    if (c == '"') {
      ++pos;
      return true;
    }
    if (c == '\\' && pos + 1 < text.size() && (text[pos + 1] == '\\' || text[pos + 1] == '"')) ++pos;
    out += text[pos];
  }
  return false;
}

std::string Quote(const std::string& text) { return posix::BackslashQuoted(text, '"'); }

bool ParseHexBytes(const std::string& text, std::vector<std::uint8_t>& bytes) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    while (pos < text.size() && (IsBlank(text[pos]) || text[pos] == ',')) ++pos;
    if (pos == text.size()) break;
    if (pos + 1 >= text.size() || HexDigit(text[pos]) < 0 || HexDigit(text[pos + 1]) < 0) return false;
    bytes.push_back(static_cast<std::uint8_t>(HexDigit(text[pos]) * 16 + HexDigit(text[pos + 1])));
    pos += 2;
  }
  return true;
}

// The data part of a value line: "text", dword:, hex: or hex(N):. Empty when unreadable or "-".
std::optional<RegValue> ParseData(const std::string& data) {
  RegValue value;
  if (!data.empty() && data[0] == '"') {
    std::size_t pos = 0;
    std::string text;
    if (!ReadQuoted(data, pos, text) || !TrimBlanks(data.substr(pos)).empty()) return std::nullopt;
    value.type = kRegSzType;
    value.data.assign(text.begin(), text.end());
    value.data.push_back(0);
    return value;
  }
  const std::size_t colon = data.find(':');
  if (colon == std::string::npos) return std::nullopt;
  const std::string kind = TrimBlanks(data.substr(0, colon));
  const std::string rest = data.substr(colon + 1);
  if (EqualNoCase(kind, "dword")) {
    const std::string digits = TrimBlanks(rest);
    if (digits.empty() || digits.size() > 8) return std::nullopt;
    std::uint32_t number = 0;
    for (const char c : digits) {
      if (HexDigit(c) < 0) return std::nullopt;
      number = number * 16 + static_cast<std::uint32_t>(HexDigit(c));
    }
    value.type = kRegDwordType;
    for (int i = 0; i < 4; ++i) value.data.push_back(static_cast<std::uint8_t>(number >> (8 * i)));
    return value;
  }
  if (EqualNoCase(kind, "hex")) {
    value.type = kRegBinaryType;
  } else if (kind.size() > 5 && EqualNoCase(kind.substr(0, 4), "hex(") && kind.back() == ')') {
    std::uint32_t type = 0;
    for (std::size_t i = 4; i + 1 < kind.size(); ++i) {
      if (HexDigit(kind[i]) < 0) return std::nullopt;
      type = type * 16 + static_cast<std::uint32_t>(HexDigit(kind[i]));
    }
    value.type = type;
  } else {
    return std::nullopt;
  }
  if (!ParseHexBytes(rest, value.data)) return std::nullopt;
  return value;
}

std::string FormatData(const RegValue& value) {
  const auto& bytes = value.data;
  if (value.type == kRegSzType && !bytes.empty() && bytes.back() == 0) {
    const std::string text(bytes.begin(), bytes.end() - 1);
    if (text.find_first_of(std::string("\r\n\0", 3)) == std::string::npos) return Quote(text);
  }
  if (value.type == kRegDwordType && bytes.size() == 4) {
    char digits[16];
    const std::uint32_t number = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (std::uint32_t{bytes[3]} << 24);
    std::snprintf(digits, sizeof digits, "dword:%08x", number);
    return digits;
  }
  char prefix[24];
  if (value.type == kRegBinaryType) {
    std::snprintf(prefix, sizeof prefix, "hex:");
  } else {
    std::snprintf(prefix, sizeof prefix, "hex(%x):", value.type);
  }
  std::string out = prefix;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    char pair[4];
    std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
    if (i > 0) out += ',';
    out += pair;
  }
  return out;
}

std::string FormatName(const std::string& name) { return name.empty() ? "@" : Quote(name); }

// A value's data may continue over several lines, each but the last ending in '\'
// (regedit wraps hex data that way); a quoted text never continues.
bool Continues(const std::string& text, bool continuation) {
  const std::string trimmed = TrimBlanks(text);
  if (trimmed.empty() || trimmed.back() != '\\') return false;
  if (continuation) return true;
  const std::size_t equals = trimmed.find('=');
  return equals != std::string::npos && (trimmed[0] == '"' || trimmed[0] == '@') &&
         TrimBlanks(trimmed.substr(equals + 1)).compare(0, 1, "\"") != 0;
}

}  // namespace

RegFile::RegFile(const std::string& text) {
  std::size_t pos = 0;
  bool first = true;
  std::string currentKey;
  while (pos < text.size()) {
    Line line;
    for (bool continuation = false;; continuation = true) {
      const std::size_t newline = text.find('\n', pos);
      std::string physical = text.substr(pos, newline == std::string::npos ? std::string::npos : newline - pos);
      pos = newline == std::string::npos ? text.size() : newline + 1;
      std::string eol = newline == std::string::npos ? "" : "\n";
      if (!physical.empty() && physical.back() == '\r') {
        physical.pop_back();
        eol = "\r" + eol;
      }
      if (first) {
        if (!eol.empty()) eol_ = eol;
        first = false;
      }
      if (!line.eol.empty() || !line.text.empty()) line.text += line.eol;
      line.text += physical;
      line.eol = eol;
      if (eol.empty() || pos >= text.size() || !Continues(physical, continuation)) break;
    }
    Classify(line, currentKey);
    lines_.push_back(std::move(line));
  }
}

void RegFile::Classify(Line& line, std::string& currentKey) {
  std::string text = line.text;
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  text = TrimBlanks(text);
  if (text.empty()) return;
  if (text[0] == '[') {
    const std::size_t close = text.rfind(']');
    if (close == std::string::npos) return;
    line.kind = Kind::kSection;
    // "[-KEY]" deletes a key when imported: the values that follow belong to no key.
    line.key = text[1] == '-' ? std::string() : TrimBlanks(text.substr(1, close - 1));
    currentKey = line.key;
    return;
  }
  if (text[0] != '"' && text[0] != '@') return;

  std::size_t pos = 0;
  std::string name;
  if (text[0] == '@') {
    pos = 1;
  } else if (!ReadQuoted(text, pos, name)) {
    return;
  }
  while (pos < text.size() && IsBlank(text[pos])) ++pos;
  if (pos >= text.size() || text[pos] != '=') return;

  // Join continuation lines: drop each '\', its line end and the next line's indentation.
  std::string data;
  const std::string rest = text.substr(pos + 1);
  for (std::size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] == '\\' && rest.find_first_not_of(" \t\r", i + 1) == rest.find('\n', i + 1) &&
        rest.find('\n', i + 1) != std::string::npos) {
      i = rest.find('\n', i + 1);
      while (i + 1 < rest.size() && IsBlank(rest[i + 1])) ++i;
      continue;
    }
    data += rest[i];
  }
  line.kind = Kind::kValue;
  line.key = currentKey;
  line.name = name;
  line.value = ParseData(TrimBlanks(data));
}

bool RegFile::HasKey(const std::string& keyPath) const {
  for (const Line& line : lines_) {
    if (line.kind == Kind::kSection && !line.key.empty() && EqualNoCase(line.key, keyPath)) return true;
  }
  return false;
}

std::optional<RegValue> RegFile::FindValue(const std::string& keyPath, const std::string& name) const {
  std::optional<RegValue> found;
  for (const Line& line : lines_) {
    if (line.kind == Kind::kValue && !line.key.empty() && EqualNoCase(line.key, keyPath) &&
        EqualNoCase(line.name, name)) {
      found = line.value;
    }
  }
  return found;
}

bool RegFile::SetValue(const std::string& keyPath, const std::string& name, const RegValue& value) {
  std::size_t lastValue = lines_.size();
  std::size_t insertAfter = lines_.size();
  bool inKey = false;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    const Line& line = lines_[i];
    if (line.kind == Kind::kSection) {
      inKey = !line.key.empty() && EqualNoCase(line.key, keyPath);
      if (inKey) insertAfter = i;
    } else if (line.kind == Kind::kValue && inKey) {
      insertAfter = i;
      if (EqualNoCase(line.name, name)) lastValue = i;
    }
  }
  if (insertAfter == lines_.size()) return false;

  if (lastValue < lines_.size()) {
    // An existing value keeps the spelling of its name, as the registry does.
    Line& line = lines_[lastValue];
    line.text = FormatName(line.name) + "=" + FormatData(value);
    line.value = value;
    return true;
  }
  Line line;
  line.text = FormatName(name) + "=" + FormatData(value);
  line.eol = eol_;
  line.kind = Kind::kValue;
  line.key = lines_[insertAfter].key;
  line.name = name;
  line.value = value;
  if (lines_[insertAfter].eol.empty()) lines_[insertAfter].eol = eol_;
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAfter + 1), std::move(line));
  return true;
}

void RegFile::AddSection(const std::string& keyPath) {
  if (!lines_.empty() && lines_.back().eol.empty()) lines_.back().eol = eol_;
  Line blank;
  blank.eol = eol_;
  lines_.push_back(blank);
  Line section;
  section.text = "[" + keyPath + "]";
  section.eol = eol_;
  section.kind = Kind::kSection;
  section.key = keyPath;
  lines_.push_back(std::move(section));
}

std::string RegFile::Text() const {
  std::string text;
  for (const Line& line : lines_) text += line.text + line.eol;
  return text;
}

}  // namespace platform
