#pragma once
// zorvani-calibrate's work: WP.ini from a grid given in pixels or found in a month
// picture, checked by drawing every day's frame with the program's own drawing, and
// a preview of a whole month's frames.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dib/cDIBSection.h"
#include "general/calendar_days.h"
#include "general/general.h"

namespace zorvani {
namespace calibrate {

// Pixels of a picture, lines counted from the top; right and bottom exclusive.
struct PixelBox {
  int left = 0, top = 0, right = 0, bottom = 0;
  bool Contains(const PixelBox& inner) const {
    return inner.left >= left && inner.right <= right && inner.top >= top && inner.bottom <= bottom;
  }
  bool Meets(const PixelBox& other) const {
    return other.left < right && left < other.right && other.top < bottom && top < other.bottom;
  }
};

struct Colour {
  int r = 200, g = 40, b = 60;
};

// The frame round the grid's first cell (row 0, column 0) as the outer edge of its
// lines, the distance to the next cell across and down, and the line thickness.
struct PixelGrid {
  double x = 0, y = 0;
  int width = 0, height = 0;
  double dx = 0, dy = 0;
  int thickness = 0;
  PixelBox CellBox(int row, int column) const;
};

// A decoded picture as the program holds it, plus where it came from.
struct MonthPicture {
  std::unique_ptr<cDIBSection> image;
  int year = 0, month = 0;  // 0 when neither the path nor the caller said
};
// Loads with the program's picture loader; raises RuntimeError when it cannot.
MonthPicture LoadMonthPicture(const std::string& path, int year, int month);
// Year and month from a path ending in Zorvani<year>/<month>.jpg; false otherwise.
bool YearMonthFromPath(const std::string& path, int* year, int* month);

// The WP.ini section for the grid on a picture of this size, weeks from firstDay
// (Monday 1 ... Sunday 7).
std::string WpIniFor(const PixelGrid& grid, int pictureWidth, int pictureHeight, const Colour& colour, int firstDay = 1);

// Reads a WP.ini with the program's reader into the configuration record, from a
// clean record. Raises RuntimeError for a faulty entry.
void ReadWpIni(const std::string& path);

// Draws a cell's frame, with the configuration record as it stands, into a blank
// picture of the given size, and reports what was drawn.
class FrameProbe {
 public:
  FrameProbe(int width, int height);
  struct Drawn {
    PixelBox box;  // the drawn pixels' bounds; empty when nothing was drawn
    long long pixels = 0;
  };
  Drawn Draw(CalendarCell cell);

 private:
  cDIBSection image_;
};

// Pixels in a whole frame of this outer size and thickness.
long long FramePixels(const PixelBox& box, int thickness);

// The frames the configuration draws for every cell a day can fall in (rows 0..5 up
// to cell 36) against the requested grid; empty when all match, else the first mismatch.
std::string CheckAgainstGrid(const PixelGrid& grid, int pictureWidth, int pictureHeight);

// Writes text to `output` (standard output when empty) only when check(path of the
// written file) returns an empty text; otherwise nothing is left behind and the check's
// text is returned.
std::string WriteChecked(const std::string& text, const std::string& output,
                         const std::function<std::string(const std::string&)>& check);

// Draws every day's frame of the month (every possible cell when the month is unknown)
// with the configuration record onto the picture.
void DrawMonthFrames(MonthPicture& picture);

// Writes a 24-bit PNG of a bottom-up BGR picture; false with a reason on failure.
bool WritePng(const std::string& path, const cDIBSection& image, std::string* error);

}  // namespace calibrate
}  // namespace zorvani
