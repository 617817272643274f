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

}  // namespace

bool PhotoSizeAllowed(long long width, long long height) {
  return width > 0 && height > 0 && width <= kMaxPhotoSide && height <= kMaxPhotoSide &&
         width * height <= kMaxPhotoPixels;
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
