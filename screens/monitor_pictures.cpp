// The refresh's door to the monitors: which pictures, their files, the hand-over.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <set>

#include "platform/picture.h"
#include "platform/replace_file.h"
#include "platform/services.h"
#include "screens/screens.h"

namespace screens {
namespace {

constexpr std::size_t kPixelOffset = 58;  // 14 + 40 + one 4-byte colour entry, as cDIBSection writes

std::string lastBitmap;
Shown lastShown = Shown::kOnePicture;

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::size_t NameStart(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? 0 : slash + 1;
}

// One of ours: "wp-<something>.bmp", but not the desktops' alternating copies
// ("wp-a.bmp", "wp-HDMI-1-b.bmp"), which their own code keeps or removes.
bool IsMonitorBitmapName(const std::string& name) {
  const std::string lower = Lower(name);
  if (lower.size() <= 7 || lower.compare(0, 3, "wp-") != 0 || !EndsWith(lower, ".bmp")) return false;
  const std::string middle = lower.substr(3, lower.size() - 7);
  return middle != "a" && middle != "b" && !EndsWith(middle, "-a") && !EndsWith(middle, "-b");
}

std::uint32_t Read32(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  std::memcpy(&value, bytes.data() + at, 4);
  return value;
}

// wp.bmp read back whole: only the kind of file the program writes (24 bits,
// uncompressed, bottom-up, rows at offset 58), of a size a picture may have.
bool ReadWallpaperBitmap(const std::string& path, std::string* bytes, int* width, int* height) {
#ifndef _WIN32
  // Not through a stream: a FIFO or a device in wp.bmp's place would hold its open for ever.
  if (!platform::ReadRegularFile(path, bytes) || bytes->size() < kPixelOffset) return false;
#else
  std::ifstream in(path, std::ios::binary);
  bytes->assign(kPixelOffset, '\0');
  if (!in || !in.read(&(*bytes)[0], static_cast<std::streamsize>(kPixelOffset))) return false;
#endif
  const std::string& header = *bytes;
  const auto w = static_cast<std::int32_t>(Read32(header, 18)), h = static_cast<std::int32_t>(Read32(header, 22));
  if (header.compare(0, 2, "BM") != 0 || Read32(header, 10) != kPixelOffset || Read32(header, 14) != 40 ||
      header[28] != 24 || header[29] != 0 || Read32(header, 30) != 0 || !platform::PictureSizeAllowed(w, h)) {
    return false;
  }
  const std::size_t size = kPixelOffset + DibRowBytes(w) * static_cast<std::size_t>(h);
#ifdef _WIN32
  bytes->resize(size);
  if (!in.read(&(*bytes)[kPixelOffset], static_cast<std::streamsize>(size - kPixelOffset))) return false;
#endif
  if (bytes->size() < size) return false;
  *width = w;
  *height = h;
  return true;
}

// Made while it is written, a few rows at a time in the file's order (bottom row first),
// through the one replace routine: no bitmap of the monitor's size is ever in memory.
template <typename Draw>
bool WriteBitmap(platform::Files& files, const std::string& path, int width, int height, Draw draw) {
  platform::FileReplacement replacement(files, path);
  const std::string header = BitmapFileHeader(width, height);
  if (!replacement.Create() || !replacement.Write(header.data(), header.size())) return false;
  const std::size_t rowBytes = DibRowBytes(width);
  const std::size_t rows = std::max<std::size_t>(1, (std::size_t{1} << 20) / rowBytes);
  std::vector<std::uint8_t> chunk(rows * rowBytes, 0);  // the rows' padding stays 0
  for (int y = height - 1; y >= 0;) {
    std::size_t made = 0;
    for (; made < rows && y >= 0; ++made, --y) draw(y, &chunk[made * rowBytes]);
    if (!replacement.Write(chunk.data(), made * rowBytes)) return false;
  }
  return replacement.Commit();
}

// A monitor of the picture's own size shows wp.bmp's pixels as they are: written
// straight from them, with no copy.
bool WriteBitmap(platform::Files& files, const std::string& path, const ConstPixels& picture) {
  platform::FileReplacement replacement(files, path);
  const std::string header = BitmapFileHeader(picture.width, picture.height);
  const std::uint8_t* bottom = picture.first + (picture.height - 1) * picture.stride;
  return replacement.Create() && replacement.Write(header.data(), header.size()) &&
         replacement.Write(bottom, DibRowBytes(picture.width) * static_cast<std::size_t>(picture.height)) &&
         replacement.Commit();
}

// The monitors a picture can be made for.
std::vector<platform::Monitor> Usable(const std::vector<platform::Monitor>& layout) {
  std::vector<platform::Monitor> usable;
  for (const platform::Monitor& m : layout) {
    if (platform::PictureSizeAllowed(m.width, m.height)) usable.push_back(m);
  }
  return usable;
}

void Put16(std::string& bytes, std::size_t at, std::uint16_t value) { std::memcpy(&bytes[at], &value, 2); }
void Put32(std::string& bytes, std::size_t at, std::uint32_t value) { std::memcpy(&bytes[at], &value, 4); }

}  // namespace

std::string BitmapFileHeader(int width, int height) {
  const auto rows = static_cast<std::uint32_t>(DibRowBytes(width) * static_cast<std::size_t>(height));
  std::string header(kPixelOffset, '\0');
  Put16(header, 0, 0x4D42);
  Put32(header, 2, static_cast<std::uint32_t>(kPixelOffset) + rows);
  Put32(header, 10, kPixelOffset);
  Put32(header, 14, 40);
  Put32(header, 18, static_cast<std::uint32_t>(width));
  Put32(header, 22, static_cast<std::uint32_t>(height));
  Put16(header, 26, 1);
  Put16(header, 28, 24);
  Put32(header, 34, rows);
  return header;
}

std::string MonitorFileName(const std::string& outputName) {
  std::string safe;
  for (const char c : outputName) {
    if (std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '_') {
      safe += c;
    } else if (!safe.empty() && safe.back() != '-') {
      safe += '-';
    }
    if (safe.size() >= 48) break;
  }
  while (!safe.empty() && safe.back() == '-') safe.pop_back();
  if (safe.empty()) safe = "monitor";
  const std::string lower = Lower(safe);
  if (lower == "a" || lower == "b" || lower == "span" || EndsWith(lower, "-a") || EndsWith(lower, "-b")) safe += "-0";
  return "wp-" + safe + ".bmp";
}

void RemoveMonitorBitmaps(platform::Files& files, const std::string& wallpaperBitmap, const std::vector<std::string>& keep) {
  const std::string folder = wallpaperBitmap.substr(0, NameStart(wallpaperBitmap));
  std::set<std::string> kept;
  for (const std::string& name : keep) kept.insert(Lower(name));
  for (const std::string& name : files.FolderEntries(folder.empty() ? "." : folder)) {
    if (!IsMonitorBitmapName(name) || kept.count(Lower(name)) != 0) continue;
    platform::RemoveLeftTemporaries(files, folder + name);
    files.DeleteFileA(folder + name);
  }
}

Shown ShowOnMonitors(const std::string& wallpaperBitmap, const ConstPixels* image, platform::Desktop& desktop,
                     const std::vector<platform::Monitor>& all, platform::Files& files) {
  lastBitmap = wallpaperBitmap;
  const std::string folder = wallpaperBitmap.substr(0, NameStart(wallpaperBitmap));
  const std::vector<platform::Monitor> layout = Usable(all);
  const platform::Desktop::MonitorPictures taken =
      layout.size() < 2 ? platform::Desktop::MonitorPictures::None : desktop.MonitorPicturesTaken();
  const auto onePicture = [&] {
    RemoveMonitorBitmaps(files, wallpaperBitmap);
    return lastShown = Shown::kOnePicture;
  };
  if (taken == platform::Desktop::MonitorPictures::None) return onePicture();

  std::string read;
  ConstPixels picture;
  if (image != nullptr) {
    picture = *image;
  } else {
    int width = 0, height = 0;
    if (!ReadWallpaperBitmap(wallpaperBitmap, &read, &width, &height)) return lastShown = Shown::kFailed;
    picture = DibView(reinterpret_cast<const std::uint8_t*>(read.data()) + kPixelOffset, width, height);
  }
  if (std::all_of(layout.begin(), layout.end(), [&](const platform::Monitor& m) {
        return SameShape(m.width, m.height, picture.width, picture.height);
      })) {
    return onePicture();
  }

  bool made = true;
  std::vector<std::string> names;
  if (taken == platform::Desktop::MonitorPictures::Spanned) {
    const Canvas canvas = SpannedCanvas(layout);
    if (canvas.width == 0) return onePicture();
    names.push_back(kSpannedFileName);
    SpannedRows rows(picture, layout);
    made = WriteBitmap(files, folder + kSpannedFileName, canvas.width, canvas.height,
                       [&](int y, std::uint8_t* out) { rows.Row(y, out); }) &&
           desktop.SetSpannedWallpaper(folder + kSpannedFileName);
  } else {
    // Any client of the display may add monitors: their pictures together stay within
    // twice the largest picture (sixteen 4K monitors, or four 8K), or the one wp.bmp stays.
    std::int64_t pixels = 0;
    for (const platform::Monitor& m : layout) pixels += std::int64_t{m.width} * m.height;
    if (pixels > 2 * platform::kMaxPicturePixels) return onePicture();
    std::vector<platform::Desktop::MonitorBitmap> bitmaps;
    for (const platform::Monitor& m : layout) {
      const std::string own = MonitorFileName(m.name);
      std::string name = own;
      // Two outputs whose names read alike still get a file each; the number goes after
      // the cut, or two long names that differ past it would never part.
      for (int n = 2; std::find_if(names.begin(), names.end(), [&](const std::string& s) { return Lower(s) == Lower(name); }) != names.end(); ++n) {
        name = own.substr(0, own.size() - 4) + "-" + std::to_string(n) + ".bmp";
      }
      names.push_back(name);
      const bool ownSize = m.width == picture.width && m.height == picture.height &&
                           picture.stride == -static_cast<std::ptrdiff_t>(DibRowBytes(picture.width));
      if (made && ownSize) {
        made = WriteBitmap(files, folder + name, picture);
      } else if (made) {
        FittedRows rows(picture, m.width, m.height);
        made = WriteBitmap(files, folder + name, m.width, m.height, [&](int y, std::uint8_t* out) { rows.Row(y, out); });
      }
      bitmaps.push_back({m, folder + name});
    }
    made = made && desktop.SetMonitorWallpapers(bitmaps);
  }
  if (!made) return lastShown = Shown::kFailed;
  RemoveMonitorBitmaps(files, wallpaperBitmap, names);
  return lastShown = Shown::kEachMonitor;
}

Shown ShowOnMonitors(const std::string& wallpaperBitmap, const ConstPixels* image) {
  platform::Services& services = platform::Current();
  return ShowOnMonitors(wallpaperBitmap, image, *services.desktop, services.monitorLayout(), *services.files);
}

const std::string& LastBitmap() { return lastBitmap; }
Shown LastShown() { return lastShown; }

}  // namespace screens
