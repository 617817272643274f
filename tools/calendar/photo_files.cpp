// Finding the photos: the same on every platform.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "tools/calendar/photo_files.h"

namespace zorvani {
namespace tools {
namespace {

// Name order as people number their photos: runs of digits compare as numbers, so
// "2.jpg" comes before "10.jpg".
bool NameBefore(const std::string& a, const std::string& b) {
  std::size_t i = 0, j = 0;
  const auto digit = [](char c) { return c >= '0' && c <= '9'; };
  while (i < a.size() && j < b.size()) {
    if (digit(a[i]) && digit(b[j])) {
      std::size_t ei = i, ej = j;
      while (ei < a.size() && digit(a[ei])) ++ei;
      while (ej < b.size() && digit(b[ej])) ++ej;
      std::size_t si = i, sj = j;
      while (si + 1 < ei && a[si] == '0') ++si;
      while (sj + 1 < ej && b[sj] == '0') ++sj;
      const std::size_t lx = ei - si, ly = ej - sj;
      if (lx != ly) return lx < ly;
      const int order = a.compare(si, lx, b, sj, ly);
      if (order != 0) return order < 0;
      i = ei, j = ej;
      continue;
    }
    if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
    ++i, ++j;
  }
  return a.size() - i < b.size() - j || (a.size() - i == b.size() - j && a < b);
}

// Unsigned numbers of the EXIF block in its own byte order; 0 past the end.
struct ExifReader {
  const std::vector<std::uint8_t>& bytes;
  std::size_t base;
  bool bigEndian;
  std::uint32_t At(std::size_t offset, int size) const {
    if (base + offset + static_cast<std::size_t>(size) > bytes.size()) return 0;
    std::uint32_t value = 0;
    for (int k = 0; k < size; ++k) {
      const std::uint8_t byte = bytes[base + offset + static_cast<std::size_t>(bigEndian ? k : size - 1 - k)];
      value = value << 8 | byte;
    }
    return value;
  }
};

int ExifOrientation(const std::vector<std::uint8_t>& jpeg) {
  if (jpeg.size() < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return 1;
  std::size_t at = 2;
  while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF) {
    const std::uint8_t marker = jpeg[at + 1];
    const std::size_t length = static_cast<std::size_t>(jpeg[at + 2]) << 8 | jpeg[at + 3];
    if (marker == 0xDA || marker == 0xD9 || length < 2) return 1;
    static const char kExif[] = "Exif\0";
    if (marker == 0xE1 && at + 10 + 8 <= jpeg.size() && std::equal(kExif, kExif + 6, jpeg.begin() + static_cast<std::ptrdiff_t>(at + 4))) {
      const std::size_t tiff = at + 10;
      const ExifReader exif{jpeg, tiff, jpeg[tiff] == 'M'};
      const std::uint32_t directory = exif.At(4, 4);
      const std::uint32_t entries = exif.At(directory, 2);
      for (std::uint32_t e = 0; e < entries && e < 512; ++e) {
        const std::size_t entry = directory + 2 + 12 * static_cast<std::size_t>(e);
        if (exif.At(entry, 2) == 0x0112) {
          const std::uint32_t orientation = exif.At(entry + 8, 2);
          return orientation >= 1 && orientation <= 8 ? static_cast<int>(orientation) : 1;
        }
      }
      return 1;
    }
    at += 2 + length;
  }
  return 1;
}

// A file's bytes one at a time through a buffer; -1 at the end.
class ByteStream {
 public:
  explicit ByteStream(const std::string& path) : file_(path, std::ios::binary) {}
  int Next() {
    if (at_ == size_) {
      if (!file_) return -1;
      file_.read(buffer_, sizeof buffer_);
      size_ = static_cast<std::size_t>(file_.gcount());
      at_ = 0;
      if (size_ == 0) return -1;
    }
    return static_cast<unsigned char>(buffer_[at_++]);
  }
  // A number of `bytes` bytes, most significant first; -1 when the file ends first.
  long long Number(int bytes) {
    long long value = 0;
    for (int i = 0; i < bytes; ++i) {
      const int c = Next();
      if (c < 0) return -1;
      value = value << 8 | c;
    }
    return value;
  }
  void Skip(long long count) {
    const long long here = std::min<long long>(count, static_cast<long long>(size_ - at_));
    at_ += static_cast<std::size_t>(here);
    if (count > here && file_) file_.seekg(static_cast<std::streamoff>(count - here), std::ios::cur);
  }

 private:
  std::ifstream file_;
  char buffer_[64 * 1024];
  std::size_t at_ = 0, size_ = 0;
};

bool IsRestart(int marker) { return marker >= 0xD0 && marker <= 0xD7; }

// Walks the segments after the start marker as a decoder does: stray bytes and fill
// bytes before a marker are skipped, a scan's data runs to the next marker that is
// neither a stuffed 0xFF 0x00 nor a restart marker.
PhotoHeader JpegHeader(ByteStream& in) {
  PhotoHeader header;
  bool scanned = false;
  int marker = -1;  // found at the end of a scan's data
  for (;;) {
    int c = marker;
    marker = -1;
    if (c < 0) {
      do c = in.Next(); while (c >= 0 && c != 0xFF);
      while (c == 0xFF) c = in.Next();
    }
    if (c < 0) return header;
    if (c == 0xD9) {
      header.complete = scanned;
      return header;
    }
    if (IsRestart(c) || c == 0x01 || c == 0x00) continue;  // no length
    const long long length = in.Number(2);
    if (length < 2) return header;
    const bool frame = c >= 0xC0 && c <= 0xCF && c != 0xC4 && c != 0xC8 && c != 0xCC;
    if (frame && length >= 7 && header.width == 0) {
      in.Skip(1);  // sample precision
      header.height = in.Number(2);
      header.width = in.Number(2);
      if (header.width < 0) return PhotoHeader{};
      in.Skip(length - 7);
    } else {
      in.Skip(length - 2);
    }
    if (c != 0xDA) continue;
    scanned = true;
    while (marker < 0) {
      int b = in.Next();
      if (b < 0) return header;
      if (b != 0xFF) continue;
      do b = in.Next(); while (b == 0xFF);
      if (b < 0) return header;
      if (b != 0x00 && !IsRestart(b)) marker = b;
    }
  }
}

PhotoHeader PngHeader(ByteStream& in) {
  PhotoHeader header;
  for (bool first = true;; first = false) {
    const long long length = in.Number(4), type = in.Number(4);
    if (type < 0 || length > 0x7FFFFFFF) return header;
    if (first != (type == 0x49484452)) return PhotoHeader{};  // IHDR, and only first
    if (type == 0x49454E44) {                                   // IEND
      header.complete = in.Number(4) >= 0;
      return header;
    }
    if (first && length >= 8) {
      header.width = in.Number(4);
      header.height = in.Number(4);
      in.Skip(length - 8 + 4);
    } else {
      in.Skip(length + 4);  // with the CRC
    }
  }
}

}  // namespace

bool PhotoSizeAllowed(long long width, long long height) {
  return width > 0 && height > 0 && width <= kMaxPhotoSide && height <= kMaxPhotoSide &&
         width * height <= kMaxPhotoPixels;
}

PhotoHeader ReadPhotoHeader(const std::string& path) {
  ByteStream in(path);
  const long long start = in.Number(2);
  if (start == 0xFFD8) return JpegHeader(in);
  if (start == 0x8950 && in.Number(4) == 0x4E470D0A && in.Number(2) == 0x1A0A) return PngHeader(in);
  return PhotoHeader{};
}

int ExifOrientationOfFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::vector<std::uint8_t> head(128 * 1024);
  file.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<std::size_t>(file.gcount()));
  return ExifOrientation(head);
}

RgbImage Oriented(const RgbImage& image, int orientation) {
  if (orientation <= 1 || orientation > 8) return image;
  const int w = image.width, h = image.height;
  const bool turned = orientation >= 5;
  RgbImage out{turned ? h : w, turned ? w : h, std::vector<std::uint8_t>(image.pixels.size())};
  for (int y = 0; y < out.height; ++y) {
    for (int x = 0; x < out.width; ++x) {
      int sx = x, sy = y;
      switch (orientation) {
        case 2: sx = w - 1 - x; break;
        case 3: sx = w - 1 - x, sy = h - 1 - y; break;
        case 4: sy = h - 1 - y; break;
        case 5: sx = y, sy = x; break;
        case 6: sx = y, sy = h - 1 - x; break;
        case 7: sx = w - 1 - y, sy = h - 1 - x; break;
        default: sx = w - 1 - y, sy = x; break;  // 8
      }
      std::copy_n(&image.pixels[(static_cast<std::size_t>(sy) * w + sx) * 3], 3,
                  &out.pixels[(static_cast<std::size_t>(y) * out.width + x) * 3]);
    }
  }
  return out;
}

std::vector<std::string> PhotoFiles(const std::string& folder) {
  std::vector<std::string> files;
  namespace fs = std::filesystem;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    std::string extension = it->path().extension().string();
    for (char& c : extension) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    if (!it->is_regular_file(error) || !(extension == ".jpg" || extension == ".jpeg" || extension == ".png")) continue;
    files.push_back(it->path().string());
  }
  if (error) throw std::runtime_error("cannot read the folder " + folder + ": " + error.message());
  std::sort(files.begin(), files.end(), NameBefore);
  return files;
}

}  // namespace tools
}  // namespace zorvani
