// The registry helpers and the configuration reader of module General, through the system
// registry (under Wine the real one, in a scratch key under HKEY_CURRENT_USER\Software; natively
// the stand-in's .reg files under temporary XDG folders) and the system profile call.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <sstream>
#include <string_view>
#include <tuple>

#include "common/files.h"
#include "general/general.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "runtime/runtime_error.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace zorvani {
namespace {

namespace fs = std::filesystem;
using testing_files::WriteFile;

const std::string kStamp = std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());

TEST(SplitRegistryPath, SplitsOnlyPathsThatPassTheTest) {
  const std::string run = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
  // A root of 99 stands for the one an earlier call left: a path failing the test keeps it.
  const struct { std::string path; std::uint32_t root; std::string rest; std::int32_t status; } cases[] = {
      {"HKEY_LOCAL_MACHINE\\" + run, 0x80000002u, run, 19},
      {"HKEY_CURRENT_USER\\CONTROL PANEL\\DESKTOP", 0x80000001u, "CONTROL PANEL\\DESKTOP", 18},
      {"HKEY_CURRENT_USER", 0x80000001u, "", 0},
      {"HKEY_NOWHERE\\Key", 0u, "Key", 13},
      {"hkey_current_user\\Key", 99u, "hkey_current_user\\Key", 18},
      {"HKEY_CURRENT_USER\\Key\\", 99u, "HKEY_CURRENT_USER\\Key\\", 18},
      {"HKEY", 99u, "HKEY", 0},
  };
  for (const auto& c : cases) {
    std::string path = c.path;
    SplitRegistryPath(path, RegistryRoot = 99);
    EXPECT_EQ(std::make_tuple(RegistryRoot, path, RegistryStatus), std::make_tuple(c.root, c.rest, c.status)) << c.path;
  }
}

const std::string kScratch = "Software\\ZorvaniWallpaperTest";

const std::string kHkcu = "HKEY_CURRENT_USER\\";
std::string Read(std::string key, const std::string& name) { return RegistryReadValue(key.insert(0, kHkcu), name); }
void Write(std::string key, const std::string& name, const std::string& text) { RegistryWriteValue(key.insert(0, kHkcu), name, text); }

// Provides HKEY_CURRENT_USER\Software\ZorvaniWallpaperTest for one test and removes it after.
class ScratchKey : public ::testing::Test {
 protected:
#ifdef _WIN32
  void SetUp() override { ASSERT_EQ(RegSetValueA(HKEY_CURRENT_USER, kScratch.c_str(), REG_SZ, "", 0), ERROR_SUCCESS); }
  void TearDown() override { RegDeleteKeyA(HKEY_CURRENT_USER, kScratch.c_str()); }
#else
  void SetUp() override {
    setenv("XDG_CONFIG_HOME", home_.c_str(), 1);
    setenv("XDG_CONFIG_DIRS", ((home_ / "system").string() + ":/etc/xdg").c_str(), 1);  // the first one counts
    WriteFile(hive_, "[HKEY_CURRENT_USER\\" + kScratch + "]\n");
  }
  void TearDown() override {
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_CONFIG_DIRS"}) unsetenv(name);
    fs::remove_all(home_);
  }
  const fs::path home_ = fs::temp_directory_path() / ("zorvani-reg-" + kStamp);
  const fs::path hive_ = home_ / "zorvani-wallpaper" / "HKEY_CURRENT_USER.reg";
  std::string Hive() const { return testing_files::ReadFile(hive_); }
#endif
};

TEST_F(ScratchKey, WrittenTextsReadBackAndAMissingKeyEndsTheRead) {
  // A text longer than a first guess at its size, too; a missing value reads as empty.
  for (const std::string text : {std::string("2"), std::string("C:\\Program Files\\\"Zorvani\"\\ = [x] ;"), std::string(), std::string(300, 'x')}) {
    Write("SOFTWARE\\zorvaniwallpapertest", "wallpaperstyle", text);  // names in other letter case
    EXPECT_EQ(Read(kScratch, "WallpaperStyle"), text);
  }
  EXPECT_EQ(Read(kScratch, "Missing"), "");
  Write(kScratch + "\\Child", "V", "x");
  EXPECT_EQ(RegistryStatus, platform::kErrorFileNotFound) << "the write must not create the key";
  EXPECT_EXIT(Read(kScratch + "\\Child", "V"), ::testing::ExitedWithCode(2), "");
}

#ifndef _WIN32
// A file as someone who knows Windows writes it: CRLF, comments, escapes, other value types.
const char kHandWritten[] =
    "Windows Registry Editor Version 5.00\r\n\r\n; written by hand\r\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\r\n"
    "\"WALLPAPER\"=\"C:\\\\old.bmp\"\r\n\"Wallpaper\"=\"C:\\\\Zorvani\\\\wp.bmp\"\r\n"
    "\"Quoted\"=\"say \\\"hi\\\"\"\r\n\"Blob\"=hex:01,02,\\\r\n  03\r\n\"Hexed\"=hex(1):79,\\\r\n  00\r\n"
    "\"Eight\"=dword:00000041\r\n\"Nine\"=dword:100000041\r\n"
    "\r\n[HKEY_CURRENT_USER\\Software\\Other]\r\n\"WallpaperStyle\"=\"9\"\r\n";

TEST_F(ScratchKey, HandWrittenFileIsKeptByteForByteAndMissingFilesOpenNoKey) {
  WriteFile(hive_, kHandWritten);
  EXPECT_EQ(Read("control panel\\desktop", "WALLPAPER"), "C:\\Zorvani\\wp.bmp");  // the last definition wins
  EXPECT_EQ(Read("control panel\\desktop", "Hexed"), "y");  // continued after a CRLF
  EXPECT_EQ(Read("control panel\\desktop", "Eight") + Read("control panel\\desktop", "Nine"), std::string("A\0\0", 3));
  Write("Control Panel\\Desktop", "WallpaperStyle", "2");
  Write("Control Panel\\Desktop", "quoted", "a\\b");
  std::string expected = kHandWritten;
  const std::string quoted = "\"Quoted\"=\"say \\\"hi\\\"\"";
  expected.replace(expected.find(quoted), quoted.size(), "\"Quoted\"=\"a\\\\b\"");
  expected.insert(expected.find("\r\n\r\n[HKEY_CURRENT_USER\\Software") + 2, "\"WallpaperStyle\"=\"2\"\r\n");
  EXPECT_EQ(Hive(), expected);

  fs::remove(hive_);
  Write(kScratch, "V", "x");
  EXPECT_FALSE(fs::exists(hive_));
  ASSERT_EQ(mkfifo(hive_.c_str(), 0600), 0);  // neither read nor written, never waited on
  Write(kScratch, "V", "x");
  EXPECT_NE(RegistryStatus, platform::kErrorFileNotFound) << "a hive that cannot be read is no missing key";
  EXPECT_EXIT(Read(kScratch, "V"), ::testing::ExitedWithCode(2), "");
  fs::remove(hive_);
  WriteFile(hive_, "");
  fs::resize_file(hive_, std::uintmax_t{1} << 40);  // sparse: no disk, no time, and more than memory
  EXPECT_EXIT(Read(kScratch, "V"), ::testing::ExitedWithCode(2), "") << "a hive beyond 1 GiB is refused unread";
  fs::remove(hive_);
  const std::string run = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
  const auto readRun = [&] { std::string key = run; return RegistryReadValue(key, "ZorvaniWallPaper"); };
  WriteFile(home_ / "system" / "zorvani-wallpaper" / "HKEY_LOCAL_MACHINE.reg",
            "[" + run + "]\n\"ZorvaniWallPaper\"=\"C:\\\\Zorvani\\\\ZorvaniWallpaper.exe\"");
  EXPECT_EQ(readRun(), "C:\\Zorvani\\ZorvaniWallpaper.exe");
  // A calendar the user set up without root wins over the machine's.
  WriteFile(home_ / "zorvani-wallpaper" / "HKEY_LOCAL_MACHINE.reg", "[" + run + "]\n\"ZorvaniWallPaper\"=\"/home/u/cal\"");
  EXPECT_EQ(readRun(), "/home/u/cal");
}

// A file as regedit exports it: UTF-16LE with a byte-order mark.
std::string Utf16(std::u16string_view text) {
  std::string bytes = "\xFF\xFE";
  for (const char16_t unit : text) bytes += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
  return bytes;
}

// Two refreshes write their two values into files of every line end and encoding: each value
// is there once, in the file's own line end and encoding, and reads back.
TEST_F(ScratchKey, DesktopValuesAreWrittenOnceInTheFilesOwnLineEndAndEncoding) {
  const std::string key = "[HKEY_CURRENT_USER\\Control Panel\\Desktop]";
  const std::string tile = "\"TileWallpaper\"=\"0\"", style = "\"WallpaperStyle\"=\"2\"";
  const std::u16string key16 = u"[HKEY_CURRENT_USER\\Control Panel\\Desktop]";
  const std::u16string path16 = u"\"Wallpaper\"=\"C:\\\\Bilder\\\\M\u00e4rz \U0001F5BC.bmp\"";
  const struct { std::string before, after, wallpaper; } cases[] = {
      {key + "\r", key + "\r" + tile + "\r" + style + "\r"},
      {key + "\r\n\"Blob\"=hex:01,\\\n", key + "\r\n" + tile + "\r\n" + style + "\r\n\"Blob\"=hex:01,\\\n"},
      {key + "\n\"Blob\"=hex:01,\\\n  02,\\", key + "\n" + tile + "\n" + style + "\n\"Blob\"=hex:01,\\\n  02,\\"},
      {key + "\n\"Blob\"=hex:01,\\\r\n  02\r\n\"WallpaperStyle\"=\"9\"",
       key + "\n\"Blob\"=hex:01,\\\r\n  02\r\n" + style + "\n" + tile + "\n"},
      {key + "\r\n\"Blob\"=hex:01,\\\r\n  02,03\r\n", key + "\r\n\"Blob\"=hex:01,\\\r\n  02,03\r\n" + tile + "\r\n" + style + "\r\n"},
      // An unpaired surrogate in another value's text is kept as it was.
      {Utf16(key16 + u"\r\n\"Odd\"=\"a\xD800z\"\r\n"),
       Utf16(key16 + u"\r\n\"Odd\"=\"a\xD800z\"\r\n\"TileWallpaper\"=\"0\"\r\n\"WallpaperStyle\"=\"2\"\r\n")},
      {Utf16(u"Windows Registry Editor Version 5.00\r\n\r\n" + key16 + u"\r\n" + path16 + u"\r\n"),
       Utf16(u"Windows Registry Editor Version 5.00\r\n\r\n" + key16 + u"\r\n" + path16 +
             u"\r\n\"TileWallpaper\"=\"0\"\r\n\"WallpaperStyle\"=\"2\"\r\n"),
       "C:\\Bilder\\M\xC3\xA4rz \xF0\x9F\x96\xBC.bmp"},
  };
  for (const auto& c : cases) {
    WriteFile(hive_, c.before);
    for (int refresh = 0; refresh < 2; ++refresh) {
      Write("Control Panel\\Desktop", "TileWallpaper", "0");
      Write("Control Panel\\Desktop", "WallpaperStyle", "2");
    }
    EXPECT_EQ(Hive(), c.after) << c.before;
    EXPECT_EQ(Read("Control Panel\\Desktop", "WallpaperStyle") + Read("Control Panel\\Desktop", "Wallpaper"),
              "2" + c.wallpaper);
  }
}

#endif

const fs::path kIni = fs::temp_directory_path() / ("zorvani-" + kStamp + ".ini");

// Loads the file into a cleared record and tells the outcome: the error raised, if any, then
// the fields that are not 0, as in "error 13: R_COMP=1 ".
std::string Load(const fs::path& ini) {
  Config = ConfigRecord{};
  std::ostringstream outcome;
  try {
    LoadConfigFrom(ini.string());
  } catch (const RuntimeError& raised) {
    outcome << "error " << raised.number() << ": ";
  }
  const std::pair<const char*, double> fields[] = {
      {"CELL_X", Config.CELL_X}, {"CELL_Y", Config.CELL_Y}, {"SPACING_X", Config.SPACING_X}, {"SPACING_Y", Config.SPACING_Y},
      {"CORNER_X", Config.CORNER_X}, {"CORNER_Y", Config.CORNER_Y}, {"RECT_THICKNESS", Config.RECT_THICKNESS},
      {"R_COMP", Config.R_COMP}, {"G_COMP", Config.G_COMP}, {"B_COMP", Config.B_COMP}};
  for (const auto& [name, value] : fields)
    if (value != 0) outcome << name << "=" << std::setprecision(15) << value << " ";
  if (Config.FIRST_DAY != 1) outcome << "FIRST_DAY=" << Config.FIRST_DAY << " ";
  return outcome.str();
}

std::string LoadSection(const std::string& entries) {
  std::ofstream(kIni, std::ios::binary) << "[config]\n" << entries << "\n";
  const std::string outcome = Load(kIni);
  fs::remove(kIni);
  return outcome;
}

TEST(LoadConfig, EntriesSetTheRecordUntilTheFirstFaultyOne) {
  std::string longSection;  // far beyond the first 255-character buffer
  for (int i = 0; i < 40; ++i) longSection += "UNUSED_" + std::to_string(i) + "=1234567890\n";
  const std::pair<std::string, std::string> cases[] = {
      {"CELL_X=9000000000\nCELL_Y=8000000000\nSPACING_X=12000000000\nSPACING_Y=10000000000\nCORNER_X=6000000000\n"
       "CORNER_Y=30000000000\nRECT_THICKNESS=500000000\nR_COMP=255\nG_COMP=0\nB_COMP=0",  // the example section
       "CELL_X=0.09 CELL_Y=0.08 SPACING_X=0.12 SPACING_Y=0.1 CORNER_X=0.06 CORNER_Y=0.3 "
       "RECT_THICKNESS=0.005 R_COMP=255 "},
      {"cell_x=10000000000", ""},
      {"  CELL_X   =   10000000000   ", "CELL_X=0.1 "},
      {"CELL_X=1=2", "CELL_X=1e-11 "},
      {"R_COMP=1\nCELL_X=\nR_COMP=2", "error 13: R_COMP=1 "},
      {"R_COMP=255.5\nG_COMP=254.5", "R_COMP=256 G_COMP=254 "},
      {"B_COMP=40000", "error 6: "},
      {"B_COMP=1\nNOTES\nB_COMP=2", "error 9: B_COMP=1 "},
      {"RECT_THICKNESS=1\nRECT_THICKNESS=3", "RECT_THICKNESS=3e-11 "},
      {"FIRST_DAY=Sun\nFIRST_DAY = sunday\nB_COMP=1", "B_COMP=1 FIRST_DAY=7 "},
      {longSection + "CELL_Y=12345678901234567890\nB_COMP=77", "CELL_Y=123456789.012346 B_COMP=77 "},
  };
  for (const auto& [entries, outcome] : cases) EXPECT_EQ(LoadSection(entries), outcome) << entries;
  EXPECT_EQ(Load(kIni), "") << "a missing file";
}

// The entries arrive as Wine's GetPrivateProfileSectionA hands them over; a cut section gives size - 2.
TEST(LoadConfig, ProfileSectionArrivesInTheShapeOfTheWindowsCall) {
  std::ofstream(kIni, std::ios::binary) << "[xonfig]\r\nX=0\r\n[ CONFIG ]\r\n  ; note\r\n\r\n\tA  =  1 2 \r\nNOTES\r\n[config]\r\nB=2\r\n";
  char buffer[32];
  EXPECT_EQ(platform::GetPrivateProfileSectionA("config", buffer, sizeof buffer, kIni.string()), 12u);
  EXPECT_EQ(std::string(buffer, 13), std::string("A=1 2\0NOTES\0\0", 13));
  EXPECT_EQ(platform::GetPrivateProfileSectionA("config", buffer, 9, kIni.string()), 7u);
  EXPECT_EQ(std::string(buffer, 9), std::string("A=1 2\0N\0\0", 9));
  EXPECT_EQ(platform::GetPrivateProfileSectionA("config", buffer, 14, kIni.string()), 12u);  // fits, yet size - 2
#ifndef _WIN32  // Wine would hand over its copy of a file whose time has not changed
  // Rewritten in place at the same size and time after a full read: read again from the top.
  const auto time = fs::last_write_time(kIni);
  std::fstream(kIni, std::ios::in | std::ios::out | std::ios::binary) << "[config]";
  fs::last_write_time(kIni, time);
  EXPECT_EQ(platform::GetPrivateProfileSectionA("config", buffer, sizeof buffer, kIni.string()), 4u);
  fs::remove(kIni);
  ASSERT_EQ(mkfifo(kIni.c_str(), 0600), 0);  // refused, not waited on
  EXPECT_EQ(platform::GetPrivateProfileSectionA("config", buffer, sizeof buffer, kIni.string()), 0u);
#endif
  fs::remove(kIni);
}

}  // namespace
}  // namespace zorvani
