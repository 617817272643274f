#pragma once
// Month pictures for a picture calendar: a title band with the month's name and year
// over a printed Monday-first grid of seven columns and six rows, and the WP.ini
// section that tells the wallpaper program where that grid lies. Used for the
// sample calendar and to make the pictures that the end-to-end tests load.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "general/calendar_days.h"
#include "tools/common/wp_ini.h"

namespace zorvani {
namespace tools {

// Looks of a picture beyond the grid's place; the defaults give the plain sample calendar.
struct PictureStyle {
  bool boxes = false;        // a drawn outline round every cell of the month's rows
  bool dark = false;         // light ink on dark paper
  bool sundayFirst = false;  // weeks from Sunday to Saturday, as some calendars print them
  bool printGrid = true;     // false: title and paper only, no weekdays and no days
  // A photo-like area (left, top, right, bottom as fractions of the picture), none when empty.
  double photoLeft = 0, photoTop = 0, photoRight = 0, photoBottom = 0;
  double glyphScale = 1.0;   // day numbers' size against the default
  double glyphAspect = 1.0;  // width of a font dot against its height
  bool bold = false;         // every dot one dot wider
};

struct MonthPictureSettings {
  int year = 2004;
  int month = 1;  // 1..12
  int width = 1280;
  int height = 800;
  GridGeometry grid;
  PictureStyle style;
};

// Top-down rows of red, green, blue bytes, no padding.
struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;
};

// Pixel rectangle [left, right) x [top, bottom) of a grid cell, rounded as the
// frame drawing rounds its fractions.
struct CellRect {
  int left;
  int top;
  int right;
  int bottom;
};

// Row (0..5) and column (0..6) of a day in its month's grid.
void CellOf(int year, int month, int day, int* row, int* column);
CellRect CellRectOf(const GridGeometry& grid, int width, int height, int row, int column);

// Every edge of every grid cell has plain background on both sides, at least
// FlatMargin pixels wide (4 at 640 x 400, 9 at 1280 x 800). The day tiles lie on
// the JPEG's 8 x 8 block grid, so every block that touches those strips holds
// nothing but background, and every decoder gives it back within 1 of the drawn
// colour. Throws std::invalid_argument for a bad month, year
// (1..9999) or size (16..16384).
RgbImage DrawMonthPicture(const MonthPictureSettings& settings);
int FlatMargin(const MonthPictureSettings& settings);
// The pixel box of each day's printed number, day 1 first; right and bottom exclusive.
std::vector<CellRect> DayNumberBoxes(const MonthPictureSettings& settings);

// Baseline JPEG, 4:4:4, quality 1..100. Throws std::runtime_error on failure.
std::vector<std::uint8_t> EncodeJpeg(const RgbImage& image, int quality);

// Draws and writes one month picture. Throws on a bad settings or a failed write.
void WriteMonthPicture(const MonthPictureSettings& settings, int quality, const std::string& jpegPath);
void WriteTextFile(const std::string& path, const std::string& text);

// folder/Zorvani<year>/1.jpg .. 12.jpg and folder/WP.ini, folders made as needed.
// firstDay: the weeks' first day, Monday = 1 ... Sunday = 7; holidays: per month, bit d
// for day d, printed in the weekend's colour; holidayNames: per month and day, printed
// small in the cell where they fit.
void WriteCalendar(const std::string& folder, int year, int width, int height, int quality, int firstDay = 1,
                   const std::array<std::uint32_t, 12>& holidays = {},
                   const std::array<std::array<std::string, 32>, 12>& holidayNames = {});

}  // namespace tools
}  // namespace zorvani
