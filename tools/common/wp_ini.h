#pragma once
// The grid and frame values of a WP.ini [config] section, and the section's text.
#include <string>

namespace zorvani {
namespace tools {

// Where the grid lies, as fractions of the picture: X values of its width, Y values
// of its height, with the meaning and names of the WP.ini keys.
struct GridGeometry {
  double CELL_X = 0.115;
  double CELL_Y = 0.095;
  double SPACING_X = 0.125;
  double SPACING_Y = 0.11;
  double CORNER_X = 0.0675;
  double CORNER_Y = 0.30;
};

// The frame the wallpaper program draws round today's cell.
struct FrameStyle {
  double RECT_THICKNESS = 0.004;
  int R_COMP = 200;
  int G_COMP = 40;
  int B_COMP = 60;
};

// The [config] section: geometry scaled by 10^11, colour as plain integers, and
// FIRST_DAY for weeks that do not start on Monday (1; ... Sunday 7).
std::string WpIniText(const GridGeometry& grid, const FrameStyle& frame = FrameStyle(), int firstDay = 1);

// A weekday's English name in any case as Monday 1 ... Sunday 7; 0 when it is none.
int WeekdayNumber(const std::string& name);

}  // namespace tools
}  // namespace zorvani
