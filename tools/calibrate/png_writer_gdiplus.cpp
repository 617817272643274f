// PNG writing with the system's own encoder: GDI+ (Debian has no libpng for MinGW).
#include <windows.h>
// GDI+ needs windows.h first.
#include <gdiplus.h>

#include "tools/calibrate/calibrate.h"

namespace zorvani {
namespace calibrate {
namespace {

// {557CF406-1A04-11D3-9A73-0000F81EF32E}, GDI+'s built-in PNG encoder.
const CLSID kPngEncoder = {0x557CF406, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};

std::wstring Wide(const std::string& text) {
  const int size = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size > 0 ? size : 1), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), size);
  return wide;
}

}  // namespace

bool WritePng(const std::string& path, const cDIBSection& image, std::string* error) {
  Gdiplus::GdiplusStartupInput input;
  ULONG_PTR token = 0;
  if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) {
    *error = "GDI+ did not start";
    return false;
  }
  Gdiplus::Status status = Gdiplus::GenericError;
  {
    // Bottom-up rows: start at the top line, the last one in memory, and step backwards.
    const INT stride = image.BytesPerScanLine();
    BYTE* top = image.DIBSectionBitsPtr() + static_cast<std::size_t>(stride) * (image.height() - 1);
    Gdiplus::Bitmap bitmap(image.width(), image.height(), -stride, PixelFormat24bppRGB, top);
    status = bitmap.Save(Wide(path).c_str(), &kPngEncoder, nullptr);
  }
  Gdiplus::GdiplusShutdown(token);
  if (status == Gdiplus::Ok) return true;
  *error = "GDI+ could not write the PNG (status " + std::to_string(static_cast<int>(status)) + ")";
  return false;
}

}  // namespace calibrate
}  // namespace zorvani
