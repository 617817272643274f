// The daily check: refresh whenever today's date differs from that of the last
// successful refresh, or a calendar the day's marks came from has changed.
#include "days/days.h"
#include "general/general.h"
#include "platform/services.h"

namespace zorvani {
namespace {

// A calendar changed and the day's picture with its marks is not yet on the desktop.
bool marksOwed = false;

}  // namespace

void CheckDayChange(Status (*refresh)()) {
  // One reading: a refresh that runs past midnight records the date it started for.
  const platform::LocalTime now = platform::Current().clock->Now();
  const auto day = static_cast<std::int16_t>(now.day);
  const auto month = static_cast<std::int16_t>(now.month);
  const auto year = static_cast<std::int16_t>(now.year);

  // The whole date counts: after a suspend from 5 March to 5 April the day number
  // alone would keep March's picture on the desktop.
  // A calendar edited during the day costs one stat a file here; reading it is the
  // refresh's.
  const bool sourcesChanged = days::ChangedSinceLastMarks();
  marksOwed = marksOwed || sourcesChanged;
  if (day == LastDay && month == LastMonth && year == LastYear && !marksOwed) return;

  // Today's bitmap is written and only the desktop refused it: try that step alone,
  // which costs no decode when a desktop tool stays missing all day.
  const bool desktopOnly = !sourcesChanged && !PendingDesktop.bitmapPath.empty() && PendingDesktop.day == day &&
                           PendingDesktop.month == month && PendingDesktop.year == year;
  const Status status = desktopOnly ? ApplyDesktopWallpaper(PendingDesktop.bitmapPath) : refresh();
  if (status == 0) {
    marksOwed = false;
    LastDay = day;
    LastMonth = month;
    LastYear = year;
  } else if (!PendingDesktop.bitmapPath.empty()) {
    PendingDesktop.day = day;
    PendingDesktop.month = month;
    PendingDesktop.year = year;
  }
}

void CheckDayChange() { CheckDayChange(RefreshWallpaper); }

}  // namespace zorvani
