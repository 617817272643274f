// Placeholder until the backend lands.
#include <cstdlib>

#include "platform/process.h"

namespace platform {
char PathSeparator() { return '/'; }
bool PreviousInstanceRunning() { return false; }
void EndProgramNow(int status) { std::_Exit(status); }
void ReportFatalError(const std::string&, const std::string&) {}
}  // namespace platform
