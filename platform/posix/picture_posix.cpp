// The picture loader on POSIX. Loading reads the JPEG header only; the file is decoded
// when the picture is first blitted, straight into the destination's pixel memory
// (bottom-up BGR with the DIB's row padding). libjpeg-turbo reads the file in small
// pieces, so a refresh holds neither the compressed file nor a second copy of the
// pixels next to the DIB.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <memory>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>
#include <jerror.h>

#include "platform/gdi.h"
#include "platform/picture.h"
#include "platform/posix/gdi_bitmaps.h"
#include "platform/replace_file.h"
#include "runtime/runtime_error.h"

namespace platform {
namespace {

using zorvani::Raise;

bool MeansNotFound(int error) {
  return error == ENOENT || error == ENOTDIR || error == ENAMETOOLONG || error == ELOOP;
}

// The picture file, open from loading until the picture is released, so a decode
// later reads the same file even if it has been renamed or replaced meanwhile.
class JpegFile {
 public:
  // Missing: 53; there but not readable as a file: 75.
  explicit JpegFile(const std::string& fileName) {
    if (fileName.empty()) Raise(zorvani::kErrFileNotFound);
    // A FIFO or a device in the picture's place is refused, not waited on.
    fd_ = OpenRegularFile(fileName);
    if (fd_ < 0) Raise(MeansNotFound(errno) ? zorvani::kErrFileNotFound : zorvani::kErrFileAccess);
  }
  ~JpegFile() { close(fd_); }
  JpegFile(const JpegFile&) = delete;
  JpegFile& operator=(const JpegFile&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

constexpr std::size_t kChunk = 64 * 1024;
// What TJFLAG_LIMITSCANS allows: a crafted progressive file cannot decode forever.
constexpr int kMaxScans = 500;

// One pass of libjpeg over the file. libjpeg reports fatal errors by calling
// error_exit, which must not return: it jumps back to Guarded(), so nothing between
// the two may own a resource that needs a destructor.
struct Reader {
  jpeg_decompress_struct info{};
  struct Errors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
  } errors{};
  jpeg_source_mgr source{};
  jpeg_progress_mgr progress{};
  int fd = -1;
  off_t offset = 0;
  int failure = 0;  // the run-time error to raise after a jump
  JOCTET buffer[kChunk];

  explicit Reader(int file) : fd(file) {
    info.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = [](j_common_ptr c) {
      Reader* r = static_cast<Reader*>(c->client_data);
      if (r->failure == 0) r->failure = zorvani::kErrInvalidPicture;
      std::longjmp(r->errors.jump, 1);
    };
    // Warnings (a cut-off file, stray bytes between markers) still leave a full image,
    // grey where data was missing, as picture viewers show it; nothing is printed.
    errors.manager.output_message = [](j_common_ptr) {};
    source.init_source = [](j_decompress_ptr) {};
    source.fill_input_buffer = Fill;
    source.skip_input_data = Skip;
    source.resync_to_restart = jpeg_resync_to_restart;
    source.term_source = [](j_decompress_ptr) {};
    progress.progress_monitor = [](j_common_ptr c) {
      const auto* d = reinterpret_cast<j_decompress_ptr>(c);
      if (d->input_scan_number > kMaxScans) c->err->error_exit(c);
    };
  }

  static Reader& Of(j_decompress_ptr d) { return *static_cast<Reader*>(d->client_data); }

  static boolean Fill(j_decompress_ptr d) {
    Reader& r = Of(d);
    ssize_t n;
    do {
      n = pread(r.fd, r.buffer, kChunk, r.offset);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
      r.failure = zorvani::kErrFileAccess;
      d->err->error_exit(reinterpret_cast<j_common_ptr>(d));
    }
    if (n == 0) {
      // The file ends early: a fake end marker lets libjpeg finish with a warning.
      d->err->msg_code = JWRN_JPEG_EOF;
      d->err->emit_message(reinterpret_cast<j_common_ptr>(d), -1);
      r.buffer[0] = 0xFF;
      r.buffer[1] = JPEG_EOI;
      n = 2;
    }
    r.offset += n;
    r.source.next_input_byte = r.buffer;
    r.source.bytes_in_buffer = static_cast<std::size_t>(n);
    return TRUE;
  }

  static void Skip(j_decompress_ptr d, long count) {
    Reader& r = Of(d);
    if (count <= 0) return;
    const auto n = static_cast<std::size_t>(count);
    if (n <= r.source.bytes_in_buffer) {
      r.source.next_input_byte += n;
      r.source.bytes_in_buffer -= n;
      return;
    }
    r.offset += static_cast<off_t>(n - r.source.bytes_in_buffer);
    r.source.bytes_in_buffer = 0;
  }
};

struct Header {
  int width = 0;
  int height = 0;
};

struct Rows {
  std::uint8_t* bits;
  std::int64_t stride;
  Header expected;
};

// The steps that run under libjpeg's error jump: plain code only.
void ReadHeaderStep(Reader& r, Header* h) {
  jpeg_read_header(&r.info, TRUE);
  // libjpeg has no CMYK-to-RGB conversion, and guessing at Adobe's inverted
  // CMYK would give wrong colours without a word: such files are refused.
  if (r.info.jpeg_color_space == JCS_CMYK || r.info.jpeg_color_space == JCS_YCCK) {
    r.info.err->error_exit(reinterpret_cast<j_common_ptr>(&r.info));
  }
  h->width = static_cast<int>(r.info.image_width);
  h->height = static_cast<int>(r.info.image_height);
  // A progressive file keeps every coefficient of the picture beside the bitmap until its
  // last scan: one whose two do not fit a refresh is refused here, before either is taken,
  // and libjpeg is held to what is left.
  if (!PictureSizeAllowed(h->width, h->height)) return;
  const std::int64_t coefficients =
      jpeg_has_multiple_scans(&r.info) ? MultiScanJpegBytes(h->width, h->height, r.info.comp_info, r.info.num_components) : 0;
  if (!PictureMemoryAllowed(h->width, h->height, coefficients)) r.info.err->error_exit(reinterpret_cast<j_common_ptr>(&r.info));
  r.info.mem->max_memory_to_use = static_cast<long>(kMaxPictureMemory - posix::Stride24(h->width) * h->height);
}

void DecodeStep(Reader& r, const Rows* out) {
  Header h;
  ReadHeaderStep(r, &h);
  // The rows were laid out for the size the file had when it was loaded.
  if (h.width != out->expected.width || h.height != out->expected.height) {
    r.info.err->error_exit(reinterpret_cast<j_common_ptr>(&r.info));
  }
  r.info.out_color_space = JCS_EXT_BGR;
  jpeg_start_decompress(&r.info);
  if (r.info.output_components != 3) r.info.err->error_exit(reinterpret_cast<j_common_ptr>(&r.info));
  const auto height = static_cast<std::int64_t>(r.info.output_height);
  JSAMPROW rows[4];
  while (r.info.output_scanline < r.info.output_height) {
    // Line y from the top lives at row height - 1 - y of the bottom-up memory.
    const std::int64_t y = r.info.output_scanline;
    JDIMENSION count = 0;
    for (; count < 4 && y + count < height; ++count) rows[count] = out->bits + (height - 1 - y - count) * out->stride;
    jpeg_read_scanlines(&r.info, rows, count);
  }
  jpeg_finish_decompress(&r.info);
}

template <typename Step, typename Arg>
int Guarded(Reader& r, Step step, Arg arg) {
  if (setjmp(r.errors.jump) != 0) return r.failure;
  step(r, arg);
  return 0;
}

// Runs one step over the file with a fresh libjpeg instance; raises what it failed with.
template <typename Step, typename Arg>
void Run(const JpegFile& file, Step step, Arg arg) {
  const auto reader = std::make_unique<Reader>(file.fd());
  Reader& r = *reader;
  r.info.client_data = &r;
  jpeg_create_decompress(&r.info);
  r.info.src = &r.source;
  r.info.progress = &r.progress;
  const int failure = Guarded(r, step, arg);
  jpeg_destroy_decompress(&r.info);
  if (failure != 0) Raise(failure);
}

class StandInPicture : public Picture {
 public:
  StandInPicture(Handle bitmap, std::int32_t width, std::int32_t height)
      : bitmap_(bitmap), width_(width), height_(height) {}
  ~StandInPicture() override {
    SystemGdi().DeleteObject(bitmap_);
#ifdef __GLIBC__
    // The decoder's tables and row buffers went through the heap; a resident
    // process should not keep their pages until the next refresh.
    malloc_trim(0);
#endif
  }
  StandInPicture(const StandInPicture&) = delete;
  StandInPicture& operator=(const StandInPicture&) = delete;

  Handle BitmapHandle() const override { return bitmap_; }
  std::int32_t Width() const override { return width_; }
  std::int32_t Height() const override { return height_; }

 private:
  Handle bitmap_;
  std::int32_t width_;
  std::int32_t height_;
};

class JpegLoader : public PictureLoader {
 public:
  std::unique_ptr<Picture> LoadPicture(const std::string& fileName) override {
    auto file = std::make_shared<const JpegFile>(fileName);
    Header h;
    Run(*file, ReadHeaderStep, &h);
    if (!PictureSizeAllowed(h.width, h.height)) Raise(zorvani::kErrInvalidPicture);

    // The pixel memory must be describable by a DIB's 32-bit signed biSizeImage.
    const std::int64_t stride = posix::Stride24(h.width);
    if (stride * h.height > std::numeric_limits<std::int32_t>::max()) Raise(zorvani::kErrInvalidPicture);

    const Handle bitmap = posix::CreateDeferredBitmap24(
        h.width, h.height, [file, h](std::uint8_t* bits, std::int64_t rowBytes) {
          const Rows out{bits, rowBytes, h};
          Run(*file, DecodeStep, &out);
        });
    if (bitmap == 0) Raise(zorvani::kErrInvalidPicture);
    return std::make_unique<StandInPicture>(bitmap, h.width, h.height);
  }
};

}  // namespace

PictureLoader& SystemPictureLoader() {
  static JpegLoader loader;
  return loader;
}

}  // namespace platform
