// A whole refresh against fake picture, registry and desktop services, with real
// image drawing and real files: paths, order of effects, and every failure path.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "dib/cDIBSection.h"
#include "general/general.h"
#include "platform/process.h"
#include "platform/services.h"
#include "runtime/runtime_error.h"
#include "fakes/faulty_files.h"
#include "fakes/scripted_clock.h"
#include "fakes/services_guard.h"

namespace zorvani {
namespace {

namespace fs = std::filesystem;
using testing::At;

// Effects in the order they happen, across registry and desktop.
using EffectLog = std::vector<std::string>;

class GreyPicture : public platform::Picture {
 public:
  GreyPicture(std::int32_t width, std::int32_t height) : width_(width), height_(height) {
    tBitmapInfo info{};
    info.biSize = 40;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    void* bits = nullptr;
    handle_ = platform::SystemGdi().CreateDIBSection(0, &info, 0, &bits);
    if (bits != nullptr) std::memset(bits, 0x80, static_cast<std::size_t>((width * 3 + 3) & ~3) * height);
  }
  ~GreyPicture() override { platform::SystemGdi().DeleteObject(handle_); }
  platform::Handle BitmapHandle() const override { return handle_; }
  std::int32_t Width() const override { return width_; }
  std::int32_t Height() const override { return height_; }

 private:
  std::int32_t width_, height_;
  platform::Handle handle_ = 0;
};

class FakePictures : public platform::PictureLoader {
 public:
  std::unique_ptr<platform::Picture> LoadPicture(const std::string& fileName) override {
    requested.push_back(fileName);
    if (missing) Raise(kErrFileNotFound);
    return std::make_unique<GreyPicture>(100, 100);
  }
  std::vector<std::string> requested;
  bool missing = false;
};

class RecordingRegistry : public platform::Registry {
 public:
  explicit RecordingRegistry(EffectLog& log) : log_(log) {}
  long RegOpenKeyExA(std::uint32_t root, const std::string& subKey, std::uint32_t, std::uint32_t access,
                     platform::Handle* key) override {
    log_.push_back("open " + std::to_string(root) + " " + subKey + " " + std::to_string(access));
    *key = 42;
    return platform::kErrorSuccess;
  }
  long RegQueryValueExA(platform::Handle, const std::string&, std::uint32_t*, std::uint8_t*, std::uint32_t*) override {
    return platform::kErrorFileNotFound;
  }
  long RegSetValueExA(platform::Handle, const std::string& name, std::uint32_t type, const std::uint8_t* data,
                      std::uint32_t size) override {
    log_.push_back("set " + name + "=" + std::string(reinterpret_cast<const char*>(data), size) + " type " +
                   std::to_string(type));
    return platform::kErrorSuccess;
  }
  long RegCloseKey(platform::Handle) override { return platform::kErrorSuccess; }

 private:
  EffectLog& log_;
};

class RecordingDesktop : public platform::Desktop {
 public:
  explicit RecordingDesktop(EffectLog& log) : log_(log) {}
  bool SystemParametersInfoA(std::uint32_t action, std::uint32_t param, const std::string& path,
                             std::uint32_t flags) override {
    log_.push_back("wallpaper " + std::to_string(action) + " " + std::to_string(param) + " " + path + " " +
                   std::to_string(flags));
    return true;
  }

 private:
  EffectLog& log_;
};

std::vector<unsigned char> ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class RefreshTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("zorvani-refresh-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    BaseDir = folder_.string() + platform::PathSeparator();
    platform::Current().clock = &clock_;
    platform::Current().pictures = &pictures_;
    platform::Current().registry = &registry_;
    platform::Current().desktop = &desktop_;
    // The example calendar: cells 0.09 x 0.08, columns 0.12 apart from 0.06, rows 0.10 apart from 0.30.
    Config = ConfigRecord{0.09, 0.08, 0.12, 0.10, 0.06, 0.30, 0.01, 255, 0, 0};
  }
  void TearDown() override {
    BaseDir.clear();
    Config = ConfigRecord{};
    fs::remove_all(folder_);
  }
  std::string Bitmap() const { return BaseDir + "wp.bmp"; }

  // Blue, green, red of the pixel in column x of picture line y (from the top) of wp.bmp.
  std::vector<unsigned> PixelOfBitmap(int x, int y) {
    const auto bytes = ReadAll(Bitmap());
    const std::size_t row = 100 - 1 - static_cast<std::size_t>(y);
    const std::size_t at = 58 + row * 300 + 3 * static_cast<std::size_t>(x);
    return {bytes.at(at), bytes.at(at + 1), bytes.at(at + 2)};
  }

  testing::ServicesGuard guard_;
  fs::path folder_;
  testing::ScriptedClock clock_{{At(2004, 8, 31)}};
  FakePictures pictures_;
  EffectLog log_;
  RecordingRegistry registry_{log_};
  RecordingDesktop desktop_{log_};
};

TEST_F(RefreshTest, FramesTodayAndAppliesTheBitmap) {
  clock_.Set(At(2004, 8, 31));
  ASSERT_EQ(RefreshWallpaper(), 0);

  ASSERT_EQ(pictures_.requested.size(), 1u);
  EXPECT_EQ(pictures_.requested[0], BaseDir + "Zorvani2004" + platform::PathSeparator() + "8.jpg");
  EXPECT_EQ(ReadAll(Bitmap()).size(), 58u + 300u * 100u);
  // 31 August 2004 is row 5, column 1: left 0.18 and top 0.80 give column 18, picture line 79.
  EXPECT_EQ(PixelOfBitmap(18, 79), (std::vector<unsigned>{0, 0, 255}));
  EXPECT_EQ(PixelOfBitmap(27, 79), (std::vector<unsigned>{0, 0, 255}));
  EXPECT_EQ(PixelOfBitmap(17, 79), (std::vector<unsigned>{0x80, 0x80, 0x80}));
  EXPECT_EQ(PixelOfBitmap(18, 78), (std::vector<unsigned>{0x80, 0x80, 0x80}));
  EXPECT_EQ(PixelOfBitmap(22, 82), (std::vector<unsigned>{0x80, 0x80, 0x80}));

  const std::string openDesktop = "open " + std::to_string(0x80000001u) + " CONTROL PANEL\\DESKTOP " + std::to_string(0x20006);
  const EffectLog expected = {openDesktop, "set TileWallpaper=0" + std::string(1, '\0') + " type 1",
                              openDesktop, "set WallpaperStyle=2" + std::string(1, '\0') + " type 1",
                              "wallpaper 20 0 " + Bitmap() + " 3"};
  EXPECT_EQ(log_, expected);
  EXPECT_EQ(CalendarImage, nullptr);
}

TEST_F(RefreshTest, YearAndMonthComeFromSeparateClockReadings) {
  // The first reading gives the year, the second the month: across New Year's midnight
  // the picture of January 2004 is asked for, as the readings say.
  clock_ = testing::ScriptedClock({At(2004, 12, 31, 23, 59, 59), At(2005, 1, 1, 0, 0, 0)});
  EXPECT_EQ(RefreshWallpaper(), 0);
  ASSERT_EQ(pictures_.requested.size(), 1u);
  EXPECT_EQ(pictures_.requested[0], BaseDir + "Zorvani2004" + platform::PathSeparator() + "1.jpg");
  EXPECT_EQ(clock_.readings(), 3);
}

TEST_F(RefreshTest, EmptyBaseDirGivesRelativePaths) {
  BaseDir.clear();
  clock_.Set(At(2004, 5, 5));
  pictures_.missing = true;
  EXPECT_EQ(RefreshWallpaper(), -1);
  EXPECT_EQ(pictures_.requested.at(0), std::string("Zorvani2004") + platform::PathSeparator() + "5.jpg");
}

TEST_F(RefreshTest, FailuresLeaveEverythingAsItWas) {
  std::ofstream(Bitmap(), std::ios::binary) << "previous wallpaper";
  const auto previous = ReadAll(Bitmap());

  pictures_.missing = true;  // the month picture is missing
  EXPECT_EQ(RefreshWallpaper(), -1);
  pictures_.missing = false;

  Config.CELL_X = 1000.0;  // the frame cannot be scaled to 16-bit pixels
  EXPECT_EQ(RefreshWallpaper(), -1);
  Config.CELL_X = 0.09;

  fakes::FaultyFiles failingThirdWrite(3);  // the pixel rows cannot be written
  platform::Current().files = &failingThirdWrite;
  EXPECT_EQ(RefreshWallpaper(), -1);
  platform::Current().files = &platform::SystemFiles();

  EXPECT_EQ(ReadAll(Bitmap()), previous);
  EXPECT_TRUE(log_.empty()) << log_.front();
  EXPECT_EQ(CalendarImage, nullptr);

  BaseDir = (folder_ / "no such folder").string() + platform::PathSeparator();  // wp.bmp cannot be created
  EXPECT_EQ(RefreshWallpaper(), -1);
  EXPECT_TRUE(log_.empty());
  EXPECT_FALSE(fs::exists(folder_ / "no such folder"));
}

TEST_F(RefreshTest, FrameStoppedByTheEdgeIsStillSaved) {
  Config.R_COMP = 256;  // the drawing stops silently at the first red byte
  EXPECT_EQ(RefreshWallpaper(), 0);
  EXPECT_EQ(PixelOfBitmap(18, 79), (std::vector<unsigned>{0, 0, 0x80}));
  EXPECT_EQ(log_.size(), 5u);
}

}  // namespace
}  // namespace zorvani
