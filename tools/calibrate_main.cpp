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
#include "tools/calibrate.h"
#include "tools/grid_finder.h"

namespace {

using namespace zorvani::calibrate;

const char kUsage[] =
    "usage: zorvani-calibrate --picture JPG --cell X,Y,W,H --step DX,DY [--thickness PX] [--colour R,G,B]\n"
    "                         [--output WP.ini]\n"
    "       zorvani-calibrate --picture JPG --detect [--year Y --month M] [--thickness PX] [--colour R,G,B]\n"
    "                         [--output WP.ini]\n"
    "       zorvani-calibrate --calendar DIR --year Y --detect [--thickness PX] [--colour R,G,B] [--output WP.ini]\n"
    "       zorvani-calibrate --picture JPG --preview PNG [--config WP.ini] [--year Y --month M]\n"
    "X,Y,W,H is the pixel box of the grid's first cell (row 0, Monday of the first week), DX,DY the step\n"
    "to the next cell across and down. The frame covers exactly that box. WP.ini goes to standard output\n"
    "without --output. Year and month come from a path ending in Zorvani<year>/<month>.jpg unless given.\n"
    "The preview's WP.ini is, unless given, the one in the calendar folder above Zorvani<year>.\n";

int Usage(const std::string& problem) {
  if (!problem.empty()) std::fprintf(stderr, "zorvani-calibrate: %s\n", problem.c_str());
  std::fputs(kUsage, stderr);
  return 2;
}

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

struct Detected {
  FoundGrid found;
  int width = 0, height = 0, year = 0, month = 0;
};

Detected Detect(const std::string& path, int year, int month, int thickness) {
  const MonthPicture picture = LoadMonthPicture(path, year, month);
  Detected detected{{}, picture.image->width(), picture.image->height(), picture.year, picture.month};
  if (picture.year == 0 || picture.month == 0) {
    detected.found.refusal = "the year and month are not in the path (Zorvani<year>/<month>.jpg); give --year and --month";
    return detected;
  }
  detected.found = FindGrid(*picture.image, picture.year, picture.month, thickness);
  return detected;
}

std::string Describe(const Detected& d) {
  const PixelGrid& g = d.found.grid;
  char text[200];
  std::snprintf(text, sizeof text, "first cell %.1f,%.1f %dx%d, step %.2f,%.2f, %s", g.x, g.y, g.width, g.height,
                g.dx, g.dy, d.found.boxes ? "following the printed boxes" : "round the numbers");
  return text;
}

double MedianOf(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// WP.ini holds one grid for the whole year: the median of the months' grids, which
// every month's days must then fit. The months it does not fit are reported.
int DetectCalendar(const std::string& folder, int year, int thickness, const Colour& colour, const std::string& output) {
  std::vector<Detected> months;
  for (int month = 1; month <= 12; ++month) {
    const std::string path = (std::filesystem::path(folder) / ("Zorvani" + std::to_string(year)) /
                              (std::to_string(month) + ".jpg")).string();
    try {
      months.push_back(Detect(path, year, month, thickness));
    } catch (const zorvani::RuntimeError& error) {
      months.push_back({});
      months.back().found.refusal = path + ": " + error.description();
    }
  }
  std::vector<const Detected*> found;
  for (const Detected& d : months) {
    if (d.found.refusal.empty()) found.push_back(&d);
  }
  if (found.empty()) return Refuse("no month picture has a grid that can be used");
  const Detected& first = *found.front();
  std::vector<double> values[6];
  for (const Detected* d : found) {
    const PixelGrid& g = d->found.grid;
    const double each[6] = {g.x, g.y, g.dx, g.dy, static_cast<double>(g.width), static_cast<double>(g.height)};
    for (int k = 0; k < 6; ++k) values[k].push_back(each[k]);
  }
  PixelGrid shared = first.found.grid;
  shared.x = MedianOf(values[0]), shared.y = MedianOf(values[1]), shared.dx = MedianOf(values[2]);
  shared.dy = MedianOf(values[3]);
  shared.width = static_cast<int>(MedianOf(values[4])), shared.height = static_cast<int>(MedianOf(values[5]));

  std::vector<std::string> verdicts(12);
  const std::string problem =
      WriteChecked(WpIniFor(shared, first.width, first.height, colour), output, [&](const std::string& written) {
        ReadWpIni(written);
        std::string firstProblem;
        for (std::size_t m = 0; m < months.size(); ++m) {
          const Detected& d = months[m];
          std::string& verdict = verdicts[m];
          if (!d.found.refusal.empty()) {
            verdict = "no grid: " + d.found.refusal;
          } else if (d.width != first.width || d.height != first.height) {
            verdict = "differs: the picture is " + std::to_string(d.width) + " x " + std::to_string(d.height);
          } else {
            const std::string fit = CheckDayFrames(d.width, d.height, d.year, d.month, d.found.numbers);
            verdict = fit.empty() ? Describe(d) : "differs from the other months: with their grid " + fit;
          }
          if (firstProblem.empty() && verdict != Describe(d)) firstProblem = "month " + std::to_string(m + 1) + " does not fit";
        }
        return firstProblem;
      });
  for (std::size_t m = 0; m < months.size(); ++m) std::fprintf(stderr, "%2zu: %s\n", m + 1, verdicts[m].c_str());
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

  if (options.count("--calendar")) {
    if (!options.count("--detect") || year == 0) return Usage("--calendar goes with --detect and --year");
    return DetectCalendar(options["--calendar"], year, thickness, colour, output);
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
    const Detected d = Detect(picturePath, year, month, thickness);
    if (!d.found.refusal.empty()) return Refuse(d.found.refusal);
    std::fprintf(stderr, "zorvani-calibrate: %s\n", Describe(d).c_str());
    const std::string problem =
        WriteChecked(WpIniFor(d.found.grid, d.width, d.height, colour), output, [&](const std::string& written) {
          ReadWpIni(written);
          return CheckDayFrames(d.width, d.height, d.year, d.month, d.found.numbers);
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
  static const char* const kWithValue[] = {"--picture", "--cell",  "--step",   "--thickness", "--colour", "--output",
                                           "--year",    "--month", "--preview", "--config",   "--calendar"};
  std::map<std::string, std::string> options;
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (name == "--help" || name == "-h") {
      Usage("");
      return 0;
    }
    if (name == "--detect") {
      options[name] = "";
      continue;
    }
    bool known = false;
    for (const char* k : kWithValue) known = known || name == k;
    if (!known) return Usage("unknown option " + name);
    if (i + 1 >= argc || std::string(argv[i + 1]).empty()) return Usage(name + " needs a value");
    options[name] = argv[++i];
  }
  try {
    return Run(options);
  } catch (const zorvani::RuntimeError& error) {
    return Refuse(error.description());
  } catch (const std::exception& error) {
    return Refuse(error.what());
  }
}
