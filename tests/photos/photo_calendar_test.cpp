// The photo calendar maker against generated photos: where the calendar lands, whether
// every number reads, and whether the program's own frame drawing, fed the written
// WP.ini, frames the right number on every day of the year.
#include <gtest/gtest.h>
#include <png.h>
#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>
#include <zlib.h>

#include "general/general.h"
#include "tools/calibrate/calibrate.h"
#include "tools/calendar/photo_calendar.h"
#include "tools/calendar/photo_files.h"

#include "common/files.h"
#include "setup/command.h"

namespace {

namespace fs = std::filesystem;
using zorvani::tools::RgbImage;

constexpr int kWidth = 960, kHeight = 600;

using Folder = testing_files::TempFolder;

struct Box {
  double left, top, right, bottom;  // fractions of the picture
};

// Coarse random colour blocks everywhere but in `calm`, which holds a soft gradient of
// a colour of the photo's own (dark in some, light in others) with a faint grain, as a
// sky has: summed over a year of photos the grain is more than one photo's busy detail.
constexpr int kGrain = 8;
RgbImage NoisyPhoto(int width, int height, const Box* calm, int seed) {
  std::mt19937 random(static_cast<unsigned>(seed));
  RgbImage image{width, height, std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 3)};
  std::vector<std::uint8_t> blocks(static_cast<std::size_t>(width / 6 + 1) * (height / 6 + 1) * 3);
  for (auto& b : blocks) b = static_cast<std::uint8_t>(random() % 256);
  const int base = seed % 2 == 0 ? 40 : 210;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = &image.pixels[(static_cast<std::size_t>(y) * width + x) * 3];
      const double u = static_cast<double>(x) / width, v = static_cast<double>(y) / height;
      const bool quiet = calm != nullptr && u >= calm->left && u < calm->right && v >= calm->top && v < calm->bottom;
      for (int c = 0; c < 3; ++c) {
        const std::uint8_t block = blocks[(static_cast<std::size_t>(y / 6) * (width / 6 + 1) + x / 6) * 3 + c];
        p[c] = quiet ? static_cast<std::uint8_t>(base + 20 * v + 10 * c + block % kGrain) : block;
      }
    }
  }
  return image;
}

std::string Png(const RgbImage& image) {
  png_image png{};
  png.version = PNG_IMAGE_VERSION, png.format = PNG_FORMAT_RGB;
  png.width = static_cast<png_uint_32>(image.width), png.height = static_cast<png_uint_32>(image.height);
  png_alloc_size_t size = PNG_IMAGE_PNG_SIZE_MAX(png);
  std::string bytes(size, '\0');
  EXPECT_TRUE(png_image_write_to_memory(&png, bytes.data(), &size, 0, image.pixels.data(), 0, nullptr));
  return bytes.substr(0, size);
}

struct Case {
  const char* name;
  bool calm;
  Box region;
  int photos;
  const char* locale;
  const char* march;  // the third month's title
  int quality = 92;   // low: JPEG's blur takes contrast from the ink, which the maker must win back
  int width = kWidth, height = kHeight;
  double smallest = 1, largest = 1;  // the block's scale
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }  // names the row in CTest's list

class PhotoCalendar : public ::testing::TestWithParam<Case> {};

TEST_P(PhotoCalendar, PrintsAReadableCalendarWhereTheFrameFindsIt) {
  const Case& c = GetParam();
  Folder photos, calendar;
  for (int i = 0; i < c.photos; ++i) {
    const RgbImage photo = NoisyPhoto(2 * c.width, 2 * c.height, c.calm ? &c.region : nullptr, i);
    const std::string name = photos.path.string() + "/" + static_cast<char>('a' + i);
    const auto jpeg = zorvani::tools::EncodeJpeg(photo, 90);
    zorvani::tools::WriteTextFile(name + (i % 2 ? ".JPG" : ".png"), i % 2 ? std::string(jpeg.begin(), jpeg.end()) : Png(photo));
  }
  zorvani::tools::PhotoCalendarSettings settings{2027, c.width, c.height, c.quality, c.locale, {}};
  // A holiday's name from a feed: printed as it stands, markup and all, under its number.
  settings.holidays[2] = 1u << 17;
  settings.holidayNames[2][17] = "<b>Fête</b>";
  const auto report = zorvani::tools::WritePhotoCalendar(zorvani::tools::PhotoFiles(photos.path), calendar.path, settings);

  const auto& p = report.placement;
  EXPECT_EQ(p.calm, c.calm) << "detail " << p.detail;
  EXPECT_GE(p.scale, c.smallest);
  EXPECT_LE(p.scale, c.largest);
  // Every frame of every month stands in the calm part.
  const Box calm{c.region.left * c.width, c.region.top * c.height, c.region.right * c.width, c.region.bottom * c.height};
  EXPECT_EQ(report.titles[2], c.march);

  zorvani::LoadConfigFrom(calendar.path.string() + "/WP.ini");
  for (int month = 1; month <= 12; ++month) {
    SCOPED_TRACE("month " + std::to_string(month));
    EXPECT_TRUE(c.calm || report.panelAlpha[static_cast<std::size_t>(month - 1)] >= 0.45) << "a panel behind it";
    const RgbImage picture = zorvani::tools::ReadPhoto((calendar / "Zorvani2027" / (std::to_string(month) + ".jpg")).string());
    ASSERT_EQ(std::make_pair(picture.width, picture.height), std::make_pair(c.width, c.height));
    const auto& printed = report.printed[static_cast<std::size_t>(month - 1)];
    std::array<std::vector<int>, 2> heights;  // of weekday and weekend numbers: the weekend's are underlined
    for (const auto& text : printed) {
      if (text.day == 0) continue;
      // The named holiday's number is smaller, to make room for its name.
      if (month != 3 || text.day != 17) heights[zorvani::CalendarCellOf(2027, month, text.day).column >= 5].push_back(text.bottom - text.top);
      EXPECT_GE(text.contrast, 4.5) << "day " << text.day;  // measured on the written JPEG
      // The frame encloses this day's number, clear of its lines, and no other number.
      // As the program draws it, with the written WP.ini.
      const auto f = zorvani::calibrate::FrameProbe(c.width, c.height).Draw(zorvani::CalendarCellOf(2027, month, text.day)).box;
      const double t = zorvani::Config.RECT_THICKNESS * c.width;
      if (c.calm) {
        EXPECT_TRUE(f.left >= calm.left && f.top >= calm.top && f.right <= calm.right && f.bottom <= calm.bottom)
            << "the frame of day " << text.day << " at " << f.left << "," << f.top << ".." << f.right << "," << f.bottom;
      }
      EXPECT_TRUE(text.left >= f.left + t && text.right <= f.right - t && text.top >= f.top + t &&
                  text.bottom <= f.bottom - t)
          << "day " << text.day << " at " << text.left << "," << text.top << " frame " << f.left << "," << f.top;
      for (const auto& other : printed)
        EXPECT_TRUE(other.day == 0 || other.day == text.day || other.right <= f.left || other.left >= f.right ||
                    other.bottom <= f.top || other.top >= f.bottom) << "day " << other.day << " inside the frame of " << text.day;
    }
    EXPECT_LT(*std::max_element(heights[0].begin(), heights[0].end()), *std::min_element(heights[1].begin(), heights[1].end()));
    // The title and the weekday names, left to right: Saturday's and Sunday's over the last two columns.
    std::vector<std::pair<int, bool>> headings;
    for (const auto& text : printed)
      if (text.day == 0 && text.nameOf == 0) headings.emplace_back(text.left, text.weekend);
    std::sort(headings.begin(), headings.end());
    std::vector<bool> weekend;
    for (const auto& heading : headings) weekend.push_back(heading.second);
    EXPECT_EQ(weekend, (std::vector<bool>{false, false, false, false, false, false, true, true}));
    const auto name = std::find_if(printed.begin(), printed.end(), [](const auto& text) { return text.nameOf != 0; });
    // Where there is room: on a full-HD picture, not on the small ones.
    ASSERT_EQ(name != printed.end() ? name->nameOf : 0, month == 3 && c.height >= 1080 ? 17 : 0);
    if (name == printed.end()) continue;
    const auto number = std::find_if(printed.begin(), printed.end(), [](const auto& text) { return text.day == 17; });
    const auto f = zorvani::calibrate::FrameProbe(c.width, c.height).Draw(zorvani::CalendarCellOf(2027, 3, 17)).box;
    const double t = zorvani::Config.RECT_THICKNESS * c.width;
    EXPECT_TRUE(name->left >= f.left + t && name->right <= f.right - t && name->top >= number->bottom &&
                name->bottom <= f.bottom - t && name->right - name->left > 2 * (name->bottom - name->top))
        << "the name at " << name->left << "," << name->top << ".." << name->right << "," << name->bottom;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Photos, PhotoCalendar,
    ::testing::Values(
        Case{"CalmTopLeftLowQuality", true, {0.03, 0.04, 0.50, 0.72}, 12, "de_DE.UTF-8", "März 2027", 30},
        Case{"CalmBottomRightFivePhotosReused", true, {0.55, 0.30, 0.97, 0.97}, 5, "fr_FR.UTF-8", "Mars 2027"},
        Case{"NothingCalmLowQuality", false, {}, 3, "C", "March 2027", 30},
        // Calm only in a band a little wider than the block: the border gives way, the block keeps its size.
        Case{"CalmBandJustWiderThanTheBlock", true, {0.30, 0.0, 0.70, 1.0}, 12, "C", "March 2027", 92, 1920, 1080},
        // A band narrower than the block: the block shrinks to fit it.
        Case{"CalmBandNarrowerThanTheBlock", true, {0.55, 0.0, 0.88, 1.0}, 12, "C", "March 2027", 92,
             kWidth, kHeight, 0.7, 0.9}),
    [](const ::testing::TestParamInfo<Case>& param) { return std::string(param.param.name); });

// A round dot stays round and in the middle when the photo's shape differs from the picture's.
TEST(PhotoScaling, CoversWithoutDistortion) {
  for (const auto& [w, h, outW, outH] : std::vector<std::array<int, 4>>{{1600, 900, 600, 600}, {500, 1000, 800, 450}}) {
    RgbImage photo{w, h, std::vector<std::uint8_t>(static_cast<std::size_t>(w) * h * 3, 255)};
    const double r = std::min(w, h) / 4.0, scale = std::max(1.0 * outW / w, 1.0 * outH / h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        if (std::hypot(x + 0.5 - w / 2.0, y + 0.5 - h / 2.0) < r) photo.pixels[(static_cast<std::size_t>(y) * w + x) * 3] = 0;
    const RgbImage out = zorvani::tools::ScaleToCover(photo, outW, outH);
    Box dot{1e9, 1e9, 0, 0};
    for (int y = 0; y < outH; ++y)
      for (int x = 0; x < outW; ++x)
        if (out.pixels[(static_cast<std::size_t>(y) * outW + x) * 3] < 128)
          dot = {std::min(dot.left, x + 0.0), std::min(dot.top, y + 0.0), std::max(dot.right, x + 1.0), std::max(dot.bottom, y + 1.0)};
    EXPECT_NEAR(dot.right - dot.left, 2 * r * scale, 1.5) << w << "x" << h;
    EXPECT_NEAR(dot.bottom - dot.top, 2 * r * scale, 1.5) << w << "x" << h;
    EXPECT_NEAR(dot.left + dot.right, outW, 2.0);
    EXPECT_NEAR(dot.top + dot.bottom, outH, 2.0);
  }
}

// A photo with no detail anywhere: the calendar takes the first place in reading order.
TEST(PhotoPlacement, AFlatPhotoPlacesTheBlockTopLeft) {
  const RgbImage flat{kWidth, kHeight, std::vector<std::uint8_t>(kWidth * kHeight * 3, 128)};
  const auto p = zorvani::tools::FindCalmPlacement({flat}, kWidth / 3, kHeight / 3);
  EXPECT_TRUE(p.calm);
  EXPECT_LE(p.left, kWidth / 20);
  EXPECT_LE(p.top, kHeight / 16);
}

// Photos in the order people number them, other files left out; and a camera's
// orientation tag turns the picture upright.
TEST(PhotoInput, NameOrderAndOrientation) {
  Folder folder;
  for (const char* name : {"10.jpg", "2.PNG", "1.jpeg", "notes.txt", "b.jpg", "a10.png", "a9.png"})
    zorvani::tools::WriteTextFile((folder / name).string(), "");
  std::vector<std::string> names;
  for (const std::string& path : zorvani::tools::PhotoFiles(folder.path)) names.push_back(fs::path(path).filename().string());
  EXPECT_EQ(names, (std::vector<std::string>{"1.jpeg", "2.PNG", "10.jpg", "a9.png", "a10.png", "b.jpg"}));

  // 32 x 16, dark left half; the tag goes in an APP1 segment right after the start marker.
  RgbImage photo{32, 16, std::vector<std::uint8_t>(32 * 16 * 3, 255)};
  for (int y = 0; y < 16; ++y) std::fill_n(&photo.pixels[static_cast<std::size_t>(y) * 96], 48, std::uint8_t{0});
  const auto jpeg = zorvani::tools::EncodeJpeg(photo, 95);
  // Orientation, width and height upright, and which of the upright picture's corners is dark.
  for (const auto& [orientation, width, height, darkX, darkY] : std::vector<std::array<int, 5>>{
           {1, 32, 16, 0, 0}, {3, 32, 16, 31, 0}, {6, 16, 32, 0, 0}, {8, 16, 32, 0, 31}, {2, 32, 16, 31, 15}, {5, 16, 32, 0, 0}}) {
    const std::string exif = std::string("\xFF\xE1\x00\x22" "Exif\0\0" "MM\x00\x2A\x00\x00\x00\x08" "\x00\x01", 20) +
                             std::string("\x01\x12\x00\x03\x00\x00\x00\x01", 8) + static_cast<char>(0) +
                             static_cast<char>(orientation) + std::string(6, '\0');
    zorvani::tools::WriteTextFile(folder.path.string() + "/turned.jpg",
                                  std::string(jpeg.begin(), jpeg.begin() + 2) + exif + std::string(jpeg.begin() + 2, jpeg.end()));
    // Asked for the upright width: a turned photo is not decoded smaller than that.
    const RgbImage upright = zorvani::tools::ReadPhoto(folder.path.string() + "/turned.jpg", width, height / 4);
    ASSERT_EQ(upright.width, width) << orientation;
    ASSERT_EQ(upright.height, height) << orientation;
    EXPECT_LT(upright.pixels[(static_cast<std::size_t>(darkY) * width + darkX) * 3], 64) << orientation;
    EXPECT_GT(upright.pixels[(static_cast<std::size_t>(height - 1 - darkY) * width + width - 1 - darkX) * 3], 192) << orientation;
  }
}

// A JPEG streamed row by row: noise, or one flat colour that compresses to little
// however large the photo; in colour or, as print shops keep them, in CMYK.
std::string StreamedJpeg(int width, int height, bool progressive, bool noise, bool cmyk = false) {
  jpeg_compress_struct c{};
  jpeg_error_mgr errors{};
  c.err = jpeg_std_error(&errors);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = static_cast<JDIMENSION>(width), c.image_height = static_cast<JDIMENSION>(height);
  c.input_components = cmyk ? 4 : 3, c.in_color_space = cmyk ? JCS_CMYK : JCS_RGB;
  jpeg_set_defaults(&c);
  if (progressive) jpeg_simple_progression(&c);
  jpeg_start_compress(&c, TRUE);
  std::mt19937 random(7);
  std::vector<JSAMPLE> row(static_cast<std::size_t>(width) * c.input_components, 90);
  while (c.next_scanline < c.image_height) {
    if (noise) std::generate(row.begin(), row.end(), [&] { return static_cast<JSAMPLE>(random() % 256); });
    JSAMPROW rows = row.data();
    jpeg_write_scanlines(&c, &rows, 1);
  }
  jpeg_finish_compress(&c);
  std::string bytes(reinterpret_cast<const char*>(out), size);
  std::free(out);
  jpeg_destroy_compress(&c);
  return bytes;
}

std::string NoiseJpeg() { return StreamedJpeg(320, 200, false, true); }

// A tiny progressive file whose frame header claims another height and width.
std::string Claiming(const std::string& heightWidth, bool cmyk) {
  std::string jpeg = StreamedJpeg(16, 16, true, true, cmyk);
  return jpeg.replace(jpeg.find("\xFF\xC2") + 5, 4, heightWidth);
}

std::string NoisePng() { return Png(NoisyPhoto(320, 200, nullptr, 3)); }

// The same with an IHDR that claims 70000 x 1000, its checksum mended.
std::string PngWiderThanAnyCamera() {
  std::string png = NoisePng();
  png.replace(16, 8, std::string("\0\x01\x11\x70\0\0\x03\xE8", 8));
  const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(png.data() + 12), 17);
  for (int i = 0; i < 4; ++i) png[static_cast<std::size_t>(29 + i)] = static_cast<char>(crc >> (24 - 8 * i));
  return png;
}

struct HostilePhoto {
  const char* name;
  const char* file;
  std::string (*bytes)();
  std::vector<std::string> options;  // after --size: the size, then any others
  const char* refusal;   // in the message, after the folder; nullptr: the calendar is made
  bool headerAccepts;    // by the header walk that the Windows reader relies on
};

const HostilePhoto kHostilePhotos[] = {
    {"Claims40000x40000", "a.jpg", [] { return Claiming("\x9C\x40\x9C\x40", false); }, {"640x400"},
     "/a.jpg: 40000x40000 is too large", false},
    // 108 megapixels in four components: their coefficients alone take 824 MiB.
    {"Cmyk108MegapixelsProgressive", "a.jpg", [] { return Claiming("\x23\x28\x2E\xE0", true); },
     {"640x400"}, "/a.jpg: too large a progressive JPEG", true},
    {"PngClaims70000x1000", "a.png", PngWiderThanAnyCamera, {"640x400"}, "/a.png: 70000x1000 is too large", false},
    // Scaled 1920 times: the whole height across the output's width would be 1.4 GiB.
    {"PngOnePixelWide65500Tall", "a.png", [] { return Png(RgbImage{1, 65500, std::vector<std::uint8_t>(65500 * 3, 90)}); },
     {"1920x1080"}, nullptr, true},
    {"JpegCutToAThird", "a.jpg", [] { const std::string j = NoiseJpeg(); return j.substr(0, j.size() / 3); },
     {"640x400"}, "/a.jpg: damaged", false},
    // Stuffed 0xFF bytes mid-scan are no code at all.
    {"BadCodesMidScan", "a.jpg",
     [] { std::string j = NoiseJpeg(); for (int i = 0; i < 32; i += 2) j.replace(j.size() / 2 + i, 2, "\xFF\0", 2); return j; },
     {"640x400"}, "/a.jpg: damaged", true},
    {"StrayBytesBeforeMarkers", "a.jpg",
     [] {
       const std::string j = NoiseJpeg();
       const std::size_t afterApp0 = 4 + (static_cast<unsigned char>(j[4]) << 8 | static_cast<unsigned char>(j[5]));
       return j.substr(0, afterApp0) + std::string(100, '\0') + j.substr(afterApp0, j.size() - afterApp0 - 2) +
              std::string(2, '\0') + "\xFF\xD9";
     },
     {"640x400"}, nullptr, true},
    {"Camera108Megapixels", "a.jpg", [] { return StreamedJpeg(12000, 9000, false, false); }, {"1920x1080"}, nullptr, true},
    {"SizeBeyondThePictureLimit", "a.png", NoisePng, {"20000x1000"}, "20000x1000 is larger than the wallpaper program shows", true},
    // Each side allowed, not both together.
    {"TallBeyondThePictureLimit", "a.png", NoisePng, {"5000x16000"}, "5000x16000 is larger than the wallpaper program shows", true},
    // 8 x 8, each scan a few bytes: cut off after 500 scans instead of decoded scan after scan.
    {"ProgressiveOf501Scans", "a.jpg",
     [] {
       std::string j = std::string("\xff\xd8\xff\xdb\x00\x43\x00", 7) + std::string(64, '\x01') +
                       std::string("\xff\xc2\x00\x0b\x08\x00\x08\x00\x08\x01\x01\x11\x00\xff\xc4\x00\x14\x00\x01", 19) +
                       std::string(16, '\0');
       for (int scan = 0; scan < 501; ++scan) j.append("\xff\xda\x00\x08\x01\x01\x00\x00\x00\x00\x7f", 11);
       return j + "\xff\xd9";
     },
     {"640x400"}, "/a.jpg: damaged or not a JPEG picture (more than 500 scans)", true},
    {"PngSignatureAlone", "a.png", [] { return std::string("\x89PNG\r\n\x1A\n"); }, {"640x400"}, "/a.png", false},
    // Told before any photo is read.
    {"LanguageNotInstalled", "a.png", NoisePng, {"640x400", "--locale", "xx_NOWHERE.UTF-8"}, "xx_NOWHERE", true},
    {"QualityJpegHasNot", "a.jpeg", [] { return std::string(); }, {"640x400", "--quality", "101"}, "quality", false},
};

void PrintTo(const HostilePhoto& row, std::ostream* out) { *out << row.name; }

class HostilePhotos : public ::testing::TestWithParam<HostilePhoto> {};

// Refused naming the file (or the option at fault) and nothing written, or made, in 1 GiB of
// address space. Any photo peaks under 1 GiB; these, decoded at a reduced scale where they
// are read at all, stay under half that (a 108-megapixel photo decoded whole takes 640 MiB).
TEST_P(HostilePhotos, AreRefusedOrReadWithinTheMemoryCeiling) {
  const HostilePhoto& row = GetParam();
  Folder photos, calendar;
  const std::string photo = photos.path.string() + "/" + row.file;
  zorvani::tools::WriteTextFile(photo, row.bytes());
  const zorvani::tools::PhotoHeader header = zorvani::tools::ReadPhotoHeader(photo);
  EXPECT_EQ(zorvani::tools::PhotoSizeAllowed(header.width, header.height) && header.complete, row.headerAccepts)
      << header.width << "x" << header.height << (header.complete ? " complete" : " cut short");

  std::vector<std::string> command{ZORVANI_MONTH_PICTURE, "--photos", photos.path.string(), "--calendar", calendar.path.string(),
                                   "--year", "2027", "--size"};
  command.insert(command.end(), row.options.begin(), row.options.end());
  const CommandRun run = RunCommand(command, {}, 1024);
  EXPECT_LT(run.peakKiB, 512 * 1024);
  if (row.refusal != nullptr) {
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.said.find(row.refusal), std::string::npos) << run.said;
    EXPECT_TRUE(fs::is_empty(calendar.path));
  } else {
    EXPECT_EQ(run.status, 0) << run.said;
    EXPECT_TRUE(fs::exists(calendar / "Zorvani2027/12.jpg") && fs::exists(calendar / "WP.ini"));
  }
}

INSTANTIATE_TEST_SUITE_P(Photos, HostilePhotos, ::testing::ValuesIn(kHostilePhotos),
                         [](const ::testing::TestParamInfo<HostilePhoto>& param) { return std::string(param.param.name); });

// The sample calendars print the user's holidays in the weekend colour, through the same
// source list as the program: a day of a holidays calendar changes its month's picture and
// no other; a day of an events calendar changes none.
TEST(SampleCalendarSources, HolidaysArePrintedAndEventsAreNot) {
  Folder home;
  const std::string ics = home.path.string() + "/days.ics", hive = home.path.string() + "/config/zorvani-wallpaper/HKEY_CURRENT_USER.reg";
  zorvani::tools::WriteTextFile(ics, "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//t//EN\r\nBEGIN:VEVENT\r\nUID:a\r\n"
                                     "DTSTART;VALUE=DATE:20270317\r\nSUMMARY:Fest\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n");
  fs::create_directories(fs::path(hive).parent_path());
  std::vector<std::string> env{"HOME=" + home.path.string(), "XDG_CONFIG_HOME=" + home.path.string() + "/config",
                               "XDG_CONFIG_DIRS=" + home.path.string() + "/none", "XDG_CACHE_HOME=" + home.path.string() + "/cache"};
  for (const char* sanitizer : {"ASAN_OPTIONS", "LSAN_OPTIONS"})  // the sanitizer build's suppressions
    if (const char* value = std::getenv(sanitizer)) env.push_back(std::string(sanitizer) + "=" + value);
  for (const std::string kind : {"none", "events", "holidays"}) {
    if (kind != "none")
      zorvani::tools::WriteTextFile(hive, "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\ZorvaniWallpaper "
                                          "Calendars]\r\n\"1\"=\"" + kind + " " + ics + "\"\r\n");
    const CommandRun run = RunCommand({ZORVANI_MONTH_PICTURE, "--year", "2027", "--size", "400x250", "--calendar", (home / kind).string()}, env);
    ASSERT_EQ(run.status, 0) << run.said;
  }
  for (const std::string month : {"2", "3", "4"}) {
    const auto picture = [&](const char* kind) { return testing_files::ReadFile(home / kind / "Zorvani2027" / (month + ".jpg")); };
    EXPECT_EQ(picture("events"), picture("none")) << "month " << month;
    EXPECT_EQ(picture("holidays") != picture("none"), month == "3") << "month " << month;
  }
}

}  // namespace
