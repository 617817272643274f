#pragma once
// The four ANSI registry functions that the registry helpers use. Win32 calls
// advapi32; the POSIX backend keeps one .reg text file per root key.
#include <cstdint>
#include <string>

#include "platform/handle.h"

namespace platform {

constexpr long kErrorSuccess = 0;
constexpr long kErrorFileNotFound = 2;
constexpr long kErrorAccessDenied = 5;
constexpr long kErrorInvalidHandle = 6;
constexpr long kErrorMoreData = 234;

// The predefined root keys, by the names that key paths and .reg files use.
struct RootKey {
  const char* name;
  std::uint32_t value;
};
inline constexpr RootKey kRootKeys[] = {
    {"HKEY_CLASSES_ROOT", 0x80000000u},     {"HKEY_CURRENT_USER", 0x80000001u},
    {"HKEY_LOCAL_MACHINE", 0x80000002u},    {"HKEY_USERS", 0x80000003u},
    {"HKEY_PERFORMANCE_DATA", 0x80000004u}, {"HKEY_CURRENT_CONFIG", 0x80000005u},
    {"HKEY_DYN_DATA", 0x80000006u},
};

constexpr std::uint32_t kKeyQueryValue = 0x1;
constexpr std::uint32_t kKeyWrite = 0x20006;
constexpr std::uint32_t kRegSz = 1;

class Registry {
 public:
  virtual ~Registry() = default;

  // root is one of the predefined 32-bit root values 0x80000000..0x80000006.
  virtual long RegOpenKeyExA(std::uint32_t root, const std::string& subKey, std::uint32_t options,
                             std::uint32_t access, Handle* key) = 0;
  // data may be non-null with *size 0: then only the size is reported.
  virtual long RegQueryValueExA(Handle key, const std::string& valueName, std::uint32_t* type,
                                std::uint8_t* data, std::uint32_t* size) = 0;
  virtual long RegSetValueExA(Handle key, const std::string& valueName, std::uint32_t type,
                              const std::uint8_t* data, std::uint32_t size) = 0;
  virtual long RegCloseKey(Handle key) = 0;
};

Registry& SystemRegistry();

}  // namespace platform
