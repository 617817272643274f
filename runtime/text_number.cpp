#include "runtime/text_number.h"

#include <cctype>
#include <charconv>
#include <cmath>

#include "runtime/runtime_error.h"

namespace zorvani {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Rewrites the locale's form into the neutral one that from_chars reads
// ("1,5" in a comma locale becomes "1.5"); empty when it is no number.
std::string Neutralise(const std::string& text, const std::string& separator) {
  std::string out;
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    if (text[i] == '-') out += '-';
    ++i;
  }
  std::size_t mantissaDigits = 0;
  while (i < text.size() && IsDigit(text[i])) { out += text[i++]; ++mantissaDigits; }
  if (!separator.empty() && text.compare(i, separator.size(), separator) == 0) {
    i += separator.size();
    out += '.';
    while (i < text.size() && IsDigit(text[i])) { out += text[i++]; ++mantissaDigits; }
  }
  if (mantissaDigits == 0) return {};
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    out += 'e';
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) out += text[i++];
    std::size_t exponentDigits = 0;
    while (i < text.size() && IsDigit(text[i])) { out += text[i++]; ++exponentDigits; }
    if (exponentDigits == 0) return {};
  }
  if (i != text.size()) return {};
  return out;
}

}  // namespace

double TextToDouble(const std::string& text, const std::string& decimalSeparator) {
  const std::string neutral = Neutralise(text, decimalSeparator);
  if (neutral.empty()) Raise(kErrTypeMismatch);
  double value = 0.0;
  const auto result = std::from_chars(neutral.data(), neutral.data() + neutral.size(), value);
  if (result.ec == std::errc::result_out_of_range) {
    // from_chars reports underflow the same way; a value too small to hold is zero.
    const auto e = neutral.find('e');
    if (e != std::string::npos && e + 1 < neutral.size() && neutral[e + 1] == '-') return 0.0;
    Raise(kErrOverflow);
  }
  if (result.ec != std::errc() || result.ptr != neutral.data() + neutral.size()) Raise(kErrTypeMismatch);
  if (!std::isfinite(value)) Raise(kErrOverflow);
  return value;
}

}  // namespace zorvani
