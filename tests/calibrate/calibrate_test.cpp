// zorvani-calibrate against generated month pictures of many layouts, judged by what
// the picture maker knows it printed, and the pixel round trip through the program's
// own WP.ini reader and frame drawing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/calibrate/calendar_grid.h"
#include "tools/calibrate/calibrate.h"
#include "tools/calibrate/grid_finder.h"
#include "tools/calendar/month_picture.h"

#include "calibrate/scratch.h"
#include "common/process.h"

namespace {

namespace fs = std::filesystem;
using namespace zorvani::calibrate;
using zorvani::tools::GridGeometry;
using zorvani::tools::MonthPictureSettings;
using zorvani::tools::PictureStyle;

// Grid places: fractions of the picture (cell, spacing, corner for X, then Y).
const GridGeometry kTop{};
const GridGeometry kLeft{0.056, 0.095, 0.062, 0.11, 0.04, 0.30};
const GridGeometry kRight{0.056, 0.095, 0.062, 0.11, 0.52, 0.30};
const GridGeometry kBottom{0.115, 0.085, 0.125, 0.095, 0.0675, 0.40};
const GridGeometry kCorner{0.057, 0.066, 0.063, 0.075, 0.55, 0.52};

struct Layout {
  const char* name;
  int width, height, quality, year, month;
  GridGeometry grid;
  PictureStyle style;
  bool cramped = false;  // its boxes printed too close to the numbers for a frame on them
  const char* refusal = nullptr;  // why it is no grid to take: a wrong WP.ini is worse than none
  int said = 0;                   // the month it is said to be, when not the one printed
  bool specks = false;            // a field of 3-pixel dots instead, through the command itself
  int firstDay = 0;               // the weeks' first day as the user names it; 0: as the picture tells
};

PictureStyle Style(bool boxes, bool dark, double scale = 1, double aspect = 1, bool bold = false) {
  PictureStyle style;
  style.boxes = boxes, style.dark = dark, style.glyphScale = scale, style.glyphAspect = aspect, style.bold = bold;
  return style;
}
PictureStyle Sunday(PictureStyle style) {
  style.sundayFirst = true;
  return style;
}
PictureStyle WithPhoto(PictureStyle style, double left, double top, double right, double bottom) {
  style.photoLeft = left, style.photoTop = top, style.photoRight = right, style.photoBottom = bottom;
  return style;
}

const Layout kLayouts[] = {
    {"720p top", 1280, 720, 90, 2004, 8, kTop, Style(false, false)},
    {"1080p left, photo right, boxes", 1920, 1080, 80, 2010, 2, kLeft, WithPhoto(Style(true, false), 0.5, 0.05, 0.97, 0.95)},
    {"1440p right, photo left, dark bold", 2560, 1440, 70, 2021, 5, kRight, WithPhoto(Style(false, true, 1, 1, true), 0.03, 0.05, 0.48, 0.95)},
    {"4K bottom, boxes, dark", 3840, 2160, 60, 2023, 12, kBottom, Style(true, true)},
    {"4:3 corner under photo, small digits", 1024, 768, 60, 2024, 2, kCorner, WithPhoto(Style(false, false, 0.75), 0.02, 0.33, 0.52, 0.97)},
    {"4:3 top, boxes, dark, wide digits", 1600, 1200, 75, 2015, 11, kTop, Style(true, true, 1, 1.5)},
    {"1366x768 left, photo, dark, large digits", 1366, 768, 60, 2026, 3, kLeft, WithPhoto(Style(false, true, 1.2), 0.5, 0.05, 0.97, 0.95)},
    {"4:3 bottom, boxes, bold", 2048, 1536, 85, 2020, 2, kBottom, Style(true, false, 1, 1, true)},
    {"4K corner under photo, boxes, bold", 3840, 2160, 70, 2019, 6, kCorner, WithPhoto(Style(true, false, 1, 1, true), 0.02, 0.33, 0.52, 0.97)},
    {"720p right, boxes, narrow digits", 1280, 720, 60, 2030, 9, kRight, Style(true, false, 1, 0.8)},
    {"1920x1200 top, dark, small digits", 1920, 1200, 65, 2004, 2, kTop, Style(false, true, 0.8)},
    {"2560x1080 corner, dark, boxes", 2560, 1080, 90, 2031, 8, kCorner, Style(true, true)},
    {"4:3 1280x960 left, photo, boxes, dark", 1280, 960, 70, 2027, 1, kLeft, WithPhoto(Style(true, true), 0.5, 0.05, 0.97, 0.95)},
    {"1600x900 corner under photo, bold", 1600, 900, 60, 2028, 10, kCorner, WithPhoto(Style(false, false, 1, 1, true), 0.02, 0.33, 0.52, 0.97)},
    {"4K top, boxes, dark, small digits", 3840, 2160, 70, 2026, 3, kTop, Style(true, true, 0.8)},
    {"4K corner under photo, boxes, dark, wide digits", 3840, 2160, 85, 2029, 7, kCorner, WithPhoto(Style(true, true, 1, 1.4), 0.02, 0.33, 0.52, 0.97)},
    {"2560x1080 corner, boxes, large digits: a thinner frame", 2560, 1080, 90, 2031, 8, kCorner, Style(true, true, 1.4)},
    {"1024x768 corner, boxes, digits 5 px off their lines", 1024, 768, 90, 2031, 8, kCorner, Style(true, false, 1.7), true},
    {"weeks from Sunday", 1920, 1080, 75, 2004, 8, kTop, Sunday(Style(false, false))},
    {"weeks from Sunday, boxes, dark", 1600, 900, 80, 2026, 11, kBottom, Sunday(Style(true, true))},
    // The same run of days as another month's from the other weekday: told by the
    // printed weekend, or by the user.
    {"Monday-first January 2026 said to be July", 1280, 720, 75, 2026, 1, kTop, Style(false, false), false, "another month", 7},
    {"Sunday-first December 2026 said to be July", 1280, 720, 75, 2026, 12, kTop, Sunday(Style(true, false)), false,
     "another month", 7},
    {"Monday-first page said to start on Sunday", 1280, 720, 75, 2026, 5, kTop, Style(false, false), false, "another month", 0,
     false, 7},
    {"a photo and no grid", 1280, 720, 75, 2004, 8, kTop,
     [] { PictureStyle s = WithPhoto(Style(false, false), 0.05, 0.3, 0.95, 0.95); s.printGrid = false; return s; }(), false,
     "no calendar grid"},
    {"August said to be September", 1280, 720, 75, 2004, 8, kTop, Style(true, false), false, "another month", 9},
    // Day 1 in the Monday column, the printed month's 1st to 3rd in the row above.
    {"March 2026 said to be June", 1280, 720, 75, 2026, 3, kTop, Style(false, false), false, "another month", 6},
    {"January 2027 said to be February", 1280, 800, 80, 2027, 1, kBottom, Style(true, true), false, "another month", 2},
    // Four million pieces of ink: refused within the deadline, not after ten minutes.
    {"4000x4000 of 3-pixel dots", 4000, 4000, 90, 2026, 3, kTop, Style(false, false), false, "no calendar grid", 0, true},
};

// The dots in the command itself, which must give up within a deadline.
std::string Specks(const Layout& layout) {
  zorvani::tools::RgbImage field{layout.width, layout.height,
                                 std::vector<std::uint8_t>(static_cast<std::size_t>(layout.width) * layout.height * 3, 255)};
  for (int y = 0; y < layout.height; ++y)
    for (int x = 0; x < layout.width; ++x)
      if (y % 6 < 3 && x % 6 < 3) std::fill_n(&field.pixels[(static_cast<std::size_t>(y) * layout.width + x) * 3], 3, 0);
  const auto jpeg = zorvani::tools::EncodeJpeg(field, layout.quality);
  const std::string picture = Scratch("specks.jpg").string();
  zorvani::tools::WriteTextFile(picture, std::string(jpeg.begin(), jpeg.end()));
  testing_files::Process command({ZORVANI_CALIBRATE, "--picture", picture, "--detect", "--year", "2026", "--month", "3"}, {},
                                 Scratch("specks").string());
  if (command.Wait(std::chrono::seconds(90)) == -1) return "still at work after 90 s";
  return "refused: " + command.StandardError();
}

// What is wrong with the grid found in a layout's picture, judged by what the picture
// maker printed: every frame holds its day's number and meets no other; on printed boxes
// it lies on them and keeps five pixels off the number (the check's two, and three for
// the faint edge that the ink found misses). Empty when nothing is.
std::string Judge(const Layout& layout) {
  if (layout.specks) return Specks(layout);
  const MonthPictureSettings settings{layout.year, layout.month, layout.width, layout.height, layout.grid, layout.style};
  const int said = layout.said != 0 ? layout.said : layout.month;
  zorvani::tools::WriteMonthPicture(settings, layout.quality, Scratch("layout.jpg").string());
  const MonthPicture picture = LoadMonthPicture(Scratch("layout.jpg").string(), layout.year, said);
  const FoundGrid found = FindGrid(*picture.image, layout.year, said, 0, layout.firstDay);
  if (!found.refusal.empty()) return "refused: " + found.refusal;
  const int firstDay = layout.style.sundayFirst ? 7 : 1;
  if (found.firstDay != firstDay) return "weeks read from the wrong day";
  if (found.boxes != (layout.style.boxes && !layout.cramped)) return found.boxes ? "framed on boxes" : "missed the boxes";

  const std::string ini = Scratch("WP.ini").string();
  zorvani::tools::WriteTextFile(ini, WpIniFor(found.grid, layout.width, layout.height, Colour{}, found.firstDay));
  ReadWpIni(ini);
  std::vector<PixelBox> printed;
  for (const auto& n : zorvani::tools::DayNumberBoxes(settings)) printed.push_back({n.left, n.top, n.right, n.bottom});
  const std::string problem = CheckDayFrames(layout.width, layout.height, layout.year, layout.month, firstDay, printed);
  for (int day = 1; day <= static_cast<int>(printed.size()) && problem.empty() && found.boxes; ++day) {
    const zorvani::CalendarCell c = zorvani::CalendarCellOf(layout.year, layout.month, day, firstDay);
    const auto box = zorvani::tools::CellRectOf(layout.grid, layout.width, layout.height, c.row, c.column);
    const PixelBox f = found.grid.CellBox(c.row, c.column), &n = printed[static_cast<std::size_t>(day - 1)];
    if (std::max({std::abs(f.left - box.left), std::abs(f.top - box.top), std::abs(f.right - box.right),
                  std::abs(f.bottom - box.bottom)}) > 1)
      return "the frame of day " + std::to_string(day) + " is not on its printed box";
    if (std::min({n.left - f.left, f.right - n.right, n.top - f.top, f.bottom - n.bottom}) - found.grid.thickness < 5)
      return "the frame of day " + std::to_string(day) + " comes within 5 pixels of its number";
  }
  return problem;
}

TEST(Detect, FindsTheGridInEveryLayoutOrRefusesWithItsReason) {
  for (const Layout& layout : kLayouts) {
#ifdef ZORVANI_SANITIZE
    // Several times slower there: the layouts of up to about a megapixel, the rest in the regular build.
    if (layout.width * layout.height > 1300 * 1000) continue;
#endif
    const std::string judged = Judge(layout);
    EXPECT_TRUE(layout.refusal ? judged.find(layout.refusal) != std::string::npos : judged.empty()) << layout.name << ": " << judged;
  }
}

// One WP.ini serves the whole year: a month printed with its grid elsewhere is named,
// and the others fit the shared grid.
// Weeks from Sunday too: the WP.ini written says so, and every day of the year is
// framed on its own number by the program reading it.
TEST(Detect, NamesTheMonthsThatDoNotFitTheYearsGrid) {
  for (const bool sunday : {false, true}) {
    const std::string folder = Scratch(sunday ? "sunday" : "calendar").string();
    fs::create_directories(folder + "/Zorvani2026");
    for (int month = 1; month <= 12; ++month) {
      // July's grid lies elsewhere; March is as wide as the others but taller.
      PictureStyle style = Style(month % 2 == 0, false);
      style.sundayFirst = sunday;
      const MonthPictureSettings settings{2026, month, 960, month == 3 ? 600 : 540, month == 7 ? kBottom : kTop, style};
      zorvani::tools::WriteMonthPicture(settings, 80, folder + "/Zorvani2026/" + std::to_string(month) + ".jpg");
    }
    // A year folder's picture names its month: 12.jpg is December's.
    EXPECT_EQ(LoadMonthPicture(folder + "/Zorvani2026/12.jpg", 0, 0).month, 12);
    const CalendarGrid calendar = FindCalendarGrid(folder, 2026, 0);
    zorvani::tools::WriteTextFile(Scratch("year.ini").string(), WpIniFor(calendar.grid, 960, 540, Colour{}, calendar.firstDay));
    ReadWpIni(Scratch("year.ini").string());
    EXPECT_EQ(zorvani::Config.FIRST_DAY, sunday ? 7 : 1);
    const std::vector<std::string> misfits = CalendarMisfits(calendar);
    ASSERT_EQ(misfits.size(), 12u);
    for (int month = 1; month <= 12; ++month)
      EXPECT_EQ(misfits[month - 1].empty(), month != 7 && month != 3) << sunday << " " << month << ": " << misfits[month - 1];
  }
}

// A frame keeps two pixels of room round its own number and from every other day's:
// one pixel less, on either side, is refused.
TEST(CheckDayFrames, RefusesAFrameOnePixelNearerThanItsRoom) {
  // 1000 x 1000, cells 130 px at a 120 px step from 50,50, so that neighbours' frames
  // overlap, lines 5 px; 1 March 2004 is a Monday.
  zorvani::Config = zorvani::ConfigRecord{0.13, 0.1, 0.12, 0.12, 0.05, 0.05, 0.005, 255, 0, 0};
  FrameProbe probe(1000, 1000);
  std::vector<PixelBox> numbers;
  for (int day = 1; day <= 31; ++day) {
    const PixelBox box = probe.Draw(zorvani::CalendarCellOf(2004, 3, day)).box;
    numbers.push_back({box.left + 50, box.top + 40, box.left + 70, box.top + 60});
  }
  const PixelBox first = probe.Draw(zorvani::CalendarCellOf(2004, 3, 1)).box;
  const PixelBox last = probe.Draw(zorvani::CalendarCellOf(2004, 3, 31)).box;
  const int inner = first.left + 5, lastInner = last.right - 5 - 20;  // where a number of 20 px meets the frame
  const struct {
    int day, left;  // that day's number moved to start at left, on its own row
    bool clear;
  } cases[] = {{1, inner + 2, true}, {1, inner + 1, false}, {2, first.right + 2, true}, {2, first.right + 1, false},
               {31, lastInner - 2, true}, {31, lastInner - 1, false}};
  for (const auto& c : cases) {
    std::vector<PixelBox> moved = numbers;
    PixelBox& n = moved[static_cast<std::size_t>(c.day - 1)];
    n = {c.left, n.top, c.left + 20, n.bottom};
    EXPECT_EQ(CheckDayFrames(1000, 1000, 2004, 3, 1, moved).empty(), c.clear) << "day " << c.day << " at " << c.left;
  }
  // The grid moved right until the Sundays' frames are cut by the picture's edge.
  zorvani::Config.CORNER_X = 0.2;
  FrameProbe moved(1000, 1000);
  for (int day = 1; day <= 31; ++day) {
    const PixelBox box = moved.Draw(zorvani::CalendarCellOf(2004, 3, day)).box;
    numbers[static_cast<std::size_t>(day - 1)] = {box.left + 50, box.top + 40, box.left + 70, box.top + 60};
  }
  EXPECT_EQ(CheckDayFrames(1000, 1000, 2004, 3, 1, numbers), "the frame of day 7 is not drawn whole (it reaches past the picture's edge)");
  zorvani::Config = zorvani::ConfigRecord{};
}

// --cell/--step through WP.ini and the program's reader: every day of a six-row month
// is framed on exactly the requested pixels, at picture sizes whose fractions do not
// come out even.
TEST(FromPixels, EveryDayIsFramedOnTheRequestedPixels) {
  const struct {
    int width, height;
    PixelGrid grid;
  } cases[] = {
      {1280, 800, {86, 240, 147, 76, 160, 88, 5}},
      {1366, 768, {101, 333, 61, 49, 67, 53, 3}},
      {3840, 2160, {1999, 1100, 221, 149, 233, 171, 15}},
      {1024, 768, {7, 5, 2, 2, 3, 3, 1}},
      {641, 401, {320, 100, 40, 40, 45, 49, 2}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    const std::string ini = Scratch("pixels.ini").string();
    zorvani::tools::WriteTextFile(ini, WpIniFor(c.grid, c.width, c.height, Colour{}));
    ReadWpIni(ini);
    FrameProbe probe(c.width, c.height);
    for (int day = 1; day <= 31; ++day) {  // August 2004 starts on a Sunday: rows 0 to 5
      const zorvani::CalendarCell cell = zorvani::CalendarCellOf(2004, 8, day);
      const FrameProbe::Drawn drawn = probe.Draw(cell);
      const PixelBox& b = drawn.box;
      ASSERT_EQ((std::array<long long, 5>{b.left, b.top, b.right - b.left, b.bottom - b.top, drawn.pixels}),
                (std::array<long long, 5>{static_cast<int>(c.grid.x + cell.column * c.grid.dx), static_cast<int>(c.grid.y + cell.row * c.grid.dy),
                                          c.grid.width, c.grid.height, FramePixels(b, c.grid.thickness)}))
          << "day " << day << ": left, top, width, height and pixels";
    }
    EXPECT_EQ(CheckAgainstGrid(c.grid, c.width, c.height), "");
  }
  // A grid that runs off the picture is caught by the drawing check, and a WP.ini
  // already at --output stays as it was.
  const PixelGrid off{1200, 700, 100, 60, 110, 70, 3};
  const std::string kept = Scratch("kept.ini").string();
  zorvani::tools::WriteTextFile(kept, "[config]\nR_COMP=1\n");
  EXPECT_NE(WriteChecked(WpIniFor(off, 1280, 800, Colour{}), kept,
                         [&](const std::string& written) { return ReadWpIni(written), CheckAgainstGrid(off, 1280, 800); }), "");
  EXPECT_EQ(testing_files::ReadFile(kept), "[config]\nR_COMP=1\n");
}

// The picture maker draws up to 16384 pixels a side, as much as the program loads.
TEST(MonthPicture, DrawsUpTo16384PixelsASide) {
  for (const auto& [width, height, drawn] :
       std::vector<std::array<int, 3>>{{16384, 16, 1}, {16, 16384, 1}, {16385, 16, 0}, {16, 16385, 0}}) {
    const MonthPictureSettings settings{2026, 1, width, height, kTop, Style(false, false)};
    if (drawn) {
      EXPECT_EQ(zorvani::tools::DrawMonthPicture(settings).width, width);
    } else {
      EXPECT_ANY_THROW(zorvani::tools::DrawMonthPicture(settings));
    }
  }
}

}  // namespace
