// Placeholder until the registry helpers land.
#include "general/general.h"
#include "runtime/runtime_error.h"

namespace zorvani {
std::string RegistryReadValue(std::string&, const std::string&) { Raise(kErrInternal); }
void RegistryWriteValue(std::string&, const std::string&, const std::string&) { Raise(kErrInternal); }
}  // namespace zorvani
