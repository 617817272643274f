// The real program from start to end: the single-instance rule, the silent end without
// an auto-start key, the end from outside, the report of a run-time error, and the
// answers to --help and --version.
#include <gtest/gtest.h>

#include <filesystem>

#include "e2e/harness.h"

namespace e2e {
namespace {

class StartUp : public ::testing::Test {
 protected:
  void SetUp() override { sandbox.SetAutoStart(sandbox.SystemPath(sandbox.ProgramPath())); }
  Sandbox sandbox;
};

TEST_F(StartUp, ASecondInstanceEndsAtOnceWhileTheFirstGoesOn) {
  auto first = sandbox.Start();
  ASSERT_TRUE(first->StaysRunningFor(SettleTime())) << first->StandardError();

  auto second = sandbox.Start();
  EXPECT_EQ(second->Wait(), 0);
  EXPECT_EQ(second->StandardError(), "");
  EXPECT_EQ(second->StandardOutput(), "");

  EXPECT_EQ(first->Wait(Millis{0}), -1) << "the first instance has ended";
  ExpectCleanEnd(*first);
}

TEST_F(StartUp, AMissingAutoStartKeyEndsSilently) {
  sandbox.SetAutoStart(std::nullopt);
  auto program = sandbox.Start();
  EXPECT_EQ(program->Wait(), 2);
  EXPECT_EQ(program->StandardError(), "");
  EXPECT_FALSE(std::filesystem::exists(sandbox.Path("wp.bmp")));
}

// Under a moving fake clock, past at least one tick of the timer: the loop keeps its
// rhythm on the real monotonic clock and still ends cleanly when closed from outside.
TEST_F(StartUp, ClosingTheFormFromOutsideEndsWithStatusZero) {
  WriteTextFile(sandbox.Path("faketime"), "-86400\n");
  auto program = sandbox.Start({{"FAKETIME_TIMESTAMP_FILE", sandbox.Path("faketime")}});
  ASSERT_TRUE(program->StaysRunningFor(SettleTime() + Millis{5500})) << program->StandardError();
  ExpectCleanEnd(*program);
}

TEST_F(StartUp, ABadConfigurationEntryIsReportedWithStatusOne) {
  WriteTextFile(sandbox.Path("WP.ini"), "[config]\r\nCELL_X=9000000000\r\nNOTES\r\n");
  auto program = sandbox.Start();
  EXPECT_EQ(program->Wait(), 1);
  EXPECT_NE(program->StandardError().find("Run-time error '9':"), std::string::npos) << program->StandardError();
}

// Asked what it is, the program answers on standard output (under Windows, where it has
// no console, too) and ends without doing its job.
TEST_F(StartUp, HelpAndVersionAnswerAndEnd) {
  for (const std::string option : {"--version", "--help"}) {
    auto program = sandbox.Start({}, {}, {option});
    EXPECT_EQ(program->Wait(), 0) << option;
    EXPECT_NE(program->StandardOutput().find("zorvani-wallpaper"), std::string::npos) << option;
  }
  EXPECT_FALSE(std::filesystem::exists(sandbox.Path("wp.bmp")));
}

}  // namespace
}  // namespace e2e
