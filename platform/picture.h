#pragma once
// The picture loader: decodes an image file (the month pictures are JPEGs) into a
// picture that holds a bitmap of the platform's GDI (the real one or the stand-in).
#include <cstdint>
#include <memory>
#include <string>

#include "platform/handle.h"

namespace platform {

// The largest picture either loader decodes; a file whose header claims more is
// refused before any pixel memory is taken. The frame's pixel arithmetic is 16-bit,
// so no frame reaches past line 32767 or much beyond column 10900, and the largest
// screens in use are 8K (7680 x 4320) or three 4K monitors side by side (11520 x
// 2160). 16384 per side and 8192 x 8192 pixels in all hold every one of those and
// keep one copy of the pixels within 192 MiB.
constexpr std::int64_t kMaxPictureSide = 16384;
constexpr std::int64_t kMaxPicturePixels = std::int64_t{8192} * 8192;

inline bool PictureSizeAllowed(std::int64_t width, std::int64_t height) {
  return width > 0 && height > 0 && width <= kMaxPictureSide && height <= kMaxPictureSide &&
         width * height <= kMaxPicturePixels;
}

class Picture {
 public:
  virtual ~Picture() = default;
  // The bitmap handle, usable with SystemGdi().
  virtual Handle BitmapHandle() const = 0;
  virtual std::int32_t Width() const = 0;
  virtual std::int32_t Height() const = 0;
};

class PictureLoader {
 public:
  virtual ~PictureLoader() = default;
  // Raises a run-time error for a missing, unreadable or undecodable file.
  virtual std::unique_ptr<Picture> LoadPicture(const std::string& fileName) = 0;
};

PictureLoader& SystemPictureLoader();

}  // namespace platform
