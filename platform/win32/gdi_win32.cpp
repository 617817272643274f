// Placeholder until the backend lands.
#include "platform/gdi.h"

namespace platform {
namespace {
class NoGdi : public Gdi {
 public:
  Handle CreateCompatibleDC(Handle) override { return 0; }
  Handle CreateDIBSection(Handle, const void*, std::uint32_t, void**) override { return 0; }
  Handle SelectObject(Handle, Handle) override { return 0; }
  bool DeleteObject(Handle) override { return false; }
  bool DeleteDC(Handle) override { return false; }
  Handle GetDesktopWindow() override { return 0; }
  Handle GetDC(Handle) override { return 0; }
  int ReleaseDC(Handle, Handle) override { return 0; }
  int GetObjectA(Handle, BitmapRecord*) override { return 0; }
  bool BitBlt(Handle, int, int, int, int, Handle, int, int, std::uint32_t) override { return false; }
  Handle DrawDibOpen() override { return 0; }
  bool DrawDibDraw(Handle, Handle, int, int, int, int, const void*, const void*, int, int, int, int,
                   std::uint32_t) override { return false; }
  bool DrawDibClose(Handle) override { return false; }
};
}  // namespace
Gdi& SystemGdi() { static NoGdi gdi; return gdi; }
}  // namespace platform
