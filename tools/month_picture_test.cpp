// The month picture maker: its calendar arithmetic, its WP.ini text, and the promise
// the end-to-end tests rely on, plain background round every cell edge that any
// JPEG decoder reproduces.
#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tools/month_picture.h"

namespace zorvani {
namespace tools {
namespace {

TEST(MonthPictureCalendar, WeekdaysAndCellsOfKnownMonths) {
  EXPECT_EQ(FirstWeekday(2004, 3), 1);
  EXPECT_EQ(FirstWeekday(2004, 2), 7);
  EXPECT_EQ(FirstWeekday(2004, 1), 4);
  EXPECT_EQ(FirstWeekday(2010, 2), 1);
  EXPECT_EQ(FirstWeekday(2000, 1), 6);
  EXPECT_EQ(DaysInMonth(2004, 2), 29);
  EXPECT_EQ(DaysInMonth(1900, 2), 28);
  EXPECT_EQ(DaysInMonth(2000, 2), 29);
  int row = 0, column = 0;
  CellOf(2004, 8, 31, &row, &column);
  EXPECT_EQ(row * 10 + column, 51);
  CellOf(2004, 1, 31, &row, &column);
  EXPECT_EQ(row * 10 + column, 45);
  CellOf(2004, 2, 2, &row, &column);
  EXPECT_EQ(row * 10 + column, 10);
}

TEST(MonthPictureIni, GeometryScaledByTenToTheEleven) {
  const GridGeometry grid{0.09, 0.08, 0.12, 0.10, 0.06, 0.30};
  EXPECT_EQ(WpIniText(grid, FrameStyle{0.005, 255, 0, 0}),
            "[config]\nCELL_X=9000000000\nCELL_Y=8000000000\nSPACING_X=12000000000\nSPACING_Y=10000000000\n"
            "CORNER_X=6000000000\nCORNER_Y=30000000000\nRECT_THICKNESS=500000000\nR_COMP=255\nG_COMP=0\nB_COMP=0\n");
}

TEST(MonthPictureDrawing, CellEdgesArePlainAndSurviveJpeg) {
  for (const auto& [width, height] : {std::pair<int, int>{1280, 800}, {640, 400}, {1024, 768}}) {
    const MonthPictureSettings settings{2004, 8, width, height, GridGeometry()};
    const RgbImage drawn = DrawMonthPicture(settings);
    const std::vector<std::uint8_t> jpeg = EncodeJpeg(drawn, 92);
    std::vector<std::uint8_t> decoded(drawn.pixels.size());
    tjhandle decoder = tjInitDecompress();
    ASSERT_EQ(tjDecompress2(decoder, jpeg.data(), jpeg.size(), decoded.data(), width, 0, height, TJPF_RGB, 0), 0);
    tjDestroy(decoder);

    // A strip of FlatMargin pixels on each side of every edge of every cell.
    const int margin = FlatMargin(settings);
    EXPECT_GE(margin, width >= 1280 ? 9 : 4);
    int worst = 0;
    for (int row = 0; row < 6; ++row) {
      for (int column = 0; column < 7; ++column) {
        const CellRect cell = CellRectOf(settings.grid, width, height, row, column);
        for (int y = cell.top - margin; y < cell.bottom + margin; ++y) {
          for (int x = cell.left - margin; x < cell.right + margin; ++x) {
            if (x >= cell.left + margin && x < cell.right - margin && y >= cell.top + margin &&
                y < cell.bottom - margin) {
              continue;  // where the tile with the day number may lie
            }
            const std::size_t at = (static_cast<std::size_t>(y) * width + x) * 3;
            ASSERT_EQ(drawn.pixels[at], drawn.pixels[0 + (static_cast<std::size_t>(height - 1) * width) * 3])
                << width << "x" << height << " pixel " << x << "," << y << " is not paper";
            for (int c = 0; c < 3; ++c) worst = std::max(worst, std::abs(drawn.pixels[at + c] - decoded[at + c]));
          }
        }
      }
    }
    EXPECT_LE(worst, 1) << width << "x" << height;
  }
}

TEST(MonthPictureCalendarFolder, TwelveMonthsAndTheirIni) {
  const auto folder = std::filesystem::temp_directory_path() / "zorvani-calendar-test";
  WriteCalendar(folder.string(), 2005, 160, 100, 80);
  tjhandle decoder = tjInitDecompress();
  for (int month = 1; month <= 12; ++month) {
    std::ifstream file(folder / "Zorvani2005" / (std::to_string(month) + ".jpg"), std::ios::binary);
    const std::string jpeg((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    EXPECT_EQ(tjDecompressHeader3(decoder, reinterpret_cast<const unsigned char*>(jpeg.data()), jpeg.size(), &width,
                                  &height, &subsampling, &colourspace),
              0)
        << month;
    EXPECT_EQ(width * 1000 + height, 160100) << month;
  }
  tjDestroy(decoder);
  std::stringstream ini;
  ini << std::ifstream(folder / "WP.ini").rdbuf();
  EXPECT_EQ(ini.str(), WpIniText(GridGeometry()));
  std::filesystem::remove_all(folder);

  EXPECT_THROW(DrawMonthPicture(MonthPictureSettings{2004, 13, 1280, 800, GridGeometry()}), std::invalid_argument);
  EXPECT_THROW(DrawMonthPicture(MonthPictureSettings{2004, 1, 8, 800, GridGeometry()}), std::invalid_argument);
}

}  // namespace
}  // namespace tools
}  // namespace zorvani
