#pragma once
#include <cstdint>

namespace platform {

// A platform handle (device context, bitmap, file, registry key, DrawDib). 0 is none.
using Handle = std::uintptr_t;

}  // namespace platform
