#pragma once
#include <string>

namespace platform {

// The decimal separator of the user's locale ("." or "," and so on).
std::string UserDecimalSeparator();

}  // namespace platform
