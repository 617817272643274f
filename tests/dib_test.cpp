// The image class cDIBSection: frame drawing byte for byte (where it stops, the rounding of
// fractions), its handles, and the bitmap file (its bytes, the old file kept unless a write
// completes, the error).
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "dib/cDIBSection.h"
#include "common/files.h"
#include "fakes/faulty_files.h"
#include "runtime/runtime_error.h"

namespace dibtest {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using platform::Handle;
using zorvani::kFalse;
using zorvani::kTrue;

Bytes Memory(const zorvani::cDIBSection& dib) {
  const std::uint8_t* p = dib.DIBSectionBitsPtr();
  return Bytes(p, p + dib.BitmapInfo().biSizeImage);
}

// The linked GDI, tracking the DCs, bitmaps and DrawDib handles it hands out until given back.
class CountingGdi : public platform::Gdi {
 public:
  int Live() const { return static_cast<int>(live_.size()); }

  Handle CreateCompatibleDC(Handle dc) override { return Track(real_.CreateCompatibleDC(dc)); }
  Handle CreateDIBSection(Handle dc, const void* info, std::uint32_t usage, void** bits) override {
    return Track(real_.CreateDIBSection(dc, info, usage, bits));
  }
  Handle SelectObject(Handle dc, Handle object) override { return real_.SelectObject(dc, object); }
  bool DeleteObject(Handle object) override { return real_.DeleteObject(object) && Forget(object); }
  bool DeleteDC(Handle dc) override { return real_.DeleteDC(dc) && Forget(dc); }
  Handle GetDesktopWindow() override { return real_.GetDesktopWindow(); }
  Handle GetDC(Handle window) override { return Track(real_.GetDC(window)); }
  int ReleaseDC(Handle window, Handle dc) override { return real_.ReleaseDC(window, dc) != 0 && Forget(dc); }
  int GetObjectA(Handle bitmap, platform::BitmapRecord* record) override { return real_.GetObjectA(bitmap, record); }
  bool BitBlt(Handle dst, int x, int y, int w, int h, Handle src, int sx, int sy, std::uint32_t rop) override {
    return real_.BitBlt(dst, x, y, w, h, src, sx, sy, rop);
  }
  Handle DrawDibOpen() override { return Track(real_.DrawDibOpen()); }
  bool DrawDibDraw(Handle dd, Handle dc, int x, int y, int w, int h, const void* info, const void* bits, int sx,
                   int sy, int sw, int sh, std::uint32_t flags) override {
    return real_.DrawDibDraw(dd, dc, x, y, w, h, info, bits, sx, sy, sw, sh, flags);
  }
  bool DrawDibClose(Handle dd) override { return real_.DrawDibClose(dd) && Forget(dd); }

 private:
  Handle Track(Handle h) { return h != 0 ? *live_.insert(h).first : h; }
  bool Forget(Handle h) { return live_.erase(h) == 1; }  // false for a handle not handed out or already given back
  platform::Gdi& real_ = platform::SystemGdi();
  std::set<Handle> live_;
};

// The memory a picture should hold, lines given top first: 'F' is blue 1, green 128, red
// 255; every other byte, padding included, is 0 (a new DIB section starts zero-filled).
Bytes Picture(const std::vector<std::string>& lines) {
  const int w = static_cast<int>(lines[0].size()), h = static_cast<int>(lines.size()), stride = (3 * w + 3) & ~3;
  Bytes bytes(static_cast<std::size_t>(stride * h), 0);
  for (int i = 0; i < w * h; ++i)
    if (lines[i / w][i % w] == 'F') std::memcpy(&bytes[(h - 1 - i / w) * stride + 3 * (i % w)], "\x01\x80\xFF", 3);
  return bytes;
}

TEST(DrawTest, WorkedPicturesMatchByteForByteIncludingPadding) {
  zorvani::cDIBSection dib;
  ASSERT_EQ(dib.Create(5, 5), kTrue);
  dib.drawRect(1, 1, 3, 3, 1, 255, 128, 1);
  EXPECT_EQ(Memory(dib), Picture({"-FFFF", "-F--F", "-F--F", "-FFFF", "-----"}));
  ASSERT_EQ(dib.Create(6, 6), kTrue);
  dib.drawRect(0, 1, 5, 4, 2, 255, 128, 1);
  EXPECT_EQ(Memory(dib), Picture({"FFFFFF", "FFFFFF", "FF--FF", "FFFFFF", "FFFFFF", "------"}));
  // The right band runs into the row padding (byte 15 of stored row 3) and stops at the
  // row's end, not in the first byte of the row above.
  ASSERT_EQ(dib.Create(5, 5), kTrue);
  dib.drawRect(2, 2, 3, 1, 1, 255, 128, 1);
  Bytes expected = Picture({"-----", "--FFF", "--FFF", "-----", "-----"});
  expected[3 * 16 + 15] = 1;
  EXPECT_EQ(Memory(dib), expected);
}

TEST(DrawTest, DrawingStopsSilentlyAtTheFirstFailure) {
  zorvani::cDIBSection dib;
  // row, bytes: the stored row whose bytes from column 1 on are written before the stop, and how many.
  struct Case { std::int16_t l, t, w, h, red, blue; int row, bytes; };
  for (const Case c : {Case{1, 0, 3, 3, 255, 1, 0, 0},       // top 0 is stored row H
                       Case{1, 1, 3, 3, 255, 256, 0, 0},     // blue 256
                       Case{1, 3, 3, 3, 255, 1, 2, 3},       // the bottom band's row is -1
                       Case{1, 1, 3, 3, 256, 1, 4, 2},       // red 256: blue and green only
                       Case{1, 1, 3, 3, -1, 1, 4, 2}}) {     // red -1: no wrapped byte
    ASSERT_EQ(dib.Create(5, 5), kTrue);
    dib.drawRect(c.l, c.t, c.w, c.h, 1, c.red, 128, c.blue);
    Bytes expected(80, 0);
    std::memcpy(&expected[static_cast<std::size_t>(c.row * 16 + 3)], "\x01\x80\xFF", static_cast<std::size_t>(c.bytes));
    EXPECT_EQ(Memory(dib), expected) << "top " << c.t << " width " << c.w << " red " << c.red << " blue " << c.blue;
  }
  // The right band's distance 3 x 10923 overflows once the horizontal bands are done.
  ASSERT_EQ(dib.Create(10924, 2), kTrue);
  dib.drawRect(0, 1, 10923, 0, 1, 255, 128, 1);
  EXPECT_EQ(Memory(dib), Picture({std::string(10923, 'F') + "-", std::string(10924, '-')}));
}

TEST(DrawTest, FractionsRoundHalfToEvenAndFailBeforeDrawing) {
  zorvani::cDIBSection dib;
  struct Case { double tickness; std::int16_t pixels; };
  for (const Case c : {Case{0.0029296875, 2}, Case{0.0048828125, 2}, Case{0.0068359375, 4}}) {
    ASSERT_EQ(dib.Create(512, 384), kTrue);
    dib.drawRect(256, 96, 32, 48, c.pixels, 255, 128, 1);
    const Bytes expected = Memory(dib);
    ASSERT_EQ(dib.Create(512, 384), kTrue);
    dib.drawRectPerc(0.5, 0.25, 0.0625, 0.125, c.tickness, 255, 128, 1);
    EXPECT_EQ(Memory(dib), expected) << c.tickness;
  }
  // left is converted last; its overflow must still come before any byte is drawn.
  ASSERT_EQ(dib.Create(4, 4), kTrue);
  EXPECT_THROW(dib.drawRectPerc(10000.0, 0.25, 0.5, 0.5, 0.25, 255, 128, 1), zorvani::RuntimeError);
  EXPECT_EQ(Memory(dib), Bytes(48, 0));
}

// A picture around a bare DIB section, selected into no context, as a loader gives it.
struct BarePicture : platform::Picture {
  Handle bitmap = 0;
  Handle BitmapHandle() const override { return bitmap; }
  std::int32_t Width() const override { return 7; }
  std::int32_t Height() const override { return 3; }
};

TEST(DibObjectTest, HandlesLiveFromCreateToClearUpOrTermination) {
  CountingGdi gdi;
  zorvani::tBitmapInfo info{};
  info.biSize = 40, info.biWidth = 7, info.biHeight = 3, info.biPlanes = 1, info.biBitCount = 24;
  void* bits = nullptr;
  BarePicture picture;
  picture.bitmap = gdi.CreateDIBSection(0, &info, 0, &bits);
  ASSERT_NE(bits, nullptr);
  Bytes pixels(72, 0);
  for (std::size_t i = 0; i < 72; ++i) pixels[i] = i % 24 < 21 ? static_cast<std::uint8_t>(i * 7 + 1) : 0;
  std::memcpy(bits, pixels.data(), 72);
  {
    zorvani::cDIBSection dib(gdi, platform::SystemFiles());
    dib.CreateFromPicture(picture);
    EXPECT_EQ(Memory(dib), pixels);
    dib.UseDrawDib(kTrue);
    EXPECT_EQ(gdi.Live(), 4);  // the picture, the DIB, its DC and DrawDib: the temporary and screen DCs went back
    EXPECT_EQ(dib.Create(0, 7), kFalse);  // no DIB section has width 0
    EXPECT_EQ(gdi.Live(), 1);
    EXPECT_TRUE(dib.hdc() == 0 && dib.hDib() == 0 && dib.DIBSectionBitsPtr() == nullptr);
    EXPECT_EQ(dib.height(), 7);
    ASSERT_TRUE(dib.Create(5, 2) == kTrue && dib.Create(4, 3) == kTrue);  // the second replaces the first
    EXPECT_EQ(gdi.Live(), 3);
    dib.ClearUp();
    EXPECT_EQ(gdi.Live(), 1);
    ASSERT_EQ(dib.Create(2, 2), kTrue);
    dib.UseDrawDib(kTrue);
  }
  gdi.DeleteObject(picture.bitmap);
  EXPECT_EQ(gdi.Live(), 0);
}

class WriterTest : public ::testing::Test {
 protected:
  testing_files::TempFolder dir;
  fs::path target = dir / "wp.bmp";
  fakes::FaultyFiles files;
  zorvani::cDIBSection dib{platform::SystemGdi(), files};
};

TEST_F(WriterTest, FileIsHeaderInfoAndPixelRowsReplacingTheOldFile) {
  std::ofstream(target) << std::string(2000000, 'Z');  // longer than any file written here
  // For 5 x 2: file header, info record (rows of 16 bytes, 32 in all), zero resolution, colour counts and entry.
  Bytes header = {'B', 'M', 90, 0, 0, 0, 0, 0, 0, 0, 58, 0, 0, 0, 40, 0, 0, 0, 5, 0, 0, 0, 2, 0, 0, 0, 1, 0, 24, 0,
                  0, 0, 0, 0, 32, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  struct Case { std::int32_t w, h; std::size_t size; };
  for (const Case c : {Case{1, 1, 62}, Case{5, 2, 90}, Case{800, 600, 1440058}}) {
    ASSERT_EQ(dib.Create(c.w, c.h), kTrue);
    dib.RandomiseBits();
    ASSERT_EQ(dib.SavePicture(target.string()), kTrue);
    const std::string read = testing_files::ReadFile(target);
    const Bytes file(read.begin(), read.end());
    ASSERT_EQ(file.size(), c.size);
    EXPECT_TRUE(Bytes(file.begin() + 58, file.end()) == Memory(dib)) << c.w << "x" << c.h;
    // The 5 x 2 header with this picture's sizes: no field may be cut short for a large picture.
    const std::pair<int, std::size_t> fields[] = {
        {2, c.size}, {18, static_cast<std::size_t>(c.w)}, {22, static_cast<std::size_t>(c.h)}, {34, c.size - 58}};
    Bytes expected = header;
    for (const auto& [at, value] : fields)
      for (int i = 0; i < 4; ++i) expected[at + i] = static_cast<std::uint8_t>(value >> 8 * i);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 58), expected) << c.w << "x" << c.h;
  }
}

// A write that fails or stops short keeps the old file; a file that cannot be opened is
// run-time error 17 with the system's text.
TEST_F(WriterTest, FailedWriteKeepsTheOldFileAndUnopenableRaisesSeventeen) {
  ASSERT_EQ(dib.Create(5, 2), kTrue);
  for (const int failing : {1, 2, 3, -1, -2, -3}) {  // negative: that write reports success one byte short
    std::ofstream(target) << "old";
    files.failingWrite = failing < 0 ? -failing : failing, files.shortWrite = failing < 0, files.writes = 0;
    EXPECT_EQ(dib.SavePicture(target.string()), kFalse) << failing;
    EXPECT_EQ(testing_files::ReadFile(target), "old") << failing;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 1) << failing;
  }
#ifdef _WIN32
  const std::string notFound = "Path not found.\r\n";
#else
  const std::string notFound = std::strerror(ENOENT);
#endif
  zorvani::cDIBSection plain;  // the system's own error, not an injected one
  ASSERT_EQ(plain.Create(2, 2), kTrue);
  try {
    plain.SavePicture((dir / "no such folder" / "wp.bmp").string());
    ADD_FAILURE() << "no error";
  } catch (const zorvani::RuntimeError& e) {
    EXPECT_EQ(std::to_string(e.number()) + " " + e.source() + ": " + e.description(), "17 zorvani_tests.cDIBSection: " + notFound);
  }
}

}  // namespace
}  // namespace dibtest
