// Today's cell in the month grid printed on every month picture: seven columns,
// Monday first, day 1 in the first row under its weekday.
#include "general/general.h"

namespace zorvani {
namespace {

// Weekday with Sunday = 1 ... Saturday = 7 (Sakamoto's method on the Gregorian calendar).
int WeekdaySundayFirst(int year, int month, int day) {
  static const int kMonthOffset[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  if (month < 3) year -= 1;
  const int sunday0 = (year + year / 4 - year / 100 + year / 400 + kMonthOffset[month - 1] + day) % 7;
  return sunday0 + 1;
}

}  // namespace

CalendarCell CalendarCellOf(int year, int month, int day) {
  int firstWeekday = WeekdaySundayFirst(year, month, 1) - 1;  // Monday = 1 ... Saturday = 6
  if (firstWeekday == 0) firstWeekday = 7;                     // Sunday closes the week
  const int cellIndex = (day - 1) + (firstWeekday - 1);
  return {static_cast<std::int16_t>(cellIndex / 7), static_cast<std::int16_t>(cellIndex % 7)};
}

void DrawCellFrame(cDIBSection& image, CalendarCell cell) {
  const double left = static_cast<double>(cell.column) * Config.SPACING_X + Config.CORNER_X;
  const double top = static_cast<double>(cell.row) * Config.SPACING_Y + Config.CORNER_Y;
  image.drawRectPerc(left, top, Config.CELL_X, Config.CELL_Y, Config.RECT_THICKNESS, Config.R_COMP, Config.G_COMP,
                     Config.B_COMP);
}

}  // namespace zorvani
