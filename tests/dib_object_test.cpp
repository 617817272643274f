// The object's handles from creation to termination, a failed creation, and copies
// between contexts.
#include "dib_support.h"

namespace dibtest {
namespace {

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

TEST(DibObjectTest, PaintPictureAppliesTheRasterOperation) {
  zorvani::cDIBSection a, b;
  ASSERT_TRUE(a.Create(4, 3) == kTrue && b.Create(4, 3) == kTrue);
  for (int i = 0; i < 36; ++i) a.DIBSectionBitsPtr()[i] = static_cast<std::uint8_t>(i * 29 + 5);
  std::memset(b.DIBSectionBitsPtr(), 0x5A, 36);
  a.PaintPicture(b.hdc(), 0, 0, -1, -1, 0, 0, platform::kSrcInvert);  // negative sizes: the whole picture
  for (int i = 0; i < 36; ++i) ASSERT_EQ(b.DIBSectionBitsPtr()[i], a.DIBSectionBitsPtr()[i] ^ 0x5A) << i;
}

}  // namespace
}  // namespace dibtest
