// Frame drawing and noise fill straight into the pixel memory, one checked byte at a time.
#include <cstdint>
#include <cstring>

#include "dib/cDIBSection.h"
#include "platform/services.h"
#include "runtime/checked_math.h"
#include "runtime/rounding.h"

namespace zorvani {
namespace {

// The pixel memory seen as bytes (b, r): b within a stored row (0..S-1, padding
// included), r the stored row (0..H-1). It never owns the memory. Without pixel
// memory the grid is empty, so every write fails instead of touching address 0.
class ByteGrid {
 public:
  ByteGrid(std::uint8_t* bits, std::int32_t stride, std::int32_t rows)
      : bits_(bits), stride_(bits != nullptr && rows > 0 ? stride : 0), rows_(bits != nullptr ? rows : 0) {}

  bool empty() const { return stride_ <= 0 || rows_ <= 0; }

  // Checks the indices, then the component, and only then stores.
  void Put(std::int64_t b, std::int64_t r, std::int32_t component) {
    if (b < 0 || b >= stride_ || r < 0 || r >= rows_) Raise(kErrSubscriptOutOfRange);
    if (component < 0 || component > 255) Raise(kErrOverflow);
    bits_[r * stride_ + b] = static_cast<std::uint8_t>(component);
  }

 private:
  std::uint8_t* bits_;
  std::int64_t stride_;
  std::int64_t rows_;
};

// The process-wide generator: xorshift32, 24 bits per draw, so every value is a
// float in [0, 1) with all 2^24 steps equally likely.
std::uint32_t randomState = 0x2545F491u;

void Reseed(float secondsSinceMidnight) {
  std::uint32_t seed = 0;
  static_assert(sizeof seed == sizeof secondsSinceMidnight, "float is 32 bits");
  std::memcpy(&seed, &secondsSinceMidnight, sizeof seed);
  seed = (seed ^ (seed >> 16)) * 0x45D9F3Bu;
  seed = (seed ^ (seed >> 16)) * 0x45D9F3Bu;
  seed ^= seed >> 16;
  randomState = seed != 0 ? seed : 0x2545F491u;  // xorshift never leaves 0
}

float NextRandom() {
  randomState ^= randomState << 13;
  randomState ^= randomState >> 17;
  randomState ^= randomState << 5;
  return static_cast<float>(randomState >> 8) / 16777216.0f;
}

std::int32_t RandomLevel() { return static_cast<std::int32_t>(RoundHalfEven(NextRandom() * 255.0f)); }

}  // namespace

void cDIBSection::drawRect(std::int16_t left, std::int16_t top, std::int16_t width, std::int16_t height,
                           std::int16_t tickness, std::int16_t cRed, std::int16_t cGreen, std::int16_t cBlue) {
  // The drawing ends silently at its first failure; what was written stays.
  try {
    ByteGrid grid(lBitsPtr, BytesPerScanLine(), tBitmapInfo_.biHeight);
    const std::int64_t H = tBitmapInfo_.biHeight;

    const std::int16_t lastX = Mul16(Sub16(Add16(left, width), 1), 3);
    const std::int16_t t1 = Sub16(tickness, 1);
    const std::int16_t lastTopY = Add16(top, t1);
    for (std::int32_t y = top; y <= lastTopY; ++y) {
      const std::int16_t firstX = Mul16(left, 3);
      for (std::int32_t x = firstX; x <= lastX; x += 3) {
        const std::int64_t rA = H - y;
        const std::int64_t rB = H - y - height + t1;
        grid.Put(x, rA, cBlue);
        grid.Put(x + 1, rA, cGreen);
        grid.Put(x + 2, rA, cRed);
        grid.Put(x, rB, cBlue);
        grid.Put(x + 1, rB, cGreen);
        grid.Put(x + 2, rB, cRed);
      }
    }

    const std::int16_t d = Mul16(Sub16(width, t1), 3);
    const std::int16_t lastColumn = Add16(left, t1);
    for (std::int32_t c = left; c <= lastColumn; ++c) {
      const std::int16_t lastY = Add16(top, height);
      for (std::int32_t y = top; y <= lastY; ++y) {
        const std::int64_t r = H - y;
        grid.Put(3 * c, r, cBlue);
        grid.Put(3 * c + 1, r, cGreen);
        grid.Put(3 * c + 2, r, cRed);
        grid.Put(d + 3 * c, r, cBlue);
        grid.Put(d + 3 * c + 1, r, cGreen);
        grid.Put(d + 3 * c + 2, r, cRed);
      }
    }
  } catch (const RuntimeError&) {
  }
}

void cDIBSection::drawRectPerc(double left, double top, double width, double height, double tickness,
                               std::int16_t cRed, std::int16_t cGreen, std::int16_t cBlue) {
  // Every conversion happens before anything is drawn, so a failure leaves the picture as it was.
  const double H = CheckedNarrow<std::int16_t>(tBitmapInfo_.biHeight);
  const double W = tBitmapInfo_.biWidth;
  const std::int16_t t = RoundToInt16(W * tickness);
  const std::int16_t h = RoundToInt16(H * height);
  const std::int16_t w = RoundToInt16(W * width);
  const std::int16_t y0 = RoundToInt16(H * top);
  const std::int16_t x0 = RoundToInt16(W * left);
  drawRect(x0, y0, w, h, t, cRed, cGreen, cBlue);
}

void cDIBSection::RandomiseBits(Boolean bGray) {
  ByteGrid grid(lBitsPtr, BytesPerScanLine(), tBitmapInfo_.biHeight);
  const platform::LocalTime now = platform::Current().clock->Now();
  Reseed(static_cast<float>(now.hour * 3600 + now.minute * 60 + now.second) +
         static_cast<float>(now.millisecond) / 1000.0f);
  // An object without pixel memory has nothing to fill.
  if (grid.empty()) return;

  const std::int32_t H = tBitmapInfo_.biHeight;
  const std::int32_t xEnd = CheckedNarrow<std::int32_t>(3 * (std::int64_t{tBitmapInfo_.biWidth} - 1));
  if (bGray != 0) {
    for (std::int32_t r = 0; r < H; ++r) {
      for (std::int32_t x = 0; x <= xEnd; x += 3) {
        const std::int32_t v = RandomLevel();
        grid.Put(x, r, v);
        grid.Put(x + 1, r, v);
        grid.Put(x + 2, r, v);
      }
    }
  } else {
    for (std::int32_t x = 0; x <= xEnd; x += 3) {
      for (std::int32_t r = 0; r < H; ++r) {
        grid.Put(x, r, 0);
        grid.Put(x + 1, r, RandomLevel());
        grid.Put(x + 2, r, RandomLevel());
      }
    }
  }
}

}  // namespace zorvani
