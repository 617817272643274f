#pragma once
// The Gregorian calendar arithmetic behind every month grid: the program's frame, the
// month pictures the tools print and the grids zorvani-calibrate reads.
namespace zorvani {

constexpr bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// month 1..12.
constexpr int DaysInMonth(int year, int month) {
  constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// The weekday of the month's first day, Monday = 1 ... Sunday = 7 (Sakamoto's method).
constexpr int FirstWeekday(int year, int month) {
  constexpr int kOffsets[12] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  const int y = month < 3 ? year - 1 : year;
  const int sunday0 = (y + y / 4 - y / 100 + y / 400 + kOffsets[month - 1] + 1) % 7;
  return sunday0 == 0 ? 7 : sunday0;
}

// A day's place in a grid of seven columns whose weeks start on firstDay (Monday = 1
// ... Sunday = 7): row * 7 + column.
constexpr int CellIndexOf(int year, int month, int day, int firstDay = 1) {
  return day - 1 + (FirstWeekday(year, month) - firstDay + 7) % 7;
}

}  // namespace zorvani
