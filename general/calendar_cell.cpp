// Today's cell in the month grid printed on every month picture: seven columns,
// Monday first, day 1 in the first row under its weekday.
#include "general/calendar_days.h"
#include "general/general.h"

namespace zorvani {

CalendarCell CalendarCellOf(int year, int month, int day) {
  const int cellIndex = CellIndexOf(year, month, day);
  return {static_cast<std::int16_t>(cellIndex / 7), static_cast<std::int16_t>(cellIndex % 7)};
}

void DrawCellFrame(cDIBSection& image, CalendarCell cell) {
  const double left = static_cast<double>(cell.column) * Config.SPACING_X + Config.CORNER_X;
  const double top = static_cast<double>(cell.row) * Config.SPACING_Y + Config.CORNER_Y;
  image.drawRectPerc(left, top, Config.CELL_X, Config.CELL_Y, Config.RECT_THICKNESS, Config.R_COMP, Config.G_COMP,
                     Config.B_COMP);
}

}  // namespace zorvani
