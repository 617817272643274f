#pragma once
// Reading the user's photos and the written month pictures back.
#include <string>
#include <vector>

#include "tools/calendar/month_picture.h"

namespace zorvani {
namespace tools {

// The largest photo read: what the largest camera sensors make (108 megapixels,
// 12000 x 9000), and no side beyond JPEG's own 65500. A file whose header claims more
// is refused before anything is decoded.
constexpr long long kMaxPhotoPixels = 108LL * 1000 * 1000;
constexpr long long kMaxPhotoSide = 65500;
// What the JPEG decoder may take for itself. A progressive file keeps every
// coefficient of the whole photo until its last scan: 2 bytes a sample, so a
// 108-megapixel one without colour subsampling needs 618 MiB.
constexpr long long kMaxJpegWorkMemory = 640LL << 20;

bool PhotoSizeAllowed(long long width, long long height);

// What a JPEG's frame header or a PNG's IHDR claims, and whether the file reaches its
// end marker (a JPEG's EOI after its scans, a PNG's IEND chunk). Width and height are 0
// when the file is neither or its header is missing. For decoders that cannot say
// themselves that a file is too large or cut short.
struct PhotoHeader {
  long long width = 0;
  long long height = 0;
  bool complete = false;
};
PhotoHeader ReadPhotoHeader(const std::string& path);

// The JPEG and PNG files directly in a folder, by name (byte order). Throws
// std::runtime_error when the folder cannot be read.
std::vector<std::string> PhotoFiles(const std::string& folder);

// Decodes a JPEG or PNG file. A JPEG is decoded at the smallest of the decoder's
// scales that still covers minWidth x minHeight. Throws std::runtime_error naming
// the file when it cannot be read, is too large, or is damaged or cut short.
RgbImage ReadPhoto(const std::string& path, int minWidth = 0, int minHeight = 0);

RgbImage DecodeJpeg(const std::vector<std::uint8_t>& jpeg);

// The EXIF orientation (1..8) in the first 128 KB of a file, 1 when it has none:
// cameras store the sensor's rows and say how to turn them.
int ExifOrientationOfFile(const std::string& path);
// The picture turned and mirrored upright for that orientation.
RgbImage Oriented(const RgbImage& image, int orientation);

}  // namespace tools
}  // namespace zorvani
