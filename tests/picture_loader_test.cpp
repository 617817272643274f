// The picture loader of whichever backend this binary was built for: what a known
// JPEG turns into, and that every kind of bad file is refused with the right error
// instead of a crash.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "data/quadrants_jpeg.h"
#include "platform/gdi.h"
#include "platform/picture.h"
#include "runtime/runtime_error.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <turbojpeg.h>
#include <unistd.h>

#endif

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;


}  // namespace


namespace {

class TempFolder {
 public:
  TempFolder() {
    path_ = fs::temp_directory_path() / ("zorvani-picture-" + std::to_string(std::rand()) + "-" +
                                         std::to_string(reinterpret_cast<std::uintptr_t>(this)));
    fs::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  std::string Write(const std::string& name, const Bytes& bytes) const {
    const fs::path file = path_ / name;
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
    return file.string();
  }
  std::string Path(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

Bytes Quadrants() { return Bytes(std::begin(zorvani_test::kQuadrantsJpeg), std::end(zorvani_test::kQuadrantsJpeg)); }

std::int32_t LoadError(const std::string& file) {
  try {
    platform::SystemPictureLoader().LoadPicture(file);
  } catch (const zorvani::RuntimeError& error) {
    return error.number();
  }
  return 0;
}

// 24-bit bottom-up rows, as the image class holds them.
struct Pixels {
  std::int32_t width = 0;
  std::int32_t height = 0;
  Bytes bits;
  std::int32_t Stride() const { return (width * 3 + 3) & ~3; }
  std::array<int, 3> Rgb(int x, int y) const {
    const std::size_t at = static_cast<std::size_t>((height - 1 - y) * Stride() + 3 * x);
    return {bits[at + 2], bits[at + 1], bits[at]};
  }
};

#ifdef _WIN32
// The OLE bitmap's pixels as 24-bit bottom-up rows, straight from GDI.
bool ReadBack(const platform::Picture& picture, Pixels* pixels) {
  pixels->width = picture.Width();
  pixels->height = picture.Height();
  pixels->bits.resize(static_cast<std::size_t>(pixels->Stride() * pixels->height));
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), pixels->width, pixels->height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  const HDC screen = GetDC(nullptr);
  const int lines = GetDIBits(screen, reinterpret_cast<HBITMAP>(picture.BitmapHandle()), 0,
                              static_cast<UINT>(pixels->height), pixels->bits.data(), &info, DIB_RGB_COLORS);
  ReleaseDC(nullptr, screen);
  return lines == pixels->height;
}
#else
// Copies the picture the way the image class does: its bitmap selected into a memory
// context and block-transferred into a 24-bit DIB section.
bool ReadBack(const platform::Picture& picture, Pixels* pixels) {
  platform::Gdi& gdi = platform::SystemGdi();
  pixels->width = picture.Width();
  pixels->height = picture.Height();
  const platform::Handle target = gdi.CreateCompatibleDC(0);
  const platform::Handle source = gdi.CreateCompatibleDC(0);
  bool copied = false;
  if (target != 0 && source != 0) {
    std::uint32_t info[11] = {40, static_cast<std::uint32_t>(pixels->width),
                              static_cast<std::uint32_t>(pixels->height), 1u | (24u << 16)};
    void* bits = nullptr;
    const platform::Handle dib = gdi.CreateDIBSection(target, info, 0, &bits);
    if (dib != 0 && bits != nullptr) {
      const platform::Handle oldTarget = gdi.SelectObject(target, dib);
      const platform::Handle oldSource = gdi.SelectObject(source, picture.BitmapHandle());
      copied = gdi.BitBlt(target, 0, 0, pixels->width, pixels->height, source, 0, 0, platform::kSrcCopy);
      const auto* first = static_cast<const std::uint8_t*>(bits);
      pixels->bits.assign(first, first + pixels->Stride() * pixels->height);
      gdi.SelectObject(source, oldSource);
      gdi.SelectObject(target, oldTarget);
      gdi.DeleteObject(dib);
    }
  }
  if (source != 0) gdi.DeleteDC(source);
  if (target != 0) gdi.DeleteDC(target);
  return copied;
}
#endif

void ExpectNear(const std::array<int, 3>& actual, const std::array<int, 3>& expected, const char* where) {
  for (int c = 0; c < 3; ++c) {
    EXPECT_NEAR(actual[c], expected[c], 6) << where << " channel " << "RGB"[c];
  }
}

TEST(PictureLoader, DecodesIntoBottomUpBgrRowsAtThePictureSize) {
  TempFolder folder;
  const auto picture = platform::SystemPictureLoader().LoadPicture(folder.Write("5.jpg", Quadrants()));
  ASSERT_NE(picture->BitmapHandle(), 0u);
  EXPECT_EQ(picture->Width(), zorvani_test::kQuadrantsWidth);
  EXPECT_EQ(picture->Height(), zorvani_test::kQuadrantsHeight);

  Pixels pixels;
  if (!ReadBack(*picture, &pixels)) GTEST_SKIP() << "no GDI to read the bitmap back with";
  ExpectNear(pixels.Rgb(6, 4), {220, 40, 40}, "top left");
  ExpectNear(pixels.Rgb(38, 4), {40, 180, 60}, "top right");
  ExpectNear(pixels.Rgb(6, 26), {40, 60, 200}, "bottom left");
  ExpectNear(pixels.Rgb(44, 29), {240, 200, 40}, "bottom right corner");
  ExpectNear(pixels.Rgb(23, 15), {220, 40, 40}, "last red pixel");
  ExpectNear(pixels.Rgb(24, 16), {240, 200, 40}, "first yellow pixel");
}

TEST(PictureLoader, MissingFilesAre53AndFoldersAre75) {
  TempFolder folder;
  EXPECT_EQ(LoadError(folder.Path("13.jpg")), zorvani::kErrFileNotFound);
  EXPECT_EQ(LoadError(folder.Path("Zorvani2005") + "/1.jpg"), zorvani::kErrFileNotFound);
  EXPECT_EQ(LoadError(""), zorvani::kErrFileNotFound);
  fs::create_directories(folder.Path("7.jpg"));
  EXPECT_EQ(LoadError(folder.Path("7.jpg")), zorvani::kErrFileAccess);
}

TEST(PictureLoader, EmptyForeignAndHeaderlessFilesAre481) {
  TempFolder folder;
  const Bytes jpeg = Quadrants();
  const std::map<std::string, Bytes> files = {
      {"empty", {}},
      {"text", Bytes{'n', 'o', ' ', 'p', 'i', 'c', 't', 'u', 'r', 'e'}},
      {"start marker only", Bytes{0xFF, 0xD8}},
      {"cut inside the headers", Bytes(jpeg.begin(), jpeg.begin() + 20)},
      {"png signature", Bytes{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 0}},
  };
  for (const auto& [name, bytes] : files) {
    EXPECT_EQ(LoadError(folder.Write("bad.jpg", bytes)), zorvani::kErrInvalidPicture) << name;
  }
}

TEST(PictureLoader, DamagedFilesLoadOrFailCleanly) {
  TempFolder folder;
  const Bytes jpeg = Quadrants();
  std::uint32_t seed = 12345;
  for (int round = 0; round < 60; ++round) {
    Bytes damaged = jpeg;
    if (round % 2 == 0) {
      damaged.resize(jpeg.size() * static_cast<std::size_t>(round) / 60);
    } else {
      for (int flips = 0; flips < 4; ++flips) {
        seed = seed * 1103515245u + 12345u;
        damaged[(seed >> 8) % damaged.size()] ^= static_cast<std::uint8_t>(seed >> 24 | 1);
      }
    }
    const std::string file = folder.Write("damaged.jpg", damaged);
    try {
      const auto picture = platform::SystemPictureLoader().LoadPicture(file);
      EXPECT_GT(picture->Width(), 0) << "round " << round;
      EXPECT_GT(picture->Height(), 0) << "round " << round;
      Pixels pixels;
      ReadBack(*picture, &pixels);
    } catch (const zorvani::RuntimeError& error) {
      EXPECT_EQ(error.number(), zorvani::kErrInvalidPicture) << "round " << round;
    }
  }
}

#ifndef _WIN32
// Pictures that TurboJPEG makes on the spot: colour models and sizes.
Bytes Compress(const Bytes& pixels, int width, int height, int format, int subsampling) {
  tjhandle encoder = tjInitCompress();
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  const int result = tjCompress2(encoder, pixels.data(), width, 0, height, format, &jpeg, &size, subsampling, 90, 0);
  Bytes bytes;
  if (result == 0) bytes.assign(jpeg, jpeg + size);
  tjFree(jpeg);
  tjDestroy(encoder);
  return bytes;
}

TEST(PictureLoaderPosix, GreyscaleBecomesGreyBgrAndCmykIsRefused) {
  TempFolder folder;
  const Bytes grey(16 * 8, 0x50);
  const auto picture = platform::SystemPictureLoader().LoadPicture(
      folder.Write("grey.jpg", Compress(grey, 16, 8, TJPF_GRAY, TJSAMP_GRAY)));
  Pixels pixels;
  ASSERT_TRUE(ReadBack(*picture, &pixels));
  ExpectNear(pixels.Rgb(15, 7), {0x50, 0x50, 0x50}, "grey pixel");

  const Bytes cmyk(16 * 8 * 4, 0x40);
  EXPECT_EQ(LoadError(folder.Write("cmyk.jpg", Compress(cmyk, 16, 8, TJPF_CMYK, TJSAMP_444))),
            zorvani::kErrInvalidPicture);
}

TEST(PictureLoaderPosix, SizeLimitsFollowWhatADibCanDescribe) {
  TempFolder folder;
  // 32768 lines still load: the frame drawing refuses them later, by design.
  const auto tall = platform::SystemPictureLoader().LoadPicture(
      folder.Write("tall.jpg", Compress(Bytes(8 * 32768, 0x80), 8, 32768, TJPF_GRAY, TJSAMP_GRAY)));
  EXPECT_EQ(tall->Height(), 32768);

  // A header that claims 65500 x 65500 needs 12 GB of rows: refused before any allocation.
  Bytes huge = Quadrants();
  for (std::size_t i = 0; i + 8 < huge.size(); ++i) {
    if (huge[i] == 0xFF && huge[i + 1] == 0xC0) {  // SOF0: length, precision, height, width
      huge[i + 5] = 0xFF, huge[i + 6] = 0xDC, huge[i + 7] = 0xFF, huge[i + 8] = 0xDC;
      break;
    }
  }
  EXPECT_EQ(LoadError(folder.Write("huge.jpg", huge)), zorvani::kErrInvalidPicture);
}

TEST(PictureLoaderPosix, CutOffScanLoadsWithTheMissingPartGrey) {
  TempFolder folder;
  Bytes jpeg = Quadrants();
  jpeg.resize(jpeg.size() - 20);  // inside the scan data
  const auto picture = platform::SystemPictureLoader().LoadPicture(folder.Write("cut.jpg", jpeg));
  EXPECT_EQ(picture->Width(), zorvani_test::kQuadrantsWidth);
  Pixels pixels;
  ASSERT_TRUE(ReadBack(*picture, &pixels));
  ExpectNear(pixels.Rgb(6, 4), {220, 40, 40}, "decoded part");
}

TEST(PictureLoaderPosix, UnreadableFileIs75) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
  TempFolder folder;
  const std::string file = folder.Write("locked.jpg", Quadrants());
  fs::permissions(file, fs::perms::none);
  EXPECT_EQ(LoadError(file), zorvani::kErrFileAccess);
}
#endif

}  // namespace
