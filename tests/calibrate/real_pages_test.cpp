// zorvani-calibrate --detect on month pages printed by real calendar programs (pcal,
// remind's rem2ps and rem2pdf), rendered by Ghostscript onto a screen-sized picture, alone
// or on a photo or a texture. The truth comes from the printer: txtwrite says where each
// day number was set, trimmed to its ink by a render without text. A page counts as read
// when the detector finds a grid that passes its own check; a read page whose frames miss
// the printed numbers is a wrong WP.ini. Part of the set was kept out of the tuning.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "tools/calibrate/calibrate.h"
#include "tools/calibrate/grid_finder.h"
#include "tools/calendar/month_picture.h"
#include "tools/calendar/photo_calendar.h"
#include "tools/calendar/photo_files.h"

#include "calibrate/scratch.h"

namespace {

namespace fs = std::filesystem;
using namespace zorvani::calibrate;
using zorvani::tools::RgbImage;

enum Program { kPcal, kRem2ps, kRem2pdf };

// One page: the program and its options, the month, the screen, what lies under the page
// ("" paper white, "texture", "landscape" or a wallpaper file) and the share of the
// screen the page's printed part may take.
struct Page {
  Program program;
  const char* options;
  bool landscape, small, marks, mondayFirst;
  int year, month, width, height;
  const char* backdrop;
  double share;
  bool heldOut;
};

const char kTeal[] = "/usr/share/backgrounds/xfce/xfce-teal.jpg";
const char kBlue[] = "/usr/share/backgrounds/xfce/xfce-blue.jpg";
const char kStripes[] = "/usr/share/backgrounds/xfce/xfce-verticals.png";
const char kSway[] = "/usr/share/backgrounds/sway/Sway_Wallpaper_Blue_1920x1080.png";

// small: the little calendars of the months before and after; marks: pcal's notes box,
// or remind's shaded weekends and week numbers.
const Page kPages[] = {
    // program, options, landscape, small, marks, Monday, year, month, width, height, backdrop, share, held out
    {kPcal, "", true, true, false, true, 2026, 3, 1920, 1080, "", 1, false},
    {kPcal, "", false, true, false, true, 2026, 5, 1366, 768, "", 1, false},
    {kPcal, "-s 1.0:0.0:0.0/0.9", true, false, false, true, 2027, 2, 2560, 1440, "texture", 0.7, false},
    {kPcal, "", false, true, true, true, 2026, 5, 1920, 1080, kTeal, 0.9, false},
    {kPcal, "-B", true, true, false, true, 2025, 6, 3840, 2160, "landscape", 0.6, false},
    {kPcal, "-d Helvetica-Bold/18", true, true, false, true, 2026, 11, 1366, 768, "texture", 0.8, false},
    {kPcal, "-K -s 0.0:0.0:1.0/0.9", true, true, false, true, 2028, 2, 1600, 900, "", 1, false},
    {kPcal, "", false, true, false, true, 2029, 9, 3840, 2160, kSway, 0.85, false},
    {kPcal, "", true, true, false, true, 2026, 2, 1920, 1080, "texture", 0.75, false},
    {kPcal, "-s 0.6/0.8", false, false, false, true, 2030, 12, 1920, 1080, "", 1, false},
    {kRem2ps, "", true, true, false, true, 2026, 3, 1920, 1080, "", 1, false},
    {kRem2ps, "", false, false, false, true, 2026, 8, 1366, 768, "", 1, false},
    {kRem2ps, "", true, true, true, true, 2027, 10, 2560, 1440, "texture", 0.7, false},
    {kRem2ps, "-x -t 3", true, false, false, true, 2026, 12, 3840, 2160, kBlue, 0.6, false},
    {kRem2ps, "-c1", false, true, true, true, 2030, 1, 1920, 1200, "landscape", 0.9, false},
    {kRem2ps, "-e", true, false, false, true, 2031, 4, 1366, 768, "texture", 0.55, false},
    {kRem2ps, "", true, false, false, true, 2027, 2, 1366, 768, "", 1, false},
    {kRem2pdf, "", true, true, false, true, 2026, 3, 1920, 1080, "", 1, false},
    {kRem2pdf, "-x --line-thickness=4", true, false, true, true, 2026, 5, 1366, 768, "", 1, false},
    {kRem2pdf, "", false, false, false, true, 2026, 7, 2560, 1440, kSway, 0.9, false},
    {kRem2pdf, "", true, true, true, true, 2025, 9, 3840, 2160, "texture", 0.65, false},
    {kRem2pdf, "--daynum-size=10", true, false, false, true, 2027, 6, 1920, 1080, "landscape", 0.85, false},
    {kRem2pdf, "-x", false, true, false, true, 2028, 11, 1600, 900, "", 1, false},
    {kRem2pdf, "", true, false, false, true, 2024, 2, 2560, 1440, kStripes, 0.7, false},
    // Kept out of the tuning.
    {kPcal, "", true, true, false, true, 2032, 8, 1366, 768, kBlue, 0.75, true},
    {kPcal, "-s 1.0:0.0:0.0/0.9", false, false, false, true, 2026, 10, 2560, 1440, "", 1, true},
    {kPcal, "", true, true, true, true, 2033, 1, 3840, 2160, "texture", 0.8, true},
    {kPcal, "-K", false, true, false, true, 2026, 4, 1920, 1080, "landscape", 0.7, true},
    {kRem2ps, "", true, true, false, true, 2026, 6, 1600, 900, "", 1, true},
    {kRem2ps, "", false, false, true, true, 2034, 3, 3840, 2160, kSway, 0.8, true},
    {kRem2ps, "-x -c2", true, true, false, true, 2027, 7, 2560, 1440, "landscape", 0.65, true},
    {kRem2ps, "-t 2", true, false, false, true, 2029, 5, 1920, 1080, "texture", 0.9, true},
    {kRem2pdf, "", true, true, true, true, 2026, 9, 1366, 768, kTeal, 0.8, true},
    {kRem2pdf, "", false, true, false, true, 2031, 1, 1920, 1080, "", 1, true},
    {kRem2pdf, "-x --line-thickness=3", true, false, false, true, 2030, 8, 3840, 2160, "", 1, true},
    {kRem2pdf, "--daynum-size=11", true, false, false, true, 2026, 1, 2560, 1440, "texture", 0.6, true},
    // Weeks from Sunday: read from Sunday where the printed weekend shows it, else refused.
    {kPcal, "", true, true, false, false, 2026, 3, 1920, 1080, "", 1, false},
    {kRem2ps, "", true, true, false, false, 2026, 5, 1366, 768, "texture", 0.8, false},
    {kRem2pdf, "", false, true, false, false, 2027, 9, 2560, 1440, "", 1, false},
    {kPcal, "", false, true, false, false, 2026, 10, 3840, 2160, kTeal, 0.8, true},
};

const char* const kProgramNames[] = {"pcal", "rem2ps", "rem2pdf"};

std::string Name(const Page& p) {
  char text[200];
  std::snprintf(text, sizeof text, "%s %s%s%s %s %d-%02d %dx%d %s", kProgramNames[p.program], p.landscape ? "landscape" : "portrait",
                p.small ? ", small calendars" : "", p.marks ? ", marks" : "", p.options, p.year, p.month, p.width, p.height,
                fs::path(p.backdrop).filename().c_str());
  return text;
}

bool Run(const std::string& command) { return std::system(command.c_str()) == 0; }

// The page as PostScript or PDF from the program itself.
std::string PrintPage(const Page& p) {
  const std::string out = Scratch(p.program == kRem2pdf ? "page.pdf" : "page.ps").string();
  const std::string inputs = Scratch("inputs").string();
  if (p.program == kPcal) {
    zorvani::tools::WriteTextFile(inputs, "note " + std::to_string(p.month) + " Take the car to the garage\n");
    const std::string command = std::string("pcal ") + (p.mondayFirst ? "-F Monday " : "") + (p.landscape ? "-l " : "-p ") +
                                (p.small ? "" : "-S ") + (p.marks ? "-f '" + inputs + "' " : "-e ") + p.options + " -o '" +
                                out + "' " + std::to_string(p.month) + " " + std::to_string(p.year);
    return Run(command) ? out : "";
  }
  zorvani::tools::WriteTextFile(inputs, p.marks ? "REM Sat SPECIAL SHADE 255 215 215\nREM Sun SPECIAL SHADE 215 225 255\n"
                                                  "REM Mon SPECIAL WEEK [weekno()]\n"
                                                : "");
  char date[16];
  std::snprintf(date, sizeof date, "%04d-%02d-01", p.year, p.month);
  const std::string command = std::string("remind ") + (p.program == kRem2pdf ? "-pp " : "-p ") + (p.mondayFirst ? "-m '" : "'") +
                              inputs + "' " + date + " 2>/dev/null | " + kProgramNames[p.program] + (p.landscape ? " -l " : " ") +
                              (p.small ? "" : "-c0 ") + p.options + " >'" + out + "'";
  return Run(command) ? out : "";
}

std::string Ghostscript(const std::string& device, double resolution, const std::string& extra, const std::string& in,
                        const std::string& out) {
  return "gs -q -dSAFER -dNOPAUSE -dBATCH -sDEVICE=" + device + " -r" + std::to_string(resolution) + " " + extra +
         " -sOutputFile='" + out + "' '" + in + "'";
}

// Landscape pages are printed turned: turned a quarter clockwise, as a camera's orientation 6.
RgbImage TurnClockwise(const RgbImage& in) { return zorvani::tools::Oriented(in, 6); }
PixelBox TurnClockwise(const PixelBox& b, int height) { return {height - b.bottom, b.left, height - b.top, b.right}; }

// The box of everything that is not paper white.
PixelBox Printed(const RgbImage& image) {
  PixelBox box{image.width, image.height, 0, 0};
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x) {
      const std::uint8_t* p = &image.pixels[(static_cast<std::size_t>(y) * image.width + x) * 3];
      if (std::min({p[0], p[1], p[2]}) < 245) box = {std::min(box.left, x), std::min(box.top, y), std::max(box.right, x + 1),
                                                     std::max(box.bottom, y + 1)};
    }
  return box;
}

// Day numbers from txtwrite: words of digits (one span each, or one span a glyph),
// of the largest size at which every day of the month is printed once; each as the
// box of the text-only ink where the word was set: from its baseline up by its digits'
// height (0.85 of the size), so no other text above it counts.
std::vector<PixelBox> DayNumbers(const std::string& xml, const RgbImage& page, const RgbImage& noText, double resolution,
                                 int days) {
  struct Word {
    int x0, y0, x1, y1;
    double size;
    std::string text;
  };
  std::vector<Word> words;
  std::ifstream in(xml);
  const std::regex span(R"re(<span bbox="(-?\d+) (-?\d+) (-?\d+) (-?\d+)" font="[^"]*" size="([\d.]+)">)re");
  const std::regex glyph(R"re(<char bbox="[^"]*" c="(.*)"/>)re");
  std::string line;
  std::smatch m;
  while (std::getline(in, line)) {
    if (std::regex_search(line, m, span)) {
      Word w{std::stoi(m[1]), std::stoi(m[2]), std::stoi(m[3]), std::stoi(m[4]), std::stod(m[5]), ""};
      const double gap = 0.3 * w.size * resolution / 72;
      Word* last = nullptr;
      for (auto it = words.rbegin(); it != words.rend() && last == nullptr; ++it) last = it->size < 0 ? nullptr : &*it;
      const bool across = w.y0 == w.y1;
      if (last != nullptr && last->size == w.size && across == (last->y0 == last->y1) &&
          (across ? last->y0 == w.y0 && std::abs(w.x0 - last->x1) <= gap
                  : last->x0 == w.x0 && std::abs(w.y0 - last->y1) <= gap)) {
        last->x1 = w.x1, last->y1 = w.y1;
        words.push_back({0, 0, 0, 0, -1, ""});  // a joined span: its glyphs go to the word before
      } else {
        words.push_back(w);
      }
    } else if (std::regex_search(line, m, glyph) && !words.empty()) {
      auto it = words.end() - 1;
      while (it->size < 0) --it;
      it->text += m[1].str();
    }
  }
  std::map<double, std::map<int, const Word*>> bySize;
  for (const Word& w : words) {
    if (w.size < 0 || w.text.empty() || w.text.size() > 2 || !std::all_of(w.text.begin(), w.text.end(), ::isdigit)) continue;
    const int value = std::stoi(w.text);
    if (value >= 1 && value <= days) bySize[w.size][value] = &w;
  }
  std::vector<PixelBox> numbers;
  for (auto it = bySize.rbegin(); it != bySize.rend() && numbers.empty(); ++it) {
    if (static_cast<int>(it->second.size()) != days) continue;
    for (const auto& [value, w] : it->second) {
      const double s = w->size * resolution / 72;
      PixelBox near;
      if (w->y0 == w->y1) {
        near = {static_cast<int>(std::min(w->x0, w->x1) - 0.1 * s), static_cast<int>(w->y0 - 0.85 * s),
                static_cast<int>(std::max(w->x0, w->x1) + 0.1 * s), static_cast<int>(w->y0 + 0.3 * s)};
      } else {
        const bool up = w->y0 > w->y1;  // glyphs stand towards -x when the text runs up
        near = {static_cast<int>(w->x0 - (up ? 0.85 : 0.3) * s), static_cast<int>(std::min(w->y0, w->y1) - 0.1 * s),
                static_cast<int>(w->x0 + (up ? 0.3 : 0.85) * s), static_cast<int>(std::max(w->y0, w->y1) + 0.1 * s)};
      }
      PixelBox ink{page.width, page.height, 0, 0};
      for (int y = std::max(0, near.top); y < std::min(page.height, near.bottom); ++y)
        for (int x = std::max(0, near.left); x < std::min(page.width, near.right); ++x) {
          const std::size_t at = (static_cast<std::size_t>(y) * page.width + x) * 3;
          int differs = 0;
          for (int c = 0; c < 3; ++c) differs = std::max(differs, std::abs(page.pixels[at + c] - noText.pixels[at + c]));
          if (differs > 48) ink = {std::min(ink.left, x), std::min(ink.top, y), std::max(ink.right, x + 1), std::max(ink.bottom, y + 1)};
        }
      if (ink.right <= ink.left) return {};
      numbers.push_back(ink);
    }
  }
  return numbers;
}

// A busy texture: soft colour waves under fine grain and scattered dark and light strokes.
RgbImage Texture(int width, int height, int seed) {
  std::mt19937 random(static_cast<unsigned>(seed));
  RgbImage image{width, height, std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 3)};
  const double f = 6.28 / std::max(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = &image.pixels[(static_cast<std::size_t>(y) * width + x) * 3];
      for (int c = 0; c < 3; ++c) {
        const double wave = 128 + 70 * std::sin(x * f * (3 + c) + y * f * (2 + seed % 3)) * std::cos(y * f * (4 - c));
        p[c] = static_cast<std::uint8_t>(std::clamp(wave + static_cast<int>(random() % 41) - 20, 0.0, 255.0));
      }
    }
  for (int stroke = 0; stroke < width * height / 4000; ++stroke) {
    const int x = static_cast<int>(random() % width), y = static_cast<int>(random() % height);
    const int length = 5 + static_cast<int>(random() % 30), shade = random() % 2 ? 20 : 235;
    const bool across = random() % 2;
    for (int k = 0; k < length; ++k) {
      const int px = across ? std::min(width - 1, x + k) : x, py = across ? y : std::min(height - 1, y + k);
      std::fill_n(&image.pixels[(static_cast<std::size_t>(py) * width + px) * 3], 3, static_cast<std::uint8_t>(shade));
    }
  }
  return image;
}

struct Outcome {
  bool made = false, read = false, wrong = false;
  std::string text;
};

// Makes the page's screen picture and its truth, then detects as the command does.
Outcome Try(const Page& p) {
  Outcome outcome;
  const std::string printed = PrintPage(p);
  if (printed.empty()) return outcome.text = "the calendar program failed", outcome;
  const bool turned = p.landscape && p.program != kRem2pdf;
  // Where the printed part lies, from a render at one pixel a point.
  const std::string probe = Scratch("probe.png").string();
  if (!Run(Ghostscript("png16m", 72, "", printed, probe))) return outcome.text = "Ghostscript failed", outcome;
  RgbImage page = zorvani::tools::ReadPhoto(probe);
  if (turned) page = TurnClockwise(page);
  PixelBox part = Printed(page);
  const double margin = 0.03 * std::max(part.right - part.left, part.bottom - part.top);
  const double scale = p.share * std::min(p.width / (part.right - part.left + 2 * margin),
                                          p.height / (part.bottom - part.top + 2 * margin));
  const double resolution = 72 * scale;
  const std::string smooth = "-dTextAlphaBits=4 -dGraphicsAlphaBits=4";
  const std::string full = Scratch("page.png").string(), bare = Scratch("bare.png").string(), xml = Scratch("page.xml").string();
  if (!Run(Ghostscript("png16m", resolution, smooth, printed, full)) ||
      !Run(Ghostscript("png16m", resolution, smooth + " -dFILTERTEXT", printed, bare)) ||
      !Run(Ghostscript("txtwrite", resolution, "-dTextFormat=0", printed, xml)))
    return outcome.text = "Ghostscript failed", outcome;
  page = zorvani::tools::ReadPhoto(full);
  const RgbImage noText = zorvani::tools::ReadPhoto(bare);
  std::vector<PixelBox> truth = DayNumbers(xml, page, noText, resolution, zorvani::DaysInMonth(p.year, p.month));
  if (truth.empty()) return outcome.text = "no day numbers in the printer's text", outcome;
  if (turned) {
    for (PixelBox& b : truth) b = TurnClockwise(b, page.height);
    page = TurnClockwise(page);
  }
  part = Printed(page);
  const int m = static_cast<int>(margin * scale);
  part = {std::max(0, part.left - m), std::max(0, part.top - m), std::min(page.width, part.right + m),
          std::min(page.height, part.bottom + m)};
  const int pw = std::min(p.width, part.right - part.left), ph = std::min(p.height, part.bottom - part.top);

  // The screen: the page in the middle on paper, or to one side on the backdrop.
  const std::string backdrop = p.backdrop;
  RgbImage screen{p.width, p.height, std::vector<std::uint8_t>(static_cast<std::size_t>(p.width) * p.height * 3, 255)};
  if (backdrop == "texture") screen = Texture(p.width, p.height, p.month);
  if (backdrop == "landscape") screen = zorvani::tools::GeneratedBackground(p.month, p.width, p.height);
  if (!backdrop.empty() && backdrop[0] == '/')
    screen = zorvani::tools::ScaleToCover(zorvani::tools::ReadPhoto(backdrop), p.width, p.height);
  const int ox = backdrop.empty() ? (p.width - pw) / 2 : p.month % 2 ? p.width - pw - p.width / 20 : p.width / 20;
  const int oy = (p.height - ph) / 2;
  for (int y = 0; y < ph; ++y)
    std::copy_n(&page.pixels[(static_cast<std::size_t>(part.top + y) * page.width + part.left) * 3], 3 * pw,
                &screen.pixels[(static_cast<std::size_t>(oy + y) * p.width + ox) * 3]);
  for (PixelBox& b : truth) b = {b.left - part.left + ox, b.top - part.top + oy, b.right - part.left + ox, b.bottom - part.top + oy};
  const std::string picture = Scratch("screen.jpg").string();
  const auto jpeg = zorvani::tools::EncodeJpeg(screen, 85);
  zorvani::tools::WriteTextFile(picture, std::string(jpeg.begin(), jpeg.end()));
  outcome.made = true;

  const MonthPicture loaded = LoadMonthPicture(picture, p.year, p.month);
  const FoundGrid found = FindGrid(*loaded.image, p.year, p.month, 0);
  if (!found.refusal.empty()) return outcome.text = "refused: " + found.refusal, outcome;
  const std::string ini = Scratch("WP.ini").string();
  zorvani::tools::WriteTextFile(ini, WpIniFor(found.grid, p.width, p.height, Colour{}, found.firstDay));
  ReadWpIni(ini);
  const std::string own = CheckDayFrames(p.width, p.height, p.year, p.month, found.firstDay, found.numbers);
  if (!own.empty()) return outcome.text = "refused by its check: " + own, outcome;
  outcome.read = true;
  // Judged by the printed numbers: each frame holds its own, meets no other and is not
  // much wider or taller than a step of the printed grid.
  const int firstDay = p.mondayFirst ? 1 : 7;
  std::string wrong = CheckDayFrames(p.width, p.height, p.year, p.month, firstDay, truth);
  std::vector<double> across, down;
  for (int d = 1; d <= static_cast<int>(truth.size()); ++d) {
    const PixelBox& a = truth[d - 1];
    const auto digits = [](int day) { return day < 10 ? 1 : 2; };
    if (d + 7 <= static_cast<int>(truth.size()) && digits(d) == digits(d + 7)) down.push_back(truth[d + 6].top - a.top);
    const bool lastColumn = zorvani::CalendarCellOf(p.year, p.month, d, firstDay).column == 6;
    if (d < static_cast<int>(truth.size()) && !lastColumn && digits(d) == digits(d + 1)) across.push_back(truth[d].left - a.left);
  }
  std::sort(across.begin(), across.end());
  std::sort(down.begin(), down.end());
  const PixelBox first = found.grid.CellBox(0, 0);
  // A frame on printed boxes covers both lines whole, so it is a line's width wider.
  if (wrong.empty() && (first.right - first.left > across[across.size() / 2] * 1.08 + 2 ||
                        first.bottom - first.top > down[down.size() / 2] * 1.08 + 2))
    wrong = "a frame is larger than the printed step";
  if (!wrong.empty()) outcome.wrong = true, outcome.text = "WRONG: " + wrong;
  return outcome;
}

// Reads every page and prints a line for each; at least 95% of the Monday-first pages
// of each part are read, and none wrong.
TEST(RealPages, ReadAndNeverWrong) {
  for (const bool heldOut : {false, true}) {
    int monday = 0, read = 0;
    for (const Page& p : kPages) {
      if (p.heldOut != heldOut) continue;
      const Outcome o = Try(p);
      std::printf("  %-80s %s\n", Name(p).c_str(), o.read ? "read" : o.text.c_str());
      EXPECT_TRUE(o.made) << Name(p) << ": " << o.text;
      EXPECT_FALSE(o.wrong) << Name(p) << ": " << o.text;
      monday += p.mondayFirst;
      read += o.read && p.mondayFirst;
    }
    std::printf("%s: %d of %d Monday-first pages read\n", heldOut ? "held out" : "tuned", read, monday);
    EXPECT_GE(read * 100, monday * 95);
  }
}

}  // namespace
