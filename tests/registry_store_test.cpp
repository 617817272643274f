// Read and write round trips through the system registry: under Wine the real one, in a
// scratch key under HKEY_CURRENT_USER\Software; natively the .reg files of the stand-in,
// under temporary XDG folders.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "general/general.h"
#include "platform/services.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <stdlib.h>
#include <unistd.h>
#endif

namespace zorvani {
namespace {

namespace fs = std::filesystem;

const std::string kScratch = "Software\\ZorvaniWallpaperTest";

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

#ifndef _WIN32
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() { old_.empty() ? unsetenv(name_) : setenv(name_, old_.c_str(), 1); }

 private:
  const char* name_;
  std::string old_;
};
#endif

// Provides HKEY_CURRENT_USER\Software\ZorvaniWallpaperTest for one test and removes it after.
class ScratchKey : public ::testing::Test {
 protected:
#ifdef _WIN32
  void SetUp() override {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kScratch.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr), ERROR_SUCCESS);
    RegCloseKey(key);
  }
  void TearDown() override { RegDeleteKeyA(HKEY_CURRENT_USER, kScratch.c_str()); }
#else
  void SetUp() override {
    WriteFile(HiveFile(), "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\" + kScratch + "]\n");
  }
  void TearDown() override { fs::remove_all(home_); }

  fs::path HiveFile() const { return home_ / "zorvani-wallpaper" / "HKEY_CURRENT_USER.reg"; }

  fs::path home_ = fs::temp_directory_path() / ("zorvani-reg-" + std::to_string(getpid()));
  ScopedEnv configHome_{"XDG_CONFIG_HOME", home_.string()};
  ScopedEnv configDirs_{"XDG_CONFIG_DIRS", (home_ / "system").string() + ":/etc/xdg"};
#endif

  static std::string Read(const std::string& subPath, const std::string& name) {
    std::string path = "HKEY_CURRENT_USER\\" + subPath;
    return RegistryReadValue(path, name);
  }
  static void Write(const std::string& subPath, const std::string& name, const std::string& data) {
    std::string path = "HKEY_CURRENT_USER\\" + subPath;
    RegistryWriteValue(path, name, data);
  }
};

TEST_F(ScratchKey, WrittenTextsReadBack) {
  Write(kScratch, "WallpaperStyle", "2");
  EXPECT_EQ(RegistryStatus, 0);
  EXPECT_EQ(Read(kScratch, "WallpaperStyle"), "2");

  const std::string awkward = "C:\\Program Files\\\"Zorvani\"\\ = [x] ;";
  Write("SOFTWARE\\zorvaniwallpapertest", "wallpaperstyle", awkward);  // names without regard to case
  EXPECT_EQ(Read(kScratch, "WallpaperStyle"), awkward);
  Write(kScratch, "Empty", "");
  EXPECT_EQ(Read(kScratch, "Empty"), "");
  EXPECT_EQ(Read(kScratch, "NeverWritten"), "");

  // A value stored as REG_SZ "0" has two bytes: the character and its terminator.
  platform::Registry& registry = *platform::Current().registry;
  platform::Handle key = 0;
  ASSERT_EQ(registry.RegOpenKeyExA(0x80000001u, kScratch, 0, platform::kKeyQueryValue, &key), 0);
  Write(kScratch, "TileWallpaper", "0");
  std::uint32_t type = 0;
  std::uint32_t size = 0;
  std::uint8_t probe = 0;
  EXPECT_EQ(registry.RegQueryValueExA(key, "TileWallpaper", &type, &probe, &size), platform::kErrorMoreData);
  EXPECT_EQ(type, platform::kRegSz);
  EXPECT_EQ(size, 2u);
  registry.RegCloseKey(key);
}

TEST_F(ScratchKey, WriteNeverCreatesAKey) {
  Write(kScratch + "\\Child", "V", "x");
  EXPECT_NE(RegistryStatus, 0);
  platform::Handle key = 0;
  EXPECT_NE(platform::Current().registry->RegOpenKeyExA(0x80000001u, kScratch + "\\Child", 0,
                                                        platform::kKeyQueryValue, &key), 0);
}

TEST_F(ScratchKey, ReadOfAKeyThatCannotBeOpenedEndsTheProgram) {
  EXPECT_EXIT(Read(kScratch + "\\Missing", "V"), ::testing::ExitedWithCode(2), "");
  EXPECT_EXIT({ std::string p = "HKEY_NOWHERE\\Software"; RegistryReadValue(p, "V"); },
              ::testing::ExitedWithCode(2), "");
}

#ifndef _WIN32
// A file as someone who knows Windows writes it: CRLF, comments, escapes, other value types.
const char kHandWritten[] =
    "Windows Registry Editor Version 5.00\r\n"
    "\r\n"
    "; written by hand\r\n"
    "[HKEY_CURRENT_USER\\Control Panel\\Desktop]\r\n"
    "\"WALLPAPER\"=\"C:\\\\old.bmp\"\r\n"
    "\"Wallpaper\"=\"C:\\\\Zorvani\\\\wp.bmp\"\r\n"
    "\"Quoted\"=\"say \\\"hi\\\"\"\r\n"
    "\"Count\"=dword:0000002a\r\n"
    "\"Blob\"=hex:01,02,\\\r\n"
    "  03\r\n"
    "@=\"default\"\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\Software\\Other]\r\n"
    "\"WallpaperStyle\"=\"9\"\r\n";

TEST_F(ScratchKey, HandWrittenFileIsReadAndKeptWhenRewritten) {
  WriteFile(HiveFile(), kHandWritten);
  EXPECT_EQ(Read("control panel\\desktop", "WALLPAPER"), "C:\\Zorvani\\wp.bmp");
  EXPECT_EQ(Read("Control Panel\\Desktop", "Quoted"), "say \"hi\"");
  EXPECT_EQ(Read("Control Panel\\Desktop", ""), "default");
  EXPECT_EQ(Read("Control Panel\\Desktop", "Blob"), "\x01\x02");  // bytes read as text, the last one dropped

  Write("Control Panel\\Desktop", "WallpaperStyle", "2");
  Write("Control Panel\\Desktop", "quoted", "a\\b");
  std::string expected = kHandWritten;
  const std::string oldQuoted = "\"Quoted\"=\"say \\\"hi\\\"\"";
  expected.replace(expected.find(oldQuoted), oldQuoted.size(), "\"Quoted\"=\"a\\\\b\"");
  expected.insert(expected.find("\r\n\r\n[HKEY_CURRENT_USER\\Software") + 2, "\"WallpaperStyle\"=\"2\"\r\n");
  EXPECT_EQ(ReadFile(HiveFile()), expected);
  EXPECT_EQ(std::distance(fs::directory_iterator(HiveFile().parent_path()), fs::directory_iterator()), 1)
      << "the temporary file of the rewrite was left behind";

  // Another process changes the file: the next read sees it.
  WriteFile(HiveFile(), "[HKEY_CURRENT_USER\\Control Panel\\Desktop]\n\"WallpaperStyle\"=\"0\"\n");
  EXPECT_EQ(Read("Control Panel\\Desktop", "WallpaperStyle"), "0");
}

TEST_F(ScratchKey, MissingFileOpensNoKeyAndMachineRootLivesInConfigDirs) {
  fs::remove(HiveFile());
  Write(kScratch, "V", "x");
  EXPECT_FALSE(fs::exists(HiveFile()));
  EXPECT_EXIT(Read(kScratch, "V"), ::testing::ExitedWithCode(2), "");

  const std::string run = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
  WriteFile(home_ / "system" / "zorvani-wallpaper" / "HKEY_LOCAL_MACHINE.reg",
            "[HKEY_LOCAL_MACHINE\\" + run + "]\n\"ZorvaniWallPaper\"=\"C:\\\\Zorvani\\\\ZorvaniWallpaper.exe\"");
  std::string path = "HKEY_LOCAL_MACHINE\\" + run;
  EXPECT_EQ(RegistryReadValue(path, "ZorvaniWallPaper"), "C:\\Zorvani\\ZorvaniWallpaper.exe");
}
#endif

}  // namespace
}  // namespace zorvani
