// Scaling and fitting pictures, and the fill around a fitted one.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/picture.h"
#include "screens/screens.h"

namespace screens {
namespace {

constexpr int kWeightOne = 1 << 14;
constexpr int kAcrossBits = 7;  // a source row scaled across keeps 7 fractional bits: 255 << 7 fits 16 bits

// The source pixels under a tent of that radius at that centre, and their weights.
template <typename Each>
void Taps(double centre, double radius, Each each) {
  for (int i = static_cast<int>(std::floor(centre - radius)); i <= static_cast<int>(std::ceil(centre + radius)); ++i) {
    const double w = 1.0 - std::abs(i - centre) / radius;
    if (w > 0) each(i, w);
  }
}

// Each output pixel's source pixels as one run, first[o] onwards, so that the taps
// read neighbours; edges repeat, so a tap past an edge weighs on the edge pixel. The
// weights are integers that sum to exactly one: a plain area keeps its colour.
ScaleAxis Axis(int outSize, int inSize, double scale, double offset) {
  ScaleAxis axis;
  if (outSize <= 0 || inSize <= 0) return axis;
  const double radius = std::max(1.0, 1.0 / scale);
  struct Run {
    int low, high;
    double centre;
  };
  std::vector<Run> runs(static_cast<std::size_t>(outSize));
  for (int o = 0; o < outSize; ++o) {
    Run& run = runs[static_cast<std::size_t>(o)];
    run.centre = offset + (o + 0.5) / scale - 0.5;
    // The pixels of weight above 0 only: at scale 1 a pixel is its source pixel alone.
    run.low = inSize, run.high = -1;
    Taps(run.centre, radius, [&](int i, double) {
      run.low = std::min(run.low, std::clamp(i, 0, inSize - 1));
      run.high = std::max(run.high, std::clamp(i, 0, inSize - 1));
    });
    if (run.high < 0) run.low = run.high = std::clamp(static_cast<int>(std::lround(run.centre)), 0, inSize - 1);
    axis.taps = std::max(axis.taps, run.high - run.low + 1);
  }
  const auto count = static_cast<std::size_t>(axis.taps);
  axis.first.resize(runs.size());
  axis.weight.assign(runs.size() * count, 0);
  std::vector<double> weights(count);
  axis.identity = true;
  for (std::size_t o = 0; o < runs.size(); ++o) {
    const Run& run = runs[o];
    const int first = std::min(run.low, inSize - axis.taps);
    std::fill(weights.begin(), weights.end(), 0.0);
    double total = 0;
    Taps(run.centre, radius, [&](int i, double w) {
      weights[static_cast<std::size_t>(std::clamp(i, 0, inSize - 1) - first)] += w;
      total += w;
    });
    if (total <= 0) weights[static_cast<std::size_t>(run.low - first)] = total = 1;
    int* weight = &axis.weight[o * count];
    int sum = 0;
    std::size_t largest = 0;
    for (std::size_t k = 0; k < count; ++k) {
      weight[k] = static_cast<int>(std::lround(weights[k] / total * kWeightOne));
      sum += weight[k];
      if (weight[k] > weight[largest]) largest = k;
    }
    weight[largest] += kWeightOne - sum;
    axis.first[o] = first;
    axis.identity = axis.identity && first == static_cast<int>(o) && weight[0] == kWeightOne;
  }
  return axis;
}

// A source row scaled across; the usual tap counts known to the compiler, which then
// unrolls them.
template <int kTaps>
void AcrossRow(const std::uint8_t* line, const int* first, const int* weight, std::size_t width, int taps,
               std::int16_t* out) {
  const int count = kTaps > 0 ? kTaps : taps;
  constexpr int half = 1 << (13 - kAcrossBits);
  for (std::size_t x = 0; x < width; ++x, weight += count, out += 3) {
    const std::uint8_t* p = line + first[x] * 3;
    int b = half, g = half, r = half;
#pragma GCC unroll 8
    for (int k = 0; k < count; ++k, p += 3) b += p[0] * weight[k], g += p[1] * weight[k], r += p[2] * weight[k];
    out[0] = static_cast<std::int16_t>(b >> (14 - kAcrossBits));
    out[1] = static_cast<std::int16_t>(g >> (14 - kAcrossBits));
    out[2] = static_cast<std::int16_t>(r >> (14 - kAcrossBits));
  }
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

// The mean of a strip of the fitted picture along one side (depth rows, or columns, of
// it), one value per pixel along it, blurred twice (close to a Gaussian) so that no
// detail of the picture runs into the bar; x 256.
std::vector<std::uint16_t> EdgeLine(const ConstPixels& strip, bool rows) {
  const int count = rows ? strip.width : strip.height;
  const int depth = rows ? strip.height : strip.width;
  std::vector<double> line(static_cast<std::size_t>(count) * 3, 0.0);
  for (int d = 0; d < depth; ++d) {
    for (int i = 0; i < count; ++i) {
      const std::uint8_t* px = strip.first + (rows ? d : i) * strip.stride + (rows ? i : d) * 3;
      for (int c = 0; c < 3; ++c) line[static_cast<std::size_t>(i) * 3 + static_cast<std::size_t>(c)] += px[c];
    }
  }
  for (double& v : line) v /= depth;
  const int radius = std::max(1, count / 12);
  BoxBlur(line, count, radius);
  BoxBlur(line, count, radius);
  std::vector<std::uint16_t> fixed(line.size());
  for (std::size_t i = 0; i < line.size(); ++i) fixed[i] = static_cast<std::uint16_t>(std::clamp(std::lround(line[i] * 256), 0L, 255L * 256));
  return fixed;
}

// The strip of `depth` fitted rows (or columns) that starts at output row (column) `at`.
std::vector<std::uint16_t> FittedEdge(const ConstPixels& picture, const Placement& place, bool rows, bool far) {
  const int count = rows ? place.width : place.height;
  const int depth = std::min(8, rows ? place.height : place.width);
  const int at = far ? (rows ? place.height : place.width) - depth : 0;
  const double scaleX = static_cast<double>(place.width) / picture.width, scaleY = static_cast<double>(place.height) / picture.height;
  const int width = rows ? count : depth, height = rows ? depth : count;
  std::vector<std::uint8_t> strip(static_cast<std::size_t>(width) * 3 * static_cast<std::size_t>(height));
  Scaler scaler(picture, width, height, scaleX, scaleY, rows ? 0.0 : at / scaleX, rows ? at / scaleY : 0.0);
  for (int y = 0; y < height; ++y) scaler.Row(y, &strip[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) * 3]);
  return EdgeLine({strip.data(), width, height, static_cast<std::ptrdiff_t>(width) * 3}, rows);
}

// Edge colours shaded into bytes, rounded: the high half of a 16-bit product, which
// vector units give in one step.
void Shade(const std::uint16_t* colour, std::uint16_t shade, std::size_t count, std::uint8_t* out) {
  for (std::size_t i = 0; i < count; ++i) {
    const auto high = static_cast<std::uint16_t>((static_cast<std::uint32_t>(colour[i]) * shade) >> 16);
    out[i] = static_cast<std::uint8_t>((high + 128u) >> 8);
  }
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

Scaler::Scaler(const ConstPixels& source, int width, int height, double scaleX, double scaleY, double offsetX,
               double offsetY)
    : source_(source), width_(width), height_(height) {
  if (width <= 0 || height <= 0 || source.width <= 0 || source.height <= 0) {
    width_ = height_ = 0;
    return;
  }
  across_ = Axis(width, source.width, scaleX, offsetX);
  down_ = Axis(height, source.height, scaleY, offsetY);
  span_ = static_cast<std::size_t>(down_.taps);
  ring_.resize(span_ * static_cast<std::size_t>(width) * 3);
  ringRow_.assign(span_, -1);
  sum_.resize(static_cast<std::size_t>(width) * 3);
}

const std::int16_t* Scaler::Across(int sourceRow) {
  const std::size_t slot = static_cast<std::size_t>(sourceRow) % span_;
  std::int16_t* const out = &ring_[slot * static_cast<std::size_t>(width_) * 3];
  if (ringRow_[slot] == sourceRow) return out;
  ringRow_[slot] = sourceRow;
  const std::uint8_t* const line = source_.first + sourceRow * source_.stride;
  if (across_.identity) {
    for (std::size_t i = 0; i < static_cast<std::size_t>(width_) * 3; ++i) out[i] = static_cast<std::int16_t>(line[i] << kAcrossBits);
    return out;
  }
  const int* first = across_.first.data();
  const int* weight = across_.weight.data();
  const auto width = static_cast<std::size_t>(width_);
  switch (across_.taps) {
    case 2: AcrossRow<2>(line, first, weight, width, across_.taps, out); break;
    case 3: AcrossRow<3>(line, first, weight, width, across_.taps, out); break;
    case 4: AcrossRow<4>(line, first, weight, width, across_.taps, out); break;
    case 5: AcrossRow<5>(line, first, weight, width, across_.taps, out); break;
    default: AcrossRow<0>(line, first, weight, width, across_.taps, out); break;
  }
  return out;
}

void Scaler::Row(int y, std::uint8_t* out) {
  if (y < 0 || y >= height_) return;
  const std::size_t n = static_cast<std::size_t>(width_) * 3;
  const auto taps = static_cast<std::size_t>(down_.taps);
  const int first = down_.first[static_cast<std::size_t>(y)];
  const int* weight = &down_.weight[static_cast<std::size_t>(y) * taps];
  if (taps == 1 && across_.identity) {
    std::memcpy(out, source_.first + first * source_.stride, n);
    return;
  }
  if (taps == 1) {
    const std::int16_t* row = Across(first);
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>((row[i] + (1 << (kAcrossBits - 1))) >> kAcrossBits);
    return;
  }
  // Every row is read before any slot is taken again: the rows under one output row are
  // as many as the slots.
  std::int32_t* const sum = sum_.data();
  std::fill_n(sum, n, 1 << (13 + kAcrossBits));
  for (std::size_t k = 0; k < taps; ++k) {
    if (weight[k] == 0) continue;
    const std::int16_t* row = Across(first + static_cast<int>(k));
    const auto w = static_cast<std::int16_t>(weight[k]);
    for (std::size_t i = 0; i < n; ++i) sum[i] += row[i] * w;
  }
  // The weights sum to one: no sum passes 255.
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(sum[i] >> (14 + kAcrossBits));
}

void Resample(const ConstPixels& source, const Pixels& target, double scaleX, double scaleY, double offsetX,
              double offsetY) {
  Scaler scaler(source, target.width, target.height, scaleX, scaleY, offsetX, offsetY);
  for (int y = 0; y < target.height; ++y) scaler.Row(y, target.first + y * target.stride);
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

FittedRows::FittedRows(const ConstPixels& picture, int width, int height)
    : place_(FitInside(picture.width, picture.height, width, height)),
      width_(width),
      height_(height),
      inner_(picture, place_.width, place_.height, static_cast<double>(place_.width) / std::max(1, picture.width),
             static_cast<double>(place_.height) / std::max(1, picture.height), 0, 0) {
  if (place_.width <= 0) return;
  // Darker by half at the picture, by two thirds at the monitor's edge: the bar reads as
  // the picture's surroundings in shadow, not as more of the picture.
  const auto shade = [](int distance, int extent) {
    const double f = 0.5 - 0.17 * std::min(1.0, static_cast<double>(distance) / std::max(1, extent));
    return static_cast<std::uint16_t>(std::lround(f * 65536));
  };
  // Each row (or column) of the bars before and after the picture's `length` from `start`.
  const auto shades = [&shade](int count, int start, int length) {
    std::vector<std::uint16_t> out(static_cast<std::size_t>(count));
    const int after = count - start - length;
    for (int i = 0; i < count; ++i) {
      if (i < start) out[static_cast<std::size_t>(i)] = shade(start - 1 - i, start);
      if (i >= start + length) out[static_cast<std::size_t>(i)] = shade(i - start - length, after);
    }
    return out;
  };
  if (place_.y > 0 || height - place_.y - place_.height > 0) {
    top_ = FittedEdge(picture, place_, true, false);
    bottom_ = FittedEdge(picture, place_, true, true);
    rowShade_ = shades(height, place_.y, place_.height);
  }
  if (place_.x > 0 || width - place_.x - place_.width > 0) {
    left_ = FittedEdge(picture, place_, false, false);
    right_ = FittedEdge(picture, place_, false, true);
    columnShade_ = shades(width, place_.x, place_.width);
  }
}

void FittedRows::Row(int y, std::uint8_t* out) {
  if (y < 0 || y >= height_ || place_.width <= 0) return;
  const auto pictureBytes = static_cast<std::size_t>(place_.width) * 3;
  if (y < place_.y || y >= place_.y + place_.height) {
    const std::vector<std::uint16_t>& line = y < place_.y ? top_ : bottom_;
    const std::uint16_t shade = rowShade_[static_cast<std::size_t>(y)];
    Shade(line.data(), shade, pictureBytes, out + place_.x * 3);
    // Beside the picture (where it is narrower than the row) the line's ends go on.
    for (int x = 0; x < width_; ++x) {
      if (x == place_.x) x += place_.width;
      if (x >= width_) break;
      Shade(&line[x < place_.x ? 0 : pictureBytes - 3], shade, 3, out + x * 3);
    }
    return;
  }
  inner_.Row(y - place_.y, out + place_.x * 3);
  if (columnShade_.empty()) return;
  const auto i = static_cast<std::size_t>(y - place_.y) * 3;
  for (int x = 0; x < width_; ++x) {
    if (x == place_.x) x += place_.width;
    if (x >= width_) break;
    Shade(&(x < place_.x ? left_ : right_)[i], columnShade_[static_cast<std::size_t>(x)], 3, out + x * 3);
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

SpannedRows::SpannedRows(const ConstPixels& picture, const std::vector<platform::Monitor>& layout)
    : canvas_(SpannedCanvas(layout)) {
  for (const platform::Monitor& m : layout) {
    if (m.width <= 0 || m.height <= 0) continue;
    layout_.push_back(m);
    monitors_.emplace_back(picture, m.width, m.height);
  }
}

void SpannedRows::Row(int y, std::uint8_t* out) {
  std::fill_n(out, static_cast<std::size_t>(canvas_.width) * 3, std::uint8_t{0});
  for (std::size_t i = 0; i < layout_.size(); ++i) {
    const platform::Monitor& m = layout_[i];
    // From the monitor's own offset in the box: a box far down the server's coordinates
    // would take y + top past an int.
    const int inside = y - (m.y - canvas_.top);
    if (inside >= 0 && inside < m.height) monitors_[i].Row(inside, out + (m.x - canvas_.left) * 3);
  }
}

}  // namespace screens
