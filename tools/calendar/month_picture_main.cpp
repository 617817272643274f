// zorvani-month-picture: one month picture (and its WP.ini), or a whole year's
// calendar folder as the wallpaper program expects it.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <map>
#include <stdexcept>
#include <string>

#include "days/days.h"
#include "platform/picture.h"
#include "platform/screen.h"
#include "tools/common/command_line.h"
#include "tools/calendar/month_picture.h"
#include "tools/calendar/photo_calendar.h"
#include "tools/calendar/photo_files.h"

namespace {

const char kUsage[] =
    "usage: zorvani-month-picture --year Y --month M --out FILE.jpg [--size WxH] [--quality Q] [--ini WP.ini]\n"
    "                             [--first-day monday|sunday]\n"
    "       zorvani-month-picture --calendar DIR --year Y [--size WxH] [--quality Q] [--first-day DAY]\n"
    "       zorvani-month-picture --photos PHOTOS --calendar DIR --year Y [--size WxH] [--locale NAME]\n"
    "                             [--colour R,G,B] [--quality Q] [--first-day DAY]\n"
    "The second form writes DIR/ZorvaniY/1.jpg .. 12.jpg and DIR/WP.ini. The third prints the calendar\n"
    "on the JPEG and PNG photos in PHOTOS, one a month in name order, in their calmest part; locale\n"
    "from the environment; --colour is the colour of the frame round today.\n"
    "--first-day names the weekday the weeks start on (Monday when not given), also in WP.ini.\n"
    "The size is that of the primary screen, or 1920x1080 without a display; quality 92.\n"
    "(--width W and --height H still set the size of the first two forms.)\n";

int Usage(const std::string& problem) { return zorvani::tools::PrintUsage("zorvani-month-picture", kUsage, problem); }

bool ToInt(const std::string& text, int* value) {
  if (text.empty() || text.size() > 9) return false;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  *value = std::atoi(text.c_str());
  return true;
}

// "1920x1080" or "200,40,60": exactly `count` numbers between the separators.
bool ToInts(const std::string& text, char separator, int count, int* values) {
  std::size_t start = 0;
  for (int i = 0; i < count; ++i) {
    const std::size_t end = i + 1 < count ? text.find(separator, start) : text.size();
    if (end == std::string::npos || !ToInt(text.substr(start, end - start), &values[i])) return false;
    start = end + 1;
  }
  return true;
}

// --size WxH, or the older --width and --height of the generated calendars; the
// defaults stay where neither is given.
bool ReadSize(std::map<std::string, std::string>& options, int* width, int* height, std::string* problem) {
  // Pictures the size of the screen are shown unstretched; without a display, the most
  // common screen. The screen is not asked when the size is given.
  const bool given = options.count("--size") || options.count("--width") || options.count("--height");
  if (given || !platform::PrimaryScreenSize(width, height)) {
    *width = 1920;
    *height = 1080;
  }
  if (options.count("--size")) {
    if (options.count("--width") || options.count("--height")) {
      *problem = "give the size either as --size WxH or as --width and --height";
      return false;
    }
    int size[2] = {0, 0};
    if (!ToInts(options["--size"], 'x', 2, size)) {
      *problem = "--size needs WxH";
      return false;
    }
    *width = size[0];
    *height = size[1];
  }
  for (const auto& [name, value] : {std::pair<const char*, int*>{"--width", width}, {"--height", height}}) {
    const auto found = options.find(name);
    if (found != options.end() && !ToInt(found->second, value)) {
      *problem = std::string(name) + " needs a number";
      return false;
    }
  }
  // The wallpaper program refuses a larger picture as if it were corrupt.
  if (*width > 0 && *height > 0 && !platform::PictureSizeAllowed(*width, *height)) {
    *problem = std::to_string(*width) + "x" + std::to_string(*height) + " is larger than the wallpaper program shows: at most " +
               std::to_string(platform::kMaxPictureSide) + " pixels a side and " +
               std::to_string(platform::kMaxPicturePixels) + " pixels in all";
    return false;
  }
  return true;
}

// --first-day: a weekday's English name, Monday = 1 ... Sunday = 7; 0 when it is none.
int FirstDay(std::map<std::string, std::string>& options) {
  return options.count("--first-day") ? zorvani::tools::WeekdayNumber(options["--first-day"]) : 1;
}

// The holidays of the user's and the machine's calendar sources, month by month, and
// their names.
struct YearHolidays {
  std::array<std::uint32_t, 12> days{};
  std::array<zorvani::days::DayNames, 12> names{};
};
YearHolidays Holidays(int year) {
  YearHolidays holidays;
  for (int month = 1; month <= 12; ++month) {
    const std::size_t m = static_cast<std::size_t>(month - 1);
    const zorvani::days::MonthMarks marks = zorvani::days::MarkedDays(year, month);
    for (int day = 1; day <= 31; ++day) {
      if (marks.day[static_cast<std::size_t>(day)].holiday) holidays.days[m] |= 1u << day;
    }
    if (holidays.days[m] != 0) holidays.names[m] = zorvani::days::HolidayNames(year, month);
  }
  return holidays;
}

int MakePhotoCalendar(std::map<std::string, std::string>& options, int year, int quality, int firstDay) {
  if (options.count("--month") || options.count("--out") || options.count("--ini")) {
    return Usage("--photos makes all twelve months and its own WP.ini");
  }
  if (!options.count("--calendar")) return Usage("--photos needs --calendar");
  zorvani::tools::PhotoCalendarSettings settings;
  settings.year = year;
  settings.quality = quality;
  settings.locale = options["--locale"];
  settings.firstDay = firstDay;
  const YearHolidays holidays = Holidays(year);
  settings.holidays = holidays.days;
  settings.holidayNames = holidays.names;
  std::string problem;
  if (!ReadSize(options, &settings.width, &settings.height, &problem)) return Usage(problem);
  if (options.count("--colour")) {
    int rgb[3] = {0, 0, 0};
    if (!ToInts(options["--colour"], ',', 3, rgb) || rgb[0] > 255 || rgb[1] > 255 || rgb[2] > 255) {
      return Usage("--colour needs R,G,B, each 0 to 255");
    }
    settings.frame.R_COMP = rgb[0];
    settings.frame.G_COMP = rgb[1];
    settings.frame.B_COMP = rgb[2];
  }
  const std::vector<std::string> photos = zorvani::tools::PhotoFiles(options["--photos"]);
  if (photos.empty()) {
    std::fprintf(stderr, "zorvani-month-picture: no JPEG or PNG photos in %s\n", options["--photos"].c_str());
    return 1;
  }
  const zorvani::tools::PhotoCalendarReport report =
      zorvani::tools::WritePhotoCalendar(photos, options["--calendar"], settings);
  const zorvani::tools::Placement& p = report.placement;
  std::printf("%zu photos for 12 months; calendar at %d,%d size %dx%d (%.0f %% of its normal size), detail %.2f (calm up to %.1f)\n",
              photos.size(), p.left, p.top, p.width, p.height, 100 * p.scale, p.detail, zorvani::tools::kCalmDetail);
  if (!p.calm) std::printf("no part of the photos is calm enough: the calendar stands on a translucent panel\n");
  std::printf("lowest text contrast %.2f:1\n", report.lowestContrast);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const zorvani::tools::OptionNames names{{"--year", "--month", "--out", "--width", "--height", "--quality", "--ini",
                                            "--calendar", "--photos", "--size", "--locale", "--colour", "--first-day"},
                                           {},
                                           true};
  std::map<std::string, std::string> options;
  int status = 0;
  if (!zorvani::tools::ReadCommandLineOrAnswer(argc, argv, names, "zorvani-month-picture", kUsage, &options, &status)) {
    return status;
  }

  zorvani::tools::MonthPictureSettings settings;
  int quality = 92;
  const std::pair<const char*, int*> numbers[] = {
      {"--year", &settings.year}, {"--month", &settings.month}, {"--quality", &quality}};
  for (const auto& [name, value] : numbers) {
    const auto found = options.find(name);
    if (found != options.end() && !ToInt(found->second, value)) return Usage(std::string(name) + " needs a number");
  }
  if (!options.count("--year")) return Usage("--year is required");
  const int firstDay = FirstDay(options);
  if (firstDay == 0) return Usage("--first-day needs a weekday's name, such as monday or sunday");

  try {
    if (options.count("--photos")) return MakePhotoCalendar(options, settings.year, quality, firstDay);
    if (options.count("--locale") || options.count("--colour")) return Usage("--locale and --colour go with --photos");
    std::string problem;
    if (!ReadSize(options, &settings.width, &settings.height, &problem)) return Usage(problem);
    if (options.count("--calendar")) {
      if (options.count("--month") || options.count("--out") || options.count("--ini")) {
        return Usage("--calendar makes all twelve months and its own WP.ini");
      }
      const YearHolidays holidays = Holidays(settings.year);
      zorvani::tools::WriteCalendar(options["--calendar"], settings.year, settings.width, settings.height, quality,
                                    firstDay, holidays.days, holidays.names);
      return 0;
    }
    if (!options.count("--month") || !options.count("--out")) return Usage("--month and --out are required");
    // The single picture's weekday header is printed for these two starts only.
    if (firstDay != 1 && firstDay != 7) return Usage("--first-day with --out is monday or sunday");
    settings.style.sundayFirst = firstDay == 7;
    zorvani::tools::WriteMonthPicture(settings, quality, options["--out"]);
    if (options.count("--ini")) {
      zorvani::tools::WriteTextFile(options["--ini"], zorvani::tools::WpIniText(settings.grid, {}, firstDay));
    }
  } catch (const std::invalid_argument& error) {
    return Usage(error.what());
  } catch (const std::exception& error) {
    std::fprintf(stderr, "zorvani-month-picture: %s\n", error.what());
    return 1;
  }
  return 0;
}
