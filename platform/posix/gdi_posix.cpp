// In-process stand-in for the GDI, user32 and DrawDib calls of the image class.
// Every surface is a 24-bit bottom-up bitmap in the DIB layout, so a transfer between
// two surfaces is byte arithmetic on rows, and a whole-surface copy is one memcpy.
// Pixel memory is mapped per bitmap, so deleting a bitmap hands it straight back to
// the system instead of leaving it in the heap of a long-running process.
#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "platform/gdi.h"
#include "platform/posix/gdi_bitmaps.h"

namespace platform {
namespace {

struct Surface {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int64_t stride = 0;
  std::uint8_t* bits = nullptr;  // mapped, zero-filled like a new DIB section; none while deferred
  Handle selectedInto = 0;       // the memory DC holding it, 0 when free
  bool stock = false;            // the 1x1 bitmap a new memory DC starts with
  posix::PixelSource source;     // set while the pixels are still to be produced
};

std::size_t PixelBytes(const Surface& s) { return static_cast<std::size_t>(s.stride * s.height); }

// Populated at once: a picture fills every page anyway, and one call is far cheaper
// than a page fault per 4 KiB (a sixth of a 4K refresh's time when faulted in).
std::uint8_t* MapPixels(std::size_t size) {
  void* memory = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
  return memory == MAP_FAILED ? nullptr : static_cast<std::uint8_t*>(memory);
}

void UnmapPixels(Surface& s) {
  if (s.bits != nullptr && !s.stock) munmap(s.bits, PixelBytes(s));
  s.bits = nullptr;
}

enum class Kind { kBitmap, kMemoryDC, kScreenDC, kDrawDib };

struct Object {
  Kind kind;
  Surface bitmap;          // kBitmap
  Handle selected = 0;     // kMemoryDC: the bitmap selected into it
};

// Whatever surface a DC draws on.
struct View {
  std::uint8_t* bits = nullptr;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int64_t stride = 0;
};

constexpr Handle kDesktopWindow = 0x10010;
constexpr std::int32_t kScreenWidth = 1920;
constexpr std::int32_t kScreenHeight = 1080;

std::uint8_t ApplyRop(std::uint32_t rop, std::uint8_t s, std::uint8_t d) {
  switch (rop) {
    case kSrcCopy: return s;
    case kSrcPaint: return static_cast<std::uint8_t>(s | d);
    case kSrcAnd: return static_cast<std::uint8_t>(s & d);
    case kSrcInvert: return static_cast<std::uint8_t>(s ^ d);
    case kSrcErase: return static_cast<std::uint8_t>(s & ~d);
    case kNotSrcCopy: return static_cast<std::uint8_t>(~s);
    case kNotSrcErase: return static_cast<std::uint8_t>(~(s | d));
    case kDstInvert: return static_cast<std::uint8_t>(~d);
    case kBlackness: return 0;
    default: return 0xFF;  // kWhiteness
  }
}

bool KnownRop(std::uint32_t rop) {
  switch (rop) {
    case kSrcCopy: case kSrcPaint: case kSrcAnd: case kSrcInvert: case kSrcErase:
    case kNotSrcCopy: case kNotSrcErase: case kDstInvert: case kBlackness: case kWhiteness:
      return true;
    default:
      return false;
  }
}

bool UsesSource(std::uint32_t rop) { return rop != kDstInvert && rop != kBlackness && rop != kWhiteness; }

// Start of line y (counted from the top) of a bottom-up surface.
std::uint8_t* Line(const View& v, std::int32_t y) { return v.bits + (v.height - 1 - y) * v.stride; }

class StandInGdi : public Gdi {
 public:
  ~StandInGdi() override {
    for (auto& entry : objects_) {
      if (entry.second.kind == Kind::kBitmap) UnmapPixels(entry.second.bitmap);
    }
    std::free(screen_.bits);
  }

  Handle CreateCompatibleDC(Handle dc) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (dc != 0 && !IsDC(dc)) return 0;
    // A new memory DC holds the shared 1x1 stock bitmap, as in GDI.
    return Add(Object{Kind::kMemoryDC, {}, StockBitmap()});
  }

  Handle CreateDIBSection(Handle, const void* bitmapInfo, std::uint32_t usage, void** bits) override {
    if (bits != nullptr) *bits = nullptr;
    if (bitmapInfo == nullptr || usage != 0) return 0;
    BitmapInfoHeader h;
    std::memcpy(&h, bitmapInfo, sizeof h);
    // Only the layout the image class uses: 24 bits, uncompressed, bottom-up.
    if (h.biSize < 40 || h.biPlanes != 1 || h.biBitCount != 24 || h.biCompression != 0) return 0;
    if (h.biWidth <= 0 || h.biHeight <= 0) return 0;
    std::uint8_t* memory = nullptr;
    const Handle bitmap = posix::CreateBitmap24(h.biWidth, h.biHeight, &memory);
    if (bitmap != 0 && bits != nullptr) *bits = memory;
    return bitmap;
  }

  Handle NewBitmap(std::int32_t width, std::int32_t height, std::uint8_t** bits, posix::PixelSource source) {
    if (bits != nullptr) *bits = nullptr;
    if (width <= 0 || height <= 0) return 0;
    const std::int64_t size = posix::Stride24(width) * height;
    if (size > (std::int64_t{1} << 31)) return 0;  // beyond what a DIB section may hold
    Surface s;
    s.width = width;
    s.height = height;
    s.stride = posix::Stride24(width);
    if (source) {
      s.source = std::move(source);
    } else {
      s.bits = MapPixels(static_cast<std::size_t>(size));
      if (s.bits == nullptr) return 0;
      if (bits != nullptr) *bits = s.bits;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    return Add(Object{Kind::kBitmap, std::move(s), 0});
  }

  Handle SelectObject(Handle dc, Handle object) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Object* d = Find(dc, Kind::kMemoryDC);
    Object* b = Find(object, Kind::kBitmap);
    if (d == nullptr || b == nullptr) return 0;
    if (d->selected == object) return object;
    // A bitmap can be selected into one memory DC at a time.
    if (!b->bitmap.stock && b->bitmap.selectedInto != 0) return 0;
    const Handle previous = d->selected;
    objects_.at(previous).bitmap.selectedInto = 0;
    if (!b->bitmap.stock) b->bitmap.selectedInto = dc;
    d->selected = object;
    return previous;
  }

  bool DeleteObject(Handle object) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Object* b = Find(object, Kind::kBitmap);
    if (b == nullptr) return false;
    if (b->bitmap.stock) return true;
    if (b->bitmap.selectedInto != 0) return false;  // still selected: GDI refuses too
    UnmapPixels(b->bitmap);
    objects_.erase(object);
    return true;
  }

  bool DeleteDC(Handle dc) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Object* d = Find(dc, Kind::kMemoryDC);
    if (d == nullptr) return false;
    Object& selected = objects_.at(d->selected);
    if (!selected.bitmap.stock) selected.bitmap.selectedInto = 0;
    objects_.erase(dc);
    return true;
  }

  Handle GetDesktopWindow() override { return kDesktopWindow; }

  Handle GetDC(Handle window) override {
    if (window != 0 && window != kDesktopWindow) return 0;
    std::lock_guard<std::mutex> lock(mutex_);
    if (screen_.bits == nullptr) {
      screen_.width = kScreenWidth;
      screen_.height = kScreenHeight;
      screen_.stride = posix::Stride24(kScreenWidth);
      screen_.bits = static_cast<std::uint8_t*>(std::calloc(static_cast<std::size_t>(screen_.stride * kScreenHeight), 1));
      if (screen_.bits == nullptr) return 0;
    }
    return Add(Object{Kind::kScreenDC, {}, 0});
  }

  int ReleaseDC(Handle, Handle dc) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (Find(dc, Kind::kScreenDC) == nullptr) return 0;
    objects_.erase(dc);
    return 1;
  }

  int GetObjectA(Handle bitmap, BitmapRecord* record) override {
    std::lock_guard<std::mutex> lock(mutex_);
    const Object* b = Find(bitmap, Kind::kBitmap);
    if (b == nullptr || record == nullptr) return 0;
    record->bmType = 0;
    record->bmWidth = b->bitmap.width;
    record->bmHeight = b->bitmap.height;
    record->bmWidthBytes = static_cast<std::int32_t>(b->bitmap.stride);
    record->bmPlanes = 1;
    record->bmBitsPixel = 24;
    return static_cast<int>(sizeof(BitmapRecord));
  }

  bool BitBlt(Handle dst, int x, int y, int width, int height, Handle src, int srcX, int srcY,
              std::uint32_t rop) override {
    if (!KnownRop(rop)) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    View d;
    if (!ViewOf(dst, &d)) return false;
    if (!UsesSource(rop)) {
      Transfer(d, x, y, width, height, nullptr, 0, 0, rop);
      return true;
    }
    Surface* deferred = DeferredIn(src);
    if (deferred != nullptr && rop == kSrcCopy && x == 0 && y == 0 && srcX == 0 && srcY == 0 &&
        width >= deferred->width && height >= deferred->height && d.width == deferred->width &&
        d.height == deferred->height) {
      // The whole picture onto a surface of its size: produced in place.
      deferred->source(d.bits, d.stride);
      return true;
    }
    View s;
    if (!ViewOf(src, &s)) return false;
    Transfer(d, x, y, width, height, &s, srcX, srcY, rop);
    return true;
  }

  Handle DrawDibOpen() override {
    std::lock_guard<std::mutex> lock(mutex_);
    return Add(Object{Kind::kDrawDib, {}, 0});
  }

  // A plain copy of the DIB's pixels onto the DC, without stretching.
  bool DrawDibDraw(Handle drawDib, Handle dc, int dstX, int dstY, int dstWidth, int dstHeight,
                   const void* bitmapInfo, const void* bits, int srcX, int srcY, int srcWidth, int srcHeight,
                   std::uint32_t) override {
    if (bitmapInfo == nullptr || bits == nullptr) return false;
    BitmapInfoHeader h;
    std::memcpy(&h, bitmapInfo, sizeof h);
    if (h.biBitCount != 24 || h.biCompression != 0 || h.biWidth <= 0 || h.biHeight <= 0) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    if (Find(drawDib, Kind::kDrawDib) == nullptr) return false;
    View d;
    if (!ViewOf(dc, &d)) return false;
    View s{static_cast<std::uint8_t*>(const_cast<void*>(bits)), h.biWidth, h.biHeight, posix::Stride24(h.biWidth)};
    Transfer(d, dstX, dstY, std::min(dstWidth, srcWidth), std::min(dstHeight, srcHeight), &s, srcX, srcY, kSrcCopy);
    return true;
  }

  bool DrawDibClose(Handle drawDib) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (Find(drawDib, Kind::kDrawDib) == nullptr) return false;
    objects_.erase(drawDib);
    return true;
  }

 private:
  Handle Add(Object o) {
    next_ += 4;
    objects_.emplace(next_, std::move(o));
    return next_;
  }

  Object* Find(Handle h, Kind kind) {
    const auto it = objects_.find(h);
    return it != objects_.end() && it->second.kind == kind ? &it->second : nullptr;
  }

  bool IsDC(Handle h) { return Find(h, Kind::kMemoryDC) != nullptr || Find(h, Kind::kScreenDC) != nullptr; }

  Handle StockBitmap() {
    if (stock_ == 0) {
      Surface s;
      s.width = 1;
      s.height = 1;
      s.stride = 4;
      s.bits = stockBits_;
      s.stock = true;
      stock_ = Add(Object{Kind::kBitmap, s, 0});
    }
    return stock_;
  }

  bool ViewOf(Handle dc, View* v) {
    if (Find(dc, Kind::kScreenDC) != nullptr) {
      *v = View{screen_.bits, screen_.width, screen_.height, screen_.stride};
      return true;
    }
    const Object* d = Find(dc, Kind::kMemoryDC);
    if (d == nullptr) return false;
    Surface& s = objects_.at(d->selected).bitmap;
    if (s.source && !Produce(s)) return false;
    *v = View{s.bits, s.width, s.height, s.stride};
    return true;
  }

  // The bitmap selected into a memory DC when its pixels are not there yet.
  Surface* DeferredIn(Handle dc) {
    const Object* d = Find(dc, Kind::kMemoryDC);
    if (d == nullptr) return nullptr;
    Surface& s = objects_.at(d->selected).bitmap;
    return s.source ? &s : nullptr;
  }

  // Gives a deferred bitmap pixel memory of its own and fills it.
  static bool Produce(Surface& s) {
    std::uint8_t* memory = MapPixels(PixelBytes(s));
    if (memory == nullptr) return false;
    try {
      s.source(memory, s.stride);
    } catch (...) {
      munmap(memory, PixelBytes(s));
      throw;
    }
    s.bits = memory;
    s.source = nullptr;
    return true;
  }

  // The rectangle clipped to both surfaces, then combined line by line.
  static void Transfer(const View& d, int x, int y, int width, int height, const View* s, int srcX, int srcY,
                       std::uint32_t rop) {
    std::int64_t x0 = x, y0 = y, sx = srcX, sy = srcY, w = width, h = height;
    if (s == nullptr) { sx = x0; sy = y0; }
    if (x0 < 0) { sx -= x0; w += x0; x0 = 0; }
    if (sx < 0) { x0 -= sx; w += sx; sx = 0; }
    if (y0 < 0) { sy -= y0; h += y0; y0 = 0; }
    if (sy < 0) { y0 -= sy; h += sy; sy = 0; }
    w = std::min({w, d.width - x0, (s ? s->width : d.width) - sx});
    h = std::min({h, d.height - y0, (s ? s->height : d.height) - sy});
    if (w <= 0 || h <= 0) return;

    if (s != nullptr && rop == kSrcCopy && s->bits == d.bits && (sx != x0 || sy != y0)) {
      // Overlapping copy within one surface: go through a copy of the source lines.
      for (std::int64_t row = 0; row < h; ++row) {
        const std::int64_t r = (sy < y0) ? h - 1 - row : row;
        std::memmove(Line(d, static_cast<std::int32_t>(y0 + r)) + 3 * x0,
                     Line(*s, static_cast<std::int32_t>(sy + r)) + 3 * sx, static_cast<std::size_t>(3 * w));
      }
      return;
    }
    if (s != nullptr && rop == kSrcCopy && x0 == 0 && y0 == 0 && sx == 0 && sy == 0 && w == d.width &&
        w == s->width && h == d.height && h == s->height && d.stride == s->stride) {
      if (d.bits != s->bits) std::memcpy(d.bits, s->bits, static_cast<std::size_t>(d.stride * h));
      return;
    }
    for (std::int64_t row = 0; row < h; ++row) {
      std::uint8_t* out = Line(d, static_cast<std::int32_t>(y0 + row)) + 3 * x0;
      const std::uint8_t* in = s ? Line(*s, static_cast<std::int32_t>(sy + row)) + 3 * sx : nullptr;
      if (rop == kSrcCopy) {
        std::memcpy(out, in, static_cast<std::size_t>(3 * w));
        continue;
      }
      for (std::int64_t i = 0; i < 3 * w; ++i) out[i] = ApplyRop(rop, in ? in[i] : 0, out[i]);
    }
  }

  std::mutex mutex_;
  std::unordered_map<Handle, Object> objects_;
  Handle next_ = 0x20000;
  Handle stock_ = 0;
  std::uint8_t stockBits_[4] = {};
  Surface screen_;
};

StandInGdi& StandIn() {
  static StandInGdi gdi;
  return gdi;
}

}  // namespace

Gdi& SystemGdi() { return StandIn(); }

namespace posix {

Handle CreateBitmap24(std::int32_t width, std::int32_t height, std::uint8_t** bits) {
  return StandIn().NewBitmap(width, height, bits, nullptr);
}

Handle CreateDeferredBitmap24(std::int32_t width, std::int32_t height, PixelSource source) {
  return source ? StandIn().NewBitmap(width, height, nullptr, std::move(source)) : 0;
}

}  // namespace posix
}  // namespace platform
