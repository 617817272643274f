#include "tools/calendar/month_picture.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "platform/replace_file.h"

namespace zorvani {
namespace tools {
namespace {

struct Colour {
  double r;
  double g;
  double b;
};

Colour Mix(Colour a, Colour b, double t) { return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t}; }

// Seasonal title bands, top and bottom colour, January first.
const std::array<std::array<Colour, 2>, 12> kBands = {{
    {{{38, 58, 104}, {92, 142, 184}}},   // winter blue
    {{{62, 48, 102}, {140, 110, 170}}},  // violet
    {{{30, 88, 92}, {86, 160, 150}}},    // teal
    {{{46, 104, 74}, {128, 180, 118}}},  // spring green
    {{{60, 112, 60}, {176, 196, 104}}},  // may green
    {{{36, 96, 150}, {120, 190, 220}}},  // summer sky
    {{{196, 92, 52}, {240, 180, 92}}},   // sun
    {{{178, 70, 70}, {236, 150, 110}}},  // coral
    {{{150, 96, 40}, {222, 170, 86}}},   // amber
    {{{130, 56, 34}, {204, 120, 64}}},   // rust
    {{{84, 50, 84}, {156, 108, 140}}},   // plum
    {{{26, 72, 60}, {76, 130, 104}}},    // pine
}};
const Colour kPaper{247, 242, 232};
const Colour kTile{236, 228, 212};
const Colour kInk{52, 61, 77};
const Colour kWeekendInk{196, 82, 62};
const Colour kTitleInk{252, 247, 236};
const Colour kYearInk{255, 226, 160};

struct Palette {
  Colour paper, tile, ink, weekendInk, boxLine;
};
const Palette kLight{kPaper, kTile, kInk, kWeekendInk, {150, 150, 162}};
const Palette kDark{{30, 34, 42}, {42, 47, 58}, {222, 226, 232}, {240, 138, 112}, {112, 118, 132}};

const char* const kMonthNames[12] = {"JANUARY", "FEBRUARY", "MARCH",     "APRIL",   "MAY",      "JUNE",
                                     "JULY",    "AUGUST",   "SEPTEMBER", "OCTOBER", "NOVEMBER", "DECEMBER"};
const char* const kWeekdays[8] = {"SU", "MO", "TU", "WE", "TH", "FR", "SA", "SU"};

// A 5 x 7 dot font: digits and capitals, one text row per dot row.
struct Glyph {
  char letter;
  const char* rows[7];
};
const Glyph kFont[] = {
    {'0', {".###.", "#...#", "#..##", "#.#.#", "##..#", "#...#", ".###."}},
    {'1', {"..#..", ".##..", "..#..", "..#..", "..#..", "..#..", ".###."}},
    {'2', {".###.", "#...#", "....#", "...#.", "..#..", ".#...", "#####"}},
    {'3', {"####.", "....#", "....#", ".###.", "....#", "....#", "####."}},
    {'4', {"...#.", "..##.", ".#.#.", "#..#.", "#####", "...#.", "...#."}},
    {'5', {"#####", "#....", "####.", "....#", "....#", "#...#", ".###."}},
    {'6', {"..##.", ".#...", "#....", "####.", "#...#", "#...#", ".###."}},
    {'7', {"#####", "....#", "...#.", "..#..", ".#...", ".#...", ".#..."}},
    {'8', {".###.", "#...#", "#...#", ".###.", "#...#", "#...#", ".###."}},
    {'9', {".###.", "#...#", "#...#", ".####", "....#", "...#.", ".##.."}},
    {'A', {".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"}},
    {'B', {"####.", "#...#", "#...#", "####.", "#...#", "#...#", "####."}},
    {'C', {".###.", "#...#", "#....", "#....", "#....", "#...#", ".###."}},
    {'D', {"####.", "#...#", "#...#", "#...#", "#...#", "#...#", "####."}},
    {'E', {"#####", "#....", "#....", "####.", "#....", "#....", "#####"}},
    {'F', {"#####", "#....", "#....", "####.", "#....", "#....", "#...."}},
    {'G', {".###.", "#...#", "#....", "#.###", "#...#", "#...#", ".####"}},
    {'H', {"#...#", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"}},
    {'I', {".###.", "..#..", "..#..", "..#..", "..#..", "..#..", ".###."}},
    {'J', {"..###", "...#.", "...#.", "...#.", "...#.", "#..#.", ".##.."}},
    {'K', {"#...#", "#..#.", "#.#..", "##...", "#.#..", "#..#.", "#...#"}},
    {'L', {"#....", "#....", "#....", "#....", "#....", "#....", "#####"}},
    {'M', {"#...#", "##.##", "#.#.#", "#.#.#", "#...#", "#...#", "#...#"}},
    {'N', {"#...#", "#...#", "##..#", "#.#.#", "#..##", "#...#", "#...#"}},
    {'O', {".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
    {'P', {"####.", "#...#", "#...#", "####.", "#....", "#....", "#...."}},
    {'Q', {".###.", "#...#", "#...#", "#...#", "#.#.#", "#..#.", ".##.#"}},
    {'R', {"####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"}},
    {'S', {".####", "#....", "#....", ".###.", "....#", "....#", "####."}},
    {'T', {"#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."}},
    {'U', {"#...#", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
    {'V', {"#...#", "#...#", "#...#", "#...#", "#...#", ".#.#.", "..#.."}},
    {'W', {"#...#", "#...#", "#...#", "#.#.#", "#.#.#", "#.#.#", ".#.#."}},
    {'X', {"#...#", "#...#", ".#.#.", "..#..", ".#.#.", "#...#", "#...#"}},
    {'Y', {"#...#", "#...#", ".#.#.", "..#..", "..#..", "..#..", "..#.."}},
    {'Z', {"#####", "....#", "...#.", "..#..", ".#...", "#....", "#####"}},
};

const Glyph* GlyphOf(char letter) {
  for (const Glyph& glyph : kFont) {
    if (glyph.letter == letter) return &glyph;
  }
  return nullptr;
}

// Text is 6 dots a character (5 and a gap), less the last gap.
double TextWidth(const std::string& text, double dot) { return (6.0 * static_cast<double>(text.size()) - 1.0) * dot; }

class Canvas {
 public:
  Canvas(int width, int height) : image_{width, height, std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 3)} {}

  RgbImage Take() { return std::move(image_); }

  void Blend(int x, int y, Colour c, double alpha) {
    if (x < 0 || y < 0 || x >= image_.width || y >= image_.height || alpha <= 0) return;
    alpha = std::min(alpha, 1.0);
    std::uint8_t* p = &image_.pixels[(static_cast<std::size_t>(y) * image_.width + x) * 3];
    const double channels[3] = {c.r, c.g, c.b};
    for (int i = 0; i < 3; ++i) {
      p[i] = static_cast<std::uint8_t>(std::lround(p[i] + (channels[i] - p[i]) * alpha));
    }
  }

  void FillRows(int top, int bottom, Colour from, Colour to) {
    for (int y = std::max(top, 0); y < std::min(bottom, image_.height); ++y) {
      const double t = bottom - top > 1 ? static_cast<double>(y - top) / (bottom - top - 1) : 0.0;
      for (int x = 0; x < image_.width; ++x) Blend(x, y, Mix(from, to, t), 1.0);
    }
  }

  // Anti-aliased by the distance of each pixel centre from the rounded outline.
  void FillRoundedRect(double left, double top, double right, double bottom, double radius, Colour c, double alpha) {
    const double cx = (left + right) / 2;
    const double cy = (top + bottom) / 2;
    const double hx = (right - left) / 2 - radius;
    const double hy = (bottom - top) / 2 - radius;
    for (int y = static_cast<int>(std::floor(top)) - 1; y <= static_cast<int>(std::ceil(bottom)); ++y) {
      for (int x = static_cast<int>(std::floor(left)) - 1; x <= static_cast<int>(std::ceil(right)); ++x) {
        const double dx = std::max(std::abs(x + 0.5 - cx) - hx, 0.0);
        const double dy = std::max(std::abs(y + 0.5 - cy) - hy, 0.0);
        const double distance = std::sqrt(dx * dx + dy * dy) - radius;
        Blend(x, y, c, alpha * std::clamp(0.5 - distance, 0.0, 1.0));
      }
    }
  }

  // Text in the dot font, top-left at (x, y), each dot `dot` pixels square; edges
  // are anti-aliased by 4 x 4 sampling.
  void Text(const std::string& text, double x, double y, double dot, Colour c) { Text(text, x, y, dot, dot, false, c); }

  // The same with dots dotX wide, and with every dot smeared one dot to the right when bold.
  void Text(const std::string& text, double x, double y, double dotX, double dot, bool bold, Colour c) {
    const double right = x + TextWidth(text, dotX) + (bold ? dotX : 0);
    const double bottom = y + 7 * dot;
    for (int py = static_cast<int>(std::floor(y)); py < static_cast<int>(std::ceil(bottom)); ++py) {
      for (int px = static_cast<int>(std::floor(x)); px < static_cast<int>(std::ceil(right)); ++px) {
        int hits = 0;
        for (int s = 0; s < 16; ++s) {
          const double sx = (px + (s % 4 + 0.5) / 4 - x) / dotX;
          const double sy = (py + (s / 4 + 0.5) / 4 - y) / dot;
          if (sx < 0 || sy < 0 || sy >= 7) continue;
          const int column = static_cast<int>(sx);
          const std::size_t letter = static_cast<std::size_t>(column / 6);
          if (letter >= text.size() || (column % 6 == 5 && !bold)) continue;
          const Glyph* glyph = GlyphOf(text[letter]);
          if (glyph == nullptr) continue;
          const char* dots = glyph->rows[static_cast<int>(sy)];
          const int at = column % 6;
          if ((at < 5 && dots[at] == '#') || (bold && at > 0 && dots[at - 1] == '#')) ++hits;
        }
        Blend(px, py, c, hits / 16.0);
      }
    }
  }

 private:
  RgbImage image_;
};

void CheckSettings(const MonthPictureSettings& settings) {
  if (settings.month < 1 || settings.month > 12) throw std::invalid_argument("month must be 1 to 12");
  if (settings.year < 1 || settings.year > 9999) throw std::invalid_argument("year must be 1 to 9999");
  if (settings.width < 16 || settings.width > 16384 || settings.height < 16 || settings.height > 16384) {
    throw std::invalid_argument("width and height must be 16 to 16384");
  }
}

// Pseudo-random numbers in [0, 1) for the band's decoration, the same for the same month.
class Sprinkle {
 public:
  explicit Sprinkle(std::uint32_t seed) : state_(seed * 2654435761u + 1u) {}
  double Next() {
    state_ = state_ * 1664525u + 1013904223u;
    return (state_ >> 8) / 16777216.0;
  }

 private:
  std::uint32_t state_;
};

}  // namespace

void CellOf(int year, int month, int day, int* row, int* column) {
  const int index = zorvani::CellIndexOf(year, month, day);
  *row = index / 7;
  *column = index % 7;
}

CellRect CellRectOf(const GridGeometry& grid, int width, int height, int row, int column) {
  const int left = static_cast<int>(std::nearbyint(width * (column * grid.SPACING_X + grid.CORNER_X)));
  const int top = static_cast<int>(std::nearbyint(height * (row * grid.SPACING_Y + grid.CORNER_Y)));
  return {left, top, left + static_cast<int>(std::nearbyint(width * grid.CELL_X)),
          top + static_cast<int>(std::nearbyint(height * grid.CELL_Y))};
}

int FlatMargin(const MonthPictureSettings& settings) {
  const double cellWidth = settings.width * settings.grid.CELL_X;
  const double cellHeight = settings.height * settings.grid.CELL_Y;
  return std::max(2, static_cast<int>(std::floor(0.12 * std::min(cellWidth, cellHeight))));
}

namespace {

int CellIndexOf(const MonthPictureSettings& settings, int day) {
  const int first = FirstWeekday(settings.year, settings.month);  // Monday 1 ... Sunday 7
  return day - 1 + (settings.style.sundayFirst ? first % 7 : first - 1);
}

bool IsWeekendColumn(const MonthPictureSettings& settings, int column) {
  return settings.style.sundayFirst ? column == 0 || column == 6 : column >= 5;
}

// One day's tile, inset from the cell edges so that the frame lands on plain paper,
// and its number centred in it.
struct DayLayout {
  int column;
  double left, top, right, bottom;
  double textX, textY, dotX, dot;
};

bool LayOutDay(const MonthPictureSettings& settings, int day, DayLayout* layout) {
  const int index = CellIndexOf(settings, day);
  const CellRect cell = CellRectOf(settings.grid, settings.width, settings.height, index / 7, index % 7);
  const int inset = FlatMargin(settings);
  const auto down8 = [](int v) { return v >= 0 ? v / 8 * 8 : -((-v + 7) / 8 * 8); };
  // On the 8 x 8 block grid of the JPEG: every block outside a tile is plain
  // paper, which any decoder reproduces exactly.
  const double left = down8(cell.left + inset + 7);
  const double top = down8(cell.top + inset + 7);
  const double right = down8(cell.right - inset);
  const double bottom = down8(cell.bottom - inset);
  if (right - left < 4 || bottom - top < 4) return false;
  const std::string digits = std::to_string(day);
  const double dot = std::min((bottom - top) * 0.62 / 7, (right - left) * 0.6 / 11) * settings.style.glyphScale;
  const double dotX = dot * settings.style.glyphAspect;
  *layout = {index % 7, left, top, right, bottom, (left + right - TextWidth(digits, dotX)) / 2,
             (top + bottom - 7 * dot) / 2, dotX, dot};
  return true;
}

std::uint32_t Hash(std::uint32_t x, std::uint32_t y, std::uint32_t seed) {
  std::uint32_t h = x * 374761393u + y * 668265263u + seed * 2246822519u;
  h = (h ^ (h >> 13)) * 1274126177u;
  return h ^ (h >> 16);
}

// A landscape-like photograph: sky and ground with grain, soft blobs and thin dark strokes.
void PaintPhoto(Canvas& canvas, int left, int top, int right, int bottom, std::uint32_t seed) {
  Sprinkle random(seed);
  const Colour sky[2] = {{70 + 60 * random.Next(), 120, 200}, {200, 220, 240}};
  const Colour ground[2] = {{90, 130 + 50 * random.Next(), 60}, {40, 60, 30}};
  const int horizon = top + static_cast<int>((bottom - top) * (0.35 + 0.3 * random.Next()));
  for (int y = top; y < bottom; ++y) {
    const bool above = y < horizon;
    const double t = above ? static_cast<double>(y - top) / std::max(1, horizon - top)
                           : static_cast<double>(y - horizon) / std::max(1, bottom - horizon);
    const Colour base = above ? Mix(sky[0], sky[1], t) : Mix(ground[0], ground[1], t);
    for (int x = left; x < right; ++x) {
      const double grain = (Hash(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y), seed) >> 24) / 255.0 * 36 - 18;
      canvas.Blend(x, y, {base.r + grain, base.g + grain, base.b + grain}, 1.0);
    }
  }
  const double size = std::min(right - left, bottom - top);
  for (int i = 0; i < 40; ++i) {
    const double radius = size * (0.01 + 0.07 * random.Next());
    const double cx = left + radius + (right - left - 2 * radius) * random.Next();
    const double cy = top + radius + (bottom - top - 2 * radius) * random.Next();
    const Colour c{255 * random.Next(), 255 * random.Next(), 255 * random.Next()};
    canvas.FillRoundedRect(cx - radius, cy - radius, cx + radius, cy + radius, radius, c, 0.5 + 0.5 * random.Next());
  }
  for (int i = 0; i < 30; ++i) {
    double x = left + (right - left) * random.Next(), y = top + (bottom - top) * random.Next();
    const double angle = 6.283 * random.Next(), length = size * 0.2 * random.Next();
    for (double run = 0; run < length; run += 0.5) {
      x += 0.5 * std::cos(angle);
      y += 0.5 * std::sin(angle);
      if (x >= left && x < right - 1 && y >= top && y < bottom - 1) {
        canvas.FillRoundedRect(x, y, x + 1.5, y + 1.5, 0.5, {30, 25, 20}, 0.8);
      }
    }
  }
}

}  // namespace

RgbImage DrawMonthPicture(const MonthPictureSettings& settings) {
  CheckSettings(settings);
  const GridGeometry& g = settings.grid;
  const PictureStyle& style = settings.style;
  const Palette& palette = style.dark ? kDark : kLight;
  const double w = settings.width;
  const double h = settings.height;
  const auto& band = kBands[static_cast<std::size_t>(settings.month - 1)];
  Canvas canvas(settings.width, settings.height);

  // Title band with soft light spots, then plain paper below it.
  const int bandBottom = static_cast<int>(std::lround(h * g.CORNER_Y * 0.62));
  canvas.FillRows(0, bandBottom, band[0], band[1]);
  canvas.FillRows(bandBottom, settings.height, palette.paper, palette.paper);
  Sprinkle sprinkle(static_cast<std::uint32_t>(settings.year * 12 + settings.month));
  for (int i = 0; i < 9; ++i) {
    const double radius = bandBottom * (0.08 + 0.22 * sprinkle.Next());
    const double cx = w * (0.42 + 0.34 * sprinkle.Next());  // between the name and the year
    const double cy = bandBottom * sprinkle.Next();
    const double top = std::max(cy - radius, 0.0);
    const double bottom = std::min(cy + radius, bandBottom - 1.0);
    if (bottom - top < 2 * radius - 0.5) continue;  // keep the spots inside the band
    canvas.FillRoundedRect(cx - radius, top, cx + radius, bottom, radius, kTitleInk, 0.06 + 0.08 * sprinkle.Next());
  }
  if (style.photoRight > style.photoLeft && style.photoBottom > style.photoTop) {
    PaintPhoto(canvas, static_cast<int>(w * style.photoLeft), static_cast<int>(h * style.photoTop),
               static_cast<int>(w * style.photoRight), static_cast<int>(h * style.photoBottom),
               static_cast<std::uint32_t>(settings.year * 12 + settings.month));
  }

  // Month name on the left and year on the right, over the grid's width.
  const std::string name = kMonthNames[settings.month - 1];
  const std::string year = std::to_string(settings.year);
  const double gridLeft = w * g.CORNER_X;
  const double gridRight = w * (g.CORNER_X + 6 * g.SPACING_X + g.CELL_X);
  const double titleDot = std::min(bandBottom * 0.40 / 7, (gridRight - gridLeft) / (6.0 * static_cast<double>(name.size() + year.size() + 2)));
  const double titleTop = (bandBottom - 7 * titleDot) / 2;
  canvas.Text(name, gridLeft, titleTop, titleDot, kTitleInk);
  canvas.Text(year, gridRight - TextWidth(year, titleDot), titleTop, titleDot, kYearInk);
  if (!style.printGrid) return canvas.Take();

  // Weekday names, centred over their columns between the band and the grid.
  const double headerDot = std::min(h * 0.028 / 7, w * g.CELL_X * 0.5 / 11);
  const double headerTop = (bandBottom + h * g.CORNER_Y - 7 * headerDot) / 2;
  for (int column = 0; column < 7; ++column) {
    const char* weekday = kWeekdays[style.sundayFirst ? column : column + 1];
    const double centre = w * (g.CORNER_X + column * g.SPACING_X + g.CELL_X / 2);
    canvas.Text(weekday, centre - TextWidth(weekday, headerDot) / 2, headerTop, headerDot,
                IsWeekendColumn(settings, column) ? palette.weekendInk : palette.ink);
  }

  const int days = DaysInMonth(settings.year, settings.month);
  for (int day = 1; day <= days; ++day) {
    DayLayout day_{};
    if (!LayOutDay(settings, day, &day_)) continue;
    canvas.FillRoundedRect(day_.left, day_.top, day_.right, day_.bottom,
                           std::min(day_.right - day_.left, day_.bottom - day_.top) * 0.18, palette.tile, 1.0);
    canvas.Text(std::to_string(day), day_.textX, day_.textY, day_.dotX, day_.dot, style.bold,
                IsWeekendColumn(settings, day_.column) ? palette.weekendInk : palette.ink);
  }

  if (style.boxes) {
    const int rows = CellIndexOf(settings, days) / 7 + 1;
    const CellRect first = CellRectOf(g, settings.width, settings.height, 0, 0);
    const int line = std::max(1, static_cast<int>(std::lround(0.02 * std::min(first.right - first.left, first.bottom - first.top))));
    for (int row = 0; row < rows; ++row) {
      for (int column = 0; column < 7; ++column) {
        const CellRect c = CellRectOf(g, settings.width, settings.height, row, column);
        for (int y = c.top; y < c.bottom; ++y) {
          for (int x = c.left; x < c.right; ++x) {
            const bool edge = x < c.left + line || x >= c.right - line || y < c.top + line || y >= c.bottom - line;
            if (edge) canvas.Blend(x, y, palette.boxLine, 1.0);
          }
        }
      }
    }
  }
  return canvas.Take();
}

std::vector<CellRect> DayNumberBoxes(const MonthPictureSettings& settings) {
  CheckSettings(settings);
  std::vector<CellRect> boxes;
  for (int day = 1; day <= DaysInMonth(settings.year, settings.month); ++day) {
    DayLayout d{};
    if (!LayOutDay(settings, day, &d)) {
      boxes.push_back({0, 0, 0, 0});
      continue;
    }
    const double right = d.textX + TextWidth(std::to_string(day), d.dotX) + (settings.style.bold ? d.dotX : 0);
    boxes.push_back({static_cast<int>(std::floor(d.textX)), static_cast<int>(std::floor(d.textY)),
                     static_cast<int>(std::ceil(right)), static_cast<int>(std::ceil(d.textY + 7 * d.dot))});
  }
  return boxes;
}

void WriteTextFile(const std::string& path, const std::string& text) {
  std::string error;
  if (!platform::ReplaceFileWith(path, text, &error)) throw std::runtime_error(error);
}

void WriteMonthPicture(const MonthPictureSettings& settings, int quality, const std::string& jpegPath) {
  const std::vector<std::uint8_t> jpeg = EncodeJpeg(DrawMonthPicture(settings), quality);
  WriteTextFile(jpegPath, std::string(jpeg.begin(), jpeg.end()));
}

}  // namespace tools
}  // namespace zorvani
