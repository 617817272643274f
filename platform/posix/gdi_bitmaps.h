#pragma once
// Inside the POSIX GDI stand-in: bitmaps in the 24-bit bottom-up DIB layout that
// other parts of this backend (the picture loader) fill directly.
#include <cstdint>

#include "platform/handle.h"

namespace platform {
namespace posix {

// Row length in bytes of a 24-bit row of the given width, padded to 4 bytes.
inline std::int64_t Stride24(std::int32_t width) { return (std::int64_t{width} * 3 + 3) & ~std::int64_t{3}; }

// A new bitmap of width x height pixels, 24 bits, rows bottom-up, each Stride24
// bytes. *bits receives the pixel memory. Returns 0 when it cannot be made.
// Freed with SystemGdi().DeleteObject.
Handle CreateBitmap24(std::int32_t width, std::int32_t height, std::uint8_t** bits);

}  // namespace posix
}  // namespace platform
