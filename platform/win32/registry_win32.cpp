#include <windows.h>

#include "platform/registry.h"

namespace platform {
namespace {

// The predefined roots are 32-bit values that Win64 sign-extends into its HKEY type.
HKEY RootKey(std::uint32_t root) {
  return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG_PTR>(static_cast<LONG>(root))));
}

HKEY KeyOf(Handle key) { return reinterpret_cast<HKEY>(key); }

class Win32Registry : public Registry {
 public:
  long RegOpenKeyExA(std::uint32_t root, const std::string& subKey, std::uint32_t options, std::uint32_t access,
                     Handle* key) override {
    HKEY opened = nullptr;
    const LONG result = ::RegOpenKeyExA(RootKey(root), subKey.c_str(), options, access, &opened);
    *key = reinterpret_cast<Handle>(opened);
    return result;
  }

  long RegQueryValueExA(Handle key, const std::string& valueName, std::uint32_t* type, std::uint8_t* data,
                        std::uint32_t* size) override {
    DWORD valueType = type ? *type : 0;
    DWORD byteCount = size ? *size : 0;
    const LONG result = ::RegQueryValueExA(KeyOf(key), valueName.c_str(), nullptr, type ? &valueType : nullptr,
                                           data, size ? &byteCount : nullptr);
    if (type) *type = valueType;
    if (size) *size = byteCount;
    return result;
  }

  long RegSetValueExA(Handle key, const std::string& valueName, std::uint32_t type, const std::uint8_t* data,
                      std::uint32_t size) override {
    return ::RegSetValueExA(KeyOf(key), valueName.c_str(), 0, type, data, size);
  }

  long RegCloseKey(Handle key) override { return ::RegCloseKey(KeyOf(key)); }
};

}  // namespace

Registry& SystemRegistry() {
  static Win32Registry registry;
  return registry;
}

}  // namespace platform
