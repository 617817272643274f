// Where today's cell lies in the Monday-first month grid.
#include <gtest/gtest.h>

#include "general/general.h"

namespace zorvani {
namespace {

struct Case {
  int year, month, day, row, column;
};

TEST(CalendarCell, MatchesPrintedCalendars) {
  const Case cases[] = {
      // March 2004 begins on a Monday.
      {2004, 3, 1, 0, 0}, {2004, 3, 2, 0, 1}, {2004, 3, 7, 0, 6}, {2004, 3, 8, 1, 0}, {2004, 3, 14, 1, 6},
      {2004, 3, 15, 2, 0}, {2004, 3, 31, 4, 2},
      // February 2004 begins on a Sunday and has 29 days.
      {2004, 2, 1, 0, 6}, {2004, 2, 2, 1, 0}, {2004, 2, 7, 1, 5}, {2004, 2, 8, 1, 6}, {2004, 2, 9, 2, 0},
      {2004, 2, 29, 4, 6},
      // January 2004 begins on a Thursday.
      {2004, 1, 1, 0, 3}, {2004, 1, 4, 0, 6}, {2004, 1, 5, 1, 0}, {2004, 1, 31, 4, 5},
      // February 2010 fills exactly four rows.
      {2010, 2, 28, 3, 6},
      // The sixth row: August 2004 and September 2002 begin on a Sunday, January 2000 on a Saturday.
      {2004, 8, 30, 5, 0}, {2004, 8, 31, 5, 1}, {2002, 9, 30, 5, 0}, {2000, 1, 30, 4, 6}, {2000, 1, 31, 5, 0},
      // Sundays close the week; century years leap only every 400 years.
      {2026, 12, 6, 0, 6}, {2026, 12, 7, 1, 0}, {2004, 8, 29, 4, 6}, {2100, 3, 1, 0, 0},
  };
  for (const Case& c : cases) {
    const CalendarCell cell = CalendarCellOf(c.year, c.month, c.day);
    EXPECT_EQ(cell.row, c.row) << c.year << "-" << c.month << "-" << c.day;
    EXPECT_EQ(cell.column, c.column) << c.year << "-" << c.month << "-" << c.day;
  }
}

}  // namespace
}  // namespace zorvani
