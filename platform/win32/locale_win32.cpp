#include <windows.h>

#include "platform/locale.h"

namespace platform {

std::string UserDecimalSeparator() {
  char buffer[8] = {};
  const int n = GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, buffer, sizeof buffer);
  if (n <= 1) return ".";
  return std::string(buffer, static_cast<std::size_t>(n - 1));
}

}  // namespace platform
