#pragma once
// Reading the user's photos and the written month pictures back.
#include <string>
#include <vector>

#include "tools/calendar/month_picture.h"

namespace zorvani {
namespace tools {

// Largest picture decoded, in pixels: a 64-megapixel photo, about 200 MB as RGB.
constexpr long long kMaxDecodedPixels = 64LL * 1000 * 1000;

// The JPEG and PNG files directly in a folder, by name (byte order). Throws
// std::runtime_error when the folder cannot be read.
std::vector<std::string> PhotoFiles(const std::string& folder);

// Decodes a JPEG or PNG file. A JPEG is decoded at the smallest of the decoder's
// scales that still covers minWidth x minHeight. Throws std::runtime_error naming
// the file when it cannot be read or decoded or is too large.
RgbImage ReadPhoto(const std::string& path, int minWidth = 0, int minHeight = 0);

RgbImage DecodeJpeg(const std::vector<std::uint8_t>& jpeg);

// The EXIF orientation (1..8) in the first 128 KB of a file, 1 when it has none:
// cameras store the sensor's rows and say how to turn them.
int ExifOrientationOfFile(const std::string& path);
// The picture turned and mirrored upright for that orientation.
RgbImage Oriented(const RgbImage& image, int orientation);

}  // namespace tools
}  // namespace zorvani
