#include "tools/calibrate/calendar_grid.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "runtime/runtime_error.h"

namespace zorvani {
namespace calibrate {
namespace {

double MedianOf(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

std::string Detected::Describe() const {
  const PixelGrid& g = found.grid;
  char text[200];
  std::snprintf(text, sizeof text, "first cell %.1f,%.1f %dx%d, step %.2f,%.2f, %s, weeks from %s", g.x, g.y, g.width,
                g.height, g.dx, g.dy, found.boxes ? "following the printed boxes" : "round the numbers",
                found.firstDay == 7 ? "Sunday" : "Monday");
  return text;
}

Detected DetectInPicture(const std::string& path, int year, int month, int thickness, int firstDay) {
  const MonthPicture picture = LoadMonthPicture(path, year, month);
  Detected detected{{}, picture.image->width(), picture.image->height(), picture.year, picture.month};
  if (picture.year == 0 || picture.month == 0) {
    detected.found.refusal = "the year and month are not in the path (Zorvani<year>/<month>.jpg); give --year and --month";
    return detected;
  }
  detected.found = FindGrid(*picture.image, picture.year, picture.month, thickness, firstDay);
  return detected;
}

CalendarGrid FindCalendarGrid(const std::string& folder, int year, int thickness, int firstDay) {
  CalendarGrid calendar;
  for (int month = 1; month <= 12; ++month) {
    const std::string path = (std::filesystem::path(folder) / ("Zorvani" + std::to_string(year)) /
                              (std::to_string(month) + ".jpg")).string();
    try {
      calendar.months.push_back(DetectInPicture(path, year, month, thickness, firstDay));
    } catch (const RuntimeError& error) {
      calendar.months.push_back({});
      calendar.months.back().found.refusal = error.description();
    }
  }
  // The median resists a month or two printed elsewhere, which then show as misfits.
  std::vector<double> values[6];
  for (const Detected& d : calendar.months) {
    if (!d.found.refusal.empty()) continue;
    if (calendar.width == 0) {
      calendar.width = d.width, calendar.height = d.height, calendar.grid = d.found.grid;
      calendar.firstDay = d.found.firstDay;
    }
    const PixelGrid& g = d.found.grid;
    const double each[6] = {g.x, g.y, g.dx, g.dy, static_cast<double>(g.width), static_cast<double>(g.height)};
    for (int k = 0; k < 6; ++k) values[k].push_back(each[k]);
  }
  if (calendar.width == 0) return calendar;
  PixelGrid& shared = calendar.grid;
  shared.x = MedianOf(values[0]), shared.y = MedianOf(values[1]), shared.dx = MedianOf(values[2]);
  shared.dy = MedianOf(values[3]);
  shared.width = static_cast<int>(MedianOf(values[4])), shared.height = static_cast<int>(MedianOf(values[5]));
  return calendar;
}

std::vector<std::string> CalendarMisfits(const CalendarGrid& calendar) {
  std::vector<std::string> misfits;
  for (const Detected& d : calendar.months) {
    if (!d.found.refusal.empty()) {
      misfits.push_back("no grid: " + d.found.refusal);
    } else if (d.found.firstDay != calendar.firstDay) {
      misfits.push_back("differs: its weeks start on another day than the other months'");
    } else if (d.width != calendar.width || d.height != calendar.height) {
      misfits.push_back("differs: the picture is " + std::to_string(d.width) + " x " + std::to_string(d.height));
    } else {
      // The weeks' first day as the written WP.ini tells the program.
      const std::string fit = CheckDayFrames(d.width, d.height, d.year, d.month, Config.FIRST_DAY, d.found.numbers);
      misfits.push_back(fit.empty() ? "" : "differs from the other months: with their grid " + fit);
    }
  }
  return misfits;
}

}  // namespace calibrate
}  // namespace zorvani
