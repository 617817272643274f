#pragma once
// Several monitors of different shapes: each gets the whole framed calendar fitted into
// its own pixels instead of one wp.bmp stretched over every monitor. With one monitor,
// or monitors all of the picture's shape, nothing here changes anything: the one wp.bmp
// stays the wallpaper.
//
// The pictures are made from wp.bmp as the refresh has it in memory (or read back from
// the file) and written beside it, one per monitor ("wp-HDMI-1.bmp") or one over the
// whole screen ("wp-span.bmp"), then handed to the desktop. Between refreshes nothing
// is held but the path of the wp.bmp last handed over.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/screen.h"
#include "platform/wallpaper.h"

namespace screens {

// Three bytes a pixel; row y starts at first + y * stride (a negative stride walks a
// bottom-up DIB from its top row).
struct ConstPixels {
  const std::uint8_t* first = nullptr;
  int width = 0, height = 0;
  std::ptrdiff_t stride = 0;
};
struct Pixels {
  std::uint8_t* first = nullptr;
  int width = 0, height = 0;
  std::ptrdiff_t stride = 0;
  operator ConstPixels() const { return {first, width, height, stride}; }
};

// A 24-bit DIB's pixel memory as cDIBSection and wp.bmp hold it: bottom-up, each row
// padded to 4 bytes.
ConstPixels DibView(const std::uint8_t* bits, int width, int height);
Pixels DibView(std::uint8_t* bits, int width, int height);
std::size_t DibRowBytes(int width);

// Resampling, one axis at a time, with a tent filter as wide as a source step when
// shrinking (bilinear when enlarging): output pixel o of an axis has its centre at
// source offset + (o + 0.5) / scale - 0.5. The month-picture maker covers with it too.
void Resample(const ConstPixels& source, const Pixels& target, double scaleX, double scaleY, double offsetX,
              double offsetY);

// One axis of a resampling: output pixel o weighs `taps` neighbouring source pixels
// from first[o] on, weights in 1/16384 summing to 16384.
struct ScaleAxis {
  int taps = 0;
  std::vector<int> first, weight;
  bool identity = false;  // output o is source o: nothing to weigh
};

// The same resampling a row at a time, for a writer that sends rows as it makes them.
// Only the source rows under the row asked for are kept, scaled across; rows asked for
// in one direction (down, or up as a bottom-up file wants them) read each source row once.
class Scaler {
 public:
  Scaler(const ConstPixels& source, int width, int height, double scaleX, double scaleY, double offsetX,
         double offsetY);
  // Output row y, width pixels.
  void Row(int y, std::uint8_t* out);

 private:
  const std::int16_t* Across(int sourceRow);
  ConstPixels source_;
  int width_ = 0, height_ = 0;
  ScaleAxis across_, down_;
  std::size_t span_ = 1;
  std::vector<std::int16_t> ring_;  // source rows scaled across, 7 fractional bits
  std::vector<int> ringRow_;        // the source row each slot holds, -1 for none
  std::vector<std::int32_t> sum_;
};

// Where the whole picture goes in an area: as large as fits, aspect kept, centred.
struct Placement {
  int x = 0, y = 0, width = 0, height = 0;
};
Placement FitInside(int pictureWidth, int pictureHeight, int areaWidth, int areaHeight);

// The picture fitted into a monitor, the rest filled from the picture's own edges (the
// edge rows or columns next to the bar, blurred wide and darkened, fading darker away
// from the picture), made a row at a time while it is written, with no bitmap of the
// monitor's size in memory.
class FittedRows {
 public:
  FittedRows(const ConstPixels& picture, int width, int height);
  // Row y of the monitor, width pixels.
  void Row(int y, std::uint8_t* out);

 private:
  Placement place_;
  int width_ = 0, height_ = 0;
  Scaler inner_;
  // The edges' colours (x 256) along the picture, and the shade (x 65536, at most a
  // half) of each bar row and of each side column: 16 bits each.
  std::vector<std::uint16_t> top_, bottom_, left_, right_, rowShade_, columnShade_;
};

// Within 1 %: such a monitor shows the stretched wp.bmp undistorted.
bool SameShape(int widthA, int heightA, int widthB, int heightB);

// "wp-<name>.bmp" for an output name: letters, digits, '-' and '_' kept, runs of others
// one '-'; names the desktops' own copies use ("a", "b", "span", "...-a") get "-0".
std::string MonitorFileName(const std::string& outputName);
constexpr const char kSpannedFileName[] = "wp-span.bmp";

// The picture made for a spanned desktop: the monitors' bounding box, each monitor's
// region its own fitted picture, black between them. Origin: the box's top-left.
struct Canvas {
  int left = 0, top = 0, width = 0, height = 0;
};
Canvas SpannedCanvas(const std::vector<platform::Monitor>& layout);

// The same a row at a time, each monitor's rows made as the canvas's pass through it.
class SpannedRows {
 public:
  SpannedRows(const ConstPixels& picture, const std::vector<platform::Monitor>& layout);
  // Row y of the canvas, its width in pixels.
  void Row(int y, std::uint8_t* out);

 private:
  Canvas canvas_;
  std::vector<platform::Monitor> layout_;
  std::vector<FittedRows> monitors_;
};

// The whole 24-bit BMP file (the layout cDIBSection writes) for a DIB's pixel memory.
std::string BitmapFileHeader(int width, int height);

enum class Shown {
  kOnePicture,   // nothing per monitor: the caller makes wp.bmp the wallpaper as ever
  kEachMonitor,  // the desktop took a picture per monitor or the spanned one
  kFailed,       // a picture could not be made or the desktop refused it: retry later
};

// The one door of the refresh, after wp.bmp is written: decides one picture, a picture
// per monitor or a spanned one, makes and hands them over and removes those of monitors
// that are gone. image: wp.bmp's pixels as still in memory (DibView), or null to read
// the file back.
Shown ShowOnMonitors(const std::string& wallpaperBitmap, const ConstPixels* image, platform::Desktop& desktop,
                     const std::vector<platform::Monitor>& layout, platform::Files& files);
// The same with the services in use (platform::Current()).
Shown ShowOnMonitors(const std::string& wallpaperBitmap, const ConstPixels* image);

// The wp.bmp last handed to ShowOnMonitors and what came of it: a display change makes
// the monitors' pictures again from that file.
const std::string& LastBitmap();
Shown LastShown();

// Removes the monitors' pictures beside wallpaperBitmap (at removal and when they are
// no longer shown), but for those named in keep.
void RemoveMonitorBitmaps(platform::Files& files, const std::string& wallpaperBitmap,
                          const std::vector<std::string>& keep = {});

}  // namespace screens
