// The process-wide state of module General.
#include "general/general.h"

namespace zorvani {

std::string BaseDir;
std::string AutoStartCommandLine;
std::int16_t LastDay = 0;
std::int16_t LastMonth = 0;
std::int16_t LastYear = 0;
ConfigRecord Config;
std::unique_ptr<cDIBSection> CalendarImage;
PendingDesktopStep PendingDesktop;

std::uint32_t RegistryRoot = 0;
platform::Handle RegistryKey = 0;
std::int32_t RegistryStatus = 0;

}  // namespace zorvani
