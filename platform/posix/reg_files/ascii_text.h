#pragma once
// Text helpers shared by the registry and profile stand-ins, which, like Windows,
// compare names without regard to ASCII letter case.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {
namespace posix {

// One code point as UTF-8. Lone surrogates are written as three-byte sequences of their
// own, so that text read from a file can be written back unchanged.
inline void AppendUtf8(std::string& out, std::uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

inline char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

inline bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

// The text without the leading and trailing characters for which isSpace holds.
template <typename Predicate>
std::string TrimIf(const std::string& text, Predicate isSpace) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && isSpace(text[begin])) ++begin;
  while (end > begin && isSpace(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// The text between two quote characters, a backslash before each quote and backslash
// inside (the .reg string syntax and GVariant's text syntax alike).
inline std::string BackslashQuoted(const std::string& text, char quote) {
  std::string out(1, quote);
  for (const char c : text) {
    if (c == '\\' || c == quote) out += '\\';
    out += c;
  }
  return out + quote;
}

// The bytes keep() refuses written as %XX in upper-case hex, the rest as they are.
template <typename Keep>
std::string PercentEscaped(std::string_view text, Keep keep) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string escaped;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (keep(c)) {
      escaped += c;
    } else {
      escaped += '%';
      escaped += kHex[byte >> 4];
      escaped += kHex[byte & 0xF];
    }
  }
  return escaped;
}

}  // namespace posix
}  // namespace platform
