#include "tools/calibrate/calibrate.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <random>
#include <regex>

#include "platform/replace_file.h"
#include "platform/services.h"
#include "runtime/rounding.h"
#include "runtime/runtime_error.h"
#include "tools/common/wp_ini.h"

namespace zorvani {
namespace calibrate {
namespace fs = std::filesystem;

PixelBox PixelGrid::CellBox(int row, int column) const {
  const int left = static_cast<int>(std::lround(x + column * dx));
  const int top = static_cast<int>(std::lround(y + row * dy));
  return {left, top, left + width, top + height};
}

bool YearMonthFromPath(const std::string& path, int* year, int* month) {
  static const std::regex kMonthPath(R"((?:^|[/\\])Zorvani(\d{4})[/\\](\d{1,2})\.jpe?g$)", std::regex::icase);
  std::smatch match;
  if (!std::regex_search(path, match, kMonthPath)) return false;
  const int m = std::stoi(match[2].str());
  if (m < 1 || m > 12) return false;
  *year = std::stoi(match[1].str());
  *month = m;
  return true;
}

MonthPicture LoadMonthPicture(const std::string& path, int year, int month) {
  MonthPicture result;
  if (year == 0 || month == 0) YearMonthFromPath(path, &result.year, &result.month);
  if (year != 0) result.year = year;
  if (month != 0) result.month = month;
  std::unique_ptr<platform::Picture> picture;
  try {
    picture = platform::Current().pictures->LoadPicture(path);
  } catch (const RuntimeError& error) {
    Raise(error.number(), path + ": " + error.description());
  }
  result.image = std::make_unique<cDIBSection>();
  result.image->CreateFromPicture(*picture);
  if (result.image->DIBSectionBitsPtr() == nullptr || result.image->width() <= 0) {
    Raise(kErrInvalidPicture, "the picture could not be copied into a bitmap");
  }
  return result;
}

std::string WpIniFor(const PixelGrid& grid, int pictureWidth, int pictureHeight, const Colour& colour, int firstDay) {
  // drawRect outlines width + 1 columns from `left`, and its row coordinate y is picture line y - 1.
  const double w = pictureWidth, h = pictureHeight;
  tools::GridGeometry geometry;
  geometry.CELL_X = (grid.width - 1) / w;
  geometry.CELL_Y = (grid.height - 1) / h;
  geometry.SPACING_X = grid.dx / w;
  geometry.SPACING_Y = grid.dy / h;
  geometry.CORNER_X = grid.x / w;
  geometry.CORNER_Y = (grid.y + 1) / h;
  const tools::FrameStyle frame{grid.thickness / w, colour.r, colour.g, colour.b};
  return tools::WpIniText(geometry, frame, firstDay);
}

void ReadWpIni(const std::string& path) {
  Config = ConfigRecord{};
  // The Windows profile reader looks for a bare name in the Windows folder.
  LoadConfigFrom(fs::absolute(path).string());
}

FrameProbe::FrameProbe(int width, int height) {
  if (image_.Create(width, height) == kFalse || image_.DIBSectionBitsPtr() == nullptr) {
    Raise(kErrInternal, "no bitmap of " + std::to_string(width) + " x " + std::to_string(height) + " for the check");
  }
  std::fill_n(image_.DIBSectionBitsPtr(), static_cast<std::size_t>(image_.BytesPerScanLine()) * height, 0);
}

FrameProbe::Drawn FrameProbe::Draw(CalendarCell cell) {
  // Drawn in white whatever the configured colour, so that every drawn pixel shows on the black.
  const ConfigRecord configured = Config;
  Config.R_COMP = Config.G_COMP = Config.B_COMP = 255;
  DrawCellFrame(image_, cell);
  Config = configured;
  const int width = image_.width(), height = image_.height(), stride = image_.BytesPerScanLine();
  std::uint8_t* bits = image_.DIBSectionBitsPtr();
  Drawn drawn;
  drawn.box = {width, height, 0, 0};
  for (int stored = 0; stored < height; ++stored) {
    std::uint8_t* row = bits + static_cast<std::size_t>(stored) * stride;
    if (std::all_of(row, row + stride, [](std::uint8_t v) { return v == 0; })) continue;
    const int line = height - 1 - stored;
    for (int x = 0; x < stride / 3; ++x) {
      if ((row[3 * x] | row[3 * x + 1] | row[3 * x + 2]) == 0) continue;
      ++drawn.pixels;
      drawn.box = {std::min(drawn.box.left, x), std::min(drawn.box.top, line), std::max(drawn.box.right, x + 1),
                   std::max(drawn.box.bottom, line + 1)};
    }
    std::fill(row, row + stride, 0);  // blank again for the next cell
  }
  if (drawn.pixels == 0) drawn.box = {};
  return drawn;
}

long long FramePixels(const PixelBox& box, int thickness) {
  const long long w = box.right - box.left, h = box.bottom - box.top;
  const long long inner = std::max(0LL, w - 2LL * thickness) * std::max(0LL, h - 2LL * thickness);
  return w * h - inner;
}

namespace {

std::string BoxText(const PixelBox& box) {
  return "x " + std::to_string(box.left) + ".." + std::to_string(box.right - 1) + ", y " + std::to_string(box.top) +
         ".." + std::to_string(box.bottom - 1);
}

}  // namespace

std::string CheckAgainstGrid(const PixelGrid& grid, int pictureWidth, int pictureHeight) {
  FrameProbe probe(pictureWidth, pictureHeight);
  for (int index = 0; index <= 36; ++index) {
    const int row = index / 7, column = index % 7;
    const PixelBox wanted = grid.CellBox(row, column);
    const FrameProbe::Drawn drawn = probe.Draw({static_cast<std::int16_t>(row), static_cast<std::int16_t>(column)});
    if (drawn.box.left != wanted.left || drawn.box.top != wanted.top || drawn.box.right != wanted.right ||
        drawn.box.bottom != wanted.bottom || drawn.pixels != FramePixels(wanted, grid.thickness)) {
      return "the frame of row " + std::to_string(row) + ", column " + std::to_string(column) + " should cover " +
             BoxText(wanted) + " but " +
             (drawn.pixels == 0 ? std::string("nothing is drawn") : "covers " + BoxText(drawn.box)) +
             (wanted.left < 0 || wanted.top < 0 || wanted.right > pictureWidth || wanted.bottom > pictureHeight
                  ? " (it does not fit in the " + std::to_string(pictureWidth) + " x " +
                        std::to_string(pictureHeight) + " picture)"
                  : "");
    }
  }
  return "";
}

std::string WriteChecked(const std::string& text, const std::string& output,
                         const std::function<std::string(const std::string&)>& check) {
  // Checked in a file of its own, beside the output or under a name of its own in the
  // shared temporary folder; both are replaced whole, never written through a link.
  const std::string file = output.empty() ? (fs::temp_directory_path() / ("zorvani-calibrate-" +
                                                                        std::to_string(std::random_device{}()) + ".ini")).string()
                                          : output + ".new";
  std::string problem;
  if (!platform::ReplaceFileWith(file, text, &problem)) return problem;
  try {
    problem = check(file);
  } catch (const RuntimeError& error) {
    problem = "checking the result failed: " + RunTimeErrorReport(error);
  }
  std::error_code ignored;
  fs::remove(file, ignored);
  if (problem.empty() && output.empty()) std::cout << text << std::flush;
  if (!problem.empty() || output.empty()) return problem;
  platform::ReplaceFileWith(output, text, &problem);
  return problem;
}

void DrawMonthFrames(MonthPicture& picture) {
  if (picture.year == 0 || picture.month == 0) {
    for (int index = 0; index <= 36; ++index) {
      DrawCellFrame(*picture.image, {static_cast<std::int16_t>(index / 7), static_cast<std::int16_t>(index % 7)});
    }
    return;
  }
  for (int day = 1; day <= DaysInMonth(picture.year, picture.month); ++day) {
    DrawCellFrame(*picture.image, CalendarCellOf(picture.year, picture.month, day, Config.FIRST_DAY));
  }
}

}  // namespace calibrate
}  // namespace zorvani
