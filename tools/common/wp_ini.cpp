#include "tools/common/wp_ini.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace zorvani {
namespace tools {
namespace {

long long Scaled(double fraction) { return std::llround(fraction * 100000000000.0); }

const char* const kWeekdays[7] = {"Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"};

}  // namespace

int WeekdayNumber(const std::string& name) {
  for (int day = 1; day <= 7; ++day) {
    const std::string weekday = kWeekdays[day - 1];
    if (name.size() == weekday.size() &&
        std::equal(name.begin(), name.end(), weekday.begin(), [](char a, char b) {
          return (a >= 'A' && a <= 'Z' ? a - 'A' + 'a' : a) == (b >= 'A' && b <= 'Z' ? b - 'A' + 'a' : b);
        })) {
      return day;
    }
  }
  return 0;
}

std::string WpIniText(const GridGeometry& grid, const FrameStyle& frame, int firstDay) {
  char text[512];
  std::snprintf(text, sizeof text,
                "[config]\nCELL_X=%lld\nCELL_Y=%lld\nSPACING_X=%lld\nSPACING_Y=%lld\nCORNER_X=%lld\nCORNER_Y=%lld\n"
                "RECT_THICKNESS=%lld\nR_COMP=%d\nG_COMP=%d\nB_COMP=%d\n",
                Scaled(grid.CELL_X), Scaled(grid.CELL_Y), Scaled(grid.SPACING_X), Scaled(grid.SPACING_Y),
                Scaled(grid.CORNER_X), Scaled(grid.CORNER_Y), Scaled(frame.RECT_THICKNESS), frame.R_COMP,
                frame.G_COMP, frame.B_COMP);
  std::string section = text;
  if (firstDay >= 2 && firstDay <= 7) section += std::string("FIRST_DAY=") + kWeekdays[firstDay - 1] + "\n";
  return section;
}

}  // namespace tools
}  // namespace zorvani
