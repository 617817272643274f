#pragma once
// Text-to-number conversion of configuration values, following the user's locale:
// optional sign, digits, the locale's decimal separator, an optional exponent.
#include <string>

namespace zorvani {

// Type mismatch (13) for empty or non-numeric text, overflow (6) beyond the double range.
double TextToDouble(const std::string& text, const std::string& decimalSeparator);

}  // namespace zorvani
