// One wallpaper refresh: this month's picture with today's cell framed, written to
// wp.bmp beside the pictures (or, where this user may not replace that one, to this
// user's own), then made the desktop wallpaper.
#include <exception>
#include <memory>

#include "general/general.h"
#include "platform/form.h"
#include "platform/process.h"
#include "platform/replace_file.h"
#include "platform/services.h"
#include "runtime/runtime_error.h"
#include "screens/screens.h"

namespace zorvani {
namespace {

const char kDesktopKey[] = "HKEY_CURRENT_USER\\CONTROL PANEL\\DESKTOP";

std::string FourDigitYear(int year) {
  std::string text = std::to_string(year);
  if (text.size() < 4) text.insert(0, 4 - text.size(), '0');
  return text;
}

// An end asked for from outside is acted on between the steps of a refresh, not
// after it: decoding and writing a large picture take seconds.
struct EndRequested : std::exception {};
void StopIfEndPending() {
  if (platform::EndPending()) throw EndRequested();
}

// A month without its picture is said once in the system log, not at every check; the
// wallpaper meanwhile stays as it was.
std::string missingPictureNoted;

void NoteMissingPicture(const std::string& picturePath, const std::string& year) {
  platform::SystemLog* log = platform::Current().log;
  if (log == nullptr || missingPictureNoted == picturePath) return;
  missingPictureNoted = picturePath;
  log->Warning("no month picture " + picturePath + ", so the wallpaper stays as it was; the calendar needs its "
               "pictures for " + year + " (Zorvani" + year + ", 1.jpg to 12.jpg)");
}

// The desktop's wallpaper is kept once, before the program's first change of it.
bool previousWallpaperKept = false;

// On a machine shared by several users the calendar folder's wp.bmp belongs to the user
// who logged on first: the others may add files there but not replace that one. This
// user's day then goes to a bitmap of their own. Tried again at every refresh, so the
// calendar folder's is used again as soon as this user may replace it.
Status SaveToUserBitmap(std::string& bitmapPath) {
  if (!platform::LastReplacementDenied()) return -1;
  const std::string folder = platform::Current().desktop->UserBitmapFolder();
  if (folder.empty()) return -1;
  bitmapPath = folder + "wp.bmp";
  StopIfEndPending();
  return SaveWallpaperBitmap(bitmapPath);
}

// Drops the refresh's image object on every way out of the refresh.
struct CalendarImageRelease {
  ~CalendarImageRelease() { CalendarImage.reset(); }
};

}  // namespace

std::string CurrentMonthText() { return std::to_string(platform::Current().clock->Now().month); }

Status SaveWallpaperBitmap(const std::string& sBitmapPath) {
  return CalendarImage->SavePicture(sBitmapPath) != kFalse ? 0 : -1;
}

Status ApplyDesktopWallpaper(const std::string& sBitmapPath) {
  // Monitors of other shapes get their own pictures, made from the image still in
  // memory during a refresh and from the file at a retry.
  screens::ConstPixels image;
  if (CalendarImage && CalendarImage->DIBSectionBitsPtr() != nullptr)
    image = screens::DibView(CalendarImage->DIBSectionBitsPtr(), CalendarImage->width(), CalendarImage->height());
  const screens::Shown shown = screens::ShowOnMonitors(sBitmapPath, image.first != nullptr ? &image : nullptr);
  if (shown != screens::Shown::kOnePicture) {
    PendingDesktop.bitmapPath = shown == screens::Shown::kFailed ? sBitmapPath : std::string();
    return shown == screens::Shown::kFailed ? -1 : 0;
  }
  return ApplyOnePicture(sBitmapPath);
}

Status ApplyOnePicture(const std::string& sBitmapPath) {
  // A desktop that refused the change (its tool failed, timed out or is missing)
  // leaves the day undone; the bitmap is already right, so only this step is retried.
  if (platform::Current().desktop->SystemParametersInfoA(platform::kSpiSetDeskWallpaper, 0, sBitmapPath,
                                                          platform::kSpifUpdateIniFile |
                                                              platform::kSpifSendWinIniChange)) {
    PendingDesktop = {};
    return 0;
  }
  PendingDesktop.bitmapPath = sBitmapPath;
  return -1;
}

void MonitorsChanged() {
  const std::string bitmapPath = screens::LastBitmap();
  // Before the first day is shown, or with a retry due anyway, the next check does it.
  if (bitmapPath.empty() || LastDay == 0 || !PendingDesktop.bitmapPath.empty()) return;
  const screens::Shown before = screens::LastShown();
  const screens::Shown shown = screens::ShowOnMonitors(bitmapPath, nullptr);
  Status status = shown == screens::Shown::kFailed ? -1 : 0;
  if (shown == screens::Shown::kOnePicture && before != screens::Shown::kOnePicture) {
    std::string key = kDesktopKey;
    RegistryWriteValue(key, "TileWallpaper", "0");
    key = kDesktopKey;
    RegistryWriteValue(key, "WallpaperStyle", "2");
    status = ApplyOnePicture(bitmapPath);
  }
  // Not shown: the day's check tries the desktop step again, without a decode.
  if (status != 0) {
    PendingDesktop = {bitmapPath, LastDay, LastMonth, LastYear};
    LastDay = 0;
  }
}

Status ComposeCalendarImage(const std::string& sPicturePath, const std::string& sBitmapPath) {
  const platform::LocalTime now = platform::Current().clock->Now();
  const CalendarCell cell = CalendarCellOf(now.year, now.month, now.day, Config.FIRST_DAY);

  const std::unique_ptr<platform::Picture> picture = platform::Current().pictures->LoadPicture(sPicturePath);
  StopIfEndPending();
  CalendarImage->CreateFromPicture(*picture);
  StopIfEndPending();
  const days::MonthMarks marks = days::MarkedDays(now.year, now.month);
  if (marks.any) DrawDayMarks(*CalendarImage, now.year, now.month, marks);
  StopIfEndPending();
  DrawCellFrame(*CalendarImage, cell);
  StopIfEndPending();
  return SaveWallpaperBitmap(sBitmapPath);
}

Status RefreshWallpaper() {
  Status status = -1;
  const CalendarImageRelease release;
  try {
    // Year, month and day come from separate readings of the clock, in that order
    // (named steps: the operands of + may be evaluated in any order).
    const std::string year = FourDigitYear(platform::Current().clock->Now().year);
    const std::string month = CurrentMonthText();
    const std::string picturePath = BaseDir + "Zorvani" + year + platform::PathSeparator() + month + ".jpg";
    const std::string calendarBitmap = BaseDir + "wp.bmp";
    std::string bitmapPath = calendarBitmap;
    CalendarImage = std::make_unique<cDIBSection>();

    PendingDesktop = {};
    Status result = -1;
    try {
      result = ComposeCalendarImage(picturePath, bitmapPath);
    } catch (const RuntimeError& error) {
      if (error.number() == kErrFileNotFound) NoteMissingPicture(picturePath, year);
      throw;
    }
    if (result != 0) result = SaveToUserBitmap(bitmapPath);
    StopIfEndPending();
    if (result == 0) {
      if (!previousWallpaperKept) platform::Current().desktop->RecordPreviousWallpaper(calendarBitmap);
      previousWallpaperKept = true;
      std::string key = kDesktopKey;  // each call rewrites its own copy of the path
      RegistryWriteValue(key, "TileWallpaper", "0");
      key = kDesktopKey;
      RegistryWriteValue(key, "WallpaperStyle", "2");
      result = ApplyDesktopWallpaper(bitmapPath);
    }
    // A save that did not complete, or a desktop that did not take the file, left the
    // old wallpaper in place: the day is not done, so the next check tries again.
    status = result == 0 ? 0 : -1;
  } catch (const std::exception&) {
    // Every failure of a refresh ends here, silently, with the status still -1.
  }
  return status;
}

}  // namespace zorvani
