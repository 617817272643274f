#pragma once
// A PNG with the pixels of a 24-bit BMP, for the wallpaper tools that read no BMP.
#include <string>

namespace platform {
namespace posix {

// Writes pngPath (replaced whole, as platform/replace_file.h does it) from the
// uncompressed 24-bit BMP at bitmapPath. False, with nothing left behind, when the
// bitmap is not such a file or the PNG cannot be written.
bool WritePngCopy(const std::string& bitmapPath, const std::string& pngPath);

}  // namespace posix
}  // namespace platform
