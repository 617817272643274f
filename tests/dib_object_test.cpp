// The object's lifecycle: sizes and the info record, failed creations, handle
// ownership, DrawDib state, and transfers between contexts.
#include <gtest/gtest.h>

#include <cstring>

#include "dib_support.h"
#include "runtime/runtime_error.h"

namespace dibtest {
namespace {

using zorvani::cDIBSection;
using zorvani::kFalse;
using zorvani::kTrue;

std::int32_t ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const zorvani::RuntimeError& e) {
    return e.number();
  }
  return 0;
}

TEST_F(DibTest, SizesAndInfoRecordFollowTheLastCreate) {
  cDIBSection dib(gdi, files);
  const zorvani::tBitmapInfo zero{};
  EXPECT_EQ(std::memcmp(&dib.BitmapInfo(), &zero, 44), 0);
  EXPECT_EQ(dib.UseDrawDib(), kFalse);
  EXPECT_EQ(dib.BytesPerScanLine(), 0);
  EXPECT_EQ(dib.hdc() | dib.hDib(), 0u);
  EXPECT_EQ(dib.DIBSectionBitsPtr(), nullptr);

  struct Case { std::int32_t w, h, stride, size; };
  for (const Case c : {Case{1, 1, 4, 4}, Case{2, 1, 8, 8}, Case{4, 3, 12, 36}, Case{5, 2, 16, 32},
                       Case{800, 600, 2400, 1440000}}) {
    ASSERT_EQ(dib.Create(c.w, c.h), kTrue);
    EXPECT_EQ(dib.BytesPerScanLine(), c.stride);
    EXPECT_NE(dib.hdc(), 0u);
    EXPECT_NE(dib.hDib(), 0u);
    ASSERT_NE(dib.DIBSectionBitsPtr(), nullptr);
    dib.DIBSectionBitsPtr()[c.size - 1] = 7;  // the whole image is addressable
    const std::uint8_t expected[44] = {
        40, 0, 0, 0,
        static_cast<std::uint8_t>(c.w), static_cast<std::uint8_t>(c.w >> 8), 0, 0,
        static_cast<std::uint8_t>(c.h), static_cast<std::uint8_t>(c.h >> 8), 0, 0,
        1, 0, 24, 0, 0, 0, 0, 0,
        static_cast<std::uint8_t>(c.size), static_cast<std::uint8_t>(c.size >> 8),
        static_cast<std::uint8_t>(c.size >> 16), 0};
    EXPECT_EQ(std::memcmp(&dib.BitmapInfo(), expected, 44), 0) << c.w << "x" << c.h;
    EXPECT_EQ(gdi.Live(), 2);  // the old DIB and DC went before the new ones came
  }
  dib.ClearUp();
  EXPECT_EQ(gdi.Live(), 0);
  EXPECT_EQ(dib.hdc() | dib.hDib(), 0u);
  EXPECT_EQ(dib.DIBSectionBitsPtr(), nullptr);
  EXPECT_EQ(dib.width(), 800);
  EXPECT_EQ(dib.height(), 600);
  EXPECT_EQ(dib.BytesPerScanLine(), 2400);
}

TEST_F(DibTest, FailedCreateLeavesObjectEmptyButReportsRequestedSize) {
  cDIBSection dib(gdi, files);
  struct Fault { std::int32_t w, h; bool noDC, noDib; };
  for (const Fault f : {Fault{0, 5, false, false}, Fault{7, 0, false, false}, Fault{5, 5, true, false},
                        Fault{5, 5, false, true}}) {
    ASSERT_EQ(dib.Create(3, 3), kTrue);
    dib.UseDrawDib(kTrue);
    gdi.failCreateDC = f.noDC;
    gdi.failDibSection = f.noDib;
    EXPECT_EQ(dib.Create(f.w, f.h), kFalse);
    gdi.failCreateDC = gdi.failDibSection = false;
    EXPECT_EQ(gdi.Live(), 0);
    EXPECT_EQ(dib.hdc() | dib.hDib(), 0u);
    EXPECT_EQ(dib.DIBSectionBitsPtr(), nullptr);
    EXPECT_EQ(dib.UseDrawDib(), kFalse);
    if (!f.noDC) {
      EXPECT_EQ(dib.width(), f.w);
      EXPECT_EQ(dib.height(), f.h);
    }
  }
  // Drawing on an object without pixel memory writes nowhere and raises nothing.
  dib.drawRect(1, 1, 2, 2, 1, 255, 255, 255);
  dib.drawRectPerc(0.1, 0.1, 0.5, 0.5, 0.2, 255, 255, 255);
  dib.RandomiseBits(kTrue);
}

TEST_F(DibTest, SizeOverflowRaisesSixAndLeavesNothingAfterTermination) {
  {
    cDIBSection dib(gdi, files);
    EXPECT_EQ(ErrorOf([&] { dib.Create(715827882, 1); }), zorvani::kErrOverflow);  // 3w + 3 overflows
    EXPECT_EQ(ErrorOf([&] { dib.Create(715827883, 1); }), zorvani::kErrOverflow);  // 3w overflows
    EXPECT_EQ(ErrorOf([&] { dib.Create(1000, 1000000); }), zorvani::kErrOverflow);  // stride x height
    EXPECT_EQ(ErrorOf([&] { dib.BytesPerScanLine(); }), 0);
    EXPECT_EQ(dib.height(), 1000000);
  }
  EXPECT_EQ(gdi.Live(), 0);
}

TEST_F(DibTest, DrawDibIsOpenedOnceAndSurvivesOnlyASuccessfulCreate) {
  {
    cDIBSection dib(gdi, files);
    dib.UseDrawDib(kTrue);
    dib.UseDrawDib(-5);
    EXPECT_EQ(gdi.Live(), 1);
    ASSERT_EQ(dib.Create(4, 4), kTrue);
    EXPECT_EQ(dib.UseDrawDib(), kTrue);
    EXPECT_EQ(gdi.Live(), 3);
    dib.UseDrawDib(kFalse);
    EXPECT_EQ(dib.UseDrawDib(), kFalse);
    gdi.failDrawDibOpen = true;
    dib.UseDrawDib(kTrue);
    EXPECT_EQ(dib.UseDrawDib(), kFalse);
    gdi.failDrawDibOpen = false;
    dib.UseDrawDib(kTrue);
  }
  EXPECT_EQ(gdi.Live(), 0);
}

TEST_F(DibTest, CreateFromPictureCopiesThePictureAtItsSize) {
  BitmapPicture picture(gdi, 7, 3);
  ASSERT_NE(picture.bits(), nullptr);
  for (int i = 0; i < 24 * 3; ++i) picture.bits()[i] = static_cast<std::uint8_t>(i * 7 + 1);
  {
    cDIBSection dib(gdi, files);
    dib.CreateFromPicture(picture);
    ASSERT_EQ(dib.width(), 7);
    ASSERT_EQ(dib.height(), 3);
    for (int row = 0; row < 3; ++row) {
      EXPECT_EQ(std::memcmp(dib.DIBSectionBitsPtr() + row * 24, picture.bits() + row * 24, 21), 0) << row;
    }
    EXPECT_EQ(gdi.Live(), 3);  // the picture's bitmap, the DIB and its DC; the temporary DC is gone
  }
  EXPECT_EQ(gdi.Live(), 1);

  struct NoBitmap : platform::Picture {
    platform::Handle BitmapHandle() const override { return 0; }
    std::int32_t Width() const override { return 0; }
    std::int32_t Height() const override { return 0; }
  } none;
  cDIBSection empty(gdi, files);
  empty.CreateFromPicture(none);
  EXPECT_EQ(empty.hDib(), 0u);
}

// Expected result of a raster operation on one byte, for source s and destination d.
std::uint8_t Rop(std::uint32_t rop, std::uint8_t s, std::uint8_t d) {
  switch (rop) {
    case platform::kSrcCopy: return s;
    case platform::kSrcPaint: return static_cast<std::uint8_t>(s | d);
    case platform::kSrcAnd: return static_cast<std::uint8_t>(s & d);
    case platform::kSrcInvert: return static_cast<std::uint8_t>(s ^ d);
    case platform::kSrcErase: return static_cast<std::uint8_t>(s & ~d);
    case platform::kNotSrcCopy: return static_cast<std::uint8_t>(~s);
    case platform::kNotSrcErase: return static_cast<std::uint8_t>(~(s | d));
    case platform::kDstInvert: return static_cast<std::uint8_t>(~d);
    case platform::kBlackness: return 0;
    default: return 0xFF;
  }
}

TEST_F(DibTest, TransfersApplyTheRasterOperationInsideBothSurfaces) {
  cDIBSection a(gdi, files), b(gdi, files);
  ASSERT_EQ(a.Create(4, 3), kTrue);
  ASSERT_EQ(b.Create(4, 3), kTrue);
  auto fill = [](cDIBSection& d, int seed) {
    for (int i = 0; i < 36; ++i) d.DIBSectionBitsPtr()[i] = static_cast<std::uint8_t>(i * seed + 0x35);
  };
  fill(a, 29);
  for (const std::uint32_t rop : {platform::kSrcCopy, platform::kSrcPaint, platform::kSrcAnd, platform::kSrcInvert,
                                  platform::kSrcErase, platform::kNotSrcCopy, platform::kNotSrcErase,
                                  platform::kDstInvert, platform::kBlackness, platform::kWhiteness}) {
    fill(b, 13);
    const Bytes before = Memory(b);
    a.PaintPicture(b.hdc(), 0, 0, -1, -7, 0, 0, rop);  // any negative size means the whole DIB
    for (int i = 0; i < 36; ++i) {
      ASSERT_EQ(b.DIBSectionBitsPtr()[i], Rop(rop, a.DIBSectionBitsPtr()[i], before[i])) << std::hex << rop << " " << i;
    }
  }

  // Clipped at the destination's right and bottom edges.
  fill(b, 13);
  Bytes expected = Memory(b);
  a.PaintPicture(b.hdc(), 2, 1);
  for (int y = 1; y < 3; ++y) {
    for (int x = 2; x < 4; ++x) std::memcpy(expected.data() + (2 - y) * 12 + 3 * x, At(a, x - 2, y - 1), 3);
  }
  EXPECT_EQ(Memory(b), expected);

  // LoadPictureBlt lands at the top-left corner, clipped at the source's edges.
  fill(a, 29);
  expected = Memory(a);
  a.LoadPictureBlt(b.hdc(), 1, 2, -3, -1);
  std::memcpy(expected.data() + 2 * 12, At(b, 1, 2), 9);
  EXPECT_EQ(Memory(a), expected);

  // Through DrawDib the raster operation plays no part: a plain copy.
  a.UseDrawDib(kTrue);
  ASSERT_EQ(a.UseDrawDib(), kTrue);
  a.PaintPicture(b.hdc(), 0, 0, -1, -1, 0, 0, platform::kBlackness);
  EXPECT_EQ(gdi.drawDibDraws, 1);
  for (int y = 0; y < 3; ++y) EXPECT_EQ(std::memcmp(At(a, 0, y), At(b, 0, y), 12), 0) << y;
}

}  // namespace
}  // namespace dibtest
