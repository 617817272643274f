#pragma once
// The device-context and bitmap services that the image class uses, under their
// Windows names. The Win32 backend calls GDI, user32 and msvfw32; the POSIX backend
// is a small in-process stand-in with the same behaviour for 24-bit DIB sections.
// Virtual so that tests can wrap the real one to count live handles or make a
// creation fail.
#include <cstdint>

#include "platform/handle.h"

namespace platform {

// The part of the BITMAP record that the image class reads.
struct BitmapRecord {
  std::int32_t bmType = 0;
  std::int32_t bmWidth = 0;
  std::int32_t bmHeight = 0;
  std::int32_t bmWidthBytes = 0;
  std::uint16_t bmPlanes = 0;
  std::uint16_t bmBitsPixel = 0;
};

// BITMAPINFOHEADER, byte for byte: the 40 bytes that describe a DIB's layout.
#pragma pack(push, 1)
struct BitmapInfoHeader {
  std::uint32_t biSize;
  std::int32_t biWidth;
  std::int32_t biHeight;
  std::uint16_t biPlanes;
  std::uint16_t biBitCount;
  std::uint32_t biCompression;
  std::uint32_t biSizeImage;
  std::int32_t biXPelsPerMeter;
  std::int32_t biYPelsPerMeter;
  std::uint32_t biClrUsed;
  std::uint32_t biClrImportant;
};
#pragma pack(pop)
static_assert(sizeof(BitmapInfoHeader) == 40, "BitmapInfoHeader must be 40 bytes");

// Raster operations (the source-only ones).
enum RasterOp : std::uint32_t {
  kSrcCopy = 0x00CC0020,
  kSrcPaint = 0x00EE0086,
  kSrcAnd = 0x008800C6,
  kSrcInvert = 0x00660046,
  kSrcErase = 0x00440328,
  kNotSrcCopy = 0x00330008,
  kNotSrcErase = 0x001100A6,
  kDstInvert = 0x00550009,
  kBlackness = 0x00000042,
  kWhiteness = 0x00FF0062,
};

class Gdi {
 public:
  virtual ~Gdi() = default;

  virtual Handle CreateCompatibleDC(Handle dc) = 0;
  // bitmapInfo points at a 44-byte BITMAPINFO (header and one colour entry).
  virtual Handle CreateDIBSection(Handle dc, const void* bitmapInfo, std::uint32_t usage, void** bits) = 0;
  virtual Handle SelectObject(Handle dc, Handle object) = 0;
  virtual bool DeleteObject(Handle object) = 0;
  virtual bool DeleteDC(Handle dc) = 0;
  virtual Handle GetDesktopWindow() = 0;
  virtual Handle GetDC(Handle window) = 0;
  virtual int ReleaseDC(Handle window, Handle dc) = 0;
  // GetObjectA on a bitmap: fills the record, returns 0 when the handle is no bitmap.
  virtual int GetObjectA(Handle bitmap, BitmapRecord* record) = 0;
  virtual bool BitBlt(Handle dst, int x, int y, int width, int height, Handle src, int srcX, int srcY,
                      std::uint32_t rop) = 0;
  virtual Handle DrawDibOpen() = 0;
  virtual bool DrawDibDraw(Handle drawDib, Handle dc, int dstX, int dstY, int dstWidth, int dstHeight,
                           const void* bitmapInfo, const void* bits, int srcX, int srcY, int srcWidth,
                           int srcHeight, std::uint32_t flags) = 0;
  virtual bool DrawDibClose(Handle drawDib) = 0;
};

// The backend this program was linked with.
Gdi& SystemGdi();

}  // namespace platform
