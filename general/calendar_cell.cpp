// Today's cell in the month grid printed on every month picture: seven columns,
// Monday first unless WP.ini names another first day, day 1 in the first row under
// its weekday.
#include <algorithm>
#include <cstdint>
#include <cstring>

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

// drawRect with lines so thick that they meet covers stored rows H-top-height to H-top,
// columns left to left+width (its upright lines reach one column past its flat ones).
// Where all of that lies in the pixel memory and within drawRect's 16-bit arithmetic,
// the same bytes are copied in a row at a time instead of checked one by one; false
// (nothing written) elsewhere.
bool FillRows(cDIBSection& image, std::int64_t left, std::int64_t top, std::int64_t width, std::int64_t height,
              std::int64_t thickness, const days::Colour& colour) {
  const std::int64_t H = image.height(), stride = image.BytesPerScanLine(), t1 = thickness - 1;
  std::uint8_t* const bits = image.DIBSectionBitsPtr();
  const std::int64_t first = std::min(left, left + width - t1), last = std::max(left + width, left + t1);
  if (bits == nullptr || t1 != (height + 1) / 2 || left < 0 || top < 1 || width < 1 || first < 0 || 3 * last + 2 >= stride ||
      3 * (left + width + t1) > INT16_MAX || top + height > INT16_MAX || H - top - height < 0)
    return false;
  std::uint8_t* const start = bits + (H - top - height) * stride + 3 * first;
  const std::size_t bytes = static_cast<std::size_t>(3 * (last - first + 1));
  for (std::size_t b = 0; b < bytes; b += 3) start[b] = colour.blue, start[b + 1] = colour.green, start[b + 2] = colour.red;
  for (std::int64_t r = 1; r <= height; ++r) std::memcpy(start + r * stride, start, bytes);
  return true;
}

// A block filled by the frame drawing itself: lines so thick that they meet.
void FillBlock(cDIBSection& image, int left, int top, int width, int height, const days::Colour& colour) {
  if (width < 1 || height < 1) return;
  const auto x = static_cast<std::int16_t>(left), y = static_cast<std::int16_t>(top);
  const auto w = static_cast<std::int16_t>(width), h = static_cast<std::int16_t>(height);
  const auto thickness = static_cast<std::int16_t>((height + 1) / 2 + 1);
  if (FillRows(image, x, y, w, h, thickness, colour)) return;
  image.drawRect(x, y, w, h, thickness, colour.red, colour.green, colour.blue);
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
