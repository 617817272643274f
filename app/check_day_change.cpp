// The daily check: refresh whenever today's date differs from that of the last
// successful refresh.
#include "days/fetch.h"
#include "general/general.h"
#include "platform/services.h"

namespace zorvani {

void CheckDayChange(Status (*refresh)()) {
  // One reading: a refresh that runs past midnight records the date it started for.
  const platform::LocalTime now = platform::Current().clock->Now();
  const auto day = static_cast<std::int16_t>(now.day);
  const auto month = static_cast<std::int16_t>(now.month);
  const auto year = static_cast<std::int16_t>(now.year);

  // The whole date counts: after a suspend from 5 March to 5 April the day number
  // alone would keep March's picture on the desktop.
  // A published calendar whose cached copy changed during the day is redrawn as well.
  const std::uint64_t marks = days::ContentGeneration();
  if (day == LastDay && month == LastMonth && year == LastYear && marks == LastMarks) return;

  // Today's bitmap is written and only the desktop refused it: try that step alone,
  // which costs no decode when a desktop tool stays missing all day.
  const bool desktopOnly = !PendingDesktop.bitmapPath.empty() && PendingDesktop.day == day &&
                           PendingDesktop.month == month && PendingDesktop.year == year && marks == LastMarks;
  const Status status = desktopOnly ? ApplyDesktopWallpaper(PendingDesktop.bitmapPath) : refresh();
  if (status == 0) {
    LastDay = day;
    LastMonth = month;
    LastYear = year;
    LastMarks = marks;
  } else if (!PendingDesktop.bitmapPath.empty()) {
    PendingDesktop.day = day;
    PendingDesktop.month = month;
    PendingDesktop.year = year;
  }
}

void CheckDayChange() { CheckDayChange(RefreshWallpaper); }

}  // namespace zorvani
