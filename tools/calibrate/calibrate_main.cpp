// zorvani-calibrate: WP.ini for a calendar of one's own, from the first cell's pixels
// or found in a month picture, and a preview of every day's frame.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/runtime_error.h"
#include "tools/calibrate/calibrate.h"
#include "tools/calibrate/calendar_grid.h"
#include "tools/common/command_line.h"
#include "tools/common/wp_ini.h"

namespace {

using namespace zorvani::calibrate;

const char kUsage[] =
    "usage: zorvani-calibrate --picture JPG --cell X,Y,W,H --step DX,DY [--thickness PX] [--colour R,G,B]\n"
    "                         [--output WP.ini]\n"
    "       zorvani-calibrate --picture JPG --detect [--year Y --month M] [--first-day monday|sunday]\n"
    "                         [--thickness PX] [--colour R,G,B] [--output WP.ini]\n"
    "       zorvani-calibrate --calendar DIR --year Y --detect [--first-day monday|sunday] [--thickness PX]\n"
    "                         [--colour R,G,B] [--output WP.ini]\n"
    "       zorvani-calibrate --picture JPG --preview PNG [--config WP.ini] [--year Y --month M]\n"
    "X,Y,W,H is the pixel box of the grid's first cell (row 0, Monday of the first week), DX,DY the step\n"
    "to the next cell across and down. The frame covers exactly that box. WP.ini goes to standard output\n"
    "without --output. Year and month come from a path ending in Zorvani<year>/<month>.jpg unless given.\n"
    "The preview's WP.ini is, unless given, the one in the calendar folder above Zorvani<year>.\n"
    "--detect reads weeks from Monday or from Sunday, as the printed weekend shows; --first-day says which.\n";

int Usage(const std::string& problem) { return zorvani::tools::PrintUsage("zorvani-calibrate", kUsage, problem); }

int Refuse(const std::string& reason) {
  std::fprintf(stderr, "zorvani-calibrate: %s; nothing written\n", reason.c_str());
  return 1;
}

// Comma-separated integers, exactly `count` of them, each within [low, high].
bool Numbers(const std::string& text, std::size_t count, long low, long high, std::vector<int>* values) {
  std::stringstream in(text);
  std::string part;
  values->clear();
  while (std::getline(in, part, ',')) {
    char* end = nullptr;
    const long value = std::strtol(part.c_str(), &end, 10);
    if (part.empty() || *end != '\0' || value < low || value > high) return false;
    values->push_back(static_cast<int>(value));
  }
  return values->size() == count && text.back() != ',';
}

// WP.ini holds one grid for the whole year; every month's days must fit it.
int DetectCalendar(const std::string& folder, int year, int thickness, int firstDay, const Colour& colour,
                   const std::string& output) {
  const CalendarGrid calendar = FindCalendarGrid(folder, year, thickness, firstDay);
  if (calendar.width == 0) return Refuse("no month picture has a grid that can be used");
  std::vector<std::string> misfits;
  const std::string problem = WriteChecked(WpIniFor(calendar.grid, calendar.width, calendar.height, colour, calendar.firstDay), output,
                                           [&](const std::string& written) {
                                             ReadWpIni(written);
                                             misfits = CalendarMisfits(calendar);
                                             const auto bad = std::count_if(misfits.begin(), misfits.end(),
                                                                            [](const std::string& m) { return !m.empty(); });
                                             return bad == 0   ? std::string()
                                                    : bad == 1 ? std::string("one month does not fit")
                                                               : std::to_string(bad) + " months do not fit";
                                           });
  for (std::size_t m = 0; m < misfits.size(); ++m) {
    const std::string& verdict = misfits[m].empty() ? calendar.months[m].Describe() : misfits[m];
    std::fprintf(stderr, "%2zu: %s%s\n", m + 1, verdict.c_str(), misfits[m].empty() ? "" : "  <-");
  }
  if (!problem.empty()) return Refuse("WP.ini holds one grid for the whole year, and " + problem);
  return 0;
}

int Run(std::map<std::string, std::string>& options) {
  std::vector<int> values;
  int year = 0, month = 0, thickness = 0;
  Colour colour;
  if (options.count("--year") && !Numbers(options["--year"], 1, 1601, 9999, &values)) return Usage("--year needs a year");
  if (options.count("--year")) year = values[0];
  if (options.count("--month") && !Numbers(options["--month"], 1, 1, 12, &values)) return Usage("--month needs 1 to 12");
  if (options.count("--month")) month = values[0];
  if (options.count("--thickness") && !Numbers(options["--thickness"], 1, 1, 1000, &values)) {
    return Usage("--thickness needs a number of pixels, 1 or more");
  }
  if (options.count("--thickness")) thickness = values[0];
  if (options.count("--colour")) {
    if (!Numbers(options["--colour"], 3, 0, 255, &values)) return Usage("--colour needs R,G,B, each 0 to 255");
    colour = {values[0], values[1], values[2]};
  }
  const std::string output = options.count("--output") ? options["--output"] : "";
  int firstDay = 0;
  if (options.count("--first-day")) {
    firstDay = zorvani::tools::WeekdayNumber(options["--first-day"]);
    if (firstDay != 1 && firstDay != 7) return Usage("--first-day needs monday or sunday");
  }

  if (options.count("--calendar")) {
    if (!options.count("--detect") || year == 0) return Usage("--calendar goes with --detect and --year");
    return DetectCalendar(options["--calendar"], year, thickness, firstDay, colour, output);
  }
  if (!options.count("--picture")) return Usage("--picture is required");
  const std::string picturePath = options["--picture"];

  if (options.count("--preview")) {
    MonthPicture picture = LoadMonthPicture(picturePath, year, month);
    std::string config = options.count("--config") ? options["--config"] : "";
    if (config.empty()) {
      const std::filesystem::path calendar = std::filesystem::path(picturePath).parent_path().parent_path();
      config = (calendar / "WP.ini").string();
      if (!std::filesystem::exists(config)) return Usage("no WP.ini at " + config + "; give --config");
    }
    ReadWpIni(config);
    DrawMonthFrames(picture);
    std::string error;
    if (!WritePng(options["--preview"], *picture.image, &error)) return Refuse(error);
    return 0;
  }

  if (options.count("--detect")) {
    const Detected d = DetectInPicture(picturePath, year, month, thickness, firstDay);
    if (!d.found.refusal.empty()) return Refuse(d.found.refusal);
    std::fprintf(stderr, "zorvani-calibrate: %s\n", d.Describe().c_str());
    const std::string problem =
        WriteChecked(WpIniFor(d.found.grid, d.width, d.height, colour, d.found.firstDay), output, [&](const std::string& written) {
          ReadWpIni(written);
          return CheckDayFrames(d.width, d.height, d.year, d.month, zorvani::Config.FIRST_DAY, d.found.numbers);
        });
    return problem.empty() ? 0 : Refuse(problem);
  }

  if (!options.count("--cell") || !options.count("--step")) return Usage("give --cell and --step, --detect or --preview");
  std::vector<int> cell, step;
  if (!Numbers(options["--cell"], 4, -32768, 32767, &cell) || cell[2] < 1 || cell[3] < 1) {
    return Usage("--cell needs X,Y,W,H in pixels, W and H 1 or more");
  }
  if (!Numbers(options["--step"], 2, 0, 32767, &step)) return Usage("--step needs DX,DY in pixels");
  const MonthPicture picture = LoadMonthPicture(picturePath, year, month);
  const int w = picture.image->width(), h = picture.image->height();
  PixelGrid grid;
  grid.x = cell[0], grid.y = cell[1], grid.width = cell[2], grid.height = cell[3];
  grid.dx = step[0], grid.dy = step[1];
  grid.thickness = thickness > 0 ? thickness : DefaultThickness(w);
  if (2 * grid.thickness > std::min(grid.width, grid.height)) {
    return Refuse("a frame of " + std::to_string(grid.thickness) + " pixels does not fit a cell of " +
                  std::to_string(grid.width) + " x " + std::to_string(grid.height));
  }
  const std::string problem = WriteChecked(WpIniFor(grid, w, h, colour), output, [&](const std::string& written) {
    ReadWpIni(written);
    return CheckAgainstGrid(grid, w, h);
  });
  return problem.empty() ? 0 : Refuse(problem);
}

}  // namespace

int main(int argc, char** argv) {
  const zorvani::tools::OptionNames names{{"--picture", "--cell", "--step", "--thickness", "--colour", "--output",
                                            "--year", "--month", "--preview", "--config", "--calendar", "--first-day"},
                                           {"--detect"},
                                           false};
  std::map<std::string, std::string> options;
  int status = 0;
  if (!zorvani::tools::ReadCommandLineOrAnswer(argc, argv, names, "zorvani-calibrate", kUsage, &options, &status)) return status;
  try {
    return Run(options);
  } catch (const zorvani::RuntimeError& error) {
    return Refuse(error.description());
  } catch (const std::exception& error) {
    return Refuse(error.what());
  }
}
