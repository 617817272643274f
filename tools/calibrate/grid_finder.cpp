#include "tools/calibrate/grid_finder.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <numeric>
#include <utility>

#include "runtime/rounding.h"

namespace zorvani {
namespace calibrate {
namespace {

const char* const kWeekdayNames[7] = {"Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"};
const char* const kMonthNames[12] = {"January", "February", "March",     "April",   "May",      "June",
                                     "July",    "August",   "September", "October", "November", "December"};

// Grey levels, lines from the top.
struct Grey {
  int width = 0, height = 0;
  std::vector<std::uint8_t> level;
};

Grey GreyOf(const cDIBSection& image) {
  Grey grey{image.width(), image.height(), {}};
  grey.level.resize(static_cast<std::size_t>(grey.width) * grey.height);
  const int stride = image.BytesPerScanLine();
  for (int line = 0; line < grey.height; ++line) {
    const std::uint8_t* row = image.DIBSectionBitsPtr() + static_cast<std::size_t>(grey.height - 1 - line) * stride;
    std::uint8_t* out = &grey.level[static_cast<std::size_t>(line) * grey.width];
    for (int x = 0; x < grey.width; ++x) {
      out[x] = static_cast<std::uint8_t>((29 * row[3 * x] + 150 * row[3 * x + 1] + 77 * row[3 * x + 2]) >> 8);
    }
  }
  return grey;
}

// Ink: pixels that stand out from their neighbourhood's mean, light on dark or dark on light.
std::vector<std::uint8_t> InkOf(const Grey& grey) {
  const int w = grey.width, h = grey.height, radius = std::max(8, h / 24);
  std::vector<std::uint32_t> sum(static_cast<std::size_t>(w + 1) * (h + 1), 0);
  for (int y = 0; y < h; ++y) {
    std::uint32_t run = 0;
    for (int x = 0; x < w; ++x) {
      run += grey.level[static_cast<std::size_t>(y) * w + x];
      sum[static_cast<std::size_t>(y + 1) * (w + 1) + x + 1] = sum[static_cast<std::size_t>(y) * (w + 1) + x + 1] + run;
    }
  }
  std::vector<std::uint8_t> ink(grey.level.size(), 0);
  for (int y = 0; y < h; ++y) {
    const int y0 = std::max(0, y - radius), y1 = std::min(h, y + radius + 1);
    for (int x = 0; x < w; ++x) {
      const int x0 = std::max(0, x - radius), x1 = std::min(w, x + radius + 1);
      const auto at = [&](int yy, int xx) { return sum[static_cast<std::size_t>(yy) * (w + 1) + xx]; };
      const double mean = static_cast<double>(at(y1, x1) - at(y0, x1) - at(y1, x0) + at(y0, x0)) / ((y1 - y0) * (x1 - x0));
      ink[static_cast<std::size_t>(y) * w + x] = std::abs(grey.level[static_cast<std::size_t>(y) * w + x] - mean) > 40;
    }
  }
  return ink;
}

struct Mark {
  PixelBox box;
  long long pixels = 0;
  int Width() const { return box.right - box.left; }
  int Height() const { return box.bottom - box.top; }
  double Cx() const { return (box.left + box.right) / 2.0; }
  double Cy() const { return (box.top + box.bottom) / 2.0; }
};

std::vector<Mark> Components(std::vector<std::uint8_t> ink, int w, int h) {
  std::vector<Mark> marks;
  std::vector<int> stack;
  for (int start = 0; start < w * h; ++start) {
    if (!ink[static_cast<std::size_t>(start)]) continue;
    Mark mark{{start % w, start / w, start % w + 1, start / w + 1}, 0};
    ink[static_cast<std::size_t>(start)] = 0;
    stack.push_back(start);
    while (!stack.empty()) {
      const int at = stack.back();
      stack.pop_back();
      const int x = at % w, y = at / w;
      ++mark.pixels;
      mark.box = {std::min(mark.box.left, x), std::min(mark.box.top, y), std::max(mark.box.right, x + 1),
                  std::max(mark.box.bottom, y + 1)};
      for (int ny = std::max(0, y - 1); ny <= std::min(h - 1, y + 1); ++ny) {
        for (int nx = std::max(0, x - 1); nx <= std::min(w - 1, x + 1); ++nx) {
          const std::size_t next = static_cast<std::size_t>(ny) * w + nx;
          if (ink[next]) {
            ink[next] = 0;
            stack.push_back(static_cast<int>(next));
          }
        }
      }
    }
    marks.push_back(mark);
  }
  return marks;
}

// Glyph-sized pieces of ink, joined into words and numbers ("12" is one mark).
std::vector<Mark> TextMarks(const std::vector<std::uint8_t>& ink, int w, int h) {
  std::vector<Mark> pieces;
  for (const Mark& m : Components(ink, w, h)) {
    // Lines and outlines are too sparse, photographs' shapes too large.
    if (m.Height() <= h * 0.12 && m.Width() <= h * 0.12 && m.pixels * 6 >= static_cast<long long>(m.Width()) * m.Height()) {
      pieces.push_back(m);
    }
  }
  std::sort(pieces.begin(), pieces.end(), [](const Mark& a, const Mark& b) { return a.box.left < b.box.left; });
  std::vector<int> parent(pieces.size());
  std::iota(parent.begin(), parent.end(), 0);
  const auto root = [&](int i) {
    while (parent[static_cast<std::size_t>(i)] != i) i = parent[static_cast<std::size_t>(i)] = parent[static_cast<std::size_t>(parent[static_cast<std::size_t>(i)])];
    return i;
  };
  const double widestGap = h * 0.12;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    for (std::size_t j = i + 1; j < pieces.size() && pieces[j].box.left <= pieces[i].box.right + widestGap; ++j) {
      const Mark& a = pieces[i];
      const Mark& b = pieces[j];
      const int overlap = std::min(a.box.bottom, b.box.bottom) - std::max(a.box.top, b.box.top);
      const int gap = std::max(a.box.left, b.box.left) - std::min(a.box.right, b.box.right);
      const int taller = std::max(a.Height(), b.Height());
      const int joined = std::max(a.box.bottom, b.box.bottom) - std::min(a.box.top, b.box.top);
      // Side by side (the digits of a number), or one above the other (a glyph that broke apart).
      const int overlapX = std::min(a.box.right, b.box.right) - std::max(a.box.left, b.box.left);
      const int gapY = std::max(a.box.top, b.box.top) - std::min(a.box.bottom, b.box.bottom);
      const bool beside = overlap * 2 >= std::min(a.Height(), b.Height()) && gap <= 0.8 * taller && joined <= 1.3 * taller;
      const bool stacked = overlapX * 2 >= std::min(a.Width(), b.Width()) && gapY <= 0.3 * taller && joined <= 2.5 * taller;
      if (beside || stacked) {
        parent[static_cast<std::size_t>(root(static_cast<int>(i)))] = root(static_cast<int>(j));
      }
    }
  }
  std::map<int, Mark> joined;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    auto [it, fresh] = joined.try_emplace(root(static_cast<int>(i)), pieces[i]);
    if (fresh) continue;
    Mark& m = it->second;
    m.box = {std::min(m.box.left, pieces[i].box.left), std::min(m.box.top, pieces[i].box.top),
             std::max(m.box.right, pieces[i].box.right), std::max(m.box.bottom, pieces[i].box.bottom)};
    m.pixels += pieces[i].pixels;
  }
  std::vector<Mark> marks;
  for (const auto& [id, m] : joined) {
    if (m.Height() >= std::max(5.0, h * 0.006)) marks.push_back(m);
  }
  return marks;
}

bool SimilarHeight(const Mark& a, const Mark& b) {
  const double ratio = static_cast<double>(a.Height()) / b.Height();
  return ratio > 0.7 && ratio < 1.43;
}

// The most common of the distances, those within 8 % of each other: their mean and how many agree.
std::pair<double, int> CommonDistance(std::vector<double> distances) {
  std::sort(distances.begin(), distances.end());
  std::pair<double, int> best{0, 0};
  std::size_t end = 0;
  for (std::size_t begin = 0; begin < distances.size(); ++begin) {
    end = std::max(end, begin);
    while (end < distances.size() && distances[end] <= distances[begin] * 1.08) ++end;
    const int count = static_cast<int>(end - begin);
    if (count > best.second) {
      best = {std::accumulate(distances.begin() + static_cast<std::ptrdiff_t>(begin),
                              distances.begin() + static_cast<std::ptrdiff_t>(end), 0.0) / count,
              count};
    }
  }
  return best;
}

// Marks on a lattice of equal steps: cell (i, j) holds marks[index].
struct Lattice {
  double x0 = 0, y0 = 0, dx = 0, dy = 0;
  std::map<std::pair<int, int>, std::size_t> cells;  // (column, row)
};

Lattice Assign(const std::vector<Mark>& marks, const Mark& model, double x0, double y0, double dx, double dy) {
  Lattice lattice{x0, y0, dx, dy, {}};
  std::map<std::pair<int, int>, double> error;
  for (std::size_t k = 0; k < marks.size(); ++k) {
    if (!SimilarHeight(marks[k], model)) continue;
    const double fx = (marks[k].Cx() - x0) / dx, fy = (marks[k].Cy() - y0) / dy;
    const double ex = std::abs(fx - std::round(fx)), ey = std::abs(fy - std::round(fy));
    if (ex > 0.2 || ey > 0.2) continue;
    const std::pair<int, int> cell{static_cast<int>(std::lround(fx)), static_cast<int>(std::lround(fy))};
    const auto found = error.find(cell);
    if (found != error.end() && found->second <= ex + ey) continue;
    error[cell] = ex + ey;
    lattice.cells[cell] = k;
  }
  return lattice;
}

// Least squares of the mark centres on their cells.
void Refit(Lattice& lattice, const std::vector<Mark>& marks) {
  double n = 0, si = 0, sj = 0, sii = 0, sjj = 0, sx = 0, sy = 0, six = 0, sjy = 0;
  for (const auto& [cell, k] : lattice.cells) {
    const double i = cell.first, j = cell.second, x = marks[k].Cx(), y = marks[k].Cy();
    n += 1, si += i, sj += j, sii += i * i, sjj += j * j, sx += x, sy += y, six += i * x, sjy += j * y;
  }
  // Kept only when it is a lattice still: at least two columns (rows) and a forward step.
  const double vi = n * sii - si * si, vj = n * sjj - sj * sj;
  if (vi > 0 && (n * six - si * sx) / vi > 1) {
    lattice.dx = (n * six - si * sx) / vi;
    lattice.x0 = (sx - lattice.dx * si) / n;
  }
  if (vj > 0 && (n * sjy - sj * sy) / vj > 1) {
    lattice.dy = (n * sjy - sj * sy) / vj;
    lattice.y0 = (sy - lattice.dy * sj) / n;
  }
}

Lattice FindLattice(const std::vector<Mark>& marks) {
  std::vector<double> across, down;
  for (const Mark& a : marks) {
    double right = 0, below = 0;
    for (const Mark& b : marks) {
      if (!SimilarHeight(a, b)) continue;
      const double ddx = b.Cx() - a.Cx(), ddy = b.Cy() - a.Cy();
      if (std::abs(ddy) < 0.25 * a.Height() && ddx > (a.Width() + b.Width()) / 2.0 && (right == 0 || ddx < right)) right = ddx;
      if (ddy > (a.Height() + b.Height()) / 2.0 && (below == 0 || ddy < below) && std::abs(ddx) < 0.5 * a.Height()) {
        below = ddy;
      }
    }
    if (right > 0) across.push_back(right);
    if (below > 0) down.push_back(below);
  }
  const auto [dx, columnsAgree] = CommonDistance(across);
  const auto [dy, rowsAgree] = CommonDistance(down);
  Lattice best;
  if (columnsAgree < 8 || rowsAgree < 4) return best;
  const Mark* model = nullptr;
  for (const Mark& candidate : marks) {
    Lattice lattice = Assign(marks, candidate, candidate.Cx(), candidate.Cy(), dx, dy);
    if (lattice.cells.size() > best.cells.size()) best = std::move(lattice), model = &candidate;
  }
  if (best.cells.empty()) return best;
  // Heights are judged against the typical mark, not whichever one happened to lead.
  std::vector<std::pair<int, const Mark*>> heights;
  for (const auto& [cell, k] : best.cells) heights.emplace_back(marks[k].Height(), &marks[k]);
  std::nth_element(heights.begin(), heights.begin() + static_cast<std::ptrdiff_t>(heights.size() / 2), heights.end());
  model = heights[heights.size() / 2].second;
  for (int round = 0; round < 2 && best.cells.size() >= 3; ++round) {
    Refit(best, marks);
    best = Assign(marks, *model, best.x0, best.y0, best.dx, best.dy);
  }
  return best;
}

// The 6 x 7 cells from (column c0, row r0) as a run: first cell and length, or length 0.
std::pair<int, int> RunIn(const Lattice& lattice, int c0, int r0) {
  std::uint64_t bits = 0;
  for (const auto& [cell, k] : lattice.cells) {
    const int c = cell.first - c0, r = cell.second - r0;
    if (c >= 0 && c < 7 && r >= 0 && r < 6) bits |= std::uint64_t{1} << (r * 7 + c);
  }
  if (bits == 0) return {0, 0};
  int first = 0;
  while (!(bits >> first & 1)) ++first;
  const std::uint64_t run = bits >> first;
  if ((run & (run + 1)) != 0) return {0, 0};  // not one unbroken run
  int length = 0;
  while (run >> length & 1) ++length;
  return {first, length};
}

// v = at0 + step * k by least squares; false unless nearly every sample lies within a
// pixel and a half of it, as printed lines do.
struct Line {
  double at0 = 0, step = 0;
};
bool FitLine(const std::vector<std::pair<int, int>>& samples, Line* line) {
  double n = 0, sk = 0, sv = 0, skk = 0, skv = 0;
  for (const auto& [k, v] : samples) n += 1, sk += k, sv += v, skk += 1.0 * k * k, skv += 1.0 * k * v;
  const double spread = n * skk - sk * sk;
  if (n < 2 || spread <= 0) return false;
  line->step = (n * skv - sk * sv) / spread;
  line->at0 = (sv - line->step * sk) / n;
  int close = 0;
  for (const auto& [k, v] : samples) close += std::abs(v - (line->at0 + line->step * k)) <= 1.5;
  return close * 5 >= static_cast<int>(n) * 4;
}

// Outlines round the numbers: from each number outwards, the first line of ink that
// runs along most of the cell's side. When nearly every day has all four and they lie
// on straight equally spaced lines, the grid of the outlines' outer edges.
bool FindBoxes(const std::vector<std::uint8_t>& ink, int w, int h, const Lattice& lattice, int year, int month,
               const std::vector<PixelBox>& numbers, PixelGrid* grid) {
  const auto inkAt = [&](int x, int y) { return x >= 0 && y >= 0 && x < w && y < h && ink[static_cast<std::size_t>(y) * w + x]; };
  std::vector<std::pair<int, int>> lefts, rights, tops, bottoms;  // (column or row, edge)
  for (std::size_t d = 0; d < numbers.size(); ++d) {
    const CalendarCell cell = CalendarCellOf(year, month, static_cast<int>(d) + 1);
    const double cx = lattice.x0 + lattice.dx * cell.column, cy = lattice.y0 + lattice.dy * cell.row;
    const PixelBox& n = numbers[d];
    const int y0 = static_cast<int>(cy - 0.35 * lattice.dy), y1 = static_cast<int>(cy + 0.35 * lattice.dy);
    const int x0 = static_cast<int>(cx - 0.35 * lattice.dx), x1 = static_cast<int>(cx + 0.35 * lattice.dx);
    const auto column = [&](int x) {
      int count = 0;
      for (int y = y0; y <= y1; ++y) count += inkAt(x, y);
      return count >= 0.9 * (y1 - y0 + 1);
    };
    const auto row = [&](int y) {
      int count = 0;
      for (int x = x0; x <= x1; ++x) count += inkAt(x, y);
      return count >= 0.9 * (x1 - x0 + 1);
    };
    // Walks from `from` by `step` until a line starts, then to its far edge; `limit` when none.
    const auto outer = [](int from, int limit, int step, const auto& isLine) {
      int at = from;
      while (at != limit && !isLine(at)) at += step;
      if (at == limit) return limit;
      while (at + step != limit && isLine(at + step)) at += step;
      return at;
    };
    const int leftEnd = static_cast<int>(cx - 0.6 * lattice.dx), rightEnd = static_cast<int>(cx + 0.6 * lattice.dx);
    const int topEnd = static_cast<int>(cy - 0.6 * lattice.dy), bottomEnd = static_cast<int>(cy + 0.6 * lattice.dy);
    const int left = outer(std::max(n.left - 1, leftEnd), leftEnd, -1, column);
    const int right = outer(std::min(n.right, rightEnd), rightEnd, 1, column);
    const int top = outer(std::max(n.top - 1, topEnd), topEnd, -1, row);
    const int bottom = outer(std::min(n.bottom, bottomEnd), bottomEnd, 1, row);
    if (left == leftEnd || right == rightEnd || top == topEnd || bottom == bottomEnd) continue;
    lefts.emplace_back(cell.column, left);
    rights.emplace_back(cell.column, right);
    tops.emplace_back(cell.row, top);
    bottoms.emplace_back(cell.row, bottom);
  }
  Line l, r, t, b;
  if (lefts.size() * 4 < numbers.size() * 3 || !FitLine(lefts, &l) || !FitLine(rights, &r) || !FitLine(tops, &t) ||
      !FitLine(bottoms, &b)) {
    return false;
  }
  grid->x = l.at0;
  grid->y = t.at0;
  grid->dx = (l.step + r.step) / 2;
  grid->dy = (t.step + b.step) / 2;
  grid->width = static_cast<int>(std::lround(r.at0 - l.at0)) + 1;
  grid->height = static_cast<int>(std::lround(b.at0 - t.at0)) + 1;
  return true;
}

std::string MonthText(int year, int month) { return std::string(kMonthNames[month - 1]) + " " + std::to_string(year); }

}  // namespace

int DefaultThickness(int pictureWidth) { return std::max(1, static_cast<int>(std::lround(0.004 * pictureWidth))); }

FoundGrid FindGrid(const cDIBSection& image, int year, int month, int thickness) {
  FoundGrid found;
  const int w = image.width(), h = image.height();
  if (thickness <= 0) thickness = DefaultThickness(w);
  // The search keeps about ten bytes a pixel; larger scans are refused rather than swapped.
  if (static_cast<long long>(w) * h > 64LL * 1000 * 1000) {
    found.refusal = "the picture has more than 64 million pixels; scale it down to find its grid";
    return found;
  }
  const std::vector<std::uint8_t> ink = InkOf(GreyOf(image));
  const std::vector<Mark> marks = TextMarks(ink, w, h);
  // Finding the lattice compares every mark with every other: keep that bounded.
  if (marks.size() > 5000) {
    found.refusal = "no calendar grid found: the picture has too much fine detail (" + std::to_string(marks.size()) +
                    " marks the size of digits)";
    return found;
  }
  const Lattice lattice = FindLattice(marks);
  if (lattice.cells.size() < 28) {
    found.refusal = "no calendar grid found: fewer than 28 numbers stand in equally spaced rows and columns";
    return found;
  }

  // The month's days fill one unbroken run of cells from day 1's weekday.
  const int days = DaysInMonth(year, month);
  const int mondayFirst = CalendarCellOf(year, month, 1).column;
  const int sundayFirst = (mondayFirst + 1) % 7;
  int c0 = 0, r0 = 0;
  std::pair<int, int> match{0, 0}, other{0, 0}, sunday{0, 0};
  // A run starts at a mark: try each mark as day 1 in each column of its row.
  std::vector<std::pair<int, int>> windows;
  for (const auto& [cell, k] : lattice.cells) {
    for (int column = 0; column < 7; ++column) windows.emplace_back(cell.first - column, cell.second);
  }
  for (const auto& [c, r] : windows) {
    const std::pair<int, int> run = RunIn(lattice, c, r);
    if (run.second < 28 || run.second > 31) continue;
    if (run == std::make_pair(mondayFirst, days)) {
      match = run, c0 = c, r0 = r;
    } else if (run == std::make_pair(sundayFirst, days)) {
      sunday = run;
    } else if (run.first < 7 && run.second > other.second) {
      other = run;
    }
  }
  if (match.second == 0) {
    if (sunday.second != 0) {
      found.refusal = "the days lie as in a Sunday-first grid of " + MonthText(year, month) +
                      " (day 1 one column right of its Monday-first place); the program needs weeks from Monday";
    } else if (other.second != 0) {
      found.refusal = "the grid shows a month of " + std::to_string(other.second) + " days starting in column " +
                      std::to_string(other.first + 1) + " of 7, but " + MonthText(year, month) + " has " +
                      std::to_string(days) + " days starting on a " + kWeekdayNames[mondayFirst] +
                      ": a picture of another month?";
    } else {
      found.refusal = "no calendar grid found: no seven columns of numbers lie out as the days of one month";
    }
    return found;
  }

  // The lattice again from the days alone (marks elsewhere may sit on it by chance),
  // and each day's number.
  Lattice month_{lattice.x0, lattice.y0, lattice.dx, lattice.dy, {}};
  for (int day = 1; day <= days; ++day) {
    const CalendarCell cell = CalendarCellOf(year, month, day);
    month_.cells[{cell.column, cell.row}] = lattice.cells.at({c0 + cell.column, r0 + cell.row});
  }
  Refit(month_, marks);
  for (int day = 1; day <= days; ++day) {
    const CalendarCell cell = CalendarCellOf(year, month, day);
    found.numbers.push_back(marks[month_.cells.at({cell.column, cell.row})].box);
  }
  PixelGrid& grid = found.grid;
  grid.dx = month_.dx;
  grid.dy = month_.dy;
  grid.thickness = thickness;
  const double x00 = month_.x0, y00 = month_.y0;
  // Where outlines are printed the frame lies over them, outer edge on outer edge.
  found.boxes = FindBoxes(ink, w, h, month_, year, month, found.numbers, &grid);
  if (!found.boxes) {
    int widest = 0, tallest = 0;
    for (const PixelBox& n : found.numbers) {
      widest = std::max(widest, n.right - n.left);
      tallest = std::max(tallest, n.bottom - n.top);
    }
    const int room = 2 * thickness + 2 * std::max(2, thickness);
    grid.width = static_cast<int>(std::lround(std::max(0.9 * month_.dx, static_cast<double>(widest + room))));
    grid.height = static_cast<int>(std::lround(std::max(0.9 * month_.dy, static_cast<double>(tallest + room))));
    grid.x = x00 - grid.width / 2.0;
    grid.y = y00 - grid.height / 2.0;
  }
  return found;
}

std::string CheckDayFrames(int pictureWidth, int pictureHeight, int year, int month,
                           const std::vector<PixelBox>& numbers) {
  FrameProbe probe(pictureWidth, pictureHeight);
  const int thickness = RoundToInt16(pictureWidth * Config.RECT_THICKNESS);
  for (int day = 1; day <= static_cast<int>(numbers.size()); ++day) {
    const FrameProbe::Drawn drawn = probe.Draw(CalendarCellOf(year, month, day));
    const std::string which = "the frame of day " + std::to_string(day);
    if (drawn.pixels == 0 || drawn.pixels != FramePixels(drawn.box, thickness)) {
      return which + " is not drawn whole (it reaches past the picture's edge)";
    }
    // Two pixels of room either way: a number's faint anti-aliased edge is wider than its ink.
    const int room = 2;
    const PixelBox inside{drawn.box.left + thickness + room, drawn.box.top + thickness + room,
                          drawn.box.right - thickness - room, drawn.box.bottom - thickness - room};
    if (!inside.Contains(numbers[static_cast<std::size_t>(day - 1)])) {
      return which + " does not leave its number clear (a smaller --thickness may)";
    }
    const PixelBox around{drawn.box.left - room, drawn.box.top - room, drawn.box.right + room, drawn.box.bottom + room};
    for (std::size_t other = 0; other < numbers.size(); ++other) {
      if (static_cast<int>(other) != day - 1 && around.Meets(numbers[other])) {
        return which + " reaches day " + std::to_string(other + 1) + "'s number";
      }
    }
  }
  return "";
}

}  // namespace calibrate
}  // namespace zorvani
