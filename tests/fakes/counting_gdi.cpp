#include "fakes/counting_gdi.h"

namespace fakes {

platform::Handle CountingGdi::Track(platform::Handle h) {
  if (h != 0) live_.insert(h);
  return h;
}

bool CountingGdi::Untrack(bool ok, platform::Handle h) {
  if (ok) live_.erase(h);
  return ok;
}

platform::Handle CountingGdi::CreateCompatibleDC(platform::Handle dc) {
  return failCreateDC ? 0 : Track(real_.CreateCompatibleDC(dc));
}
platform::Handle CountingGdi::CreateDIBSection(platform::Handle dc, const void* info, std::uint32_t usage,
                                               void** bits) {
  if (failDibSection) return 0;
  return Track(real_.CreateDIBSection(dc, info, usage, bits));
}
platform::Handle CountingGdi::SelectObject(platform::Handle dc, platform::Handle object) {
  return real_.SelectObject(dc, object);
}
bool CountingGdi::DeleteObject(platform::Handle object) { return Untrack(real_.DeleteObject(object), object); }
bool CountingGdi::DeleteDC(platform::Handle dc) { return Untrack(real_.DeleteDC(dc), dc); }
platform::Handle CountingGdi::GetDesktopWindow() { return real_.GetDesktopWindow(); }
platform::Handle CountingGdi::GetDC(platform::Handle window) { return Track(real_.GetDC(window)); }
int CountingGdi::ReleaseDC(platform::Handle window, platform::Handle dc) {
  const int released = real_.ReleaseDC(window, dc);
  Untrack(released != 0, dc);
  return released;
}
int CountingGdi::GetObjectA(platform::Handle bitmap, platform::BitmapRecord* record) {
  return real_.GetObjectA(bitmap, record);
}
bool CountingGdi::BitBlt(platform::Handle dst, int x, int y, int width, int height, platform::Handle src, int srcX,
                         int srcY, std::uint32_t rop) {
  return real_.BitBlt(dst, x, y, width, height, src, srcX, srcY, rop);
}
platform::Handle CountingGdi::DrawDibOpen() { return failDrawDibOpen ? 0 : Track(real_.DrawDibOpen()); }
bool CountingGdi::DrawDibDraw(platform::Handle drawDib, platform::Handle dc, int dstX, int dstY, int dstWidth,
                              int dstHeight, const void* info, const void* bits, int srcX, int srcY, int srcWidth,
                              int srcHeight, std::uint32_t flags) {
  ++drawDibDraws;
  return real_.DrawDibDraw(drawDib, dc, dstX, dstY, dstWidth, dstHeight, info, bits, srcX, srcY, srcWidth, srcHeight,
                           flags);
}
bool CountingGdi::DrawDibClose(platform::Handle drawDib) { return Untrack(real_.DrawDibClose(drawDib), drawDib); }

}  // namespace fakes
