// Scaling and fitting pictures, and the fill around a fitted one.
#include <algorithm>
#include <cmath>

#include "platform/picture.h"
#include "screens/screens.h"

namespace screens {
namespace {

std::uint8_t Channel(double v) { return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L)); }

struct Tap {
  int index;
  double weight;
};

std::vector<std::vector<Tap>> Taps(int outSize, int inSize, double scale, double offset) {
  const double radius = std::max(1.0, 1.0 / scale);
  std::vector<std::vector<Tap>> all(static_cast<std::size_t>(outSize));
  for (int o = 0; o < outSize; ++o) {
    const double centre = offset + (o + 0.5) / scale - 0.5;
    double total = 0;
    for (int i = static_cast<int>(std::floor(centre - radius)); i <= static_cast<int>(std::ceil(centre + radius)); ++i) {
      const double w = 1.0 - std::abs(i - centre) / radius;
      if (w <= 0) continue;
      all[static_cast<std::size_t>(o)].push_back({std::clamp(i, 0, inSize - 1), w});
      total += w;
    }
    for (Tap& t : all[static_cast<std::size_t>(o)]) t.weight /= total;
  }
  return all;
}

// Box blur of a line of pixels, edges repeated, with running sums.
void BoxBlur(std::vector<double>& line, int count, int radius) {
  if (count <= 1 || radius <= 0) return;
  std::vector<double> copy(line);
  const auto at = [&](int i, int c) { return copy[static_cast<std::size_t>(std::clamp(i, 0, count - 1)) * 3 + static_cast<std::size_t>(c)]; };
  for (int c = 0; c < 3; ++c) {
    double sum = 0;
    for (int i = -radius; i <= radius; ++i) sum += at(i, c);
    for (int i = 0; i < count; ++i) {
      line[static_cast<std::size_t>(i) * 3 + static_cast<std::size_t>(c)] = sum / (2 * radius + 1);
      sum += at(i + radius + 1, c) - at(i - radius, c);
    }
  }
}

// The mean of the picture's outer strip along one side, one value per pixel along it,
// blurred twice (close to a Gaussian) so that no detail of the picture runs into the bar.
std::vector<double> EdgeLine(const ConstPixels& p, bool rows, bool far) {
  const int count = rows ? p.width : p.height;
  const int depth = std::min(8, rows ? p.height : p.width);
  std::vector<double> line(static_cast<std::size_t>(count) * 3, 0.0);
  for (int d = 0; d < depth; ++d) {
    for (int i = 0; i < count; ++i) {
      const int x = rows ? i : (far ? p.width - 1 - d : d);
      const int y = rows ? (far ? p.height - 1 - d : d) : i;
      const std::uint8_t* px = p.first + y * p.stride + x * 3;
      for (int c = 0; c < 3; ++c) line[static_cast<std::size_t>(i) * 3 + static_cast<std::size_t>(c)] += px[c];
    }
  }
  for (double& v : line) v /= depth;
  const int radius = std::max(1, count / 12);
  BoxBlur(line, count, radius);
  BoxBlur(line, count, radius);
  return line;
}

Pixels Region(const Pixels& p, int x, int y, int width, int height) {
  return {p.first + y * p.stride + x * 3, width, height, p.stride};
}

}  // namespace

std::size_t DibRowBytes(int width) { return (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3}; }

ConstPixels DibView(const std::uint8_t* bits, int width, int height) {
  const auto row = static_cast<std::ptrdiff_t>(DibRowBytes(width));
  return {bits + (height - 1) * row, width, height, -row};
}

Pixels DibView(std::uint8_t* bits, int width, int height) {
  const auto row = static_cast<std::ptrdiff_t>(DibRowBytes(width));
  return {bits + (height - 1) * row, width, height, -row};
}

void Resample(const ConstPixels& source, const Pixels& target, double scaleX, double scaleY, double offsetX,
              double offsetY) {
  const int width = target.width, height = target.height;
  if (width <= 0 || height <= 0 || source.width <= 0 || source.height <= 0) return;
  const auto across = Taps(width, source.width, scaleX, offsetX);
  const auto down = Taps(height, source.height, scaleY, offsetY);
  // Only the source rows under one output row are kept, scaled across, in a ring: the
  // rows an output row reads only move down, so a tall source costs no more than its
  // output does.
  std::size_t span = 1;
  for (const auto& column : down) span = std::max(span, static_cast<std::size_t>(column.back().index - column.front().index + 1));
  const std::size_t rowFloats = static_cast<std::size_t>(width) * 3;
  std::vector<float> rows(span * rowFloats);
  const auto ringRow = [&](int y) { return &rows[static_cast<std::size_t>(y) % span * rowFloats]; };
  for (int y = 0, next = 0; y < height; ++y) {
    const std::vector<Tap>& column = down[static_cast<std::size_t>(y)];
    for (int row = std::max(next, column.front().index); row <= column.back().index; ++row) {
      float* const ring = ringRow(row);
      std::fill(ring, ring + rowFloats, 0.0f);
      const std::uint8_t* const line = source.first + row * source.stride;
      for (int x = 0; x < width; ++x) {
        float* out = ring + static_cast<std::size_t>(x) * 3;
        for (const Tap& t : across[static_cast<std::size_t>(x)]) {
          const std::uint8_t* p = line + t.index * 3;
          for (int c = 0; c < 3; ++c) out[c] += static_cast<float>(p[c] * t.weight);
        }
      }
    }
    next = std::max(next, column.back().index + 1);
    std::uint8_t* const out = target.first + y * target.stride;
    for (int x = 0; x < width; ++x) {
      double sum[3] = {0, 0, 0};
      for (const Tap& t : column) {
        const float* p = ringRow(t.index) + static_cast<std::size_t>(x) * 3;
        for (int c = 0; c < 3; ++c) sum[c] += p[c] * t.weight;
      }
      for (int c = 0; c < 3; ++c) out[x * 3 + c] = Channel(sum[c]);
    }
  }
}

Placement FitInside(int pictureWidth, int pictureHeight, int areaWidth, int areaHeight) {
  Placement place;
  if (pictureWidth <= 0 || pictureHeight <= 0 || areaWidth <= 0 || areaHeight <= 0) return place;
  const double scale = std::min(static_cast<double>(areaWidth) / pictureWidth, static_cast<double>(areaHeight) / pictureHeight);
  place.width = std::clamp(static_cast<int>(std::lround(pictureWidth * scale)), 1, areaWidth);
  place.height = std::clamp(static_cast<int>(std::lround(pictureHeight * scale)), 1, areaHeight);
  place.x = (areaWidth - place.width) / 2;
  place.y = (areaHeight - place.height) / 2;
  return place;
}

void FitWithEdgeFill(const ConstPixels& picture, const Pixels& target) {
  const Placement place = FitInside(picture.width, picture.height, target.width, target.height);
  if (place.width <= 0) return;
  const Pixels inner = Region(target, place.x, place.y, place.width, place.height);
  Resample(picture, inner, static_cast<double>(place.width) / picture.width,
           static_cast<double>(place.height) / picture.height, 0, 0);
  const ConstPixels fitted = inner;
  const bool bars = place.y > 0 || place.y + place.height < target.height;  // above and below
  const bool sides = place.x > 0 || place.x + place.width < target.width;
  // Darker by half at the picture, by two thirds at the monitor's edge: the bar reads as
  // the picture's surroundings in shadow, not as more of the picture.
  const auto shade = [](int distance, int extent) {
    return 0.5 - 0.17 * std::min(1.0, static_cast<double>(distance) / std::max(1, extent));
  };
  if (bars) {
    const std::vector<double> top = EdgeLine(fitted, true, false), bottom = EdgeLine(fitted, true, true);
    const int below = target.height - place.y - place.height;
    for (int y = 0; y < target.height; ++y) {
      if (y >= place.y && y < place.y + place.height) continue;
      const bool above = y < place.y;
      const std::vector<double>& line = above ? top : bottom;
      const double f = above ? shade(place.y - 1 - y, place.y) : shade(y - place.y - place.height, below);
      std::uint8_t* out = target.first + y * target.stride;
      for (int x = 0; x < target.width; ++x) {
        const auto i = static_cast<std::size_t>(std::clamp(x - place.x, 0, place.width - 1)) * 3;
        for (int c = 0; c < 3; ++c) out[x * 3 + c] = Channel(line[i + static_cast<std::size_t>(c)] * f);
      }
    }
  }
  if (sides) {
    const std::vector<double> left = EdgeLine(fitted, false, false), right = EdgeLine(fitted, false, true);
    const int after = target.width - place.x - place.width;
    for (int y = place.y; y < place.y + place.height; ++y) {
      std::uint8_t* out = target.first + y * target.stride;
      const auto i = static_cast<std::size_t>(y - place.y) * 3;
      for (int x = 0; x < target.width; ++x) {
        if (x >= place.x && x < place.x + place.width) continue;
        const bool before = x < place.x;
        const double f = before ? shade(place.x - 1 - x, place.x) : shade(x - place.x - place.width, after);
        const std::vector<double>& line = before ? left : right;
        for (int c = 0; c < 3; ++c) out[x * 3 + c] = Channel(line[i + static_cast<std::size_t>(c)] * f);
      }
    }
  }
}

bool SameShape(int widthA, int heightA, int widthB, int heightB) {
  if (widthA <= 0 || heightA <= 0 || widthB <= 0 || heightB <= 0) return false;
  const double ratio = (static_cast<double>(widthA) * heightB) / (static_cast<double>(heightA) * widthB);
  return std::abs(ratio - 1.0) <= 0.01;
}

Canvas SpannedCanvas(const std::vector<platform::Monitor>& layout) {
  if (layout.empty()) return {};
  long long left = layout[0].x, top = layout[0].y, right = left, bottom = top;
  for (const platform::Monitor& m : layout) {
    left = std::min<long long>(left, m.x);
    top = std::min<long long>(top, m.y);
    right = std::max<long long>(right, static_cast<long long>(m.x) + m.width);
    bottom = std::max<long long>(bottom, static_cast<long long>(m.y) + m.height);
  }
  // A box no picture may have is no canvas; the caller then keeps the one picture.
  if (!platform::PictureSizeAllowed(right - left, bottom - top)) return {};
  return {static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left), static_cast<int>(bottom - top)};
}

void ComposeSpanned(const ConstPixels& picture, const std::vector<platform::Monitor>& layout, const Pixels& target) {
  const Canvas canvas = SpannedCanvas(layout);
  for (int y = 0; y < target.height; ++y) std::fill_n(target.first + y * target.stride, target.width * 3, std::uint8_t{0});
  for (const platform::Monitor& m : layout) {
    if (m.width <= 0 || m.height <= 0) continue;
    FitWithEdgeFill(picture, Region(target, m.x - canvas.left, m.y - canvas.top, m.width, m.height));
  }
}

}  // namespace screens
