// zorvani-month-picture: one month picture (and its WP.ini), or a whole year's
// calendar folder as the wallpaper program expects it.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <map>
#include <stdexcept>
#include <string>

#include "tools/month_picture.h"

namespace {

const char kUsage[] =
    "usage: zorvani-month-picture --year Y --month M --out FILE.jpg [--width W] [--height H] [--quality Q]\n"
    "                             [--ini WP.ini]\n"
    "       zorvani-month-picture --calendar DIR --year Y [--width W] [--height H] [--quality Q]\n"
    "The second form writes DIR/ZorvaniY/1.jpg .. 12.jpg and DIR/WP.ini. Default size 1280 x 800, quality 92.\n";

int Usage(const std::string& problem) {
  if (!problem.empty()) std::fprintf(stderr, "zorvani-month-picture: %s\n", problem.c_str());
  std::fputs(kUsage, stderr);
  return 2;
}

bool ToInt(const std::string& text, int* value) {
  if (text.empty() || text.size() > 9) return false;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  *value = std::atoi(text.c_str());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::map<std::string, std::string> options;
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (name == "--help" || name == "-h") {
      Usage("");
      return 0;
    }
    static const char* const kKnown[] = {"--year", "--month", "--out", "--width", "--height", "--quality",
                                         "--ini", "--calendar"};
    bool known = false;
    for (const char* k : kKnown) known = known || name == k;
    if (!known) return Usage("unknown option " + name);
    if (i + 1 >= argc) return Usage(name + " needs a value");
    options[name] = argv[++i];
  }

  zorvani::tools::MonthPictureSettings settings;
  int quality = 92;
  const std::pair<const char*, int*> numbers[] = {{"--year", &settings.year},     {"--month", &settings.month},
                                                  {"--width", &settings.width},   {"--height", &settings.height},
                                                  {"--quality", &quality}};
  for (const auto& [name, value] : numbers) {
    const auto found = options.find(name);
    if (found != options.end() && !ToInt(found->second, value)) return Usage(std::string(name) + " needs a number");
  }
  if (!options.count("--year")) return Usage("--year is required");

  try {
    if (options.count("--calendar")) {
      if (options.count("--month") || options.count("--out") || options.count("--ini")) {
        return Usage("--calendar makes all twelve months and its own WP.ini");
      }
      zorvani::tools::WriteCalendar(options["--calendar"], settings.year, settings.width, settings.height, quality);
      return 0;
    }
    if (!options.count("--month") || !options.count("--out")) return Usage("--month and --out are required");
    zorvani::tools::WriteMonthPicture(settings, quality, options["--out"]);
    if (options.count("--ini")) zorvani::tools::WriteTextFile(options["--ini"], zorvani::tools::WpIniText(settings.grid));
  } catch (const std::invalid_argument& error) {
    return Usage(error.what());
  } catch (const std::exception& error) {
    std::fprintf(stderr, "zorvani-month-picture: %s\n", error.what());
    return 1;
  }
  return 0;
}
