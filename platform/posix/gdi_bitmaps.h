#pragma once
// Inside the POSIX GDI stand-in: bitmaps in the 24-bit bottom-up DIB layout that
// other parts of this backend (the picture loader) fill directly.
#include <cstdint>
#include <functional>

#include "platform/handle.h"

namespace platform {
namespace posix {

// Row length in bytes of a 24-bit row of the given width, padded to 4 bytes.
inline std::int64_t Stride24(std::int32_t width) { return (std::int64_t{width} * 3 + 3) & ~std::int64_t{3}; }

// A new bitmap of width x height pixels, 24 bits, rows bottom-up, each Stride24
// bytes. *bits receives the pixel memory. Returns 0 when it cannot be made.
// Freed with SystemGdi().DeleteObject.
Handle CreateBitmap24(std::int32_t width, std::int32_t height, std::uint8_t** bits);

// Writes all rows of a width x height picture, bottom-up BGR, `stride` bytes apart,
// into `bits`. May raise a run-time error; the rows are then undefined.
using PixelSource = std::function<void(std::uint8_t* bits, std::int64_t stride)>;

// A bitmap like CreateBitmap24's whose pixels are produced only when something reads
// them. A whole-picture SRCCOPY onto a surface of the same size has the source write
// straight into that surface, so no second copy of the pixels is ever held; any other
// use produces them into the bitmap's own memory first. An error of the source passes
// out of the GDI call that needed the pixels.
Handle CreateDeferredBitmap24(std::int32_t width, std::int32_t height, PixelSource source);

}  // namespace posix
}  // namespace platform
