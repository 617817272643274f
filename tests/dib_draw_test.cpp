// Frame drawing in the pixel memory: the worked pictures byte for byte, where drawing
// stops, the rounding of fractions, and the noise fill.
#include <set>

#include "dib_support.h"

namespace dibtest {
namespace {

// A new DIB section starts zero-filled, so every test draws on black.

// The memory a picture should hold, lines given top first: 'F' is blue 1, green 128,
// red 255; every other byte, padding included, is 0.
Bytes Picture(const std::vector<std::string>& lines) {
  const int w = static_cast<int>(lines[0].size()), h = static_cast<int>(lines.size()), stride = (3 * w + 3) & ~3;
  Bytes bytes(static_cast<std::size_t>(stride * h), 0);
  for (int i = 0; i < w * h; ++i) {
    if (lines[i / w][i % w] == 'F') std::memcpy(&bytes[(h - 1 - i / w) * stride + 3 * (i % w)], "\x01\x80\xFF", 3);
  }
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

TEST(DrawTest, NoiseIsGreyOrHasNoBlueAndKeepsPadding) {
  zorvani::cDIBSection dib;
  for (const zorvani::Boolean grey : {kTrue, kFalse}) {
    ASSERT_EQ(dib.Create(5, 7), kTrue);
    std::memset(dib.DIBSectionBitsPtr(), 0xAB, dib.BitmapInfo().biSizeImage);
    dib.RandomiseBits(grey);
    std::set<int> greens;
    for (const std::uint8_t* row = dib.DIBSectionBitsPtr(); row < dib.DIBSectionBitsPtr() + 7 * 16; row += 16) {
      EXPECT_EQ(row[15], 0xAB);
      for (const std::uint8_t* p = row; p < row + 15; p += 3) {
        EXPECT_TRUE(grey != 0 ? p[0] == p[1] && p[1] == p[2] : p[0] == 0) << "grey " << grey;
        greens.insert(p[1]);
      }
    }
    EXPECT_GT(greens.size(), 20u);
  }
}

}  // namespace
}  // namespace dibtest
