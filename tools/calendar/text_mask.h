#pragma once
// The two things the photo calendar needs from the system's text stack: text drawn
// as a coverage mask with a real font, and the calendar words of a language.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zorvani {
namespace tools {

// Coverage 0..255 per pixel, top-down rows, cut tight round the ink.
struct TextMask {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> coverage;
};

class TextPainter {
 public:
  virtual ~TextPainter() = default;
  // UTF-8 text, bold sans-serif from the system's fonts, `pixelSize` the em size.
  virtual TextMask Render(const std::string& text, double pixelSize) = 0;
};
std::unique_ptr<TextPainter> MakeTextPainter();

struct CalendarWords {
  std::array<std::string, 12> months;   // January first, capitalised
  std::array<std::string, 7> weekdays;  // abbreviations, Monday first
};
// Words of a locale such as "de_DE.UTF-8"; "" takes the environment's (LC_ALL,
// LC_TIME, LANG) and falls back to English when that names no installed locale.
// Throws std::invalid_argument when a named locale is not installed.
CalendarWords WordsOfLocale(const std::string& name);

}  // namespace tools
}  // namespace zorvani
