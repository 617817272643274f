// The bitmap file: its bytes, the replacement of an old file only after a complete
// write, the error for a file that cannot be opened, and readers other than ours.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "dib_support.h"
#include "runtime/runtime_error.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdio>
#endif

namespace dibtest {
namespace {

namespace fs = std::filesystem;
using zorvani::cDIBSection;
using zorvani::kFalse;
using zorvani::kTrue;
using Fault = fakes::FaultyFiles::Fault;

std::uint32_t U32(const Bytes& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

class WriterTest : public DibTest {
 protected:
  fs::path dir = fs::temp_directory_path() / ("zorvani-dib-" + std::string(
      ::testing::UnitTest::GetInstance()->current_test_info()->name()));
  fs::path target = dir / "wp.bmp";
  fs::path temp = dir / "wp.bmp.tmp";
  void SetUp() override {
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override {
    EXPECT_EQ(files.openFiles, 0);
    EXPECT_EQ(files.liveBlocks, 0);
    fs::remove_all(dir);
  }
};

TEST_F(WriterTest, FileIsHeaderInfoRecordAndPixelMemoryReplacingAnyOldFile) {
  WriteAll(target, Bytes(2000000, 0x5A));  // longer than any file written here
  cDIBSection dib(gdi, files);
  struct Case { std::int32_t w, h; std::size_t size; };
  for (const Case c : {Case{1, 1, 62}, Case{5, 2, 90}, Case{800, 600, 1440058}}) {
    ASSERT_EQ(dib.Create(c.w, c.h), kTrue);
    dib.RandomiseBits();
    ASSERT_EQ(dib.SavePicture(target.string()), kTrue);
    const Bytes file = ReadAll(target);
    ASSERT_EQ(file.size(), c.size);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(U32(file, 2), c.size);
    EXPECT_EQ(U32(file, 6), 0u);
    EXPECT_EQ(U32(file, 10), 58u);
    EXPECT_EQ(std::memcmp(file.data() + 14, &dib.BitmapInfo(), 44), 0);
    EXPECT_EQ(U32(file, 54), 0u);
    EXPECT_TRUE(Bytes(file.begin() + 58, file.end()) == Memory(dib));
    EXPECT_FALSE(fs::exists(temp));
    EXPECT_EQ(files.writeSizes.back(), c.size - 58);  // the rows in one write
  }
  // An object never created writes its all-zero record and no rows.
  cDIBSection never(gdi, files);
  ASSERT_EQ(never.SavePicture(target.string()), kTrue);
  Bytes header(58, 0);
  header[0] = 'B', header[1] = 'M', header[2] = 58, header[10] = 58;
  EXPECT_EQ(ReadAll(target), header);
}

TEST_F(WriterTest, FailedSaveKeepsTheOldFileByteForByte) {
  const Bytes old = {'o', 'l', 'd', ' ', 'w', 'a', 'l', 'l', 'p', 'a', 'p', 'e', 'r'};
  cDIBSection dib(gdi, files);
  ASSERT_EQ(dib.Create(5, 2), kTrue);
  struct Case { Fault fault; int write; bool failMove; };
  for (const Case c : {Case{Fault::kFail, 1, false}, Case{Fault::kFail, 2, false}, Case{Fault::kShort, 2, false},
                       Case{Fault::kFail, 3, false}, Case{Fault::kShort, 3, false}, Case{Fault::kNone, 0, true}}) {
    WriteAll(target, old);
    files.writeSizes.clear();
    files.writeFault = c.fault;
    files.faultyWrite = c.write;
    files.failMove = c.failMove;
    EXPECT_EQ(dib.SavePicture(target.string()), kFalse) << c.write;
    EXPECT_EQ(ReadAll(target), old) << c.write;
    EXPECT_FALSE(fs::exists(temp)) << c.write;
    // No write follows a failed one.
    EXPECT_EQ(files.writeSizes.size(), c.write == 0 ? 3u : static_cast<std::size_t>(c.write));
  }
  files.writeFault = Fault::kNone;
  files.failMove = false;

  // Without pixel memory the rows cannot be written: false, and nothing read from address 0.
  dib.ClearUp();
  EXPECT_EQ(dib.SavePicture(target.string()), kFalse);
  EXPECT_EQ(ReadAll(target), old);
}

TEST_F(WriterTest, UnopenableFileRaisesSeventeenWithTheSystemText) {
  cDIBSection dib(gdi, files);
  ASSERT_EQ(dib.Create(2, 2), kTrue);
  const fs::path missing = dir / "no such folder" / "wp.bmp";
  try {
    dib.SavePicture(missing.string());
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
  EXPECT_FALSE(fs::exists(missing.parent_path()));

  // A temporary held open elsewhere (share mode 0) cannot be opened again: the old file stays.
  WriteAll(target, {1, 2, 3});
  platform::Files& system = platform::SystemFiles();
  const platform::Handle held = system.CreateFileA(temp.string());
  ASSERT_NE(held, platform::kInvalidHandle);
  try {
    dib.SavePicture(target.string());
    ADD_FAILURE() << "no error";
  } catch (const zorvani::RuntimeError& e) {
    EXPECT_EQ(e.number(), 17);
    EXPECT_FALSE(e.description().empty());
  }
  system.CloseHandle(held);
  EXPECT_EQ(ReadAll(target), Bytes({1, 2, 3}));
}

TEST_F(WriterTest, AnotherReaderSeesTheSamePicture) {
  cDIBSection dib(gdi, files);
  ASSERT_EQ(dib.Create(6, 4), kTrue);
  std::memset(dib.DIBSectionBitsPtr(), 0, dib.BitmapInfo().biSizeImage);
  dib.drawRect(1, 1, 4, 2, 1, 255, 128, 1);  // a frame from column 1, line 0 (top)
  ASSERT_EQ(dib.SavePicture(target.string()), kTrue);
#ifdef _WIN32
  const HBITMAP bitmap = static_cast<HBITMAP>(
      LoadImageA(nullptr, target.string().c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION));
  ASSERT_NE(bitmap, nullptr);
  BITMAP bm{};
  GetObjectA(bitmap, sizeof bm, &bm);
  EXPECT_EQ(bm.bmWidth, 6);
  EXPECT_EQ(bm.bmHeight, 4);
  const HDC dc = CreateCompatibleDC(nullptr);
  const HGDIOBJ old = SelectObject(dc, bitmap);
  EXPECT_EQ(GetPixel(dc, 1, 0), RGB(255, 128, 1));
  EXPECT_EQ(GetPixel(dc, 0, 0), RGB(0, 0, 0));
  EXPECT_EQ(GetPixel(dc, 5, 2), RGB(255, 128, 1));
  SelectObject(dc, old);
  DeleteDC(dc);
  DeleteObject(bitmap);
#else
  const std::string command = "identify -format '%w %h %[pixel:p{1,0}] %[pixel:p{0,0}] %[pixel:p{5,2}]' '" +
                              target.string() + "' 2>&1";
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
