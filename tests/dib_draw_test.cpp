// Frame drawing in the pixel memory: the worked pictures byte for byte, the places
// where drawing stops, the fraction scaling, and the noise fill.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "dib_support.h"
#include "runtime/runtime_error.h"

namespace dibtest {
namespace {

using zorvani::cDIBSection;

// The memory a picture should hold: 'F' marks a pixel of blue 1, green 128, red
// 255; every other byte, padding included, is 0. Lines are given top first.
Bytes Picture(const std::vector<std::string>& lines) {
  const int w = static_cast<int>(lines[0].size()), h = static_cast<int>(lines.size());
  const int stride = (3 * w + 3) & ~3;
  Bytes bytes(static_cast<std::size_t>(stride * h), 0);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      if (lines[y][x] != 'F') continue;
      std::uint8_t* p = bytes.data() + (h - 1 - y) * stride + 3 * x;
      p[0] = 1, p[1] = 128, p[2] = 255;
    }
  }
  return bytes;
}

class DrawTest : public DibTest {
 protected:
  cDIBSection dib{gdi, files};
  void Blank(int w, int h) {
    ASSERT_EQ(dib.Create(w, h), zorvani::kTrue);
    std::memset(dib.DIBSectionBitsPtr(), 0, dib.BitmapInfo().biSizeImage);
  }
  void Frame(int l, int t, int w, int h, int thick, int r = 255, int g = 128, int b = 1) {
    auto s = [](int v) { return static_cast<std::int16_t>(v); };
    dib.drawRect(s(l), s(t), s(w), s(h), s(thick), s(r), s(g), s(b));
  }
  std::uint8_t Byte(int storedRow, int index) { return dib.DIBSectionBitsPtr()[storedRow * dib.BytesPerScanLine() + index]; }
};

TEST_F(DrawTest, WorkedPicturesMatchByteForByteIncludingPadding) {
  Blank(5, 5);
  Frame(1, 1, 3, 3, 1);
  const Bytes five = Picture({"-FFFF", "-F--F", "-F--F", "-FFFF", "-----"});
  EXPECT_EQ(Memory(dib), five);
  Frame(1, 1, 3, 3, 1);  // drawing again changes nothing
  EXPECT_EQ(Memory(dib), five);

  Blank(6, 6);
  Frame(0, 1, 5, 4, 2);
  EXPECT_EQ(Memory(dib), Picture({"FFFFFF", "FFFFFF", "FF--FF", "FFFFFF", "FFFFFF", "------"}));

  // The right band runs into the row padding and stops at the row's end.
  Blank(5, 5);
  Frame(2, 1, 3, 1, 1);
  Bytes expected = Picture({"--FFF", "--FFF", "-----", "-----", "-----"});
  expected[4 * 16 + 15] = 1;
  EXPECT_EQ(Memory(dib), expected);

  Blank(5, 5);
  Frame(1, 5, 3, 0, 1);  // top = H with height 0: the bottom line, columns left to left + width
  EXPECT_EQ(Memory(dib), Picture({"-----", "-----", "-----", "-----", "-FFFF"}));
}

TEST_F(DrawTest, DrawingStopsSilentlyAtTheFirstFailure) {
  const Bytes blank = Picture({"-----", "-----", "-----", "-----", "-----"});
  struct Case { int l, t, w, h, thick, r, g, b; int row, bytes; };
  // row/bytes: the stored row whose first bytes from column 1 on are written, and how many.
  for (const Case c : {Case{1, 0, 3, 3, 1, 255, 128, 1, 0, 0},      // top 0: stored row H
                       Case{1, 6, 3, 3, 1, 255, 128, 1, 0, 0},      // top beyond H
                       Case{1, 1, 3, 3, 0, 255, 128, 1, 0, 0},      // no thickness
                       Case{0, 1, 10924, 3, 1, 255, 128, 1, 0, 0},  // 3 x (left + width - 1) overflows
                       Case{1, 1, 3, 3, 1, 255, 128, 256, 0, 0},    // blue out of range
                       Case{1, 3, 3, 3, 1, 255, 128, 1, 2, 3},      // the bottom band's row is -1
                       Case{1, 1, 3, 3, 1, 256, 128, 1, 4, 2},      // red 256: blue and green only
                       Case{1, 1, 3, 3, 1, 255, -1, 1, 4, 1}}) {    // green -1: blue only
    Blank(5, 5);
    Frame(c.l, c.t, c.w, c.h, c.thick, c.r, c.g, c.b);
    Bytes expected = blank;
    const std::uint8_t first[3] = {1, 128, 255};
    for (int i = 0; i < c.bytes; ++i) expected[c.row * 16 + 3 + i] = first[i];
    EXPECT_EQ(Memory(dib), expected) << c.l << "," << c.t << "," << c.w << "," << c.h << " rgb " << c.r << "," << c.g << "," << c.b;
  }

  // The right band's distance 3 x 10923 overflows once the horizontal bands are done.
  Blank(10924, 2);
  Frame(0, 1, 10923, 0, 1);
  const int lastColumn = 3 * 10923;
  EXPECT_EQ(Byte(1, 0), 1);
  EXPECT_EQ(Byte(1, lastColumn - 1), 255);
  EXPECT_EQ(Byte(1, lastColumn), 0);
  for (int i = 0; i < dib.BytesPerScanLine(); ++i) ASSERT_EQ(Byte(0, i), 0) << i;
}

TEST_F(DrawTest, FractionsAreRoundedHalfToEvenBeforeDrawing) {
  cDIBSection reference(gdi, files);
  ASSERT_EQ(reference.Create(512, 384), zorvani::kTrue);
  struct Case { double tickness; std::int16_t pixels; };
  for (const Case c : {Case{0.0029296875, 2}, Case{0.0048828125, 2}, Case{0.0068359375, 4}}) {
    Blank(512, 384);
    std::memset(reference.DIBSectionBitsPtr(), 0, reference.BitmapInfo().biSizeImage);
    dib.drawRectPerc(0.5, 0.25, 0.0625, 0.125, c.tickness, 255, 128, 1);
    reference.drawRect(256, 96, 32, 48, c.pixels, 255, 128, 1);
    EXPECT_EQ(Memory(dib), Memory(reference)) << c.tickness;
  }

  // Failures of the scaling are errors, raised before a single byte changes.
  auto errorOf = [&](double top) {
    const Bytes before = Memory(dib);
    try {
      dib.drawRectPerc(0.0, top, 0.5, 0.5, 0.1, 255, 255, 255);
    } catch (const zorvani::RuntimeError& e) {
      EXPECT_EQ(Memory(dib), before);
      return e.number();
    }
    return 0;
  };
  Blank(4, 32768);
  EXPECT_EQ(errorOf(0.0), zorvani::kErrOverflow);
  Blank(4, 4);
  EXPECT_NE(errorOf(std::numeric_limits<double>::quiet_NaN()), 0);
  EXPECT_EQ(errorOf(10000.0), zorvani::kErrOverflow);
}

TEST_F(DrawTest, NoiseKeepsGreyTriplesZeroBlueAndPadding) {
  for (const zorvani::Boolean grey : {zorvani::Boolean{-1}, zorvani::Boolean{0}}) {
    ASSERT_EQ(dib.Create(5, 7), zorvani::kTrue);
    std::memset(dib.DIBSectionBitsPtr(), 0xAB, dib.BitmapInfo().biSizeImage);
    dib.RandomiseBits(grey);
    int distinct = 0;
    for (int y = 0; y < 7; ++y) {
      const std::uint8_t* p = At(dib, 0, y);
      EXPECT_EQ(p[15], 0xAB) << "padding of line " << y;
      for (int x = 0; x < 5; ++x, p += 3) {
        if (grey != 0) {
          EXPECT_TRUE(p[0] == p[1] && p[1] == p[2]);
        } else {
          EXPECT_EQ(p[0], 0);
        }
        distinct += p[1] != 0xAB;
      }
    }
    EXPECT_GT(distinct, 30);
  }
  dib.ClearUp();
  dib.RandomiseBits();  // no pixel memory: nothing to fill
}

}  // namespace
}  // namespace dibtest
