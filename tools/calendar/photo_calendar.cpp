#include "tools/calendar/photo_calendar.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "platform/replace_file.h"
#include "screens/screens.h"
#include "tools/calendar/photo_files.h"

namespace zorvani {
namespace tools {
namespace {

namespace fs = std::filesystem;

struct Rgb {
  int r;
  int g;
  int b;
};

// Ink for weekdays and weekends, on dark and on light ground.
const Rgb kLightInk{255, 255, 255};
const Rgb kLightWeekendInk{255, 196, 150};
const Rgb kDarkInk{20, 20, 20};
const Rgb kDarkWeekendInk{170, 20, 30};

constexpr double kRequiredContrast = 4.5;
// Drawing aims higher: JPEG compression softens the edges the measurement reads.
constexpr double kDrawingMargin = 1.0;

const std::array<double, 256>& LinearTable() {
  static const std::array<double, 256> table = [] {
    std::array<double, 256> t{};
    for (int i = 0; i < 256; ++i) {
      const double c = i / 255.0;
      t[static_cast<std::size_t>(i)] = c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    }
    return t;
  }();
  return table;
}

double Luminance(const std::uint8_t* p) {
  const auto& t = LinearTable();
  return 0.2126 * t[p[0]] + 0.7152 * t[p[1]] + 0.0722 * t[p[2]];
}

std::uint8_t Channel(double v) { return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L)); }

std::uint8_t* At(RgbImage& image, int x, int y) {
  return &image.pixels[(static_cast<std::size_t>(y) * image.width + x) * 3];
}
const std::uint8_t* At(const RgbImage& image, int x, int y) {
  return &image.pixels[(static_cast<std::size_t>(y) * image.width + x) * 3];
}

void Blend(std::uint8_t* p, Rgb c, double alpha) {
  p[0] = Channel(p[0] + (c.r - p[0]) * alpha);
  p[1] = Channel(p[1] + (c.g - p[1]) * alpha);
  p[2] = Channel(p[2] + (c.b - p[2]) * alpha);
}

// Anti-aliased rounded rectangle, blended at `alpha`.
void FillRoundedRect(RgbImage& image, double left, double top, double right, double bottom, double radius, Rgb c,
                     double alpha) {
  const double cx = (left + right) / 2, cy = (top + bottom) / 2;
  const double hx = (right - left) / 2 - radius, hy = (bottom - top) / 2 - radius;
  const int x0 = std::max(0, static_cast<int>(std::floor(left))), x1 = std::min(image.width, static_cast<int>(std::ceil(right)));
  const int y0 = std::max(0, static_cast<int>(std::floor(top))), y1 = std::min(image.height, static_cast<int>(std::ceil(bottom)));
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) {
      const double dx = std::max(std::abs(x + 0.5 - cx) - hx, 0.0);
      const double dy = std::max(std::abs(y + 0.5 - cy) - hy, 0.0);
      const double inside = std::clamp(0.5 - (std::sqrt(dx * dx + dy * dy) - radius), 0.0, 1.0);
      if (inside > 0) Blend(At(image, x, y), c, alpha * inside);
    }
  }
}

// One text to print: its mask, where it goes and in which ink.
struct Item {
  TextMask mask;
  int left = 0;
  int top = 0;
  Rgb ink{};
  int day = 0;
  int nameOf = 0;
  bool weekend = false;
  int pad = 3;  // the ring round the ink whose ground the contrast is measured on
};

// A weekend day number gets a bar under it as well as its colour.
void AddUnderline(TextMask& mask, double pixelSize) {
  const int gap = std::max(2, static_cast<int>(std::lround(pixelSize * 0.12)));
  const int bar = std::max(2, static_cast<int>(std::lround(pixelSize * 0.09)));
  mask.coverage.resize(static_cast<std::size_t>(mask.width) * (mask.height + gap), 0);
  mask.coverage.resize(static_cast<std::size_t>(mask.width) * (mask.height + gap + bar), 255);
  mask.height += gap + bar;
}

// Pixels of the ring round an item's ink, no nearer than two pixels to any ink.
template <typename Visit>
void ForGround(const Item& item, int width, int height, Visit visit) {
  const TextMask& m = item.mask;
  const auto inkNear = [&](int mx, int my) {
    for (int dy = -2; dy <= 2; ++dy) {
      for (int dx = -2; dx <= 2; ++dx) {
        const int x = mx + dx, y = my + dy;
        if (x >= 0 && y >= 0 && x < m.width && y < m.height && m.coverage[static_cast<std::size_t>(y) * m.width + x] > 0)
          return true;
      }
    }
    return false;
  };
  for (int y = std::max(0, item.top - item.pad); y < std::min(height, item.top + m.height + item.pad); ++y) {
    for (int x = std::max(0, item.left - item.pad); x < std::min(width, item.left + m.width + item.pad); ++x) {
      if (!inkNear(x - item.left, y - item.top)) visit(x, y);
    }
  }
}

// The ground's luminance that contrasts worst with the ink: the 2% of ground pixels
// nearest the ink's luminance are ignored as stray.
double WorstGround(std::vector<double>& ground, bool lightInk) {
  if (ground.empty()) return lightInk ? 0.0 : 1.0;
  const std::size_t k = ground.size() * 2 / 100;
  const std::size_t at = lightInk ? ground.size() - 1 - k : k;
  std::nth_element(ground.begin(), ground.begin() + static_cast<std::ptrdiff_t>(at), ground.end());
  return ground[at];
}

double InkLuminance(Rgb ink) { return RelativeLuminance(ink.r, ink.g, ink.b); }

// Contrast of an item's ink with its ground as the picture now stands, with a panel of
// `scrim` at `alpha` laid over the ground first.
double GroundContrast(const RgbImage& image, const Item& item, Rgb scrim, double alpha) {
  std::vector<double> ground;
  ForGround(item, image.width, image.height, [&](int x, int y) {
    std::uint8_t p[3] = {At(image, x, y)[0], At(image, x, y)[1], At(image, x, y)[2]};
    Blend(p, scrim, alpha);
    ground.push_back(Luminance(p));
  });
  const double ink = InkLuminance(item.ink);
  return ContrastRatio(ink, WorstGround(ground, ink > 0.4));
}

// Contrast of a printed item on the finished picture: the mean luminance of its
// fully covered pixels against the worst of its ground.
double MeasuredContrast(const RgbImage& image, const Item& item) {
  double inkSum = 0;
  int inkCount = 0;
  for (int threshold : {250, 200, 128}) {
    for (int y = 0; y < item.mask.height; ++y) {
      for (int x = 0; x < item.mask.width; ++x) {
        const int px = item.left + x, py = item.top + y;
        if (item.mask.coverage[static_cast<std::size_t>(y) * item.mask.width + x] < threshold || px < 0 || py < 0 ||
            px >= image.width || py >= image.height)
          continue;
        inkSum += Luminance(At(image, px, py));
        ++inkCount;
      }
    }
    if (inkCount > 0) break;
  }
  if (inkCount == 0) return 0;
  std::vector<double> ground;
  ForGround(item, image.width, image.height, [&](int x, int y) { ground.push_back(Luminance(At(image, x, y))); });
  const double ink = inkSum / inkCount;
  return ContrastRatio(ink, WorstGround(ground, ink > 0.4));
}

void Print(RgbImage& image, const Item& item) {
  for (int y = 0; y < item.mask.height; ++y) {
    for (int x = 0; x < item.mask.width; ++x) {
      const int px = item.left + x, py = item.top + y;
      if (px < 0 || py < 0 || px >= image.width || py >= image.height) continue;
      const std::uint8_t c = item.mask.coverage[static_cast<std::size_t>(y) * item.mask.width + x];
      if (c > 0) Blend(At(image, px, py), item.ink, c / 255.0);
    }
  }
}

double Rounded11(double fraction) { return static_cast<double>(std::llround(fraction * 1e11)) / 1e11; }

// The grid inside the block: a title band, a weekday band, then six rows of seven
// cells, as fractions that survive the trip through WP.ini unchanged.
constexpr double kTitleBand = 0.15;
constexpr double kHeaderBand = 0.09;
constexpr double kCellShare = 0.92;

GridGeometry GridInBlock(const Placement& block, int width, int height) {
  GridGeometry g;
  const double sx = block.width / 7.0, sy = block.height * (1 - kTitleBand - kHeaderBand) / 6.0;
  g.SPACING_X = Rounded11(sx / width);
  g.SPACING_Y = Rounded11(sy / height);
  g.CELL_X = Rounded11(sx * kCellShare / width);
  g.CELL_Y = Rounded11(sy * kCellShare / height);
  g.CORNER_X = Rounded11((block.left + sx * (1 - kCellShare) / 2) / width);
  g.CORNER_Y = Rounded11((block.top + block.height * (kTitleBand + kHeaderBand) + sy * (1 - kCellShare) / 2) / height);
  return g;
}

Item Centred(TextMask mask, double cx, double cy) {
  Item item;
  item.left = static_cast<int>(std::lround(cx - mask.width / 2.0));
  item.top = static_cast<int>(std::lround(cy - mask.height / 2.0));
  item.mask = std::move(mask);
  return item;
}

// Everything printed on one month's picture, in ink for light or dark ground.
std::vector<Item> Layout(TextPainter& painter, const CalendarWords& words, const Placement& block,
                         const GridGeometry& grid, int year, int month, int width, int height, int firstDay,
                         std::uint32_t holidays, const std::array<std::string, 32>& names, double frameThickness,
                         bool lightInk, std::string* title) {
  const Rgb ink = lightInk ? kLightInk : kDarkInk;
  const Rgb weekendInk = lightInk ? kLightWeekendInk : kDarkWeekendInk;
  std::vector<Item> items;

  *title = words.months[static_cast<std::size_t>(month - 1)] + " " + std::to_string(year);
  const double gridLeft = grid.CORNER_X * width;
  double titleSize = block.height * kTitleBand * 0.62;
  TextMask titleMask = painter.Render(*title, titleSize);
  if (titleMask.width > block.width * 0.96) {
    titleSize *= block.width * 0.96 / titleMask.width;
    titleMask = painter.Render(*title, titleSize);
  }
  Item titleItem = Centred(std::move(titleMask), 0, block.top + block.height * kTitleBand / 2);
  titleItem.left = static_cast<int>(std::lround(gridLeft));
  items.push_back(std::move(titleItem));

  const double cellWidth = grid.CELL_X * width, cellHeight = grid.CELL_Y * height;
  const double headerSize = std::min(block.height * kHeaderBand * 0.5, cellWidth * 0.3);
  for (int column = 0; column < 7; ++column) {
    const double cx = (grid.CORNER_X + column * grid.SPACING_X + grid.CELL_X / 2) * width;
    const int weekday = (column + firstDay - 1) % 7;  // Monday 0
    Item item = Centred(painter.Render(words.weekdays[static_cast<std::size_t>(weekday)], headerSize), cx,
                        block.top + block.height * (kTitleBand + kHeaderBand / 2));
    item.weekend = weekday >= 5;
    items.push_back(std::move(item));
  }

  const double numberSize = std::min(cellHeight * 0.42, cellWidth * 0.34);
  for (int day = 1; day <= DaysInMonth(year, month); ++day) {
    const int index = CellIndexOf(year, month, day, firstDay);
    const CellRect cell = CellRectOf(grid, width, height, index / 7, index % 7);
    const bool weekend = (index % 7 + firstDay - 1) % 7 >= 5 || (holidays >> day & 1u) != 0;
    const auto number = [&](bool named) {
      // A day with a name to print has a smaller number, a little higher in its cell.
      const double size = named ? numberSize * 0.7 : numberSize;
      TextMask mask = painter.Render(std::to_string(day), size);
      if (weekend) AddUnderline(mask, size);
      Item item = Centred(std::move(mask), (cell.left + cell.right) / 2.0, cell.top + cellHeight * (named ? 0.34 : 0.5));
      item.day = day;
      item.weekend = weekend;
      return item;
    };

    // A holiday's name under its number, above the bar the wallpaper draws along the
    // cell's foot; left out where even small type does not fit.
    const std::string& name = names[static_cast<std::size_t>(day)];
    const double room = (cell.right - cell.left) * 0.8, smallest = 7;
    double nameSize = std::min(cellHeight * 0.14, numberSize * 0.4);
    TextMask nameMask;
    if (!name.empty() && nameSize >= smallest) {
      nameMask = painter.Render(name, nameSize);
      if (nameMask.width > room) {
        nameSize *= room / nameMask.width * 0.95;  // ink does not scale exactly with size
        nameMask = nameSize >= smallest ? painter.Render(name, nameSize) : TextMask{};
      }
    }
    if (nameMask.width == 0 || nameMask.width > room) {
      items.push_back(number(false));
      continue;
    }
    Item item = number(true);
    // Clear of the ring round the number whose ground its contrast is measured on.
    const int numberBottom = item.top + item.mask.height + std::max(3, static_cast<int>(std::lround(item.mask.height * 0.2)));
    const int namePad = std::max(3, static_cast<int>(std::lround(nameMask.height * 0.2)));
    const double nameTop = numberBottom + namePad + 1.0;
    // The bar's top as the wallpaper draws it: inside the frame line, an eighth of the cell.
    const int barTop = cell.bottom - static_cast<int>(std::lround(frameThickness)) - 1 - std::max(2, (cell.bottom - cell.top) / 8);
    if (nameTop + nameMask.height >= barTop) {
      items.push_back(number(false));
      continue;
    }
    items.push_back(std::move(item));
    Item nameItem = Centred(std::move(nameMask), (cell.left + cell.right) / 2.0, nameTop + nameMask.height / 2.0);
    nameItem.nameOf = day;
    nameItem.weekend = true;
    items.push_back(std::move(nameItem));
  }
  for (Item& item : items) {
    item.ink = item.weekend ? weekendInk : ink;
    item.pad = std::max(3, static_cast<int>(std::lround(item.mask.height * 0.2)));
  }
  return items;
}

struct Month {
  std::vector<std::uint8_t> jpeg;
  std::vector<PrintedText> printed;
  double alpha = 0;
  double lowest = 0;
};

// Prints the calendar on one picture: ink by the ground's mean luminance, and a panel
// behind the whole calendar as strong as the weakest text needs to reach `target`.
Month PrintMonth(const RgbImage& photo, TextPainter& painter, const CalendarWords& words, const Placement& block,
                 const GridGeometry& grid, const PhotoCalendarSettings& settings, int month, double target,
                 std::string* title) {
  Month result;
  RgbImage image = photo;
  double meanGround = 0;
  for (int y = block.top; y < block.top + block.height; ++y) {
    for (int x = block.left; x < block.left + block.width; ++x) meanGround += Luminance(At(image, x, y));
  }
  meanGround /= static_cast<double>(block.width) * block.height;
  const bool lightInk = ContrastRatio(InkLuminance(kLightInk), meanGround) >= ContrastRatio(InkLuminance(kDarkInk), meanGround);
  const Rgb scrim = lightInk ? Rgb{0, 0, 0} : Rgb{255, 255, 255};
  std::vector<Item> items =
      Layout(painter, words, block, grid, settings.year, month, settings.width, settings.height, settings.firstDay,
             settings.holidays[static_cast<std::size_t>(month - 1)],
             settings.holidayNames[static_cast<std::size_t>(month - 1)], settings.frame.RECT_THICKNESS * settings.width,
             lightInk, title);

  double alpha = block.calm ? 0.0 : 0.45;
  for (; alpha < 0.95; alpha += 0.05) {
    bool enough = true;
    // A holiday's name is extra: small type never darkens the panel nor fails the calendar.
    for (const Item& item : items) enough = enough && (item.nameOf != 0 || GroundContrast(image, item, scrim, alpha) >= target);
    if (enough) break;
  }
  if (alpha > 0) {
    const double margin = block.height * 0.03;
    FillRoundedRect(image, block.left - margin, block.top - margin, block.left + block.width + margin,
                    block.top + block.height + margin, margin * 1.5, scrim, alpha);
  }
  for (const Item& item : items) Print(image, item);
  result.alpha = alpha;

  result.jpeg = EncodeJpeg(image, settings.quality);
  const RgbImage written = DecodeJpeg(result.jpeg);
  result.lowest = 1e9;
  for (const Item& item : items) {
    PrintedText text;
    text.day = item.day;
    text.nameOf = item.nameOf;
    text.weekend = item.weekend;
    text.left = item.left;
    text.top = item.top;
    text.right = item.left + item.mask.width;
    text.bottom = item.top + item.mask.height;
    text.contrast = MeasuredContrast(written, item);
    if (item.nameOf == 0) result.lowest = std::min(result.lowest, text.contrast);
    result.printed.push_back(text);
  }
  return result;
}

// Replaced whole, so a reader never sees half a file.
void WriteWhole(const fs::path& path, const std::string& bytes) {
  std::string error;
  if (!platform::ReplaceFileWith(path.string(), bytes, &error)) throw std::runtime_error(error);
}

// Small deterministic noise in [-1, 1] for the generated hills' texture.
double Noise(int x, int y, int seed) {
  std::uint32_t h = static_cast<std::uint32_t>(x) * 374761393u + static_cast<std::uint32_t>(y) * 668265263u +
                    static_cast<std::uint32_t>(seed) * 2246822519u;
  h = (h ^ (h >> 13)) * 1274126177u;
  return ((h ^ (h >> 16)) & 0xFFFF) / 32767.5 - 1.0;
}

}  // namespace

double RelativeLuminance(int r, int g, int b) {
  const std::uint8_t p[3] = {static_cast<std::uint8_t>(std::clamp(r, 0, 255)), static_cast<std::uint8_t>(std::clamp(g, 0, 255)),
                             static_cast<std::uint8_t>(std::clamp(b, 0, 255))};
  return Luminance(p);
}

double ContrastRatio(double a, double b) { return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05); }

RgbImage ScaleToCover(const RgbImage& image, int width, int height) {
  if (image.width <= 0 || image.height <= 0 || width <= 0 || height <= 0) throw std::invalid_argument("empty picture");
  const double scale = std::max(static_cast<double>(width) / image.width, static_cast<double>(height) / image.height);
  RgbImage result{width, height, std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 3)};
  screens::Resample({image.pixels.data(), image.width, image.height, static_cast<std::ptrdiff_t>(image.width) * 3},
                    {result.pixels.data(), width, height, static_cast<std::ptrdiff_t>(width) * 3}, scale, scale,
                    (image.width - width / scale) / 2, (image.height - height / scale) / 2);
  return result;
}

RgbImage GeneratedBackground(int month, int width, int height) {
  struct Season {
    Rgb skyTop, skyLow, hill, sun;
  };
  static const Season kSeasons[12] = {
      {{34, 56, 110}, {150, 180, 214}, {226, 234, 242}, {255, 240, 214}},  // snow
      {{52, 48, 112}, {176, 160, 206}, {204, 212, 226}, {255, 232, 220}},
      {{40, 96, 150}, {170, 208, 226}, {104, 150, 96}, {255, 244, 200}},
      {{46, 120, 186}, {186, 224, 240}, {88, 160, 84}, {255, 246, 196}},
      {{30, 110, 196}, {170, 220, 246}, {76, 150, 60}, {255, 240, 170}},
      {{18, 96, 200}, {150, 206, 250}, {96, 160, 52}, {255, 236, 150}},
      {{16, 90, 196}, {140, 200, 246}, {170, 170, 70}, {255, 230, 140}},
      {{60, 100, 180}, {250, 200, 140}, {190, 150, 70}, {255, 220, 130}},
      {{70, 90, 150}, {240, 190, 130}, {170, 110, 50}, {255, 210, 140}},
      {{60, 60, 120}, {230, 150, 100}, {150, 76, 40}, {255, 200, 150}},
      {{44, 52, 90}, {160, 150, 160}, {100, 80, 70}, {250, 220, 200}},
      {{20, 30, 70}, {90, 110, 160}, {214, 222, 236}, {250, 240, 220}},
  };
  const Season& s = kSeasons[(month - 1 + 1200) % 12];
  RgbImage image{width, height, std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 3)};
  const double sunX = width * (month % 2 == 0 ? 0.82 : 0.18), sunY = height * 0.2, sunR = height * 0.07;
  for (int y = 0; y < height; ++y) {
    const double t = static_cast<double>(y) / height;
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = At(image, x, y);
      p[0] = Channel(s.skyTop.r + (s.skyLow.r - s.skyTop.r) * t);
      p[1] = Channel(s.skyTop.g + (s.skyLow.g - s.skyTop.g) * t);
      p[2] = Channel(s.skyTop.b + (s.skyLow.b - s.skyTop.b) * t);
      const double d = std::hypot(x - sunX, y - sunY) - sunR;
      Blend(p, s.sun, std::clamp(0.5 - d, 0.0, 1.0) * 0.85 + std::clamp(1 - d / (sunR * 2.5), 0.0, 1.0) * 0.08);
    }
  }
  // Three ranges of hills, nearer ones lower, darker and rougher.
  for (int layer = 0; layer < 3; ++layer) {
    const double shade = 0.72 + 0.14 * layer;
    const Rgb hill{Channel(s.hill.r * shade), Channel(s.hill.g * shade), Channel(s.hill.b * shade)};
    for (int x = 0; x < width; ++x) {
      const double u = static_cast<double>(x) / width;
      const double ridge = height * (0.66 + 0.08 * layer + 0.035 * std::sin(u * (5 + 2 * layer) + month + layer) +
                                     0.02 * std::sin(u * (13 + 3 * layer) + 2.0 * month));
      for (int y = std::max(0, static_cast<int>(ridge)); y < height; ++y) {
        const double edge = std::clamp(y + 1 - ridge, 0.0, 1.0);
        const double grain = 1 + 0.08 * (1 + layer) * Noise(x, y, month * 3 + layer);
        Blend(At(image, x, y), {Channel(hill.r * grain), Channel(hill.g * grain), Channel(hill.b * grain)}, edge);
      }
    }
  }
  return image;
}

Placement FindCalmPlacement(const std::vector<RgbImage>& pictures, int blockWidth, int blockHeight) {
  if (pictures.empty()) throw std::invalid_argument("no pictures");
  const int width = pictures[0].width, height = pictures[0].height;
  // Detail on a reduced grid: about 480 cells across, each the mean of a square.
  const int step = std::max(1, std::max(width, height) / 480);
  const int gw = width / step, gh = height / step;
  std::vector<double> detail(static_cast<std::size_t>(gw) * gh, 0.0);
  std::vector<double> luma(static_cast<std::size_t>(gw) * gh);
  for (const RgbImage& picture : pictures) {
    std::fill(luma.begin(), luma.end(), 0.0);
    for (int y = 0; y < gh * step; ++y) {
      for (int x = 0; x < gw * step; ++x) {
        const std::uint8_t* p = At(picture, x, y);
        luma[static_cast<std::size_t>(y / step) * gw + x / step] += 0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2];
      }
    }
    for (double& v : luma) v /= step * step;
    for (int y = 0; y + 1 < gh; ++y) {
      for (int x = 0; x + 1 < gw; ++x) {
        const double here = luma[static_cast<std::size_t>(y) * gw + x];
        detail[static_cast<std::size_t>(y) * gw + x] +=
            std::abs(luma[static_cast<std::size_t>(y) * gw + x + 1] - here) +
            std::abs(luma[static_cast<std::size_t>(y + 1) * gw + x] - here);
      }
    }
  }
  // Integral image: any block's detail in four look-ups.
  std::vector<double> sum(static_cast<std::size_t>(gw + 1) * (gh + 1), 0.0);
  for (int y = 0; y < gh; ++y) {
    for (int x = 0; x < gw; ++x) {
      sum[static_cast<std::size_t>(y + 1) * (gw + 1) + x + 1] = detail[static_cast<std::size_t>(y) * gw + x] +
                                                                sum[static_cast<std::size_t>(y) * (gw + 1) + x + 1] +
                                                                sum[static_cast<std::size_t>(y + 1) * (gw + 1) + x] -
                                                                sum[static_cast<std::size_t>(y) * (gw + 1) + x];
    }
  }
  // Cells busy enough to spoil the ground under a number, counted the same way.
  std::vector<double> busy(static_cast<std::size_t>(gw + 1) * (gh + 1), 0.0);
  const double busyCell = kBusyDetail * static_cast<double>(pictures.size());
  for (int y = 0; y < gh; ++y) {
    for (int x = 0; x < gw; ++x) {
      busy[static_cast<std::size_t>(y + 1) * (gw + 1) + x + 1] = (detail[static_cast<std::size_t>(y) * gw + x] > busyCell) +
                                                                 busy[static_cast<std::size_t>(y) * (gw + 1) + x + 1] +
                                                                 busy[static_cast<std::size_t>(y + 1) * (gw + 1) + x] -
                                                                 busy[static_cast<std::size_t>(y) * (gw + 1) + x];
    }
  }
  const int marginX = static_cast<int>(gw * 0.04), marginY = static_cast<int>(gh * 0.05);
  const auto area = [&](const std::vector<double>& table, int x0, int y0, int x1, int y1) {
    x0 = std::max(x0, 0), y0 = std::max(y0, 0), x1 = std::min(x1, gw), y1 = std::min(y1, gh);
    const auto at = [&](int xx, int yy) { return table[static_cast<std::size_t>(yy) * (gw + 1) + xx]; };
    return std::make_pair(at(x1, y1) - at(x0, y1) - at(x1, y0) + at(x0, y0), static_cast<double>(x1 - x0) * (y1 - y0));
  };
  const auto mean = [&](int x0, int y0, int x1, int y1) {
    const auto [total, cells] = area(sum, x0, y0, x1, y1);
    return total / (cells * static_cast<double>(pictures.size()));
  };
  // The least detailed place for a block of this size, ranked by the block and a border
  // round it, so the calendar keeps clear of busy parts when the calm part is larger than
  // it. With `whollyCalm`, only places where the block and its border hold (next to) no
  // busy cell count.
  const auto place = [&](int blockW, int blockH, double border, bool whollyCalm) {
    const int bw = std::max(1, blockW / step), bh = std::max(1, blockH / step);
    const int borderX = static_cast<int>(bw * border), borderY = static_cast<int>(bh * border);
    Placement best;
    best.detail = 1e300;
    double bestRank = 1e300;
    for (int y = marginY; y + bh <= gh - marginY; ++y) {
      for (int x = marginX; x + bw <= gw - marginX; ++x) {
        if (whollyCalm) {
          const auto [count, cells] = area(busy, x - borderX, y - borderY, x + bw + borderX, y + bh + borderY);
          if (count > cells * 0.002) continue;
        }
        const double rank = mean(x - borderX, y - borderY, x + bw + borderX, y + bh + borderY);
        if (rank < bestRank - 1e-9) {
          bestRank = rank;
          best.detail = mean(x, y, x + bw, y + bh);
          best.left = x * step;
          best.top = y * step;
        }
      }
    }
    best.width = blockW;
    best.height = blockH;
    best.calm = best.detail <= kCalmDetail;
    return best;
  };
  // The block at full size with its border in a wholly calm part; else the border
  // shrinks, then the block, down to kSmallestBlock of its size; else the block at full
  // size where the detail is least, on a panel if that is busy.
  for (int percent = 100; percent >= static_cast<int>(kSmallestBlock * 100 + 0.5); percent -= 5) {
    for (const double border : percent == 100 ? std::vector<double>{0.10, 0.05, 0.0} : std::vector<double>{0.0}) {
      Placement calm = place(static_cast<int>(std::lround(blockWidth * percent / 100.0)),
                             static_cast<int>(std::lround(blockHeight * percent / 100.0)), border, true);
      if (calm.detail != 1e300 && calm.calm) {
        calm.scale = percent / 100.0;
        return calm;
      }
    }
  }
  Placement best = place(blockWidth, blockHeight, 0.10, false);
  if (best.detail == 1e300) throw std::invalid_argument("the calendar does not fit the picture");
  return best;
}

PhotoCalendarReport WritePhotoCalendar(const std::vector<std::string>& photos, const std::string& folder,
                                       const PhotoCalendarSettings& settings) {
  if (settings.year < 1 || settings.year > 9999) throw std::invalid_argument("year must be 1 to 9999");
  if (settings.width < 400 || settings.width > 16384 || settings.height < 250 || settings.height > 16384) {
    throw std::invalid_argument("size must be 400x250 to 16384x16384");
  }
  if (settings.quality < 1 || settings.quality > 100) throw std::invalid_argument("quality must be 1 to 100");
  const CalendarWords words = WordsOfLocale(settings.locale);

  std::vector<RgbImage> pictures;
  if (photos.empty()) {
    for (int month = 1; month <= 12; ++month) pictures.push_back(GeneratedBackground(month, settings.width, settings.height));
  } else {
    for (const std::string& photo : photos) {
      pictures.push_back(ScaleToCover(ReadPhoto(photo, settings.width, settings.height), settings.width, settings.height));
      if (pictures.size() == 12) break;
    }
  }

  PhotoCalendarReport report;
  const int blockWidth = static_cast<int>(std::lround(settings.width * 0.38));
  const int blockHeight = static_cast<int>(std::lround(settings.height * 0.56));
  report.placement = FindCalmPlacement(pictures, blockWidth, blockHeight);
  report.grid = GridInBlock(report.placement, settings.width, settings.height);

  std::unique_ptr<TextPainter> painter = MakeTextPainter();
  std::array<Month, 12> months;
  report.lowestContrast = 1e9;
  for (int month = 1; month <= 12; ++month) {
    const std::size_t m = static_cast<std::size_t>(month - 1);
    // Measured on the compressed result; aim higher until every text passes.
    for (double target = kRequiredContrast + kDrawingMargin;; target += 1.0) {
      months[m] = PrintMonth(pictures[m % pictures.size()], *painter, words, report.placement, report.grid, settings, month, target,
                             &report.titles[m]);
      if (months[m].lowest >= kRequiredContrast || target > 12) break;
    }
    report.printed[m] = months[m].printed;
    report.panelAlpha[m] = months[m].alpha;
    report.lowestContrast = std::min(report.lowestContrast, months[m].lowest);
  }
  if (report.lowestContrast < kRequiredContrast) throw std::runtime_error("the calendar cannot be made readable");

  const fs::path yearFolder = fs::path(folder) / ("Zorvani" + std::to_string(settings.year));
  fs::create_directories(yearFolder);
  for (std::size_t m = 0; m < 12; ++m) {
    WriteWhole(yearFolder / (std::to_string(m + 1) + ".jpg"), std::string(months[m].jpeg.begin(), months[m].jpeg.end()));
  }
  WriteWhole(fs::path(folder) / "WP.ini", WpIniText(report.grid, settings.frame, settings.firstDay));
  return report;
}

void WriteCalendar(const std::string& folder, int year, int width, int height, int quality, int firstDay,
                   const std::array<std::uint32_t, 12>& holidays,
                   const std::array<std::array<std::string, 32>, 12>& holidayNames) {
  PhotoCalendarSettings settings;
  settings.firstDay = firstDay;
  settings.holidays = holidays;
  settings.holidayNames = holidayNames;
  settings.year = year;
  settings.width = width;
  settings.height = height;
  settings.quality = quality;
  WritePhotoCalendar({}, folder, settings);
}

}  // namespace tools
}  // namespace zorvani
