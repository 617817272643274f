#include "platform/posix/desktop/png_copy.h"

#include <png.h>
#include <stdio.h>
#include <stdlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/replace_file.h"

namespace platform {
namespace posix {
namespace {

// Larger than any screen; keeps a damaged header from asking for gigabytes.
constexpr std::int64_t kMaxSide = 32768;

struct BitmapView {
  const unsigned char* pixels = nullptr;  // first stored row
  std::uint32_t width = 0, height = 0;
  std::size_t stride = 0;
  bool bottomUp = true;
};

std::uint32_t U32(const std::vector<unsigned char>& b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
         static_cast<std::uint32_t>(b[at + 2]) << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

bool Parse(const std::vector<unsigned char>& b, BitmapView* view) {
  if (b.size() < 54 || b[0] != 'B' || b[1] != 'M') return false;
  const std::int64_t offset = U32(b, 10);
  const std::int64_t width = static_cast<std::int32_t>(U32(b, 18));
  std::int64_t height = static_cast<std::int32_t>(U32(b, 22));
  const unsigned bits = b[28] | b[29] << 8;
  if (U32(b, 14) < 40 || bits != 24 || U32(b, 30) != 0) return false;
  view->bottomUp = height > 0;
  if (height < 0) height = -height;
  if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide) return false;
  const std::int64_t stride = (width * 3 + 3) / 4 * 4;
  if (offset < 54 || offset + stride * height > static_cast<std::int64_t>(b.size())) return false;
  view->pixels = b.data() + offset;
  view->width = static_cast<std::uint32_t>(width);
  view->height = static_cast<std::uint32_t>(height);
  view->stride = static_cast<std::size_t>(stride);
  return true;
}

// No C++ object lives in here: libpng reports errors by longjmp.
bool Encode(FILE* file, const BitmapView& view, png_bytep* rows) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (png == nullptr) return false;
  png_infop info = png_create_info_struct(png);
  if (info == nullptr || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, view.width, view.height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  // Fast over small: the file is read once by the desktop and rewritten daily.
  png_set_compression_level(png, 1);
  png_write_info(png, info);
  png_set_bgr(png);
  png_write_image(png, rows);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

bool WritePngCopy(const std::string& bitmapPath, const std::string& pngPath) {
  std::string file;
  if (!ReadRegularFile(bitmapPath, &file)) return false;
  const std::vector<unsigned char> bytes(file.begin(), file.end());
  BitmapView view;
  if (!Parse(bytes, &view)) return false;
  std::vector<png_bytep> rows(view.height);
  for (std::uint32_t y = 0; y < view.height; ++y) {
    const std::size_t stored = view.bottomUp ? view.height - 1 - y : y;
    rows[y] = const_cast<png_bytep>(view.pixels + stored * view.stride);
  }

  // Encoded in memory, then replaced whole: nothing planted beside it is written through.
  char* encoded = nullptr;
  std::size_t size = 0;
  FILE* memory = open_memstream(&encoded, &size);
  if (memory == nullptr) return false;
  const bool done = Encode(memory, view, rows.data());
  const bool closed = fclose(memory) == 0;
  const std::string png = done && closed ? std::string(encoded, size) : std::string();
  free(encoded);
  return !png.empty() && ReplaceFileWith(pngPath, png);
}

}  // namespace posix
}  // namespace platform
