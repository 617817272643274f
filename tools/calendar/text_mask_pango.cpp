// Text through Pango and Cairo with fontconfig's choice of system font; calendar
// words through the C library's locale data.
#include <glib.h>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "tools/calendar/text_mask.h"

namespace zorvani {
namespace tools {
namespace {

class PangoTextPainter : public TextPainter {
 public:
  TextMask Render(const std::string& text, double pixelSize) override {
    if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) {
      throw std::invalid_argument("text is not UTF-8");
    }
    // A scratch surface just to measure, then one of the ink's size.
    cairo_surface_t* scratch = cairo_image_surface_create(CAIRO_FORMAT_A8, 1, 1);
    cairo_t* cr = cairo_create(scratch);
    PangoLayout* layout = pango_cairo_create_layout(cr);
    PangoFontDescription* font = pango_font_description_from_string("DejaVu Sans, Sans Bold");
    pango_font_description_set_absolute_size(font, pixelSize * PANGO_SCALE);
    pango_layout_set_font_description(layout, font);
    pango_layout_set_text(layout, text.data(), static_cast<int>(text.size()));
    PangoRectangle ink;
    pango_layout_get_pixel_extents(layout, &ink, nullptr);
    TextMask mask;
    mask.width = std::max(ink.width, 1);
    mask.height = std::max(ink.height, 1);
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_A8, mask.width, mask.height);
    cairo_t* target = cairo_create(surface);
    cairo_move_to(target, -ink.x, -ink.y);
    pango_cairo_update_layout(target, layout);
    pango_cairo_show_layout(target, layout);
    cairo_surface_flush(surface);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    mask.coverage.resize(static_cast<std::size_t>(mask.width) * mask.height);
    for (int y = 0; y < mask.height; ++y) {
      std::copy_n(data + static_cast<std::ptrdiff_t>(y) * stride, mask.width,
                  mask.coverage.begin() + static_cast<std::ptrdiff_t>(y) * mask.width);
    }
    cairo_destroy(target);
    cairo_surface_destroy(surface);
    pango_font_description_free(font);
    g_object_unref(layout);
    cairo_destroy(cr);
    cairo_surface_destroy(scratch);
    return mask;
  }
};

// Locale data comes in the locale's own character set; Pango wants UTF-8.
std::string ToUtf8(const char* text, const char* codeset) {
  std::string in = text;
  if (g_utf8_validate(in.data(), static_cast<gssize>(in.size()), nullptr)) return in;
  gchar* converted = g_convert(in.data(), static_cast<gssize>(in.size()), "UTF-8", codeset, nullptr, nullptr, nullptr);
  if (converted == nullptr) return "?";
  std::string out = converted;
  g_free(converted);
  return out;
}

std::string Capitalised(const std::string& word) {
  if (word.empty()) return word;
  const gunichar first = g_utf8_get_char(word.c_str());
  char buffer[8] = {};
  const gint length = g_unichar_to_utf8(g_unichar_totitle(first), buffer);
  return std::string(buffer, static_cast<std::size_t>(length)) + g_utf8_next_char(word.c_str());
}

}  // namespace

std::unique_ptr<TextPainter> MakeTextPainter() { return std::make_unique<PangoTextPainter>(); }

CalendarWords WordsOfLocale(const std::string& name) {
  locale_t locale = newlocale(LC_TIME_MASK | LC_CTYPE_MASK, name.c_str(), static_cast<locale_t>(0));
  if (locale == static_cast<locale_t>(0)) {
    if (!name.empty()) throw std::invalid_argument("locale " + name + " is not installed");
    locale = newlocale(LC_TIME_MASK | LC_CTYPE_MASK, "C", static_cast<locale_t>(0));
    if (locale == static_cast<locale_t>(0)) throw std::runtime_error("no C locale");
  }
  const char* codeset = nl_langinfo_l(CODESET, locale);
  CalendarWords words;
  for (int i = 0; i < 12; ++i) {
    // The stand-alone form: MON_n is the genitive in languages that have one.
    words.months[static_cast<std::size_t>(i)] = Capitalised(ToUtf8(nl_langinfo_l(ALTMON_1 + i, locale), codeset));
  }
  for (int i = 0; i < 7; ++i) {
    // ABDAY_1 is Sunday; the grid starts on Monday.
    words.weekdays[static_cast<std::size_t>(i)] =
        Capitalised(ToUtf8(nl_langinfo_l(ABDAY_1 + (i + 1) % 7, locale), codeset));
  }
  freelocale(locale);
  return words;
}

}  // namespace tools
}  // namespace zorvani
