// Lifecycle, creation, block transfers and properties of cDIBSection.
#include "dib/cDIBSection.h"

#include "platform/services.h"
#include "runtime/checked_math.h"

namespace zorvani {

cDIBSection::cDIBSection() : cDIBSection(*platform::Current().gdi, *platform::Current().files) {}

cDIBSection::cDIBSection(platform::Gdi& gdi, platform::Files& files) : gdi_(gdi), files_(files) {}

cDIBSection::~cDIBSection() { ClearUp(); }

Boolean cDIBSection::UseDrawDib() const { return hDrawDib != 0 ? kTrue : kFalse; }

void cDIBSection::UseDrawDib(Boolean bState) {
  if (bState != 0) {
    if (hDrawDib == 0) hDrawDib = gdi_.DrawDibOpen();
  } else if (hDrawDib != 0) {
    gdi_.DrawDibClose(hDrawDib);
    hDrawDib = 0;
  }
}

Boolean cDIBSection::CreateDIB(platform::Handle lHDC, std::int32_t lWidth, std::int32_t lHeight,
                               platform::Handle& hDib) {
  tBitmapInfo_.biSize = 40;
  tBitmapInfo_.biWidth = lWidth;
  tBitmapInfo_.biHeight = lHeight;
  tBitmapInfo_.biPlanes = 1;
  tBitmapInfo_.biBitCount = 24;
  tBitmapInfo_.biCompression = 0;
  tBitmapInfo_.biSizeImage = static_cast<std::uint32_t>(Mul32(BytesPerScanLine(), tBitmapInfo_.biHeight));
  void* bits = nullptr;
  hDib = gdi_.CreateDIBSection(lHDC, &tBitmapInfo_, 0, &bits);
  // A failed call need not clear the address; never keep one without a section.
  lBitsPtr = hDib != 0 ? static_cast<std::uint8_t*>(bits) : nullptr;
  return hDib != 0 ? kTrue : kFalse;
}

void cDIBSection::CreateFromPicture(const platform::Picture& picThis) {
  platform::BitmapRecord bm{};
  gdi_.GetObjectA(picThis.BitmapHandle(), &bm);
  if (Create(bm.bmWidth, bm.bmHeight) == kFalse) return;

  const platform::Handle desktop = gdi_.GetDesktopWindow();
  const platform::Handle screen = gdi_.GetDC(desktop);
  if (screen == 0) return;
  const platform::Handle temp = gdi_.CreateCompatibleDC(screen);
  gdi_.ReleaseDC(desktop, screen);
  if (temp == 0) return;

  // Frees the temporary context even when reading the picture raises.
  struct TempDC {
    platform::Gdi& gdi;
    platform::Handle dc;
    platform::Handle old = 0;
    ~TempDC() {
      if (old != 0) gdi.SelectObject(dc, old);
      gdi.DeleteDC(dc);
    }
  } guard{gdi_, temp};
  guard.old = gdi_.SelectObject(temp, picThis.BitmapHandle());
  LoadPictureBlt(temp, 0, 0, -1, -1, platform::kSrcCopy);
}

Boolean cDIBSection::Create(std::int32_t lWidth, std::int32_t lHeight) {
  const Boolean drawDib = UseDrawDib();
  ClearUp();
  hMemDC = gdi_.CreateCompatibleDC(0);
  if (hMemDC == 0) return kFalse;
  if (CreateDIB(hMemDC, lWidth, lHeight, hDibSection) == kFalse) {
    gdi_.DeleteDC(hMemDC);
    hMemDC = 0;
    return kFalse;
  }
  hOldBitmap = gdi_.SelectObject(hMemDC, hDibSection);
  UseDrawDib(drawDib);
  return kTrue;
}

std::int32_t cDIBSection::BytesPerScanLine() const {
  return Add32(Mul32(tBitmapInfo_.biWidth, 3), 3) & ~std::int32_t{3};
}

std::int32_t cDIBSection::width() const { return tBitmapInfo_.biWidth; }

std::int32_t cDIBSection::height() const { return tBitmapInfo_.biHeight; }

void cDIBSection::LoadPictureBlt(platform::Handle lHDC, std::int32_t lSrcLeft, std::int32_t lSrcTop,
                                 std::int32_t lSrcWidth, std::int32_t lSrcHeight, std::uint32_t eRop) {
  if (lSrcWidth < 0) lSrcWidth = tBitmapInfo_.biWidth;
  if (lSrcHeight < 0) lSrcHeight = tBitmapInfo_.biHeight;
  gdi_.BitBlt(hMemDC, 0, 0, lSrcWidth, lSrcHeight, lHDC, lSrcLeft, lSrcTop, eRop);
}

void cDIBSection::PaintPicture(platform::Handle lHDC, std::int32_t lDestLeft, std::int32_t lDestTop,
                               std::int32_t lDestWidth, std::int32_t lDestHeight, std::int32_t lSrcLeft,
                               std::int32_t lSrcTop, std::uint32_t eRop) {
  const std::int32_t w = lDestWidth < 0 ? tBitmapInfo_.biWidth : lDestWidth;
  const std::int32_t h = lDestHeight < 0 ? tBitmapInfo_.biHeight : lDestHeight;
  if (hDrawDib != 0) {
    gdi_.DrawDibDraw(hDrawDib, lHDC, lDestLeft, lDestTop, w, h, &tBitmapInfo_, lBitsPtr, lSrcLeft, lSrcTop, w, h, 0);
  } else {
    gdi_.BitBlt(lHDC, lDestLeft, lDestTop, w, h, hMemDC, lSrcLeft, lSrcTop, eRop);
  }
}

platform::Handle cDIBSection::hdc() const { return hMemDC; }

platform::Handle cDIBSection::hDib() const { return hDibSection; }

std::uint8_t* cDIBSection::DIBSectionBitsPtr() const { return lBitsPtr; }

void cDIBSection::ClearUp() {
  if (hMemDC != 0) {
    if (hDibSection != 0) {
      gdi_.SelectObject(hMemDC, hOldBitmap);
      gdi_.DeleteObject(hDibSection);
    }
    gdi_.DeleteDC(hMemDC);
  }
  hMemDC = 0;
  hDibSection = 0;
  hOldBitmap = 0;
  lBitsPtr = nullptr;
  if (hDrawDib != 0) {
    gdi_.DrawDibClose(hDrawDib);
    hDrawDib = 0;
  }
}

}  // namespace zorvani
