// The picture loader of whichever backend this binary was built for: what a known
// JPEG turns into, and that every kind of bad file is refused with the right error
// instead of a crash.
#include <gmock/gmock.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "common/files.h"
#include "dib/cDIBSection.h"
#include "platform/gdi.h"
#include "platform/picture.h"
#include "runtime/runtime_error.h"

namespace {

namespace fs = std::filesystem;

// 45 x 30, baseline 4:4:4, four flat quadrants split at column 24 and line 16: red top
// left, green top right, blue bottom left, yellow bottom right. The odd width pads rows.
const char kQuadrants[] =
    "\xff\xd8\xff\xe0\x00\x10\x4a\x46\x49\x46\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00\xff\xdb\x00\x43\x00\x02\x01\x01"
    "\x01\x01\x01\x02\x01\x01\x01\x02\x02\x02\x02\x02\x04\x03\x02\x02\x02\x02\x05\x04\x04\x03\x04\x06\x05\x06\x06\x06"
    "\x05\x06\x06\x06\x07\x09\x08\x06\x07\x09\x07\x06\x06\x08\x0b\x08\x09\x0a\x0a\x0a\x0a\x0a\x06\x08\x0b\x0c\x0b\x0a"
    "\x0c\x09\x0a\x0a\x0a\xff\xdb\x00\x43\x01\x02\x02\x02\x02\x02\x02\x05\x03\x03\x05\x0a\x07\x06\x07\x0a\x0a\x0a\x0a"
    "\x0a\x0a\x0a\x0a\x0a\x0a\x0a\x0a\x0a\x0a\x0a\x0a\x0a\x0a\x0a\x0a\x0a\x0a\x0a\x0a\x0a\x0a\x0a\x0a\x0a\x0a\x0a\x0a"
    "\x0a\x0a\x0a\x0a\x0a\x0a\x0a\x0a\x0a\x0a\x0a\x0a\x0a\x0a\x0a\x0a\x0a\x0a\xff\xc0\x00\x11\x08\x00\x1e\x00\x2d\x03"
    "\x01\x11\x00\x02\x11\x01\x03\x11\x01\xff\xc4\x00\x17\x00\x01\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
    "\x00\x00\x00\x07\x09\x08\xff\xc4\x00\x14\x10\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
    "\xff\xc4\x00\x19\x01\x01\x00\x03\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x05\x08\x0a\x09\x07\xff"
    "\xc4\x00\x14\x11\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\xff\xda\x00\x0c\x03\x01\x00"
    "\x02\x11\x03\x11\x00\x3f\x00\xe7\x77\x83\xba\xd0\x00\x0b\xc2\x1d\x9a\x70\x00\x41\xd3\x0d\x2c\x00\x02\xf0\x87\x66"
    "\x9c\x00\x1c\x4e\xed\xa2\xce\x00\x03\x7c\x19\x7f\x5d\x80\x00\x60\x7b\x50\x0a\x4e\x00\x0d\xf0\x65\xfd\x76\x00\x01"
    "\xff\xd9";
const std::string kJpeg(kQuadrants, sizeof kQuadrants - 1);
// 16385 x 1, 8 bits, run-length coded: the end-of-bitmap code alone.
const char kWideBmp[] =
    "\x42\x4d\x3c\x00\x00\x00\x00\x00\x00\x00\x3a\x00\x00\x00\x28\x00\x00\x00\x01\x40\x00\x00\x01\x00\x00\x00\x01\x00"
    "\x08\x00\x01\x00\x00\x00\x02\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00"
    "\x00\x00\x00\x01";
// 16385 x 1, 8-bit grey, one compressed row of zeros.
const char kWidePng[] =
    "\x89\x50\x4e\x47\x0d\x0a\x1a\x0a\x00\x00\x00\x0d\x49\x48\x44\x52\x00\x00\x40\x01\x00\x00\x00\x01\x08\x00\x00\x00"
    "\x00\xec\x36\x82\xba\x00\x00\x00\x27\x49\x44\x41\x54\x78\xda\xed\xc1\x31\x01\x00\x00\x00\xc2\xa0\xf5\x4f\x6d\x0c"
    "\x1f\xa0\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x80\xbf\x01\x40\x02\x00\x01\x59\xad\x81\xa8"
    "\x00\x00\x00\x00\x49\x45\x4e\x44\xae\x42\x60\x82";

// A progressive 8 x 8 grey picture whose frame claims `heightWidth`: a grey block's DC
// scan, `scans` times over.
std::string Progressive(int scans, const char* heightWidth = "\x00\x08\x00\x08") {
  std::string file = std::string("\xff\xd8\xff\xdb\x00\x43\x00", 7) + std::string(64, '\x01') +
                     std::string("\xff\xc2\x00\x0b\x08", 5) + std::string(heightWidth, 4) + std::string("\x01\x01\x11\x00\xff\xc4\x00\x14\x00\x01", 10) +
                     std::string(16, '\0');
  for (int scan = 0; scan < scans; ++scan) file.append("\xff\xda\x00\x08\x01\x01\x00\x00\x00\x00\x7f", 11);
  return file + "\xff\xd9";
}

class PictureLoader : public testing::Test {
 protected:
  std::string Write(const std::string& bytes) const {
    std::ofstream(file_, std::ios::binary) << bytes;
    return file_;
  }
  // Loads the file and copies it into a DIB as the refresh does; `meanwhile` is written
  // over the file between the two. The error raised by either step, or 0.
  std::int32_t Error(const std::string& file, const std::string& meanwhile = "") const try {
    const auto picture = platform::SystemPictureLoader().LoadPicture(file);
    if (!meanwhile.empty()) std::ofstream(file_, std::ios::binary) << meanwhile;
    zorvani::cDIBSection dib;
    dib.CreateFromPicture(*picture);
    return dib.width() == picture->Width() && dib.hDib() != 0 ? 0 : -1;
  } catch (const zorvani::RuntimeError& error) {
    return error.number();
  }
  const testing_files::TempFolder folder_;
  const std::string file_ = (folder_ / "5.jpg").string();
};

TEST_F(PictureLoader, DecodesIntoBottomUpBgrRowsAtThePictureSize) {
  const auto picture = platform::SystemPictureLoader().LoadPicture(Write(kJpeg));
  ASSERT_EQ(picture->Width() * 100 + picture->Height(), 4530);
  // Read back as the image class does it, and the yellow quadrant alone copied on from there.
  zorvani::cDIBSection dib, part;
  dib.CreateFromPicture(*picture);
  ASSERT_TRUE(dib.DIBSectionBitsPtr() != nullptr && part.Create(21, 14) == zorvani::kTrue);
  dib.PaintPicture(part.hdc(), 0, 0, 21, 14, 24, 16);
  // x, line from the top, then blue, green, red; rows of 136 bytes, the bottom one first.
  for (const std::array<int, 5>& p : std::vector<std::array<int, 5>>{{6, 4, 40, 40, 220}, {38, 4, 60, 180, 40},
           {6, 26, 200, 60, 40}, {44, 29, 40, 200, 240}, {23, 15, 40, 40, 220}, {24, 16, 40, 200, 240}}) {
    const std::size_t at = static_cast<std::size_t>((29 - p[1]) * 136 + 3 * p[0]);
    for (const std::size_t c : {0u, 1u, 2u}) EXPECT_NEAR(dib.DIBSectionBitsPtr()[at + c], p[2 + c], 6) << p[0] << "," << p[1];
  }
  // The quadrant's top line, the last row of the copy in memory, is yellow throughout.
  for (int x = 0; x < 21; ++x) EXPECT_NEAR(part.DIBSectionBitsPtr()[13 * 64 + 3 * x + 2], 240, 6) << x;
}

// Missing 53, a folder or an unreadable file 75, and 481 for anything undecodable; cut
// short or with a byte flipped, a file gives a picture or 481, never a crash.
TEST_F(PictureLoader, RefusesBadFilesWithTheirErrors) {
  EXPECT_EQ(Error((folder_ / "Zorvani2005" / "1.jpg").string()), zorvani::kErrFileNotFound);
  EXPECT_EQ(Error(Write(kJpeg) + "/1.jpg"), zorvani::kErrFileNotFound) << "a file in the folder's place";
  EXPECT_EQ(Error(""), zorvani::kErrFileNotFound);
  EXPECT_EQ(Error(folder_.path.string()), zorvani::kErrFileAccess);
  for (const std::string bad : {std::string(), std::string("no jpeg"), std::string("\xff\xd8"), kJpeg.substr(0, 20),
                                kJpeg.substr(0, 160), std::string("\x89PNG\r\n\x1a\n")}) {
    EXPECT_EQ(Error(Write(bad)), zorvani::kErrInvalidPicture) << bad.size() << " bytes";
  }
  for (std::size_t n = 0; n < kJpeg.size(); n += 7) {
    std::string flipped = kJpeg;
    flipped[n] = static_cast<char>(~flipped[n]);
    EXPECT_THAT(Error(Write(kJpeg.substr(0, n))), testing::AnyOf(0, zorvani::kErrInvalidPicture)) << "cut at " << n;
    EXPECT_THAT(Error(Write(flipped)), testing::AnyOf(0, zorvani::kErrInvalidPicture)) << "flipped at " << n;
  }
  // More than a picture may have, per side or in all, is refused before any pixel
  // memory is taken: the frame header's height and width (at 163) changed, a 16385 x 1
  // BMP (run-length coded) and PNG that decode in a few bytes of work, and a progressive
  // 8192 x 8192 whose coefficients (128 MiB) do not fit a refresh beside its bitmap.
  std::vector<std::string> tooLarge = {std::string(kWideBmp, sizeof kWideBmp - 1),
                                       std::string(kWidePng, sizeof kWidePng - 1), Progressive(1, "\x20\x00\x20\x00")};
  for (const char* claim : {"\xff\xdc\xff\xdc", "\x65\x90\x65\x90", "\x00\x01\x40\x01", "\x20\x08\x20\x08"})
    tooLarge.push_back(std::string(kJpeg).replace(163, 4, claim, 4));
  for (const std::string& picture : tooLarge)
    EXPECT_EQ(Error(Write(picture)), zorvani::kErrInvalidPicture) << testing::PrintToString(picture.substr(0, 24));
#ifndef _WIN32
  // Exactly at the limits is allowed: 16384 x 1 and 8192 x 8192 load (the header alone is
  // read until the pixels are copied).
  for (const char* claim : {"\x00\x01\x40\x00", "\x20\x00\x20\x00"})
    EXPECT_EQ(Error(Write(std::string(kJpeg).replace(163, 4, claim, 4))), 0) << testing::PrintToString(claim);
  fs::permissions(Write(kJpeg), fs::perms::none);
  if (!std::ifstream(file_)) EXPECT_EQ(Error(file_), zorvani::kErrFileAccess);  // root reads it all the same
  fs::permissions(file_, fs::perms::owner_all);
  fs::remove(file_);
  ASSERT_EQ(mkfifo(file_.c_str(), 0600), 0);  // refused, not waited on
  EXPECT_EQ(Error(file_), zorvani::kErrFileAccess);
  fs::remove(file_);
  // Decoded only when copied: a header that reads well over data that do not (the
  // chroma quantisation table at 89 taken out), and a file rewritten at another size
  // after loading, still fail with 481 instead of leaving an unfinished or overrun DIB.
  EXPECT_EQ(Error(Write(std::string(kJpeg).erase(89, 69))), zorvani::kErrInvalidPicture);
  EXPECT_EQ(Error(Write(kJpeg), std::string(kJpeg).replace(163, 4, "\x00\x1e\x00\x2c")), zorvani::kErrInvalidPicture);
  EXPECT_EQ(Error(Write(kJpeg), kJpeg), 0);
  // A progressive file of more scans than any encoder writes is refused instead of decoded
  // scan after scan.
  for (const int scans : {500, 501})
    EXPECT_EQ(Error(Write(Progressive(scans))), scans > 500 ? zorvani::kErrInvalidPicture : 0) << scans << " scans";
#endif
}

}  // namespace
