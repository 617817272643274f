// Registry string values addressed by one full key path ("HKEY_CURRENT_USER\Control Panel\Desktop").
#include <vector>

#include "general/general.h"
#include "platform/process.h"
#include "platform/services.h"

namespace zorvani {
namespace {

// Exit status of the silent end when the auto-start key cannot be read.
constexpr int kUnreadableKeyExit = 2;

platform::Registry& Registry() { return *platform::Current().registry; }

}  // namespace

std::uint32_t RegistryRootFromName(const std::string& name) {
  for (const platform::RootKey& root : platform::kRootKeys) {
    if (name == root.name) return root.value;
  }
  return 0;
}

void SplitRegistryPath(std::string& path, std::uint32_t& root) {
  const std::size_t backslash = path.find('\\');
  RegistryStatus = backslash == std::string::npos ? 0 : static_cast<std::int32_t>(backslash + 1);

  const bool startsWithHkey = path.size() >= 5 && path.compare(0, 5, "HKEY_") == 0;
  if (!startsWithHkey || path.back() == '\\') return;

  if (backslash == std::string::npos) {
    root = RegistryRootFromName(path);
    path.clear();
  } else {
    root = RegistryRootFromName(path.substr(0, backslash));
    path.erase(0, backslash + 1);
  }
}

std::string RegistryQueryString(std::uint32_t root, const std::string& subKey, const std::string& valueName) {
  platform::Registry& registry = Registry();
  platform::Handle key = 0;
  if (registry.RegOpenKeyExA(root, subKey, 0, platform::kKeyQueryValue, &key) != platform::kErrorSuccess) {
    platform::EndProgramNow(kUnreadableKeyExit);
  }

  // First ask only for the size (a non-null buffer of size 0 receives nothing), then read.
  std::uint32_t type = 0;
  std::uint32_t size = 0;
  std::uint8_t sizeProbe = 0;
  registry.RegQueryValueExA(key, valueName, &type, &sizeProbe, &size);

  std::vector<std::uint8_t> buffer(size + 1, ' ');  // one spare byte so the pointer is never null
  std::uint32_t readSize = size;
  std::string result;
  if (registry.RegQueryValueExA(key, valueName, &type, buffer.data(), &readSize) == platform::kErrorSuccess &&
      readSize > 0 && readSize <= size) {
    // The reported size counts the terminating NUL, which is not part of the text.
    result.assign(reinterpret_cast<const char*>(buffer.data()), readSize - 1);
  }
  registry.RegCloseKey(key);
  return result;
}

std::string RegistryReadValue(std::string& path, const std::string& valueName) {
  SplitRegistryPath(path, RegistryRoot);
  return RegistryQueryString(RegistryRoot, path, valueName);
}

void RegistryWriteValue(std::string& path, const std::string& valueName, const std::string& data) {
  SplitRegistryPath(path, RegistryRoot);
  if (RegistryRoot == 0) return;

  platform::Registry& registry = Registry();
  // The key is opened, never created: a missing key means nothing is written.
  RegistryStatus = static_cast<std::int32_t>(registry.RegOpenKeyExA(RegistryRoot, path, 0, platform::kKeyWrite, &RegistryKey));
  if (RegistryStatus != platform::kErrorSuccess) return;

  RegistryStatus = static_cast<std::int32_t>(
      registry.RegSetValueExA(RegistryKey, valueName, platform::kRegSz,
                              reinterpret_cast<const std::uint8_t*>(data.c_str()),
                              static_cast<std::uint32_t>(data.size() + 1)));
  RegistryStatus = static_cast<std::int32_t>(registry.RegCloseKey(RegistryKey));
}

}  // namespace zorvani
