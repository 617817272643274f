// The image class's device-context and bitmap calls: gdi32, user32 and msvfw32.
#include <windows.h>
#include <vfw.h>

#include "platform/gdi.h"

namespace platform {
namespace {

HDC Dc(Handle h) { return reinterpret_cast<HDC>(h); }
template <typename T>
Handle H(T handle) { return reinterpret_cast<Handle>(handle); }

class Win32Gdi : public Gdi {
 public:
  Handle CreateCompatibleDC(Handle dc) override { return H(::CreateCompatibleDC(Dc(dc))); }

  Handle CreateDIBSection(Handle dc, const void* bitmapInfo, std::uint32_t usage, void** bits) override {
    return H(::CreateDIBSection(Dc(dc), static_cast<const BITMAPINFO*>(bitmapInfo), usage, bits, nullptr, 0));
  }

  Handle SelectObject(Handle dc, Handle object) override {
    return H(::SelectObject(Dc(dc), reinterpret_cast<HGDIOBJ>(object)));
  }

  bool DeleteObject(Handle object) override { return ::DeleteObject(reinterpret_cast<HGDIOBJ>(object)) != FALSE; }
  bool DeleteDC(Handle dc) override { return ::DeleteDC(Dc(dc)) != FALSE; }
  Handle GetDesktopWindow() override { return H(::GetDesktopWindow()); }
  Handle GetDC(Handle window) override { return H(::GetDC(reinterpret_cast<HWND>(window))); }
  int ReleaseDC(Handle window, Handle dc) override { return ::ReleaseDC(reinterpret_cast<HWND>(window), Dc(dc)); }

  int GetObjectA(Handle bitmap, BitmapRecord* record) override {
    BITMAP bm{};
    const int n = ::GetObjectA(reinterpret_cast<HGDIOBJ>(bitmap), sizeof bm, &bm);
    if (n == 0 || record == nullptr) return 0;
    record->bmType = bm.bmType;
    record->bmWidth = bm.bmWidth;
    record->bmHeight = bm.bmHeight;
    record->bmWidthBytes = bm.bmWidthBytes;
    record->bmPlanes = bm.bmPlanes;
    record->bmBitsPixel = bm.bmBitsPixel;
    return n;
  }

  bool BitBlt(Handle dst, int x, int y, int width, int height, Handle src, int srcX, int srcY,
              std::uint32_t rop) override {
    return ::BitBlt(Dc(dst), x, y, width, height, Dc(src), srcX, srcY, rop) != FALSE;
  }

  Handle DrawDibOpen() override { return H(::DrawDibOpen()); }

  bool DrawDibDraw(Handle drawDib, Handle dc, int dstX, int dstY, int dstWidth, int dstHeight, const void* bitmapInfo,
                   const void* bits, int srcX, int srcY, int srcWidth, int srcHeight, std::uint32_t flags) override {
    // DrawDibDraw takes non-const pointers but only reads through them.
    auto* header = static_cast<BITMAPINFOHEADER*>(const_cast<void*>(bitmapInfo));
    return ::DrawDibDraw(reinterpret_cast<HDRAWDIB>(drawDib), Dc(dc), dstX, dstY, dstWidth, dstHeight, header,
                         const_cast<void*>(bits), srcX, srcY, srcWidth, srcHeight, flags) != FALSE;
  }

  bool DrawDibClose(Handle drawDib) override { return ::DrawDibClose(reinterpret_cast<HDRAWDIB>(drawDib)) != FALSE; }
};

}  // namespace

Gdi& SystemGdi() {
  static Win32Gdi gdi;
  return gdi;
}

}  // namespace platform
