// The picture loader on POSIX: TurboJPEG decodes the file straight into a stand-in
// bitmap, bottom-up BGR with the DIB's row padding, so the later block transfer into
// a DIB section is a plain copy.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "platform/gdi.h"
#include "platform/picture.h"
#include "platform/posix/gdi_bitmaps.h"
#include "runtime/runtime_error.h"

namespace platform {
namespace {

using zorvani::Raise;

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

struct TurboJpegCloser {
  void operator()(void* handle) const { tjDestroy(handle); }
};
using TurboJpeg = std::unique_ptr<void, TurboJpegCloser>;

bool MeansNotFound(int error) {
  return error == ENOENT || error == ENOTDIR || error == ENAMETOOLONG || error == ELOOP;
}

// The whole file in memory. Missing: 53; there but not readable as a file: 75.
std::vector<unsigned char> ReadWholeFile(const std::string& fileName) {
  if (fileName.empty()) Raise(zorvani::kErrFileNotFound);
  // O_NONBLOCK so that a FIFO in the picture's place cannot stall the open.
  FileDescriptor file(open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (file.get() < 0) Raise(MeansNotFound(errno) ? zorvani::kErrFileNotFound : zorvani::kErrFileAccess);
  struct stat info {};
  if (fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) Raise(zorvani::kErrFileAccess);
  // TurboJPEG and the 32-bit sizes of the bitmap world take nothing larger.
  if (info.st_size > std::numeric_limits<std::int32_t>::max()) Raise(zorvani::kErrInvalidPicture);

  std::vector<unsigned char> data(static_cast<std::size_t>(info.st_size));
  std::size_t got = 0;
  while (got < data.size()) {
    const ssize_t n = read(file.get(), data.data() + got, data.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Raise(zorvani::kErrFileAccess);
    if (n == 0) break;  // shrank while we read: decode what is there
    got += static_cast<std::size_t>(n);
  }
  data.resize(got);
  return data;
}

class StandInPicture : public Picture {
 public:
  StandInPicture(Handle bitmap, std::int32_t width, std::int32_t height)
      : bitmap_(bitmap), width_(width), height_(height) {}
  ~StandInPicture() override { SystemGdi().DeleteObject(bitmap_); }
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

// Owns a fresh bitmap until it is handed to a picture.
class PendingBitmap {
 public:
  explicit PendingBitmap(Handle bitmap) : bitmap_(bitmap) {}
  ~PendingBitmap() {
    if (bitmap_ != 0) SystemGdi().DeleteObject(bitmap_);
  }
  PendingBitmap(const PendingBitmap&) = delete;
  PendingBitmap& operator=(const PendingBitmap&) = delete;
  Handle Release() {
    const Handle bitmap = bitmap_;
    bitmap_ = 0;
    return bitmap;
  }

 private:
  Handle bitmap_;
};

class TurboJpegLoader : public PictureLoader {
 public:
  std::unique_ptr<Picture> LoadPicture(const std::string& fileName) override {
    const std::vector<unsigned char> jpeg = ReadWholeFile(fileName);
    if (jpeg.empty()) Raise(zorvani::kErrInvalidPicture);

    TurboJpeg decoder(tjInitDecompress());
    if (!decoder) Raise(zorvani::kErrInvalidPicture);
    int width = 0;
    int height = 0;
    int subsampling = 0;
    int colorspace = 0;
    if (tjDecompressHeader3(decoder.get(), jpeg.data(), jpeg.size(), &width, &height, &subsampling,
                            &colorspace) != 0 ||
        width <= 0 || height <= 0) {
      Raise(zorvani::kErrInvalidPicture);
    }
    if (!PictureSizeAllowed(width, height)) Raise(zorvani::kErrInvalidPicture);
    // libjpeg has no CMYK-to-RGB conversion, and guessing at Adobe's inverted
    // CMYK would give wrong colours without a word: such files are refused.
    if (colorspace == TJCS_CMYK || colorspace == TJCS_YCCK) Raise(zorvani::kErrInvalidPicture);

    // The pixel memory must be describable by a DIB's 32-bit signed biSizeImage.
    const std::int64_t stride = posix::Stride24(width);
    if (stride * height > std::numeric_limits<std::int32_t>::max()) Raise(zorvani::kErrInvalidPicture);

    std::uint8_t* bits = nullptr;
    const Handle handle = posix::CreateBitmap24(width, height, &bits);
    PendingBitmap bitmap(handle);
    if (handle == 0 || bits == nullptr) Raise(zorvani::kErrInvalidPicture);

    // A warning (a cut-off file, stray bytes between markers) still leaves a full
    // image, grey where data was missing, as picture viewers show it.
    // TJFLAG_LIMITSCANS stops a crafted progressive file from decoding forever.
    if (tjDecompress2(decoder.get(), jpeg.data(), jpeg.size(), bits, width, static_cast<int>(stride), height,
                      TJPF_BGR, TJFLAG_BOTTOMUP | TJFLAG_LIMITSCANS) != 0 &&
        tjGetErrorCode(decoder.get()) != TJERR_WARNING) {
      Raise(zorvani::kErrInvalidPicture);
    }
    return std::make_unique<StandInPicture>(bitmap.Release(), width, height);
  }
};

}  // namespace

PictureLoader& SystemPictureLoader() {
  static TurboJpegLoader loader;
  return loader;
}

}  // namespace platform
