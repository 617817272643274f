// The picture loader on Windows: OLE's own decoder (OleLoadPicture on a memory
// stream), as LoadPicture does it. The picture keeps its IPicture alive, since the
// bitmap handle belongs to it.
#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include <cstdint>
#include <limits>
#include <memory>

#include "platform/picture.h"
#include "runtime/runtime_error.h"

namespace platform {
namespace {

using zorvani::Raise;

class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  ~FileHandle() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

// Frees the memory block unless a stream took it over.
class MemoryBlock {
 public:
  explicit MemoryBlock(HGLOBAL block) : block_(block) {}
  ~MemoryBlock() {
    if (block_ != nullptr) GlobalFree(block_);
  }
  MemoryBlock(const MemoryBlock&) = delete;
  MemoryBlock& operator=(const MemoryBlock&) = delete;
  HGLOBAL get() const { return block_; }
  void HandOver() { block_ = nullptr; }

 private:
  HGLOBAL block_;
};

struct ComReleaser {
  void operator()(IUnknown* object) const { object->Release(); }
};
using Stream = std::unique_ptr<IStream, ComReleaser>;

void InitialiseComOnce() {
  // S_FALSE (already initialised) and RPC_E_CHANGED_MODE (initialised for another
  // apartment) both leave COM usable for OleLoadPicture.
  static const HRESULT result = CoInitialize(nullptr);
  (void)result;
}

bool MeansNotFound(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME ||
         error == ERROR_INVALID_DRIVE || error == ERROR_BAD_NETPATH || error == ERROR_BAD_PATHNAME;
}

// The whole file, in one read, in a movable memory block that a stream can own.
HGLOBAL ReadWholeFile(const std::string& fileName, DWORD* size) {
  if (fileName.empty()) Raise(zorvani::kErrFileNotFound);
  FileHandle file(CreateFileA(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) {
    Raise(MeansNotFound(GetLastError()) ? zorvani::kErrFileNotFound : zorvani::kErrFileAccess);
  }
  LARGE_INTEGER length{};
  if (!GetFileSizeEx(file.get(), &length)) Raise(zorvani::kErrFileAccess);
  if (length.QuadPart <= 0 || length.QuadPart > std::numeric_limits<std::int32_t>::max()) {
    Raise(zorvani::kErrInvalidPicture);
  }
  *size = static_cast<DWORD>(length.QuadPart);

  MemoryBlock block(GlobalAlloc(GMEM_MOVEABLE, *size));
  if (block.get() == nullptr) Raise(zorvani::kErrInvalidPicture);
  void* bytes = GlobalLock(block.get());
  if (bytes == nullptr) Raise(zorvani::kErrInvalidPicture);
  DWORD got = 0;
  const BOOL read = ReadFile(file.get(), bytes, *size, &got, nullptr);
  GlobalUnlock(block.get());
  if (!read || got != *size) Raise(zorvani::kErrFileAccess);

  const HGLOBAL result = block.get();
  block.HandOver();
  return result;
}

std::uint32_t Little(const unsigned char* p, int bytes) {
  std::uint32_t value = 0;
  for (int i = bytes; i-- > 0;) value = value << 8 | p[i];
  return value;
}

std::uint32_t Big(const unsigned char* p, int bytes) {
  std::uint32_t value = 0;
  for (int i = 0; i < bytes; ++i) value = value << 8 | p[i];
  return value;
}

// A JPEG component's sampling factors, as MultiScanJpegBytes reads them.
struct JpegComponent {
  int h_samp_factor;
  int v_samp_factor;
};

// Whether the size that the file's header claims may be decoded. OLE decodes the
// whole picture in one call, so a bomb must be caught here. A JPEG needs a frame
// header before its first scan, and a progressive one (or one whose first scan holds
// fewer components than the frame) keeps its coefficients beside the pixels, which must
// fit a refresh with them; BMP, GIF and PNG (which Wine's OLE reads too) give their
// size up front; the other formats OLE knows (icons, metafiles) never become a large
// bitmap.
bool ClaimedSizeAllowed(const unsigned char* p, std::size_t n) {
  if (n >= 24 && p[0] == 0x89 && p[1] == 'P' && p[2] == 'N' && p[3] == 'G') {
    return PictureSizeAllowed(Big(p + 16, 4), Big(p + 20, 4));
  }
  if (n >= 26 && p[0] == 'B' && p[1] == 'M') {
    if (Little(p + 14, 4) == 12) return PictureSizeAllowed(Little(p + 18, 2), Little(p + 20, 2));
    const auto height = static_cast<std::int32_t>(Little(p + 22, 4));
    return PictureSizeAllowed(static_cast<std::int32_t>(Little(p + 18, 4)),
                              height < 0 ? -std::int64_t{height} : height);
  }
  if (n >= 10 && p[0] == 'G' && p[1] == 'I' && p[2] == 'F') {
    return PictureSizeAllowed(Little(p + 6, 2), Little(p + 8, 2));
  }
  if (n < 2 || p[0] != 0xFF || p[1] != 0xD8) return true;
  std::int64_t width = 0, height = 0;
  bool progressive = false;
  JpegComponent components[4] = {};
  int count = 0;  // of the frame's components, 0 before the frame
  const auto allowed = [&](bool multiScan) {
    return count > 0 && PictureSizeAllowed(width, height) &&
           PictureMemoryAllowed(width, height, multiScan ? MultiScanJpegBytes(width, height, components, count) : 0);
  };
  for (std::size_t i = 2; i + 4 <= n;) {
    const unsigned char marker = p[i + 1];
    if (p[i] != 0xFF) return false;
    if (marker == 0xFF) {  // fill byte
      ++i;
      continue;
    }
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {  // no length
      i += 2;
      continue;
    }
    if (marker == 0xD9) return false;
    if (marker == 0xDA) return i + 5 <= n && allowed(progressive || p[i + 4] < count);
    const std::size_t length = Big(p + i + 2, 2);
    const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (frame && count == 0) {
      if (i + 10 > n) return false;
      height = Big(p + i + 5, 2), width = Big(p + i + 7, 2);  // after the precision
      progressive = (marker & 3) == 2;
      // More than four components is no picture OLE shows.
      count = p[i + 9] >= 1 && p[i + 9] <= 4 ? p[i + 9] : 0;
      if (count == 0) return false;
      for (int c = 0; c < count; ++c) {
        const std::size_t at = i + 11 + 3 * static_cast<std::size_t>(c);
        if (at >= n) return allowed(true);
        components[c] = {p[at] >> 4, p[at] & 15};
      }
    }
    if (length < 2) return false;
    i += 2 + length;
  }
  return allowed(progressive);
}

class OlePicture : public Picture {
 public:
  OlePicture(IPicture* picture, Handle bitmap, std::int32_t width, std::int32_t height)
      : picture_(picture), bitmap_(bitmap), width_(width), height_(height) {}
  ~OlePicture() override { picture_->Release(); }
  OlePicture(const OlePicture&) = delete;
  OlePicture& operator=(const OlePicture&) = delete;

  Handle BitmapHandle() const override { return bitmap_; }
  std::int32_t Width() const override { return width_; }
  std::int32_t Height() const override { return height_; }

 private:
  IPicture* picture_;
  Handle bitmap_;
  std::int32_t width_;
  std::int32_t height_;
};

class OleLoader : public PictureLoader {
 public:
  std::unique_ptr<Picture> LoadPicture(const std::string& fileName) override {
    InitialiseComOnce();
    DWORD size = 0;
    MemoryBlock block(ReadWholeFile(fileName, &size));
    const void* bytes = GlobalLock(block.get());
    const bool allowed = bytes != nullptr && ClaimedSizeAllowed(static_cast<const unsigned char*>(bytes), size);
    GlobalUnlock(block.get());
    if (!allowed) Raise(zorvani::kErrInvalidPicture);

    IStream* rawStream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(block.get(), TRUE, &rawStream))) Raise(zorvani::kErrInvalidPicture);
    block.HandOver();  // released with the stream
    Stream stream(rawStream);

    IPicture* rawPicture = nullptr;
    if (FAILED(OleLoadPicture(stream.get(), static_cast<LONG>(size), FALSE, IID_IPicture,
                              reinterpret_cast<void**>(&rawPicture))) ||
        rawPicture == nullptr) {
      Raise(zorvani::kErrInvalidPicture);
    }
    std::unique_ptr<IPicture, ComReleaser> picture(rawPicture);

    // Icons and metafiles load too, but only a bitmap can be copied into a DIB.
    SHORT type = PICTYPE_UNINITIALIZED;
    OLE_HANDLE handle = 0;
    if (FAILED(picture->get_Type(&type)) || type != PICTYPE_BITMAP || FAILED(picture->get_Handle(&handle)) ||
        handle == 0) {
      Raise(zorvani::kErrInvalidPicture);
    }
    const HBITMAP bitmap = reinterpret_cast<HBITMAP>(static_cast<UINT_PTR>(handle));
    BITMAP record{};
    if (GetObjectA(bitmap, sizeof record, &record) == 0 || record.bmWidth <= 0 || record.bmHeight == 0) {
      Raise(zorvani::kErrInvalidPicture);
    }
    const std::int32_t height = record.bmHeight < 0 ? -record.bmHeight : record.bmHeight;
    return std::make_unique<OlePicture>(picture.release(), reinterpret_cast<Handle>(bitmap), record.bmWidth,
                                        height);
  }
};

}  // namespace

PictureLoader& SystemPictureLoader() {
  static OleLoader loader;
  return loader;
}

}  // namespace platform
