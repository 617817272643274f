#include "platform/posix/reg_files/reg_file.h"

#include <cctype>
#include <cstdio>
#include <string_view>

#include "platform/posix/reg_files/ascii_text.h"

namespace platform {
namespace {

constexpr std::uint32_t kRegSzType = 1;
constexpr std::uint32_t kRegBinaryType = 3;
constexpr std::uint32_t kRegDwordType = 4;
constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";

using posix::AsciiLower;
using posix::AppendUtf8;
using posix::EqualNoCase;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool EndsInBackslash(std::string_view text) {
  text = TrimBlanks(text);
  return !text.empty() && text.back() == '\\';
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  const int lower = AsciiLower(c);
  if (lower >= 'a' && lower <= 'f') return lower - 'a' + 10;
  return -1;
}

// --- UTF-16LE files ------------------------------------------------------------------------
// Unpaired surrogates are carried through as three-byte sequences of their own, so that a
// file comes back unchanged whatever it holds.

std::string Utf16ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() / 2);
  const auto unit = [&](std::size_t i) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8);
  };
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    std::uint32_t code = unit(i);
    if (code >= 0xD800 && code < 0xDC00 && i + 3 < bytes.size() && unit(i + 2) >= 0xDC00 && unit(i + 2) < 0xE000) {
      code = 0x10000 + ((code - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
      i += 2;
    }
    AppendUtf8(out, code);
  }
  return out;
}

// The code point of the UTF-8 sequence at text[pos], advancing pos; -1 (and one byte on)
// for a byte that starts no valid sequence. Surrogates count as valid only when asked.
long NextUtf8(std::string_view text, std::size_t& pos, bool surrogates) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(pos);
  std::size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead < 0xE0 ? 2 : lead >= 0xE0 && lead < 0xF0 ? 3
                                   : lead >= 0xF0 && lead < 0xF5 ? 4 : 0;
  if (length == 0 || pos + length > text.size()) {
    ++pos;
    return lead < 0x80 ? lead : -1;
  }
  long code = length == 1 ? lead : lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(pos + i) & 0xC0) != 0x80) {
      ++pos;
      return -1;
    }
    code = code << 6 | (byte(pos + i) & 0x3F);
  }
  const long smallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < smallest[length] || code > 0x10FFFF || (!surrogates && code >= 0xD800 && code < 0xE000)) {
    ++pos;
    return -1;
  }
  pos += length;
  return code;
}

bool IsUtf8(std::string_view text) {
  for (std::size_t pos = 0; pos < text.size();)
    if (NextUtf8(text, pos, false) < 0) return false;
  return true;
}

// A byte that is no UTF-8 goes out as the character of that number (ISO 8859-1).
std::string Utf8ToUtf16(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 2 + 2);
  const auto put = [&](long unit) {
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>(unit >> 8);
  };
  for (std::size_t pos = 0; pos < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[pos]);
    long code = NextUtf8(text, pos, true);
    if (code < 0) code = lead;
    if (code >= 0x10000) {
      put(0xD800 + ((code - 0x10000) >> 10));
      put(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      put(code);
    }
  }
  return out;
}

// --- Values --------------------------------------------------------------------------------

// Reads a quoted text starting at text[pos] == '"'; \\ and \" are the only escapes.
bool ReadQuoted(std::string_view text, std::size_t& pos, std::string* out) {
  for (++pos; pos < text.size(); ++pos) {
    const char c = text[pos];
    if (c == '"') {
      ++pos;
      return true;
    }
    if (c == '\\' && pos + 1 < text.size() && (text[pos + 1] == '\\' || text[pos + 1] == '"')) ++pos;
    if (out != nullptr) *out += text[pos];
  }
  return false;
}

std::string Unquote(std::string_view raw) {
  std::string out;
  std::string quoted = "\"";
  quoted.append(raw).append("\"");
  std::size_t pos = 0;
  ReadQuoted(quoted, pos, &out);
  return out;
}

std::string Quote(const std::string& text) { return posix::BackslashQuoted(text, '"'); }

// A written name (between its quotes, escapes kept) against a name, without regard to case.
bool NameIs(std::string_view raw, const std::string& name) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < raw.size(); ++i, ++n) {
    if (raw[i] == '\\' && i + 1 < raw.size() && (raw[i + 1] == '\\' || raw[i + 1] == '"')) ++i;
    if (n >= name.size() || AsciiLower(raw[i]) != AsciiLower(name[n])) return false;
  }
  return n == name.size();
}

bool ParseHexBytes(std::string_view text, std::vector<std::uint8_t>& bytes) {
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
std::optional<RegValue> ParseData(std::string_view data) {
  RegValue value;
  if (!data.empty() && data[0] == '"') {
    std::size_t pos = 0;
    std::string text;
    if (!ReadQuoted(data, pos, &text) || !TrimBlanks(data.substr(pos)).empty()) return std::nullopt;
    value.type = kRegSzType;
    value.data.assign(text.begin(), text.end());
    value.data.push_back(0);
    return value;
  }
  const std::size_t colon = data.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  const std::string kind(TrimBlanks(data.substr(0, colon)));
  const std::string_view rest = data.substr(colon + 1);
  if (EqualNoCase(kind, "dword")) {
    const std::string_view digits = TrimBlanks(rest);
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

// Joins a value's continued data: each '\' at a line end, that line end and the next line's
// indentation are dropped.
std::string JoinContinued(std::string_view data) {
  std::string out;
  out.reserve(data.size());
  for (std::size_t i = 0; i < data.size(); ++i) {
    if (data[i] == '\\') {
      std::size_t end = i + 1;
      while (end < data.size() && IsBlank(data[end])) ++end;
      if (end < data.size() && IsLineEnd(data[end])) {
        end += data.compare(end, 2, "\r\n") == 0 ? 2 : 1;
        while (end < data.size() && IsBlank(data[end])) ++end;
        i = end - 1;
        continue;
      }
    }
    out += data[i];
  }
  return out;
}

// A text that a UTF-16 file cannot carry as characters is written as its bytes.
std::string FormatData(const RegValue& value, bool utf16) {
  const auto& bytes = value.data;
  if (value.type == kRegSzType && !bytes.empty() && bytes.back() == 0) {
    const std::string text(bytes.begin(), bytes.end() - 1);
    if (text.find_first_of(std::string("\r\n\0", 3)) == std::string::npos && (!utf16 || IsUtf8(text)))
      return Quote(text);
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

}  // namespace

// One logical line: a physical line, or a value with the physical lines it continues over.
struct RegFile::Line {
  enum class Kind { kOther, kSection, kValue } kind = Kind::kOther;
  std::size_t begin = 0;  // its first character
  std::size_t end = 0;    // the end of its text, before its last line end
  std::size_t next = 0;   // where the next line begins
  std::string_view key;   // sections: their key ("" for [-KEY]); values: the key they belong to
  std::string_view name;  // values: the name as written between its quotes, "" for @
  std::string_view data;  // values: the text after '=', continuations included
  bool dangling = false;  // a value whose last line ends in '\' at the end of the text
};

// Calls visit(line) for each line in order until it returns false.
template <typename Visit>
void RegFile::Scan(Visit visit) const {
  const std::string_view text = text_;
  const auto physicalEnd = [&](std::size_t pos, std::size_t& next) {
    std::size_t end = pos;
    while (end < text.size() && !IsLineEnd(text[end])) ++end;
    next = end;
    if (next < text.size()) next += text.compare(next, 2, "\r\n") == 0 ? 2 : 1;
    return end;
  };
  std::string_view currentKey;
  for (std::size_t pos = text.compare(0, 3, kUtf8Bom) == 0 ? 3 : 0; pos < text.size();) {
    Line line;
    line.begin = pos;
    line.end = physicalEnd(pos, line.next);
    const std::string_view first = TrimBlanks(text.substr(pos, line.end - pos));
    if (!first.empty() && first[0] == '[') {
      const std::size_t close = first.rfind(']');
      if (close != std::string_view::npos) {
        line.kind = Line::Kind::kSection;
        // "[-KEY]" deletes a key when imported: the values that follow belong to no key.
        line.key = first[1] == '-' ? std::string_view() : TrimBlanks(first.substr(1, close - 1));
        currentKey = line.key;
      }
    } else if (!first.empty() && (first[0] == '"' || first[0] == '@')) {
      std::size_t at = 0;
      const bool named = first[0] == '@' ? (at = 1, true) : ReadQuoted(first, at, nullptr);
      if (named) {
        if (first[0] == '"') line.name = first.substr(1, at - 2);
        while (at < first.size() && IsBlank(first[at])) ++at;
      }
      if (named && at < first.size() && first[at] == '=') {
        line.kind = Line::Kind::kValue;
        line.key = currentKey;
        const std::size_t dataBegin = static_cast<std::size_t>(first.data() - text.data()) + at + 1;
        // Hex data may go on over several lines, each but the last ending in '\' (regedit
        // wraps it so); a quoted text never does.
        const bool quoted = TrimBlanks(first.substr(at + 1)).compare(0, 1, "\"") == 0;
        for (std::size_t last = pos; !quoted && EndsInBackslash(text.substr(last, line.end - last));) {
          if (line.next >= text.size()) {
            line.dangling = true;
            break;
          }
          last = line.next;
          line.end = physicalEnd(last, line.next);
        }
        line.data = text.substr(dataBegin, line.end - dataBegin);
      }
    }
    if (!visit(line)) return;
    pos = line.next;
  }
}

RegFile::RegFile(std::string bytes) {
  if (bytes.compare(0, 2, "\xFF\xFE") == 0) {
    utf16_ = true;
    if (bytes.size() % 2 != 0) oddByte_ = bytes.substr(bytes.size() - 1);
    text_ = Utf16ToUtf8(std::string_view(bytes).substr(2, bytes.size() - 2 - oddByte_.size()));
  } else {
    text_ = std::move(bytes);
  }
  const std::size_t end = text_.find_first_of("\r\n");
  if (end != std::string::npos) eol_ = text_.compare(end, 2, "\r\n") == 0 ? "\r\n" : text_.substr(end, 1);
}

bool RegFile::HasKey(const std::string& keyPath) const {
  bool found = false;
  Scan([&](const Line& line) {
    found = line.kind == Line::Kind::kSection && !line.key.empty() && EqualNoCase(line.key, keyPath);
    return !found;
  });
  return found;
}

std::optional<RegValue> RegFile::FindValue(const std::string& keyPath, const std::string& name) const {
  std::optional<std::string_view> data;
  Scan([&](const Line& line) {
    if (line.kind == Line::Kind::kValue && !line.key.empty() && EqualNoCase(line.key, keyPath) && NameIs(line.name, name)) {
      data = line.data;
    }
    return true;
  });
  if (!data) return std::nullopt;
  return ParseData(TrimBlanks(JoinContinued(*data)));
}

bool RegFile::SetValue(const std::string& keyPath, const std::string& name, const RegValue& value) {
  std::optional<Line> last;
  std::optional<Line> insertAfter;
  bool inKey = false;
  Scan([&](const Line& line) {
    if (line.kind == Line::Kind::kSection) {
      inKey = !line.key.empty() && EqualNoCase(line.key, keyPath);
      if (inKey) insertAfter = line;
    } else if (line.kind == Line::Kind::kValue && inKey) {
      insertAfter = line;
      if (NameIs(line.name, name)) last = line;
    }
    return true;
  });
  if (!insertAfter) return false;

  if (last) {
    // An existing value keeps the spelling of its name, as the registry does.
    text_.replace(last->begin, last->end - last->begin,
                  FormatName(Unquote(last->name)) + "=" + FormatData(value, utf16_));
    return true;
  }
  const std::string line = FormatName(name) + "=" + FormatData(value, utf16_) + eol_;
  if (insertAfter->dangling) {
    // After a value that still expects more lines the new one would be read as part of it.
    text_.insert(insertAfter->begin, line);
  } else {
    text_.insert(insertAfter->next, (insertAfter->next == insertAfter->end ? eol_ : std::string()) + line);
  }
  return true;
}

void RegFile::AddSection(const std::string& keyPath) {
  if (!text_.empty() && !IsLineEnd(text_.back())) text_ += eol_;
  // An LF right after a CR would only lengthen that line end instead of making the blank line.
  text_ += (eol_ == "\n" && !text_.empty() && text_.back() == '\r' ? "\r" : eol_) + "[" + keyPath + "]" + eol_;
}

std::string RegFile::Text() const {
  if (!utf16_) return text_;
  return "\xFF\xFE" + Utf8ToUtf16(text_) + oddByte_;
}

}  // namespace platform
