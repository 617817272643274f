// Photo decoding with TurboJPEG and libpng's simplified reader.
#include <png.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>

#include "tools/calendar/photo_files.h"

namespace zorvani {
namespace tools {
namespace {

namespace fs = std::filesystem;

std::string Lower(std::string text) {
  for (char& c : text) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  return text;
}

bool IsJpegName(const std::string& path) {
  const std::string extension = Lower(fs::path(path).extension().string());
  return extension == ".jpg" || extension == ".jpeg";
}

struct TurboJpegCloser {
  void operator()(void* handle) const { tjDestroy(handle); }
};

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  std::error_code error;
  const auto size = fs::file_size(path, error);
  // A JPEG of a 64-megapixel photo stays far below this.
  if (error || size > 512u * 1024 * 1024) throw std::runtime_error("cannot read " + path);
  std::ifstream file(path, std::ios::binary);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  if (!file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()))) {
    throw std::runtime_error("cannot read " + path);
  }
  return bytes;
}

RgbImage DecodeJpegScaled(const std::vector<std::uint8_t>& jpeg, int minWidth, int minHeight, const std::string& name) {
  std::unique_ptr<void, TurboJpegCloser> decoder(tjInitDecompress());
  if (!decoder) throw std::runtime_error("TurboJPEG: no decompressor");
  int width = 0, height = 0, subsampling = 0, colourspace = 0;
  if (tjDecompressHeader3(decoder.get(), jpeg.data(), static_cast<unsigned long>(jpeg.size()), &width, &height,
                          &subsampling, &colourspace) != 0 ||
      width <= 0 || height <= 0) {
    throw std::runtime_error(name + ": not a JPEG picture");
  }
  // The smallest of the decoder's scales that still covers the target; full size without one.
  int count = 0;
  const tjscalingfactor* factors = tjGetScalingFactors(&count);
  tjscalingfactor chosen{1, 1};
  for (int i = 0; minWidth > 0 && minHeight > 0 && factors != nullptr && i < count; ++i) {
    const tjscalingfactor f = factors[i];
    if (f.num <= f.denom && TJSCALED(width, f) >= minWidth && TJSCALED(height, f) >= minHeight &&
        TJSCALED(width, f) < TJSCALED(width, chosen)) {
      chosen = f;
    }
  }
  RgbImage image;
  image.width = TJSCALED(width, chosen);
  image.height = TJSCALED(height, chosen);
  if (static_cast<long long>(image.width) * image.height > kMaxDecodedPixels) {
    throw std::runtime_error(name + ": picture too large");
  }
  image.pixels.resize(static_cast<std::size_t>(image.width) * image.height * 3);
  if (tjDecompress2(decoder.get(), jpeg.data(), static_cast<unsigned long>(jpeg.size()), image.pixels.data(),
                    image.width, 0, image.height, TJPF_RGB, TJFLAG_ACCURATEDCT) != 0 &&
      tjGetErrorCode(decoder.get()) == TJERR_FATAL) {
    throw std::runtime_error(name + ": " + tjGetErrorStr2(decoder.get()));
  }
  return image;
}

RgbImage DecodePng(const std::string& path) {
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&png, path.c_str())) throw std::runtime_error(path + ": not a PNG picture");
  if (static_cast<long long>(png.width) * png.height > kMaxDecodedPixels || png.width == 0 || png.height == 0) {
    png_image_free(&png);
    throw std::runtime_error(path + ": picture too large");
  }
  png.format = PNG_FORMAT_RGB;
  RgbImage image;
  image.width = static_cast<int>(png.width);
  image.height = static_cast<int>(png.height);
  image.pixels.resize(PNG_IMAGE_SIZE(png));
  // Transparent parts land on white, as a viewer shows them.
  const png_color white{255, 255, 255};
  if (!png_image_finish_read(&png, &white, image.pixels.data(), 0, nullptr)) {
    const std::string message = png.message;
    png_image_free(&png);
    throw std::runtime_error(path + ": " + message);
  }
  return image;
}

}  // namespace

RgbImage ReadPhoto(const std::string& path, int minWidth, int minHeight) {
  if (IsJpegName(path)) {
    const int orientation = ExifOrientationOfFile(path);
    if (orientation >= 5) std::swap(minWidth, minHeight);
    return Oriented(DecodeJpegScaled(ReadBytes(path), minWidth, minHeight, path), orientation);
  }
  return DecodePng(path);
}

RgbImage DecodeJpeg(const std::vector<std::uint8_t>& jpeg) { return DecodeJpegScaled(jpeg, 0, 0, "JPEG"); }

std::vector<std::uint8_t> EncodeJpeg(const RgbImage& image, int quality) {
  if (quality < 1 || quality > 100) throw std::invalid_argument("quality must be 1 to 100");
  tjhandle encoder = tjInitCompress();
  if (encoder == nullptr) throw std::runtime_error("TurboJPEG: no compressor");
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  const int result = tjCompress2(encoder, image.pixels.data(), image.width, 0, image.height, TJPF_RGB, &jpeg, &size,
                                 TJSAMP_444, quality, TJFLAG_ACCURATEDCT);
  std::vector<std::uint8_t> bytes;
  if (result == 0) bytes.assign(jpeg, jpeg + size);
  const std::string error = result == 0 ? "" : tjGetErrorStr2(encoder);
  tjFree(jpeg);
  tjDestroy(encoder);
  if (result != 0) throw std::runtime_error("TurboJPEG: " + error);
  return bytes;
}

}  // namespace tools
}  // namespace zorvani
