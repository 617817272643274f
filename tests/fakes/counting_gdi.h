#pragma once
// A Gdi that delegates to the linked backend, counts the handles it hands out that
// are still alive, and can refuse to make a DC, a DIB section or a DrawDib handle.
#include <set>

#include "platform/gdi.h"

namespace fakes {

class CountingGdi : public platform::Gdi {
 public:
  bool failCreateDC = false;
  bool failDibSection = false;
  bool failDrawDibOpen = false;
  int drawDibDraws = 0;

  // DCs, DIB sections, DrawDib handles and screen DCs not yet given back.
  int Live() const { return static_cast<int>(live_.size()); }

  platform::Handle CreateCompatibleDC(platform::Handle dc) override;
  platform::Handle CreateDIBSection(platform::Handle dc, const void* info, std::uint32_t usage, void** bits) override;
  platform::Handle SelectObject(platform::Handle dc, platform::Handle object) override;
  bool DeleteObject(platform::Handle object) override;
  bool DeleteDC(platform::Handle dc) override;
  platform::Handle GetDesktopWindow() override;
  platform::Handle GetDC(platform::Handle window) override;
  int ReleaseDC(platform::Handle window, platform::Handle dc) override;
  int GetObjectA(platform::Handle bitmap, platform::BitmapRecord* record) override;
  bool BitBlt(platform::Handle dst, int x, int y, int width, int height, platform::Handle src, int srcX, int srcY,
              std::uint32_t rop) override;
  platform::Handle DrawDibOpen() override;
  bool DrawDibDraw(platform::Handle drawDib, platform::Handle dc, int dstX, int dstY, int dstWidth, int dstHeight,
                   const void* info, const void* bits, int srcX, int srcY, int srcWidth, int srcHeight,
                   std::uint32_t flags) override;
  bool DrawDibClose(platform::Handle drawDib) override;

 private:
  platform::Handle Track(platform::Handle h);
  bool Untrack(bool ok, platform::Handle h);
  platform::Gdi& real_ = platform::SystemGdi();
  std::set<platform::Handle> live_;
};

}  // namespace fakes
