// Today's cell in the month grid printed on every month picture: seven columns,
// Monday first unless WP.ini names another first day, day 1 in the first row under
// its weekday.
#include "days/days.h"
#include "general/calendar_days.h"
#include "general/general.h"
#include "runtime/rounding.h"

namespace zorvani {

CalendarCell CalendarCellOf(int year, int month, int day, int firstDay) {
  const int cellIndex = CellIndexOf(year, month, day, firstDay);
  return {static_cast<std::int16_t>(cellIndex / 7), static_cast<std::int16_t>(cellIndex % 7)};
}

void DrawCellFrame(cDIBSection& image, CalendarCell cell) {
  const double left = static_cast<double>(cell.column) * Config.SPACING_X + Config.CORNER_X;
  const double top = static_cast<double>(cell.row) * Config.SPACING_Y + Config.CORNER_Y;
  image.drawRectPerc(left, top, Config.CELL_X, Config.CELL_Y, Config.RECT_THICKNESS, Config.R_COMP, Config.G_COMP,
                     Config.B_COMP);
}

namespace {

// A block filled by the frame drawing itself: lines so thick that they meet.
void FillBlock(cDIBSection& image, int left, int top, int width, int height, const days::Colour& colour) {
  if (width < 1 || height < 1) return;
  image.drawRect(static_cast<std::int16_t>(left), static_cast<std::int16_t>(top), static_cast<std::int16_t>(width),
                 static_cast<std::int16_t>(height), static_cast<std::int16_t>((height + 1) / 2 + 1), colour.red,
                 colour.green, colour.blue);
}

}  // namespace

void DrawDayMarks(cDIBSection& image, int year, int month, const days::MonthMarks& marks) {
  const double W = image.width(), H = image.height();
  // Inside the frame's lines, so that today's frame, drawn over them, hides none.
  const int inset = RoundToInt16(W * Config.RECT_THICKNESS) + 1;
  for (int day = 1; day <= DaysInMonth(year, month); ++day) {
    const days::DayMark& mark = marks.day[static_cast<std::size_t>(day)];
    if (!mark.holiday && !mark.event) continue;
    const CalendarCell cell = CalendarCellOf(year, month, day, Config.FIRST_DAY);
    const int left = RoundToInt16(W * (static_cast<double>(cell.column) * Config.SPACING_X + Config.CORNER_X));
    const int top = RoundToInt16(H * (static_cast<double>(cell.row) * Config.SPACING_Y + Config.CORNER_Y));
    const int width = RoundToInt16(W * Config.CELL_X), height = RoundToInt16(H * Config.CELL_Y);
    // A bar along the cell's foot for a holiday, a square in its top right corner for an
    // event: the printed number, in the middle or a top corner, stays readable.
    if (mark.holiday) {
      const int bar = height / 8 > 2 ? height / 8 : 2;
      FillBlock(image, left + inset, top + height - inset - bar, width - 2 * inset, bar, mark.holidayColour);
    }
    if (mark.event) {
      const int side = (width < height ? width : height) / 6 > 3 ? (width < height ? width : height) / 6 : 3;
      FillBlock(image, left + width - inset - side, top + inset, side, side, mark.eventColour);
    }
  }
}

}  // namespace zorvani
