#pragma once
// cDIBSection: one 24-bit, uncompressed, bottom-up DIB section, selected into a
// memory device context of its own, whose pixel memory is also reached directly by
// address for drawing and for writing the bitmap file.
#include <cstdint>
#include <string>

#include "platform/files.h"
#include "platform/gdi.h"
#include "platform/picture.h"

namespace zorvani {

using Boolean = std::int16_t;  // true is -1, false is 0
constexpr Boolean kTrue = -1;
constexpr Boolean kFalse = 0;

// BITMAPINFOHEADER followed by one colour entry, byte for byte as the platform and
// the bitmap file expect it.
#pragma pack(push, 1)
struct tBitmapInfo : platform::BitmapInfoHeader {
  std::uint8_t bmiColors[4];
};
#pragma pack(pop)
static_assert(sizeof(tBitmapInfo) == 44, "tBitmapInfo must be 44 bytes");

class cDIBSection {
 public:
  // Uses the services in platform::Current().
  cDIBSection();
  cDIBSection(platform::Gdi& gdi, platform::Files& files);
  ~cDIBSection();  // runs ClearUp
  cDIBSection(const cDIBSection&) = delete;
  cDIBSection& operator=(const cDIBSection&) = delete;

  Boolean UseDrawDib() const;
  void UseDrawDib(Boolean bState);
  Boolean CreateDIB(platform::Handle lHDC, std::int32_t lWidth, std::int32_t lHeight, platform::Handle& hDib);
  void CreateFromPicture(const platform::Picture& picThis);
  Boolean Create(std::int32_t lWidth, std::int32_t lHeight);
  std::int32_t BytesPerScanLine() const;
  std::int32_t width() const;
  std::int32_t height() const;
  void LoadPictureBlt(platform::Handle lHDC, std::int32_t lSrcLeft = 0, std::int32_t lSrcTop = 0,
                      std::int32_t lSrcWidth = -1, std::int32_t lSrcHeight = -1,
                      std::uint32_t eRop = platform::kSrcCopy);
  Boolean SavePicture(const std::string& sFileName);
  void PaintPicture(platform::Handle lHDC, std::int32_t lDestLeft = 0, std::int32_t lDestTop = 0,
                    std::int32_t lDestWidth = -1, std::int32_t lDestHeight = -1, std::int32_t lSrcLeft = 0,
                    std::int32_t lSrcTop = 0, std::uint32_t eRop = platform::kSrcCopy);
  platform::Handle hdc() const;
  platform::Handle hDib() const;
  std::uint8_t* DIBSectionBitsPtr() const;
  void RandomiseBits(Boolean bGray = kFalse);
  void ClearUp();
  void drawRectPerc(double left, double top, double width, double height, double tickness, std::int16_t cRed,
                    std::int16_t cGreen, std::int16_t cBlue);
  void drawRect(std::int16_t left, std::int16_t top, std::int16_t width, std::int16_t height,
                std::int16_t tickness, std::int16_t cRed, std::int16_t cGreen, std::int16_t cBlue);

  // The description record, as it goes into the bitmap file.
  const tBitmapInfo& BitmapInfo() const { return tBitmapInfo_; }

 private:
  Boolean WriteBitmapFile(std::uint8_t* lBitsPtr, const std::string& sFileName);
  std::string ApiErrorText(std::uint32_t code);
  static Boolean WriteFailed(bool result, std::uint32_t toWrite, std::uint32_t written);

  platform::Gdi& gdi_;
  platform::Files& files_;

  platform::Handle hDibSection = 0;
  platform::Handle hOldBitmap = 0;
  platform::Handle hMemDC = 0;
  platform::Handle hDrawDib = 0;
  std::uint8_t* lBitsPtr = nullptr;
  tBitmapInfo tBitmapInfo_{};
};

}  // namespace zorvani
