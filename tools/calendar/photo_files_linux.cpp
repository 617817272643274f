// Photo decoding with libjpeg-turbo's libjpeg interface and libpng's simplified
// reader; the written month pictures are encoded with TurboJPEG.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>
#include <jerror.h>
#include <png.h>
#include <turbojpeg.h>

#include "platform/picture.h"
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

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Opened without blocking, so that a FIFO in a photo's place cannot stall the tool,
// and read only when it is a regular file.
File OpenPhoto(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) throw std::runtime_error("cannot read " + path + ": " + std::strerror(errno));
  struct stat info {};
  std::FILE* file = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) ? fdopen(fd, "rb") : nullptr;
  if (file == nullptr) {
    close(fd);
    throw std::runtime_error("cannot read " + path + ": not a file");
  }
  return File(file);
}

[[noreturn]] void TooLarge(const std::string& name, long long width, long long height) {
  throw std::runtime_error(name + ": " + std::to_string(width) + "x" + std::to_string(height) +
                           " is too large a photo (at most 108 megapixels and 65500 pixels a side)");
}

// Bytes that some encoders leave between a scan's last data and the next marker.
constexpr int kScanPadding = 16;

// libjpeg's warnings that mean part of the picture is missing or wrong: the file ends
// early, or its data is corrupt. A scan whose data does not end where the decoder
// finished it is corrupt too (libjpeg-turbo's fast Huffman decoder reads a bad code as
// zero without a word, so often that is all that shows). The other warnings leave a
// whole picture: stray bytes between header segments, which many cameras write, an
// unknown JFIF version or Adobe transform, a bad ICC profile.
bool Damaging(const jpeg_decompress_struct& info) {
  switch (info.err->msg_code) {
    case JWRN_JPEG_EOF:
    case JWRN_HIT_MARKER:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
    case JWRN_MUST_RESYNC:
    case JWRN_NOT_SEQUENTIAL:
    case JWRN_BOGUS_PROGRESSION:
      return true;
    case JWRN_EXTRANEOUS_DATA:
      return info.input_scan_number > 0 && info.err->msg_parm.i[0] > kScanPadding;
    default:
      return false;
  }
}

// What TJFLAG_LIMITSCANS allows: a crafted progressive file cannot decode forever.
constexpr int kMaxScans = 500;

// One libjpeg decompressor. libjpeg reports a fatal error by calling error_exit, which
// must not return: it jumps back to Guarded(), so nothing between the two may own a
// resource that needs a destructor.
struct JpegReader {
  jpeg_decompress_struct info{};
  struct Errors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
  } errors{};
  jpeg_progress_mgr progress{};
  char message[JMSG_LENGTH_MAX] = "";

  JpegReader() {
    info.err = jpeg_std_error(&errors.manager);
    info.client_data = this;
    errors.manager.error_exit = [](j_common_ptr c) {
      JpegReader* r = static_cast<JpegReader*>(c->client_data);
      c->err->format_message(c, r->message);
      std::longjmp(r->errors.jump, 1);
    };
    errors.manager.emit_message = [](j_common_ptr c, int level) {
      if (level < 0 && Damaging(*reinterpret_cast<j_decompress_ptr>(c))) c->err->error_exit(c);
    };
    progress.progress_monitor = [](j_common_ptr c) {
      JpegReader* r = static_cast<JpegReader*>(c->client_data);
      if (reinterpret_cast<j_decompress_ptr>(c)->input_scan_number > kMaxScans) {
        std::strcpy(r->message, "more than 500 scans");
        std::longjmp(r->errors.jump, 1);
      }
    };
  }
  ~JpegReader() { jpeg_destroy_decompress(&info); }
  JpegReader(const JpegReader&) = delete;
  JpegReader& operator=(const JpegReader&) = delete;
};

// Runs one step under libjpeg's error jump: plain code only.
template <typename Step>
bool Guarded(JpegReader& r, Step step) {
  if (setjmp(r.errors.jump) != 0) return false;
  step();
  return true;
}

// The memory for the coefficients of the whole photo, which libjpeg keeps when the
// file has more than one scan (progressive files do).
long long CoefficientMemory(const jpeg_decompress_struct& info) {
  if (!jpeg_has_multiple_scans(const_cast<j_decompress_ptr>(&info))) return 0;
  return platform::MultiScanJpegBytes(info.image_width, info.image_height, info.comp_info, info.num_components);
}

// From a file when `file` is set, otherwise from `bytes`.
RgbImage DecodeJpegScaled(std::FILE* file, const std::vector<std::uint8_t>* bytes, int minWidth, int minHeight,
                          const std::string& name) {
  const auto reader = std::make_unique<JpegReader>();
  JpegReader& r = *reader;
  const auto failed = [&] { return std::runtime_error(name + ": damaged or not a JPEG picture (" + r.message + ")"); };
  if (!Guarded(r, [&] {
        jpeg_create_decompress(&r.info);
        r.info.mem->max_memory_to_use = kMaxJpegWorkMemory;
        r.info.progress = &r.progress;
        if (file != nullptr) {
          jpeg_stdio_src(&r.info, file);
        } else {
          jpeg_mem_src(&r.info, bytes->data(), static_cast<unsigned long>(bytes->size()));
        }
        jpeg_read_header(&r.info, TRUE);
      })) {
    throw failed();
  }
  if (!PhotoSizeAllowed(r.info.image_width, r.info.image_height)) TooLarge(name, r.info.image_width, r.info.image_height);
  if (CoefficientMemory(r.info) > kMaxJpegWorkMemory) {
    throw std::runtime_error(name + ": too large a progressive JPEG for the memory allowed");
  }
  // The smallest of the decoder's scales k/8 that still covers the target; full size without one.
  int eighths = 8;
  const auto scaled = [](long long size, int k) { return (size * k + 7) / 8; };
  while (minWidth > 0 && minHeight > 0 && eighths > 1 && scaled(r.info.image_width, eighths - 1) >= minWidth &&
         scaled(r.info.image_height, eighths - 1) >= minHeight) {
    --eighths;
  }
  r.info.scale_num = static_cast<unsigned>(eighths);
  r.info.scale_denom = 8;
  r.info.out_color_space = JCS_RGB;
  if (!Guarded(r, [&] { jpeg_calc_output_dimensions(&r.info); })) throw failed();
  RgbImage image;
  image.width = static_cast<int>(r.info.output_width);
  image.height = static_cast<int>(r.info.output_height);
  image.pixels.resize(static_cast<std::size_t>(image.width) * image.height * 3);
  std::uint8_t* const pixels = image.pixels.data();
  const std::size_t stride = static_cast<std::size_t>(image.width) * 3;
  if (!Guarded(r, [&] {
        jpeg_start_decompress(&r.info);
        if (r.info.output_components != 3 || r.info.output_width != static_cast<JDIMENSION>(image.width) ||
            r.info.output_height != static_cast<JDIMENSION>(image.height)) {
          ERREXIT(&r.info, JERR_CONVERSION_NOTIMPL);
        }
        while (r.info.output_scanline < r.info.output_height) {
          JSAMPROW row = pixels + r.info.output_scanline * stride;
          jpeg_read_scanlines(&r.info, &row, 1);
        }
        jpeg_finish_decompress(&r.info);
      })) {
    throw failed();
  }
  return image;
}

RgbImage DecodePng(const std::string& path) {
  const File file = OpenPhoto(path);
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_stdio(&png, file.get())) throw std::runtime_error(path + ": not a PNG picture");
  if (!PhotoSizeAllowed(png.width, png.height)) {
    png_image_free(&png);
    TooLarge(path, png.width, png.height);
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
    throw std::runtime_error(path + ": damaged PNG picture (" + message + ")");
  }
  return image;
}

}  // namespace

RgbImage ReadPhoto(const std::string& path, int minWidth, int minHeight) {
  if (IsJpegName(path)) {
    const int orientation = ExifOrientationOfFile(path);
    if (orientation >= 5) std::swap(minWidth, minHeight);
    return Oriented(DecodeJpegScaled(OpenPhoto(path).get(), nullptr, minWidth, minHeight, path), orientation);
  }
  return DecodePng(path);
}

RgbImage DecodeJpeg(const std::vector<std::uint8_t>& jpeg) { return DecodeJpegScaled(nullptr, &jpeg, 0, 0, "JPEG"); }

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
