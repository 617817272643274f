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

// What one refresh may hold for a picture: its bitmap and what the decoder keeps beside
// it while it fills it, at most a quarter more than the largest picture's bitmap.
constexpr std::int64_t kMaxPictureMemory = kMaxPicturePixels * 3 * 5 / 4;

inline bool PictureMemoryAllowed(std::int64_t width, std::int64_t height, std::int64_t decoderBytes) {
  return ((width * 3 + 3) & ~std::int64_t{3}) * height + decoderBytes <= kMaxPictureMemory;
}

// What a JPEG decoder keeps for a file of more than one scan (every progressive one) until
// its last scan: the coefficients of the whole picture, 64 of 2 bytes for each 8 x 8 block
// of each component, in whole MCUs, as libjpeg lays them out. Components as libjpeg's
// jpeg_component_info, with h_samp_factor and v_samp_factor (1 to 4).
template <typename Component>
std::int64_t MultiScanJpegBytes(std::int64_t width, std::int64_t height, const Component* components, int count) {
  const auto factor = [](int f) { return f < 1 ? 1 : f > 4 ? 4 : f; };
  int maxH = 1, maxV = 1;
  for (int i = 0; i < count; ++i) {
    if (factor(components[i].h_samp_factor) > maxH) maxH = factor(components[i].h_samp_factor);
    if (factor(components[i].v_samp_factor) > maxV) maxV = factor(components[i].v_samp_factor);
  }
  const auto blocks = [](std::int64_t size, int f, int maxF) {
    const std::int64_t n = (size * f + maxF * 8 - 1) / (maxF * 8);
    return (n + f - 1) / f * f;
  };
  std::int64_t bytes = 0;
  for (int i = 0; i < count; ++i) {
    bytes += blocks(width, factor(components[i].h_samp_factor), maxH) *
             blocks(height, factor(components[i].v_samp_factor), maxV) * 128;
  }
  return bytes;
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
