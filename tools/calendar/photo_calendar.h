#pragma once
// A year of month pictures from the user's own photos (or generated landscapes):
// each photo scaled and cropped to the picture size, and a calendar of the month
// printed with a real font in the part of the picture that is calmest across all
// twelve, readable on what lies beneath it, with one WP.ini for the whole year.
#include <array>
#include <string>
#include <vector>

#include "tools/calendar/month_picture.h"
#include "tools/calendar/text_mask.h"

namespace zorvani {
namespace tools {

struct PhotoCalendarSettings {
  int year = 2004;
  int width = 1920;
  int height = 1080;
  int quality = 92;
  std::string locale;  // "" takes the environment's
  FrameStyle frame;
  int firstDay = 1;    // the weeks' first day, Monday = 1 ... Sunday = 7
  // Per month, bit d for day d: a holiday, printed in the weekend's colour.
  std::array<std::uint32_t, 12> holidays{};
  // Per month and day, a holiday's name, printed small in its cell where it fits:
  // plain text (never markup), valid UTF-8.
  std::array<std::array<std::string, 32>, 12> holidayNames{};
};

// The block that holds the title, the weekday names and six rows of seven cells,
// in pixels, with its mean detail (gradient energy per pixel and photo).
struct Placement {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  double detail = 0;
  bool calm = true;   // false: a translucent panel goes behind the calendar
  double scale = 1;   // of the block's normal size, where a smaller one fits a calm part
};

// One printed text: a day number (day 1..31) or a title or weekday name (day 0).
struct PrintedText {
  int day = 0;
  int nameOf = 0;  // a holiday's name: the day it names (day is then 0)
  bool weekend = false;
  int left = 0, top = 0, right = 0, bottom = 0;  // ink box in the picture
  double contrast = 0;                           // measured on the written JPEG
};

struct PhotoCalendarReport {
  GridGeometry grid;
  Placement placement;
  std::array<std::string, 12> titles;
  std::array<std::vector<PrintedText>, 12> printed;
  std::array<double, 12> panelAlpha{};  // 0 where no panel was needed
  double lowestContrast = 0;
};

// Detail above which no block counts as calm, and above which one cell of the reduced
// grid is busy.
constexpr double kCalmDetail = 6.0;
constexpr double kBusyDetail = 24.0;
// The smallest share of its normal size the block shrinks to, to fit a calm part.
constexpr double kSmallestBlock = 0.7;

// WCAG 2 relative luminance of an sRGB colour, and the contrast ratio of two luminances.
double RelativeLuminance(int r, int g, int b);
double ContrastRatio(double a, double b);

// Scales without distortion so the picture covers width x height, then crops the middle.
RgbImage ScaleToCover(const RgbImage& image, int width, int height);
// A landscape for the sample calendar: sky, sun and textured hills in the month's colours.
RgbImage GeneratedBackground(int month, int width, int height);
// The block of the given size, inside a margin, with the least detail summed over all
// pictures; smaller (Placement::scale) where only a smaller one fits a wholly calm part.
Placement FindCalmPlacement(const std::vector<RgbImage>& pictures, int blockWidth, int blockHeight);

// Makes folder/Zorvani<year>/1.jpg .. 12.jpg and folder/WP.ini. Month m shows photo
// (m - 1) modulo their number; no photos gives generated backgrounds. All photos are
// decoded before anything is written; each file is written whole or not at all.
PhotoCalendarReport WritePhotoCalendar(const std::vector<std::string>& photos, const std::string& folder,
                                       const PhotoCalendarSettings& settings);

}  // namespace tools
}  // namespace zorvani
