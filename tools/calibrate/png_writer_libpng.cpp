// PNG writing with libpng's simplified interface, which takes bottom-up rows as a negative stride.
#include <png.h>

#include "tools/calibrate/calibrate.h"

namespace zorvani {
namespace calibrate {

bool WritePng(const std::string& path, const cDIBSection& image, std::string* error) {
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  png.width = static_cast<png_uint_32>(image.width());
  png.height = static_cast<png_uint_32>(image.height());
  png.format = PNG_FORMAT_BGR;
  if (png_image_write_to_file(&png, path.c_str(), 0, image.DIBSectionBitsPtr(), -image.BytesPerScanLine(), nullptr) != 0) {
    return true;
  }
  *error = png.message;
  png_image_free(&png);
  return false;
}

}  // namespace calibrate
}  // namespace zorvani
