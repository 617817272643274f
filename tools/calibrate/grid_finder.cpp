#include "tools/calibrate/grid_finder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <numeric>
#include <utility>

#include "runtime/rounding.h"

namespace zorvani {
namespace calibrate {
namespace {

const char* const kWeekdayNames[7] = {"Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"};
// How far a stroke's grey level must be from the ground round it to count as ink.
constexpr int kInkContrast = 28;
// The least room between a number and its printed box's outer edge for a frame on the box.
constexpr int kLeastRoom = 6;

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

// The picture turned on its diagonal (h lines of w to w lines of h), in tiles that stay in cache.
std::vector<std::uint8_t> Transposed(const std::vector<std::uint8_t>& level, int w, int h) {
  std::vector<std::uint8_t> out(level.size());
  constexpr int kTile = 64;
  for (int y0 = 0; y0 < h; y0 += kTile) {
    for (int x0 = 0; x0 < w; x0 += kTile) {
      for (int y = y0; y < std::min(h, y0 + kTile); ++y) {
        for (int x = x0; x < std::min(w, x0 + kTile); ++x) {
          out[static_cast<std::size_t>(x) * h + y] = level[static_cast<std::size_t>(y) * w + x];
        }
      }
    }
  }
  return out;
}

// The brightest (or darkest) level within `radius` down each column, in constant time
// per pixel (van Herk and Gil-Werman), whole lines at a time, as a column read alone
// strides through the picture a line apart. Each block's extremes from its start and
// from its end are worked out before the block before it is written over.
void ColumnExtreme(std::vector<std::uint8_t>& level, int w, int h, int radius, bool brightest) {
  const int size = 2 * radius + 1, n = h + 2 * radius;
  const int blocks = (n + size - 1) / size;
  const std::size_t line = static_cast<std::size_t>(w), block = static_cast<std::size_t>(size) * line;
  const std::uint8_t neutral = brightest ? 0 : 255;
  // The prefix and suffix extremes of this block and the next.
  std::vector<std::uint8_t> prefix(2 * block), suffix(2 * block);
  const auto fill = [&](int b, std::uint8_t* pre, std::uint8_t* suf) {
    const auto source = [&](int p, std::uint8_t* out) {
      const int y = b * size + p - radius;
      if (y < 0 || y >= h) {
        std::fill_n(out, line, neutral);
      } else {
        std::copy_n(&level[static_cast<std::size_t>(y) * line], line, out);
      }
    };
    source(0, pre);
    for (int p = 1; p < size; ++p) {
      std::uint8_t* out = pre + static_cast<std::size_t>(p) * line;
      source(p, out);
      const std::uint8_t* before = out - line;
      if (brightest) {
        for (std::size_t x = 0; x < line; ++x) out[x] = std::max(out[x], before[x]);
      } else {
        for (std::size_t x = 0; x < line; ++x) out[x] = std::min(out[x], before[x]);
      }
    }
    source(size - 1, suf + static_cast<std::size_t>(size - 1) * line);
    for (int p = size - 1; p-- > 0;) {
      std::uint8_t* out = suf + static_cast<std::size_t>(p) * line;
      source(p, out);
      const std::uint8_t* after = out + line;
      if (brightest) {
        for (std::size_t x = 0; x < line; ++x) out[x] = std::max(out[x], after[x]);
      } else {
        for (std::size_t x = 0; x < line; ++x) out[x] = std::min(out[x], after[x]);
      }
    }
  };
  fill(0, prefix.data(), suffix.data());
  for (int b = 0; b < blocks; ++b) {
    std::uint8_t* pre = prefix.data() + static_cast<std::size_t>(b % 2) * block;
    std::uint8_t* suf = suffix.data() + static_cast<std::size_t>(b % 2) * block;
    std::uint8_t* nextPre = prefix.data() + static_cast<std::size_t>((b + 1) % 2) * block;
    std::uint8_t* nextSuf = suffix.data() + static_cast<std::size_t>((b + 1) % 2) * block;
    if (b + 1 < blocks) fill(b + 1, nextPre, nextSuf);
    // Line y's window is padded lines y .. y + 2 radius: the suffix of its own block and
    // the prefix of the next (or of its own, for a block's first line).
    for (int p = 0; p < size; ++p) {
      const int y = b * size + p;
      if (y >= h) break;
      const int q = p + 2 * radius;
      const std::uint8_t* s = suf + static_cast<std::size_t>(p) * line;
      const std::uint8_t* t = q < size ? pre + static_cast<std::size_t>(q) * line : nextPre + static_cast<std::size_t>(q - size) * line;
      std::uint8_t* out = &level[static_cast<std::size_t>(y) * line];
      if (brightest) {
        for (std::size_t x = 0; x < line; ++x) out[x] = std::max(s[x], t[x]);
      } else {
        for (std::size_t x = 0; x < line; ++x) out[x] = std::min(s[x], t[x]);
      }
    }
  }
}

// The brightest (or darkest) level in the square of `radius` round each pixel.
std::vector<std::uint8_t> Extreme(std::vector<std::uint8_t> level, int w, int h, int radius, bool brightest) {
  level = Transposed(level, w, h);
  ColumnExtreme(level, h, w, radius, brightest);
  level = Transposed(level, h, w);
  ColumnExtreme(level, w, h, radius, brightest);
  return level;
}

// Ink: strokes that stand out from the ground right round them, each measured against
// its own surroundings rather than one threshold for the picture. Dark strokes where the
// neighbourhood is mostly light (its mean above the middle of its range), light strokes
// elsewhere; a stroke is the difference between the picture and the picture with every
// feature thinner than a few pixels closed over. Light grey and coloured weekend numbers
// on white stand out as black ones do; large shaded areas do not.
std::vector<std::uint8_t> InkOf(const Grey& grey) {
  const int w = grey.width, h = grey.height, radius = std::max(8, h / 24), stroke = std::max(3, h / 110);
  const std::vector<std::uint8_t> high = Extreme(grey.level, w, h, radius, true), low = Extreme(grey.level, w, h, radius, false);
  const std::vector<std::uint8_t> closed = Extreme(Extreme(grey.level, w, h, stroke, true), w, h, stroke, false);
  const std::vector<std::uint8_t> opened = Extreme(Extreme(grey.level, w, h, stroke, false), w, h, stroke, true);
  std::vector<std::uint8_t> ink(grey.level.size(), 0);
  // The mean over the square round each pixel from running sums down the columns and
  // along the line, rather than a table of sums four times the picture's size.
  std::vector<std::uint32_t> column(static_cast<std::size_t>(w), 0);
  const auto add = [&](int y, int sign) {
    const std::uint8_t* row = &grey.level[static_cast<std::size_t>(y) * w];
    for (int x = 0; x < w; ++x) column[static_cast<std::size_t>(x)] += static_cast<std::uint32_t>(sign * row[x]);
  };
  for (int y = 0; y < std::min(h, radius); ++y) add(y, 1);
  for (int y = 0; y < h; ++y) {
    if (y + radius < h) add(y + radius, 1);
    if (y - radius - 1 >= 0) add(y - radius - 1, -1);
    const int rows = std::min(h, y + radius + 1) - std::max(0, y - radius);
    std::uint32_t run = 0;
    for (int x = 0; x < std::min(w, radius); ++x) run += column[static_cast<std::size_t>(x)];
    for (int x = 0; x < w; ++x) {
      if (x + radius < w) run += column[static_cast<std::size_t>(x + radius)];
      if (x - radius - 1 >= 0) run -= column[static_cast<std::size_t>(x - radius - 1)];
      const int columns = std::min(w, x + radius + 1) - std::max(0, x - radius);
      const std::size_t i = static_cast<std::size_t>(y) * w + x;
      const double mean = static_cast<double>(run) / (rows * columns);
      const bool lightGround = 2 * mean >= high[i] + low[i];
      ink[i] = (lightGround ? closed[i] - grey.level[i] : grey.level[i] - opened[i]) > kInkContrast;
    }
  }
  return ink;
}

// The ink without long straight runs across or down (box lines, rules), so that a
// number printed against its box's line stands alone.
std::vector<std::uint8_t> WithoutLines(std::vector<std::uint8_t> ink, int w, int h) {
  const int longest = std::max(12, h / 16);
  struct Run {
    std::size_t start, stride;
    int length;
  };
  std::vector<Run> lines;
  // How thick the ink is across a run at `at`: a rule is thin all along, a large glyph's
  // stem (a "1" a tenth of the picture tall) is as thick as its strokes.
  const auto across = [&](std::size_t at, bool down, int enough) {
    const int x = static_cast<int>(at % static_cast<std::size_t>(w)), y = static_cast<int>(at / static_cast<std::size_t>(w));
    int thick = 1;
    for (const int side : {-1, 1}) {
      for (int k = 1; thick < enough; ++k, ++thick) {
        const int nx = down ? x + side * k : x, ny = down ? y : y + side * k;
        if (nx < 0 || nx >= w || ny < 0 || ny >= h || !ink[static_cast<std::size_t>(ny) * w + nx]) break;
      }
    }
    return thick;
  };
  const auto clear = [&](std::size_t start, std::size_t stride, int count) {
    int run = 0;
    for (int k = 0; k <= count; ++k) {
      const bool on = k < count && ink[start + k * stride] != 0;
      if (on) {
        ++run;
        continue;
      }
      int thinnest = run;
      for (int sample = 1; sample <= 5 && run > longest; ++sample) {
        thinnest = std::min(thinnest, across(start + static_cast<std::size_t>(k - run + run * sample / 6) * stride, stride != 1, run / 8 + 1));
      }
      if (run > longest && run > 8 * thinnest) {
        for (int j = k - run; j < k; ++j) ink[start + j * stride] = 2;  // marked, cleared below
        lines.push_back({start + (k - run) * stride, stride, run});
      }
      run = 0;
    }
  };
  for (int y = 0; y < h; ++y) clear(static_cast<std::size_t>(y) * w, 1, w);
  for (int x = 0; x < w; ++x) clear(static_cast<std::size_t>(x), static_cast<std::size_t>(w), h);
  // The faint rim of a line (its anti-aliased edge against a shaded box) goes with it.
  for (const Run& line : lines) {
    const std::size_t side = line.stride == 1 ? static_cast<std::size_t>(w) : 1;
    for (int j = 0; j < line.length; ++j) {
      const std::size_t at = line.start + j * line.stride;
      if (at >= side && ink[at - side] == 1) ink[at - side] = 3;
      if (at + side < ink.size() && ink[at + side] == 1) ink[at + side] = 3;
    }
  }
  for (std::uint8_t& v : ink) v = v == 1;
  return ink;
}

struct Mark {
  PixelBox box;
  long long pixels = 0;
  int Width() const { return box.right - box.left; }
  int Height() const { return box.bottom - box.top; }
  double Cx() const { return (box.left + box.right) / 2.0; }
  double Cy() const { return (box.top + box.bottom) / 2.0; }
  // Filled to `tenths` of its box and not a thin stem: the dark of a header band round
  // its light names, closed over as if it were a stroke. A small bold "8" on a photo
  // fills seven tenths of its box, no digit eight.
  bool Block(int tenths) const {
    return Height() >= 4 && 3 * Width() >= Height() && pixels * 10 >= static_cast<long long>(tenths) * Width() * Height();
  }
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

// Pieces filed by height, a class to each power of two, each class in square cells of
// about twice its height: the pieces that may join one are looked for only near it, so a
// page of specks costs in proportion to its ink rather than to the square of its pieces.
class PieceIndex {
 public:
  PieceIndex(const std::vector<Mark>& pieces, int w, int h) : pieces_(pieces) {
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      const std::size_t k = static_cast<std::size_t>(ClassOf(pieces[i].Height()));
      if (k >= classes_.size()) classes_.resize(k + 1);
      classes_[k].members.push_back(i);
    }
    for (std::size_t k = 0; k < classes_.size(); ++k) {
      Class& c = classes_[k];
      if (c.members.empty()) continue;
      c.shift = std::max(3, static_cast<int>(k) + 1);
      c.columns = (w >> c.shift) + 1, c.rows = (h >> c.shift) + 1;
      c.start.assign(static_cast<std::size_t>(c.columns) * c.rows + 1, 0);
      for (int pass = 0; pass < 2; ++pass) {
        for (const std::size_t i : c.members) {
          ForCells(c, pieces[i].box, [&](std::size_t cell) {
            if (pass == 0) {
              ++c.start[cell + 1];
            } else {
              c.items[c.fill[cell]++] = i;
            }
          });
        }
        if (pass == 0) {
          std::partial_sum(c.start.begin(), c.start.end(), c.start.begin());
          c.items.resize(c.start.back());
          c.fill.assign(c.start.begin(), c.start.end() - 1);
        }
      }
      c.members = std::vector<std::size_t>(), c.fill = std::vector<std::size_t>();
    }
  }

  static int ClassOf(int height) { return height <= 1 ? 0 : 31 - __builtin_clz(static_cast<unsigned>(height)); }

  // Every piece of height class k whose box meets `area`, perhaps more than once.
  template <typename Visit>
  void Each(int k, const PixelBox& area, const Visit& visit) const {
    if (k < 0 || static_cast<std::size_t>(k) >= classes_.size() || classes_[static_cast<std::size_t>(k)].start.empty()) return;
    const Class& c = classes_[static_cast<std::size_t>(k)];
    ForCells(c, area, [&](std::size_t cell) {
      for (std::size_t at = c.start[cell]; at < c.start[cell + 1]; ++at) {
        if (area.Meets(pieces_[c.items[at]].box)) visit(c.items[at]);
      }
    });
  }

 private:
  struct Class {
    int shift = 0, columns = 0, rows = 0;
    std::vector<std::size_t> members, start, fill, items;  // items of cell n: [start[n], start[n + 1])
  };

  template <typename Visit>
  static void ForCells(const Class& c, const PixelBox& box, const Visit& visit) {
    const int x0 = std::clamp(box.left, 0, c.columns << c.shift) >> c.shift;
    const int x1 = std::clamp(box.right - 1, 0, (c.columns << c.shift) - 1) >> c.shift;
    const int y0 = std::clamp(box.top, 0, c.rows << c.shift) >> c.shift;
    const int y1 = std::clamp(box.bottom - 1, 0, (c.rows << c.shift) - 1) >> c.shift;
    for (int y = std::min(y0, c.rows - 1); y <= y1; ++y) {
      for (int x = std::min(x0, c.columns - 1); x <= x1; ++x) visit(static_cast<std::size_t>(y) * c.columns + x);
    }
  }

  const std::vector<Mark>& pieces_;
  std::vector<Class> classes_;
};

// Glyph-sized pieces of ink, joined into words and numbers ("12" is one mark).
std::vector<Mark> TextMarks(const std::vector<std::uint8_t>& ink, int w, int h) {
  std::vector<Mark> pieces;
  for (const Mark& m : Components(ink, w, h)) {
    // Lines and outlines are too sparse, photographs' shapes too large.
    if (m.pixels >= 4 && m.Height() <= h * 0.12 && m.Width() <= h * 0.12 &&
        m.pixels * 6 >= static_cast<long long>(m.Width()) * m.Height()) {
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
  const PieceIndex index(pieces, w, h);
  std::vector<std::size_t> seen(pieces.size(), pieces.size());
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    const Mark& a = pieces[i];
    const int tall = a.Height(), reach = tall * 8 / 10 + 1, above = tall * 3 / 10 + 1;
    // Each pair once, from its taller piece: that one's height sets how far they may lie apart.
    const auto consider = [&](std::size_t j) {
      const Mark& b = pieces[j];
      if (seen[j] == i || b.Height() > tall || (b.Height() == tall && j <= i)) return;
      seen[j] = i;
      const int overlap = std::min(a.box.bottom, b.box.bottom) - std::max(a.box.top, b.box.top);
      const int gap = std::max(a.box.left, b.box.left) - std::min(a.box.right, b.box.right);
      const int taller = std::max(a.Height(), b.Height());
      const int joined = std::max(a.box.bottom, b.box.bottom) - std::min(a.box.top, b.box.top);
      // Side by side (the digits of a number), or one above the other (a glyph that broke apart).
      const int overlapX = std::min(a.box.right, b.box.right) - std::max(a.box.left, b.box.left);
      const int gapY = std::max(a.box.top, b.box.top) - std::min(a.box.bottom, b.box.bottom);
      // Digits of one number are of one size: a week number or a speck beside it stays apart.
      const bool beside = overlap * 2 >= std::min(a.Height(), b.Height()) && gap <= 0.8 * taller && joined <= 1.3 * taller &&
                          5 * std::min(a.Height(), b.Height()) >= 3 * taller;
      const bool stacked = !a.Block(7) && overlapX * 2 >= std::min(a.Width(), b.Width()) && gapY <= 0.3 * taller && joined <= 2.5 * taller &&
                           3 * std::min(a.Width(), b.Width()) >= std::max(a.Width(), b.Width());
      if (beside || stacked) {
        parent[static_cast<std::size_t>(root(static_cast<int>(i)))] = root(static_cast<int>(j));
      }
    };
    // Beside: of a similar height, level with it. Stacked: any smaller piece over or under it.
    for (int k = PieceIndex::ClassOf(tall * 3 / 5); k <= PieceIndex::ClassOf(tall); ++k) {
      index.Each(k, {a.box.left - reach, a.box.top, a.box.right + reach, a.box.bottom}, consider);
    }
    for (int k = 0; k <= PieceIndex::ClassOf(tall); ++k) {
      index.Each(k, {a.box.left, a.box.top - above, a.box.right, a.box.bottom + above}, consider);
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
    if (m.Height() >= std::max(5.0, h * 0.004) && !m.Block(8)) marks.push_back(m);
  }
  std::sort(marks.begin(), marks.end(), [](const Mark& a, const Mark& b) {
    return std::make_pair(a.box.left, a.box.top) < std::make_pair(b.box.left, b.box.top);
  });
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

// The lattice of marks of one size: the common step across and down, and the origin
// that puts the most marks on it. Marks come sorted by their left edge.
Lattice FindLattice(const std::vector<Mark>& marks) {
  std::vector<double> across, down, rightOf(marks.size(), 0);
  for (std::size_t i = 0; i < marks.size(); ++i) {
    const Mark& a = marks[i];
    double right = 0, below = 0;
    for (std::size_t j = 0; j < marks.size(); ++j) {
      const Mark& b = marks[j];
      const double ddx = b.Cx() - a.Cx(), ddy = b.Cy() - a.Cy();
      if (std::abs(ddy) < 0.25 * a.Height() && ddx > (a.Width() + b.Width()) / 2.0 && (right == 0 || ddx < right)) right = ddx;
      if (ddy > (a.Height() + b.Height()) / 2.0 && (below == 0 || ddy < below) && std::abs(ddx) < 0.5 * a.Height()) {
        below = ddy;
      }
    }
    rightOf[i] = right;
    if (right > 0) across.push_back(right);
    if (below > 0) down.push_back(below);
  }
  const auto [dx, columnsAgree] = CommonDistance(across);
  const auto [dy, rowsAgree] = CommonDistance(down);
  Lattice best;
  if (columnsAgree < 8 || rowsAgree < 4) return best;
  const Mark* model = nullptr;
  for (std::size_t i = 0; i < marks.size(); ++i) {
    // A day of the grid has its neighbour a step away, or is the last of its row.
    if (rightOf[i] != 0 && std::abs(rightOf[i] - dx) > 0.1 * dx) continue;
    const Mark& candidate = marks[i];
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
std::uint64_t CellsIn(const Lattice& lattice, int c0, int r0) {
  std::uint64_t bits = 0;
  for (const auto& [cell, k] : lattice.cells) {
    const int c = cell.first - c0, r = cell.second - r0;
    if (c >= 0 && c < 7 && r >= 0 && r < 6) bits |= std::uint64_t{1} << (r * 7 + c);
  }
  return bits;
}

std::pair<int, int> RunIn(const Lattice& lattice, int c0, int r0) {
  const std::uint64_t bits = CellsIn(lattice, c0, r0);
  if (bits == 0) return {0, 0};
  int first = 0;
  while (!(bits >> first & 1)) ++first;
  const std::uint64_t run = bits >> first;
  if ((run & (run + 1)) != 0) return {0, 0};  // not one unbroken run
  int length = 0;
  while (run >> length & 1) ++length;
  return {first, length};
}

// Whether the cells hold the run of `days` from cell `first` whole, with no mark just
// before or after it and at most two strays elsewhere (a note, a speck of the photo).
bool HoldsRun(std::uint64_t bits, int first, int days) {
  const std::uint64_t run = ((std::uint64_t{1} << days) - 1) << first;
  const std::uint64_t ends = (first > 0 ? std::uint64_t{1} << (first - 1) : 0) | (std::uint64_t{1} << (first + days));
  const std::uint64_t strays = bits & ~run;
  return (bits & run) == run && (bits & ends) == 0 && __builtin_popcountll(strays) <= 2;
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

// The printed lines along one axis: runs of positions where ink covers at least 85 %
// of [from, to) across the other axis. `inkAt(along, across)`.
template <typename InkAt>
std::vector<std::pair<int, int>> LineRuns(int begin, int end, int from, int to, const InkAt& inkAt) {
  std::vector<std::pair<int, int>> runs;
  for (int at = begin; at < end; ++at) {
    int count = 0;
    for (int k = from; k < to; ++k) count += inkAt(at, k);
    if (count < 0.85 * (to - from)) continue;
    if (!runs.empty() && runs.back().second == at - 1) {
      runs.back().second = at;
    } else {
      runs.emplace_back(at, at);
    }
  }
  return runs;
}

// For each column (row) of days, the printed lines on either side: the nearest line
// between its numbers and the next column's. Their outer edges, or false unless every
// column has both; the first may lack the line before it when `openFirst`.
bool Bracket(const std::vector<std::pair<int, int>>& runs, const std::vector<std::pair<int, int>>& spans,
             std::vector<std::pair<int, int>>* before, std::vector<std::pair<int, int>>* after, bool openFirst = false) {
  for (std::size_t k = 0; k < spans.size(); ++k) {
    const int low = k > 0 ? spans[k - 1].second : -1, high = k + 1 < spans.size() ? spans[k + 1].first : 1 << 30;
    const std::pair<int, int>* left = nullptr;
    const std::pair<int, int>* right = nullptr;
    for (const auto& run : runs) {
      if (run.first > low && run.second < spans[k].first) left = &run;
      if (run.first > spans[k].second && run.second < high && right == nullptr) right = &run;
    }
    if (right == nullptr || (left == nullptr && !(openFirst && k == 0))) return false;
    if (left != nullptr) before->emplace_back(static_cast<int>(k), left->first);
    after->emplace_back(static_cast<int>(k), right->second);
  }
  return true;
}

// Outlines round the days: the long printed lines down and across the grid, one on
// either side of every column and row of numbers. When they lie on straight equally
// spaced lines, the grid of the outlines' outer edges.
bool FindBoxes(const std::vector<std::uint8_t>& ink, int w, int h, const Lattice& lattice, int year, int month,
               int firstDay, const std::vector<PixelBox>& numbers, PixelGrid* grid) {
  // The numbers' extent per column and per row of the grid.
  std::vector<std::pair<int, int>> columns(7, {1 << 30, -1}), rows(6, {1 << 30, -1});
  int lastRow = 0;
  for (std::size_t d = 0; d < numbers.size(); ++d) {
    const CalendarCell cell = CalendarCellOf(year, month, static_cast<int>(d) + 1, firstDay);
    const PixelBox& n = numbers[d];
    auto& c = columns[static_cast<std::size_t>(cell.column)];
    auto& r = rows[static_cast<std::size_t>(cell.row)];
    c = {std::min(c.first, n.left), std::max(c.second, n.right - 1)};
    r = {std::min(r.first, n.top), std::max(r.second, n.bottom - 1)};
    lastRow = std::max(lastRow, static_cast<int>(cell.row));
  }
  rows.resize(static_cast<std::size_t>(lastRow) + 1);
  const int top = static_cast<int>(lattice.y0), bottom = static_cast<int>(lattice.y0 + lastRow * lattice.dy);
  const int left = static_cast<int>(lattice.x0), right = static_cast<int>(lattice.x0 + 6 * lattice.dx);
  if (top < 0 || left < 0 || bottom >= h || right >= w) return false;
  const auto down = LineRuns(std::max(0, static_cast<int>(left - lattice.dx)), std::min(w, static_cast<int>(right + lattice.dx)),
                             top, bottom + 1, [&](int x, int y) { return ink[static_cast<std::size_t>(y) * w + x] != 0; });
  const auto across = LineRuns(std::max(0, static_cast<int>(top - lattice.dy)), std::min(h, static_cast<int>(bottom + lattice.dy)),
                               left, right + 1, [&](int y, int x) { return ink[static_cast<std::size_t>(y) * w + x] != 0; });
  std::vector<std::pair<int, int>> lefts, rights, tops, bottoms;  // (column or row, outer edge)
  // A dark header band right on the first row's line hides that line in the ink: the
  // rows' other lines place it.
  if (!Bracket(down, columns, &lefts, &rights) || !Bracket(across, rows, &tops, &bottoms, true)) return false;
  Line l, r, t, b;
  if (!FitLine(lefts, &l) || !FitLine(rights, &r) || !FitLine(tops, &t) || !FitLine(bottoms, &b)) return false;
  grid->x = l.at0;
  grid->y = t.at0;
  grid->dx = (l.step + r.step) / 2;
  grid->dy = (t.step + b.step) / 2;
  grid->width = static_cast<int>(std::lround(r.at0 - l.at0)) + 1;
  grid->height = static_cast<int>(std::lround(b.at0 - t.at0)) + 1;
  return true;
}

// The room between each day's frame and its number: the least, over all days.
int LeastRoom(const PixelGrid& grid, int year, int month, int firstDay, const std::vector<PixelBox>& numbers) {
  int least = 1 << 30;
  for (std::size_t d = 0; d < numbers.size(); ++d) {
    const CalendarCell cell = CalendarCellOf(year, month, static_cast<int>(d) + 1, firstDay);
    const PixelBox f = grid.CellBox(cell.row, cell.column), &n = numbers[d];
    least = std::min({least, n.left - f.left, f.right - n.right, n.top - f.top, f.bottom - n.bottom});
  }
  return least;
}

std::string MonthText(int year, int month) { return std::string(kMonthNames[month - 1]) + " " + std::to_string(year); }

}  // namespace

int DefaultThickness(int pictureWidth) { return std::max(1, static_cast<int>(std::lround(0.004 * pictureWidth))); }

namespace {

// Where a month's run of days lies on the lattice: the column and row of its grid's
// first cell; days 0 when it does not.
struct Placement {
  int days = 0, c0 = 0, r0 = 0;
};

// What one size of marks shows: the month's days laid out Monday-first, Sunday-first,
// as another month, or not at all; with the lattice and where the month starts on it.
struct Reading {
  Lattice lattice;
  std::vector<Mark> marks;
  Placement monday, sunday;
  std::pair<int, int> other{0, 0};
  int found = 0;  // most of the month's days seen in one placement, when no run matched
  std::vector<int> missing;
};

Reading Read(std::vector<Mark> marks, int year, int month) {
  Reading reading;
  reading.marks = std::move(marks);
  reading.lattice = FindLattice(reading.marks);
  const Lattice& lattice = reading.lattice;
  if (lattice.cells.size() < 7) return reading;
  // The month's days fill one unbroken run of cells from day 1's weekday.
  const int days = DaysInMonth(year, month);
  const int mondayFirst = CalendarCellOf(year, month, 1).column;
  const int sundayFirst = CalendarCellOf(year, month, 1, 7).column;
  // A run starts at a mark: try each mark as day 1 in each column of its row.
  std::vector<std::pair<int, int>> windows;
  for (const auto& [cell, k] : lattice.cells) {
    for (int column = 0; column < 7; ++column) windows.emplace_back(cell.first - column, cell.second);
  }
  const auto marked = [&](int column, int row) { return lattice.cells.count({column, row}) != 0; };
  for (const auto& [c, r] : windows) {
    const std::uint64_t bits = CellsIn(lattice, c, r);
    const std::pair<int, int> run = RunIn(lattice, c, r);
    // Day 1 in the first column has the cell before it at the end of the row above. A mark
    // there with nothing under the first four columns is the 1st, 2nd or 3rd of a month
    // that began days earlier, not a row of weekday names.
    const bool earlierStart = marked(c + 6, r - 1) && !marked(c, r - 1) && !marked(c + 1, r - 1) &&
                              !marked(c + 2, r - 1) && !marked(c + 3, r - 1);
    if (HoldsRun(bits, sundayFirst, days) && !(sundayFirst == 0 && earlierStart)) {
      reading.sunday = {days, c, r};
    } else if (HoldsRun(bits, mondayFirst, days) && !(mondayFirst == 0 && earlierStart)) {
      reading.monday = {days, c, r};
    } else if (run.second >= 28 && run.second <= 31 && run.first < 7 && run.second > reading.other.second) {
      reading.other = run;
    }
    // For the refusal: how many of the month's days stand where they should.
    std::vector<int> missing;
    for (int day = 1; day <= days; ++day) {
      const CalendarCell cell = CalendarCellOf(year, month, day);
      if (!lattice.cells.count({c + cell.column, r + cell.row})) missing.push_back(day);
    }
    if (days - static_cast<int>(missing.size()) > reading.found) {
      reading.found = days - static_cast<int>(missing.size());
      reading.missing = std::move(missing);
    }
  }
  return reading;
}

// Which day the printed weeks start on, told by the colour of the numbers: weekend
// numbers printed in a colour of their own stand in columns 5 and 6 of a Monday-first
// grid, in column 0 (and 6) of a Sunday-first one. Columns 1 to 4 hold weekdays either
// way. 1 (Monday), 7 (Sunday), or 0 when the colours do not tell.
int WeekStartShown(const cDIBSection& image, const std::vector<std::uint8_t>& ink, int year, int month, int firstDay,
                   const std::vector<PixelBox>& numbers) {
  const int w = image.width(), h = image.height(), stride = image.BytesPerScanLine();
  // Each number's mean ink colour, blue, green, red.
  std::vector<std::array<double, 3>> colours;
  std::vector<int> columns;
  for (std::size_t d = 0; d < numbers.size(); ++d) {
    const PixelBox& n = numbers[d];
    std::array<double, 3> sum{};
    long pixels = 0;
    for (int y = std::max(0, n.top); y < std::min(h, n.bottom); ++y) {
      const std::uint8_t* row = image.DIBSectionBitsPtr() + static_cast<std::size_t>(h - 1 - y) * stride;
      for (int x = std::max(0, n.left); x < std::min(w, n.right); ++x) {
        if (!ink[static_cast<std::size_t>(y) * w + x]) continue;
        for (std::size_t k = 0; k < 3; ++k) sum[k] += row[3 * x + static_cast<int>(k)];
        ++pixels;
      }
    }
    if (pixels == 0) return 0;
    for (double& v : sum) v /= static_cast<double>(pixels);
    colours.push_back(sum);
    columns.push_back(CalendarCellOf(year, month, static_cast<int>(d) + 1, firstDay).column);
  }
  const auto distance = [](const std::array<double, 3>& a, const std::array<double, 3>& b) {
    return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) + (a[2] - b[2]) * (a[2] - b[2]));
  };
  std::array<double, 3> weekday{};
  int count = 0;
  for (std::size_t d = 0; d < colours.size(); ++d) {
    if (columns[d] < 1 || columns[d] > 4) continue;
    for (std::size_t k = 0; k < 3; ++k) weekday[k] += colours[d][k];
    ++count;
  }
  for (double& v : weekday) v /= count;
  std::vector<double> spreads;
  for (std::size_t d = 0; d < colours.size(); ++d) {
    if (columns[d] >= 1 && columns[d] <= 4) spreads.push_back(distance(colours[d], weekday));
  }
  std::nth_element(spreads.begin(), spreads.begin() + static_cast<std::ptrdiff_t>(spreads.size() / 2), spreads.end());
  const double own = std::max(36.0, 3 * spreads[spreads.size() / 2]);
  // A column is in a colour of its own when most of its numbers are: one red holiday
  // among a column's weekdays does not make it a weekend.
  std::array<int, 7> coloured{}, all{};
  for (std::size_t d = 0; d < colours.size(); ++d) {
    ++all[static_cast<std::size_t>(columns[d])];
    if (distance(colours[d], weekday) > own) ++coloured[static_cast<std::size_t>(columns[d])];
  }
  const auto weekend = [&](std::size_t c) { return 2 * coloured[c] > all[c]; };
  if (weekend(0) && !weekend(5)) return 7;
  if (!weekend(0) && (weekend(5) || weekend(6))) return 1;
  return 0;
}

std::string DayList(const std::vector<int>& days) {
  std::string text;
  for (std::size_t k = 0; k < days.size() && k < 8; ++k) text += (k ? ", " : "") + std::to_string(days[k]);
  return days.size() > 8 ? text + " and " + std::to_string(days.size() - 8) + " more" : text;
}

const char kByHand[] =
    "; give the grid by hand instead: --cell X,Y,W,H --step DX,DY, where X,Y,W,H is the pixel box of the first "
    "cell (top row, Monday column, even when it is empty) and DX,DY the step to the next cell across and down";

}  // namespace

FoundGrid FindGrid(const cDIBSection& image, int year, int month, int thickness, int firstDay) {
  FoundGrid found;
  const int w = image.width(), h = image.height();
  const bool ownThickness = thickness <= 0;
  if (ownThickness) thickness = DefaultThickness(w);
  // The search keeps about ten bytes a pixel; larger scans are refused rather than swapped.
  if (static_cast<long long>(w) * h > 64LL * 1000 * 1000) {
    found.refusal = "the picture has more than 64 million pixels; scale it down to find its grid";
    return found;
  }
  const std::vector<std::uint8_t> ink = InkOf(GreyOf(image));
  std::vector<Mark> marks = TextMarks(WithoutLines(ink, w, h), w, h);
  // Finding a lattice compares every mark of a size with every other: keep that bounded.
  if (marks.size() > 40000) {
    found.refusal = "no calendar grid found: the picture has too much fine detail (" + std::to_string(marks.size()) +
                    " marks the size of digits)" + kByHand;
    return found;
  }

  // Day numbers share one size; small calendars and week numbers are much smaller. Each
  // size, largest first, until one shows the month.
  std::vector<int> heights;
  for (const Mark& m : marks) heights.push_back(m.Height());
  std::sort(heights.begin(), heights.end(), std::greater<int>());
  heights.erase(std::unique(heights.begin(), heights.end()), heights.end());
  Reading best;
  double tried = 1e9;
  for (const int height : heights) {
    if (height > 0.9 * tried) continue;
    std::vector<Mark> alike;
    for (const Mark& m : marks) {
      if (m.Height() * 10 >= height * 7 && m.Height() * 10 <= height * 14) alike.push_back(m);
    }
    if (alike.size() < 28 || alike.size() > 6000) continue;  // too many: a photograph's grain, not printed days
    tried = height;
    Reading reading = Read(std::move(alike), year, month);
    // For a refusal the largest size that shows most of a month speaks; a smaller one
    // (a small calendar of another month) does not.
    const bool decided = reading.monday.days != 0 || reading.sunday.days != 0;
    const bool telling = best.other.second != 0 || best.found >= 14;
    if (decided || (!telling && (reading.other.second != 0 || reading.found > best.found))) best = std::move(reading);
    if (decided) break;
  }
  const Lattice& lattice = best.lattice;
  marks = best.marks;
  const int days = DaysInMonth(year, month);
  // The week's first day: as given; else as the numbers lie, where the colours of the
  // printed weekend agree. Numbers that lie as this month's from Sunday lie as well as
  // another month's from Monday (a Monday-first January 2026 as a Sunday-first July),
  // and the other way round: the printed weekend, or the user, tells which.
  const auto numbersAt = [&](const Placement& at, int weeksFrom) {
    std::vector<PixelBox> boxes;
    for (int day = 1; day <= days; ++day) {
      const CalendarCell cell = CalendarCellOf(year, month, day, weeksFrom);
      boxes.push_back(marks[lattice.cells.at({at.c0 + cell.column, at.r0 + cell.row})].box);
    }
    return boxes;
  };
  const auto Name = [](int weekday) { return std::string(kWeekdayNames[weekday - 1]); };
  int weeksFrom = 0;
  std::string doubt;
  for (const int candidate : {1, 7}) {
    const Placement& at = candidate == 1 ? best.monday : best.sunday;
    if (at.days == 0 || weeksFrom != 0) continue;
    const int shown = WeekStartShown(image, ink, year, month, candidate, numbersAt(at, candidate));
    const std::string lie = "the days lie as in a " + Name(candidate) + "-first grid of " + MonthText(year, month);
    if (firstDay != 0 && candidate != firstDay) {
      doubt = lie + ", not a " + Name(firstDay) + "-first one: a picture of another month?";
    } else if (firstDay == 0 && shown != 0 && shown != candidate) {
      doubt = lie + ", but the printed weekend stands where a " + Name(shown) +
              "-first grid has it: a picture of another month? (--first-day " + Name(candidate) +
              " says its weeks start on " + Name(candidate) + ")";
    } else if (firstDay == 0 && candidate == 7 && shown == 0) {
      doubt = lie + ", or as a Monday-first grid of another month, and the printed weekend does not tell which; "
              "--first-day Sunday says its weeks start on Sunday";
    } else {
      weeksFrom = candidate;
    }
  }
  if (weeksFrom == 0 && !doubt.empty()) {
    found.refusal = doubt;
    return found;
  }
  if (weeksFrom == 0) {
    if (best.other.second != 0) {
      found.refusal = "the grid shows a month of " + std::to_string(best.other.second) + " days starting in column " +
                      std::to_string(best.other.first + 1) + " of 7, but " + MonthText(year, month) + " has " +
                      std::to_string(DaysInMonth(year, month)) + " days starting on a " +
                      kWeekdayNames[CalendarCellOf(year, month, 1).column] + ": a picture of another month?";
    } else if (best.found >= 14) {
      found.refusal = "no calendar grid found: " + std::to_string(best.found) + " of the " +
                      std::to_string(DaysInMonth(year, month)) + " day numbers stand where " + MonthText(year, month) +
                      " puts them, but not day " + DayList(best.missing) +
                      " (too faint, too small, touching a line or covered?)" + kByHand;
    } else {
      found.refusal = "no calendar grid found: no seven columns of equally spaced numbers lie out as the days of " +
                      MonthText(year, month) + kByHand;
    }
    return found;
  }

  found.firstDay = weeksFrom;
  const Placement& placed = weeksFrom == 1 ? best.monday : best.sunday;
  // The lattice again from the days alone (marks elsewhere may sit on it by chance),
  // and each day's number.
  Lattice month_{lattice.x0, lattice.y0, lattice.dx, lattice.dy, {}};
  for (int day = 1; day <= days; ++day) {
    const CalendarCell cell = CalendarCellOf(year, month, day, weeksFrom);
    month_.cells[{cell.column, cell.row}] = lattice.cells.at({placed.c0 + cell.column, placed.r0 + cell.row});
  }
  Refit(month_, marks);
  for (int day = 1; day <= days; ++day) {
    const CalendarCell cell = CalendarCellOf(year, month, day, weeksFrom);
    found.numbers.push_back(marks[month_.cells.at({cell.column, cell.row})].box);
  }
  PixelGrid& grid = found.grid;
  grid.dx = month_.dx;
  grid.dy = month_.dy;
  const double x00 = month_.x0, y00 = month_.y0;
  // Where outlines are printed the frame lies over them, outer edge on outer edge.
  found.boxes = FindBoxes(ink, w, h, month_, year, month, weeksFrom, found.numbers, &grid);
  // A number against its box's line leaves no room for a frame on the line: the frame
  // goes round the numbers instead.
  if (found.boxes && LeastRoom(grid, year, month, weeksFrom, found.numbers) < kLeastRoom) found.boxes = false;
  if (!found.boxes) {
    int widest = 0, tallest = 0;
    for (const PixelBox& n : found.numbers) {
      widest = std::max(widest, n.right - n.left);
      tallest = std::max(tallest, n.bottom - n.top);
    }
    const auto roomFor = [](int t) { return 2 * t + 2 * std::max(2, t); };
    // A frame round the numbers keeps within a step of the grid: a thinner one where
    // the rows (columns) lie close for their numbers' size.
    while (ownThickness && thickness > 1 && (tallest + roomFor(thickness) > month_.dy || widest + roomFor(thickness) > month_.dx)) {
      --thickness;
    }
    const int room = roomFor(thickness);
    grid.width = static_cast<int>(std::lround(std::max(0.9 * month_.dx, static_cast<double>(widest + room))));
    grid.height = static_cast<int>(std::lround(std::max(0.9 * month_.dy, static_cast<double>(tallest + room))));
    grid.x = x00 - grid.width / 2.0;
    grid.y = y00 - grid.height / 2.0;
  }
  // Printed boxes often hold their number close to a line: the frame then keeps to the
  // room there is, unless the thickness was asked for.
  // Three pixels spare: a number's faint edge reaches further than the ink found here.
  if (ownThickness) thickness = std::max(1, std::min(thickness, LeastRoom(grid, year, month, weeksFrom, found.numbers) - 5));
  grid.thickness = thickness;
  return found;
}

std::string CheckDayFrames(int pictureWidth, int pictureHeight, int year, int month, int firstDay,
                           const std::vector<PixelBox>& numbers) {
  FrameProbe probe(pictureWidth, pictureHeight);
  const int thickness = RoundToInt16(pictureWidth * Config.RECT_THICKNESS);
  for (int day = 1; day <= static_cast<int>(numbers.size()); ++day) {
    const FrameProbe::Drawn drawn = probe.Draw(CalendarCellOf(year, month, day, firstDay));
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
