#pragma once
// Shared by the image class's tests: a GDI that counts live handles, and the pixel
// memory as bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "dib/cDIBSection.h"
#include "runtime/runtime_error.h"

namespace dibtest {

using Bytes = std::vector<std::uint8_t>;
using platform::Handle;
using zorvani::kFalse;
using zorvani::kTrue;

inline Bytes Memory(const zorvani::cDIBSection& dib) {
  const std::uint8_t* p = dib.DIBSectionBitsPtr();
  return Bytes(p, p + dib.BitmapInfo().biSizeImage);
}

// Delegates to the linked GDI and tracks the DCs, bitmaps and DrawDib handles it hands
// out until they are given back successfully.
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

}  // namespace dibtest
