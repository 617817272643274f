// The bitmap file: its bytes, replacing the old file only after a complete write, the
// error for a file that cannot be opened, and a reader other than ours.
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "dib_support.h"
#include "fakes/faulty_files.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace dibtest {
namespace {

namespace fs = std::filesystem;

Bytes ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class WriterTest : public ::testing::Test {
 protected:
  fs::path dir = fs::temp_directory_path() /
                 ("zorvani-dib-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
  fs::path target = dir / "wp.bmp";
  fakes::FaultyFiles files;
  zorvani::cDIBSection dib{platform::SystemGdi(), files};
  void SetUp() override {
    fs::remove_all(dir);  // what a killed run left
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }
};

TEST_F(WriterTest, FileIsHeaderInfoAndPixelRowsReplacingTheOldFile) {
  std::ofstream(target) << std::string(2000000, 'Z');  // longer than any file written here
  // For 5 x 2: file header, info record (rows of 16 bytes, 32 in all), zero resolution, colour counts and entry.
  Bytes header = {'B', 'M', 90, 0, 0, 0, 0, 0, 0, 0, 58, 0, 0, 0, 40, 0, 0, 0, 5, 0, 0, 0, 2, 0, 0, 0, 1, 0, 24, 0,
                  0, 0, 0, 0, 32, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  struct Case { std::int32_t w, h; std::size_t size; };
  for (const Case c : {Case{1, 1, 62}, Case{5, 2, 90}, Case{800, 600, 1440058}}) {
    ASSERT_EQ(dib.Create(c.w, c.h), kTrue);
    dib.RandomiseBits();
    ASSERT_EQ(dib.SavePicture(target.string()), kTrue);
    const Bytes file = ReadAll(target);
    ASSERT_EQ(file.size(), c.size);
    EXPECT_TRUE(Bytes(file.begin() + 58, file.end()) == Memory(dib)) << c.w << "x" << c.h;
    // The 5 x 2 header with this picture's sizes: no field may be cut short for a large picture.
    const std::pair<int, std::size_t> fields[] = {
        {2, c.size}, {18, static_cast<std::size_t>(c.w)}, {22, static_cast<std::size_t>(c.h)}, {34, c.size - 58}};
    Bytes expected = header;
    for (const auto& [at, value] : fields)
      for (int i = 0; i < 4; ++i) expected[at + i] = static_cast<std::uint8_t>(value >> 8 * i);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 58), expected) << c.w << "x" << c.h;
  }
}

TEST_F(WriterTest, FailedWriteKeepsTheOldFile) {
  ASSERT_EQ(dib.Create(5, 2), kTrue);
  for (const int failing : {1, 2, 3, -1, -2, -3}) {  // negative: that write reports success one byte short
    std::ofstream(target) << "old";
    files.failingWrite = failing < 0 ? -failing : failing;
    files.shortWrite = failing < 0;
    files.writes = 0;
    EXPECT_EQ(dib.SavePicture(target.string()), kFalse) << failing;
    EXPECT_EQ(ReadAll(target), Bytes({'o', 'l', 'd'})) << failing;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1) << failing;
  }
}

TEST_F(WriterTest, UnopenableFileRaisesSeventeenWithTheSystemText) {
  ASSERT_EQ(dib.Create(2, 2), kTrue);
  try {
    dib.SavePicture((dir / "no such folder" / "wp.bmp").string());
    FAIL() << "no error";
  } catch (const zorvani::RuntimeError& e) {
    EXPECT_EQ(e.number(), 17);
    EXPECT_EQ(e.source(), "zorvani_tests.cDIBSection");
#ifdef _WIN32
    EXPECT_EQ(e.description(), "Path not found.\r\n");
#else
    EXPECT_EQ(e.description(), std::strerror(ENOENT));
#endif
  }
}

TEST_F(WriterTest, AnotherReaderSeesTheSamePicture) {
  ASSERT_EQ(dib.Create(6, 4), kTrue);
  std::memset(dib.DIBSectionBitsPtr(), 0, dib.BitmapInfo().biSizeImage);
  dib.drawRect(1, 1, 4, 2, 1, 255, 128, 1);  // a frame from column 1 of the top line
  ASSERT_EQ(dib.SavePicture(target.string()), kTrue);
#ifdef _WIN32
  const HBITMAP bitmap = static_cast<HBITMAP>(
      LoadImageA(nullptr, target.string().c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION));
  ASSERT_NE(bitmap, nullptr);
  const HDC dc = CreateCompatibleDC(nullptr);
  SelectObject(dc, bitmap);
  EXPECT_EQ(GetPixel(dc, 1, 0), RGB(255, 128, 1));
  EXPECT_EQ(GetPixel(dc, 0, 0), RGB(0, 0, 0));
  EXPECT_EQ(GetPixel(dc, 5, 2), RGB(255, 128, 1));
  DeleteDC(dc);  // the bitmap may go once no context holds it
  DeleteObject(bitmap);
#else
  const std::string command =
      "identify -format '%w %h %[pixel:p{1,0}] %[pixel:p{0,0}] %[pixel:p{5,2}]' '" + target.string() + "' 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char line[256] = {};
  const std::size_t n = std::fread(line, 1, sizeof line - 1, pipe);
  pclose(pipe);
  EXPECT_EQ(std::string(line, n), "6 4 srgb(255,128,1) srgb(0,0,0) srgb(255,128,1)");
#endif
}

}  // namespace
}  // namespace dibtest
