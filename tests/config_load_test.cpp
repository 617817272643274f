// LoadConfig against WP.ini files in temporary folders: what each entry sets, the error
// at the first faulty entry, the locale's decimal separator, and the shape in which the
// profile call hands a section over (the real call under Wine, the stand-in natively).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "general/general.h"
#include "platform/locale.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "runtime/runtime_error.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace zorvani {
namespace {

namespace fs = std::filesystem;

class ConfigFile : public ::testing::Test {
 protected:
  void SetUp() override {
    Config = ConfigRecord{};
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  // Writes WP.ini and loads it; the number of the error raised, or 0.
  std::int32_t Load(const std::string& text) {
    std::ofstream(ini_, std::ios::binary) << text;
    try {
      LoadConfigFrom(ini_.string());
    } catch (const RuntimeError& error) {
      return error.number();
    }
    return 0;
  }

  fs::path folder_ = fs::temp_directory_path() / ("zorvani-config-" + std::to_string(
#ifdef _WIN32
                                                                          GetCurrentProcessId()
#else
                                                                          getpid()
#endif
                                                                              ));
  fs::path ini_ = folder_ / "WP.ini";
};

TEST_F(ConfigFile, FillsTheRecordFromSectionConfigOnly) {
  EXPECT_EQ(Load("CELL_X=1\r\n[other]\r\nCELL_Y=1\r\n[Config]\r\n; frame in red\r\n\r\n"
                 "CELL_X=9000000000\r\nCELL_Y=8000000000\r\nSPACING_X=12000000000\r\nSPACING_Y=10000000000\r\n"
                 "CORNER_X=6000000000\r\nCORNER_Y=30000000000\r\nRECT_THICKNESS=500000000\r\n"
                 "R_COMP=255\r\nG_COMP=0\r\nB_COMP=-7\r\n[config]\r\nG_COMP=9\r\n"),
            0);
  EXPECT_DOUBLE_EQ(Config.CELL_X, 0.09);
  EXPECT_DOUBLE_EQ(Config.CELL_Y, 0.08);
  EXPECT_DOUBLE_EQ(Config.SPACING_X, 0.12);
  EXPECT_DOUBLE_EQ(Config.SPACING_Y, 0.10);
  EXPECT_DOUBLE_EQ(Config.CORNER_X, 0.06);
  EXPECT_DOUBLE_EQ(Config.CORNER_Y, 0.30);
  EXPECT_DOUBLE_EQ(Config.RECT_THICKNESS, 0.005);
  EXPECT_EQ(Config.R_COMP, 255);
  EXPECT_EQ(Config.G_COMP, 0);
  EXPECT_EQ(Config.B_COMP, -7);
}

TEST_F(ConfigFile, KeysMatchExactlyAndValuesAreTrimmed) {
  EXPECT_EQ(Load("[config]\ncell_x=10000000000\nCELL_Y   =   10000000000   \nCORNER_X=1=2\n"
                 "RECT_THICKNESS=1\nRECT_THICKNESS=3\nR_COMP=255.5\nG_COMP=254.5\nB_COMP=-0.5\n"),
            0);
  EXPECT_EQ(Config.CELL_X, 0.0);
  EXPECT_EQ(Config.CELL_Y, 0.1);
  EXPECT_EQ(Config.CORNER_X, 1 / 100000000000.0);
  EXPECT_EQ(Config.RECT_THICKNESS, 3 / 100000000000.0);
  EXPECT_EQ(Config.R_COMP, 256);
  EXPECT_EQ(Config.G_COMP, 254);
  EXPECT_EQ(Config.B_COMP, 0);
}

TEST_F(ConfigFile, FirstFaultyEntryRaisesAndKeepsTheEarlierOnes) {
  struct Case {
    const char* entry;
    std::int32_t error;
  };
  for (const Case c : {Case{"CELL_X=", kErrTypeMismatch}, Case{"CELL_X=ten", kErrTypeMismatch},
                       Case{"CELL_X=1e400", kErrOverflow}, Case{"R_COMP=40000", kErrOverflow},
                       Case{"G_COMP=-32769", kErrOverflow}, Case{"NOTES", kErrSubscriptOutOfRange}}) {
    Config = ConfigRecord{};
    EXPECT_EQ(Load(std::string("[config]\nCELL_Y=5\nB_COMP=1\n") + c.entry + "\nCELL_Y=6\nB_COMP=2\n"), c.error)
        << c.entry;
    EXPECT_EQ(Config.CELL_Y, 5 / 100000000000.0) << c.entry;
    EXPECT_EQ(Config.B_COMP, 1) << c.entry;
  }
}

TEST_F(ConfigFile, MissingFileOrSectionChangesNothing) {
  Config.CELL_X = 0.5;
  EXPECT_EQ(Load("[other]\nCELL_X=1\n"), 0);
  fs::remove(ini_);
  LoadConfigFrom(ini_.string());
  EXPECT_EQ(Config.CELL_X, 0.5);
}

TEST_F(ConfigFile, SectionLongerThan255CharactersIsReadWhole) {
  std::string text = "[config]\n";
  for (int i = 0; i < 40; ++i) text += "UNUSED_" + std::to_string(i) + "=1234567890\n";
  text += "CELL_X=12345678901234567890\nB_COMP=77\n";
  ASSERT_GT(text.size(), 600u);
  EXPECT_EQ(Load(text), 0);
  EXPECT_EQ(Config.CELL_X, 12345678901234567890.0 / 100000000000.0);
  EXPECT_EQ(Config.B_COMP, 77);
}

TEST_F(ConfigFile, LoadConfigReadsWpIniBesideTheProgram) {
  const fs::path besideProgram = fs::path(platform::ExecutablePath()).parent_path() / "WP.ini";
  ASSERT_FALSE(fs::exists(besideProgram));
  std::ofstream(besideProgram) << "[config]\nG_COMP=12\n";
  LoadConfig();
  fs::remove(besideProgram);
  EXPECT_EQ(Config.G_COMP, 12);
}

// The entries arrive as Wine's GetPrivateProfileSectionA hands them over.
TEST_F(ConfigFile, ProfileSectionArrivesInTheShapeOfTheWindowsCall) {
  std::ofstream(ini_, std::ios::binary) << "[ CONFIG ]\r\n  ; note\r\n\r\n\tA  =  1 2 \r\nNOTES\r\n[config]\r\nB=2\r\n";
  char buffer[32];
  EXPECT_EQ(platform::GetPrivateProfileSectionA("config", buffer, sizeof buffer, ini_.string()), 12u);
  EXPECT_EQ(std::string(buffer, 13), std::string("A=1 2\0NOTES\0\0", 13));
  EXPECT_EQ(platform::GetPrivateProfileSectionA("config", buffer, 9, ini_.string()), 7u);
  EXPECT_EQ(std::string(buffer, 9), std::string("A=1 2\0N\0\0", 9));
  EXPECT_EQ(platform::GetPrivateProfileSectionA("config", buffer, 14, ini_.string()), 12u);  // fits, yet size - 2
  EXPECT_EQ(platform::GetPrivateProfileSectionA("nothing", buffer, 9, ini_.string()), 0u);
  EXPECT_EQ(platform::GetPrivateProfileSectionA("config", buffer, 9, (folder_ / "none.ini").string()), 0u);
}

void SetEnv(const char* name, const char* value) {
#ifdef _WIN32
  SetEnvironmentVariableA(name, value);
#else
  value ? setenv(name, value, 1) : unsetenv(name);
#endif
}

int ExitCodeOf(int status) {
#ifdef _WIN32
  return status;
#else
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

// The locale is taken when the process starts under Wine, so the check runs in a child
// process that starts with LC_ALL set.
TEST_F(ConfigFile, DecimalCommaOfTheUserLocale) {
  constexpr int kNoCommaLocale = 77;
  std::ofstream(ini_) << "[config]\nCELL_X=1,5E11\nR_COMP=2,5\nG_COMP=1.5\n";
  const char* old = std::getenv("LC_ALL");
  const std::string saved = old ? old : "";
  SetEnv("LC_ALL", "de_DE.UTF-8");
  int code = -1;
  EXPECT_EXIT(
      {
        if (platform::UserDecimalSeparator() != ",") std::_Exit(kNoCommaLocale);
        std::int32_t error = 0;
        try {
          LoadConfigFrom(ini_.string());
        } catch (const RuntimeError& e) {
          error = e.number();
        }
        std::_Exit(Config.CELL_X == 1.5 && Config.R_COMP == 2 && error == kErrTypeMismatch ? 0 : 1);
      },
      [&code](int status) {
        code = ExitCodeOf(status);
        return true;
      },
      "");
  SetEnv("LC_ALL", old ? saved.c_str() : nullptr);
  if (code == kNoCommaLocale) GTEST_SKIP() << "no installed locale with a decimal comma (de_DE.UTF-8)";
  EXPECT_EQ(code, 0);
}

}  // namespace
}  // namespace zorvani
