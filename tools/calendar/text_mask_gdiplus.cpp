// Text through GDI+ with the system's sans-serif font; calendar words from the
// system's locale data.
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <stdexcept>
#include <string>

#include "tools/calendar/gdiplus_session.h"
#include "tools/calendar/text_mask.h"

namespace zorvani {
namespace tools {
namespace {

std::wstring Wide(const std::string& utf8) {
  const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  if (length <= 0 && !utf8.empty()) throw std::invalid_argument("text is not UTF-8");
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], length);
  return wide;
}

std::string Utf8(const std::wstring& wide) {
  const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(std::max(length, 0)), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &utf8[0], length, nullptr, nullptr);
  return utf8;
}

class GdiplusTextPainter : public TextPainter {
 public:
  GdiplusTextPainter() {
    GdiplusSession::Start();
    // Windows' own sans-serif first; Wine brings Tahoma.
    for (const wchar_t* name : {L"Segoe UI", L"Arial", L"Tahoma", L"DejaVu Sans"}) {
      family_ = std::make_unique<Gdiplus::FontFamily>(name);
      if (family_->IsAvailable()) return;
    }
    family_.reset(Gdiplus::FontFamily::GenericSansSerif()->Clone());
  }

  TextMask Render(const std::string& text, double pixelSize) override {
    const std::wstring wide = Wide(text);
    Gdiplus::Font font(family_.get(), static_cast<Gdiplus::REAL>(pixelSize), Gdiplus::FontStyleBold, Gdiplus::UnitPixel);
    if (font.GetLastStatus() != Gdiplus::Ok) throw std::runtime_error("GDI+: no font");
    // Drawn black on white with room all round: Wine's GDI+ draws text through GDI,
    // which leaves the alpha channel alone, so coverage is read from the colour.
    const int side = static_cast<int>(std::ceil(pixelSize * 2));
    const int width = side * 2 + static_cast<int>(std::ceil(pixelSize * 0.8 * static_cast<double>(wide.size())));
    const int height = side * 2;
    Gdiplus::Bitmap canvas(width, height, PixelFormat24bppRGB);
    {
      Gdiplus::Graphics graphics(&canvas);
      graphics.Clear(Gdiplus::Color(255, 255, 255, 255));
      graphics.SetTextRenderingHint(Gdiplus::TextRenderingHintAntiAlias);
      Gdiplus::SolidBrush black(Gdiplus::Color(255, 0, 0, 0));
      const Gdiplus::Status drawn = graphics.DrawString(wide.c_str(), static_cast<INT>(wide.size()), &font,
                          Gdiplus::PointF(static_cast<Gdiplus::REAL>(side / 2), static_cast<Gdiplus::REAL>(side / 2)), &black);
      if (drawn != Gdiplus::Ok) throw std::runtime_error("GDI+: cannot draw text (status " + std::to_string(drawn) + ")");
    }
    Gdiplus::Rect all(0, 0, width, height);
    Gdiplus::BitmapData data;
    if (canvas.LockBits(&all, Gdiplus::ImageLockModeRead, PixelFormat24bppRGB, &data) != Gdiplus::Ok) {
      throw std::runtime_error("GDI+: cannot draw text");
    }
    const auto alpha = [&](int x, int y) {
      return static_cast<BYTE>(255 - static_cast<const BYTE*>(data.Scan0)[static_cast<std::ptrdiff_t>(y) * data.Stride + 3 * x + 1]);
    };
    int left = width, top = height, right = 0, bottom = 0;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        if (alpha(x, y) == 0) continue;
        left = std::min(left, x), top = std::min(top, y), right = std::max(right, x + 1), bottom = std::max(bottom, y + 1);
      }
    }
    TextMask mask;
    mask.width = std::max(right - left, 1);
    mask.height = std::max(bottom - top, 1);
    mask.coverage.assign(static_cast<std::size_t>(mask.width) * mask.height, 0);
    for (int y = top; y < bottom; ++y) {
      for (int x = left; x < right; ++x) mask.coverage[static_cast<std::size_t>(y - top) * mask.width + (x - left)] = alpha(x, y);
    }
    canvas.UnlockBits(&data);
    return mask;
  }

 private:
  std::unique_ptr<Gdiplus::FontFamily> family_;
};

// "de_DE.UTF-8" and "de_DE" name the locale Windows calls "de-DE".
std::wstring WindowsLocaleName(const std::string& name) {
  std::string base = name.substr(0, name.find_first_of(".@"));
  std::replace(base.begin(), base.end(), '_', '-');
  return Wide(base);
}

std::string LocaleText(const wchar_t* locale, LCTYPE type) {
  wchar_t buffer[128] = {};
  if (GetLocaleInfoEx(locale, type, buffer, 128) <= 0) return "?";
  CharUpperBuffW(buffer, 1);
  return Utf8(buffer);
}

}  // namespace

std::unique_ptr<TextPainter> MakeTextPainter() { return std::make_unique<GdiplusTextPainter>(); }

CalendarWords WordsOfLocale(const std::string& name) {
  std::wstring windowsName;
  const wchar_t* locale = LOCALE_NAME_USER_DEFAULT;
  if (!name.empty()) {
    windowsName = WindowsLocaleName(name);
    if (name == "C" || name == "POSIX") windowsName = L"en-US";
    if (!IsValidLocaleName(windowsName.c_str())) throw std::invalid_argument("locale " + name + " is not known");
    locale = windowsName.c_str();
  }
  CalendarWords words;
  for (int i = 0; i < 12; ++i) words.months[static_cast<std::size_t>(i)] = LocaleText(locale, LOCALE_SMONTHNAME1 + static_cast<LCTYPE>(i));
  // LOCALE_SABBREVDAYNAME1 is Monday.
  for (int i = 0; i < 7; ++i) words.weekdays[static_cast<std::size_t>(i)] = LocaleText(locale, LOCALE_SABBREVDAYNAME1 + static_cast<LCTYPE>(i));
  return words;
}

}  // namespace tools
}  // namespace zorvani
