// The program's removal while it runs: package removal or an uninstall takes away the
// auto-start value or the program file, but cannot reach each user's running copy. Each
// copy notices at its next tick and gives the desktop back.
#include <vector>

#include "general/general.h"
#include "platform/process.h"
#include "platform/services.h"
#include "screens/screens.h"

namespace zorvani {
namespace {

const char kAutoStartSubKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kAutoStartValue[] = "ZorvaniWallPaper";

// False only when the key or the value is gone or names something else now; a key that
// cannot be read at the moment is not taken for a removal.
bool AutoStartStillNamesUs() {
  platform::Registry& registry = *platform::Current().registry;
  platform::Handle key = 0;
  const long opened = registry.RegOpenKeyExA(RegistryRootFromName("HKEY_LOCAL_MACHINE"), kAutoStartSubKey, 0,
                                             platform::kKeyQueryValue, &key);
  if (opened == platform::kErrorFileNotFound) return false;
  if (opened != platform::kErrorSuccess) return true;
  std::uint32_t type = 0, size = 0;
  std::uint8_t sizeProbe = 0;
  long result = registry.RegQueryValueExA(key, kAutoStartValue, &type, &sizeProbe, &size);
  std::vector<std::uint8_t> buffer(size + 1, 0);
  std::uint32_t readSize = size;
  if (result == platform::kErrorSuccess || result == platform::kErrorMoreData)
    result = registry.RegQueryValueExA(key, kAutoStartValue, &type, buffer.data(), &readSize);
  registry.RegCloseKey(key);
  if (result == platform::kErrorFileNotFound) return false;
  if (result != platform::kErrorSuccess || readSize > size) return true;
  const std::string now(reinterpret_cast<const char*>(buffer.data()));  // up to its NUL
  return now == AutoStartCommandLine;
}

}  // namespace

bool ProgramRemoved() {
  if (AutoStartCommandLine.empty() || platform::InstallationRunning()) return false;
  return platform::ProgramFileGone() || !AutoStartStillNamesUs();
}

void GiveBackDesktop() {
  platform::Current().desktop->RestorePreviousWallpaper(BaseDir + "wp.bmp");
  screens::RemoveMonitorBitmaps(*platform::Current().files, BaseDir + "wp.bmp");
}

}  // namespace zorvani
