#include <langinfo.h>
#include <locale.h>

#include "platform/locale.h"

namespace platform {

std::string UserDecimalSeparator() {
  // The user's LC_NUMERIC from the environment, without touching the process locale.
  locale_t user = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(nullptr));
  if (user == static_cast<locale_t>(nullptr)) return ".";
  std::string separator = nl_langinfo_l(RADIXCHAR, user);
  freelocale(user);
  return separator.empty() ? "." : separator;
}

}  // namespace platform
