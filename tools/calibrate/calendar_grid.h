#pragma once
// The grid of a whole year's calendar: found in each month picture, one shared grid
// for WP.ini, and which months that grid does not fit.
#include <string>
#include <vector>

#include "tools/calibrate/grid_finder.h"

namespace zorvani {
namespace calibrate {

struct Detected {
  FoundGrid found;
  int width = 0, height = 0, year = 0, month = 0;
  std::string Describe() const;
};

// Loads the picture (year and month from its path unless given) and finds its grid,
// weeks from firstDay (0: as the picture tells); raises RuntimeError when the picture
// cannot be loaded.
Detected DetectInPicture(const std::string& path, int year, int month, int thickness, int firstDay = 0);

struct CalendarGrid {
  std::vector<Detected> months;  // January first; a picture that cannot be loaded is refused
  PixelGrid grid;                // per value, the median over the months with a grid
  int width = 0, height = 0;     // of the first month with a grid; 0 when none has one
  int firstDay = 1;              // the weeks' first day of the first month with a grid
};
CalendarGrid FindCalendarGrid(const std::string& folder, int year, int thickness, int firstDay = 0);

// With the configuration record: for each month, empty when its days fit, else why not.
std::vector<std::string> CalendarMisfits(const CalendarGrid& calendar);

}  // namespace calibrate
}  // namespace zorvani
