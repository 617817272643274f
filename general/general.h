#pragma once
// Module General: the process-wide state and the free procedures for configuration,
// today's calendar cell, the wallpaper refresh and registry access.
#include <cstdint>
#include <memory>
#include <string>

#include "days/days.h"
#include "dib/cDIBSection.h"
#include "platform/handle.h"

namespace zorvani {

using Status = std::int16_t;  // 0 success, -1 failure

// --- Process-wide state --------------------------------------------------------
// Folder of the month pictures and of wp.bmp: empty, or ending in the separator.
extern std::string BaseDir;
// The auto-start command line the program was started by; empty when none was registered.
extern std::string AutoStartCommandLine;
// Day of the month (1..31) of the last refresh that returned 0; 0 at start.
extern std::int16_t LastDay;
// Month and year of that refresh, kept beside LastDay so that a day number that
// comes round again in another month still counts as a new day.
extern std::int16_t LastMonth;
extern std::int16_t LastYear;

struct ConfigRecord {
  double CELL_X = 0, CELL_Y = 0, SPACING_X = 0, SPACING_Y = 0, CORNER_X = 0, CORNER_Y = 0;
  double RECT_THICKNESS = 0;
  std::int16_t R_COMP = 0, G_COMP = 0, B_COMP = 0;
  // The grid's first weekday, Monday = 1 ... Sunday = 7: WP.ini's optional FIRST_DAY.
  std::int16_t FIRST_DAY = 1;
};
extern ConfigRecord Config;

// The image object of the refresh in progress; empty between refreshes.
extern std::unique_ptr<cDIBSection> CalendarImage;

// The bitmap written in full whose desktop change then failed, with the date it was
// framed for; empty path when none. The daily check retries only the desktop step for it.
struct PendingDesktopStep {
  std::string bitmapPath;
  std::int16_t day = 0, month = 0, year = 0;
};
extern PendingDesktopStep PendingDesktop;

// --- Configuration ---------------------------------------------------------------
// Reads section "config" of WP.ini in the program's own folder into Config.
void LoadConfig();
// The same, from a given profile file (LoadConfig's path is fixed by the program file).
void LoadConfigFrom(const std::string& iniPath);

// --- Today's calendar cell -------------------------------------------------------
struct CalendarCell {
  std::int16_t row;
  std::int16_t column;
};
// Row and column of a date in its month's grid of seven columns, weeks from firstDay
// (Monday = 1 ... Sunday = 7).
CalendarCell CalendarCellOf(int year, int month, int day, int firstDay = 1);
// Draws the frame of one cell with the configuration record: what a refresh draws for that day.
void DrawCellFrame(cDIBSection& image, CalendarCell cell);
// The marks of this month's holidays and events, in the same cells, under the frame.
void DrawDayMarks(cDIBSection& image, int year, int month, const days::MonthMarks& marks);

// --- Wallpaper refresh -------------------------------------------------------------
Status RefreshWallpaper();
Status ComposeCalendarImage(const std::string& sPicturePath, const std::string& sBitmapPath);
Status SaveWallpaperBitmap(const std::string& sBitmapPath);
std::string CurrentMonthText();
// The desktop step alone: makes the bitmap the wallpaper; 0 when the desktop took it,
// -1 (and the bitmap kept in PendingDesktop) when it did not.
Status ApplyDesktopWallpaper(const std::string& sBitmapPath);
// The one wp.bmp for every monitor, the step above without the monitors' own pictures.
Status ApplyOnePicture(const std::string& sBitmapPath);
// Monitors added, removed or changed: their pictures are made again from the wp.bmp
// last shown (the month picture is not decoded again).
void MonitorsChanged();

// --- Removal -----------------------------------------------------------------------
// True once the program has been removed while it runs: its own file is gone, or the
// auto-start value no longer names what it named at start. Never while an installer
// runs, nor for a program that was not started through an auto-start value.
bool ProgramRemoved();
// What a removed program does before it ends: gives the desktop back the wallpaper it
// showed before the program's first change, and takes away this user's own bitmap.
void GiveBackDesktop();

// --- Registry ----------------------------------------------------------------------
extern std::uint32_t RegistryRoot;
extern platform::Handle RegistryKey;
extern std::int32_t RegistryStatus;

std::uint32_t RegistryRootFromName(const std::string& name);
void SplitRegistryPath(std::string& path, std::uint32_t& root);
std::string RegistryQueryString(std::uint32_t root, const std::string& subKey, const std::string& valueName);
std::string RegistryReadValue(std::string& path, const std::string& valueName);
void RegistryWriteValue(std::string& path, const std::string& valueName, const std::string& data);

// --- Daily check -----------------------------------------------------------------
// Refreshes through RefreshWallpaper when today's date differs from the last
// successful refresh's; the overload takes the refresh to call.
void CheckDayChange();
void CheckDayChange(Status (*refresh)());

}  // namespace zorvani
