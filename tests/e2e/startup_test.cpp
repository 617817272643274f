// The real program from start to end: the single-instance rule, the silent end without
// an auto-start key, the end from outside, and the report of a run-time error.
#include <gtest/gtest.h>

#include "e2e/harness.h"

namespace e2e {
namespace {

class StartUp : public ::testing::Test {
 protected:
  void SetUp() override { sandbox.SetAutoStart(sandbox.SystemPath(sandbox.ProgramPath())); }

  void ExpectCleanEnd(Program& program) {
    program.Stop();
    ASSERT_TRUE(program.WaitForExit(ExitTimeout())) << "still running after being closed";
    EXPECT_EQ(program.ExitStatus(), 0);
    EXPECT_EQ(program.StandardError(), "");
  }

  Sandbox sandbox;
};

TEST_F(StartUp, ASecondInstanceEndsAtOnceWhileTheFirstGoesOn) {
  auto first = sandbox.Start();
  ASSERT_TRUE(first->StaysRunningFor(SettleTime())) << first->StandardError();

  auto second = sandbox.Start();
  ASSERT_TRUE(second->WaitForExit(ExitTimeout()));
  EXPECT_EQ(second->ExitStatus(), 0);
  EXPECT_EQ(second->StandardError(), "");
  EXPECT_EQ(second->StandardOutput(), "");

  EXPECT_TRUE(first->Running());
  ExpectCleanEnd(*first);
}

TEST_F(StartUp, AMissingAutoStartKeyEndsSilently) {
  sandbox.RemoveAutoStartKey();
  auto program = sandbox.Start();
  ASSERT_TRUE(program->WaitForExit(ExitTimeout()));
  EXPECT_EQ(program->ExitStatus(), 2);
  EXPECT_EQ(program->StandardError(), "");
  EXPECT_FALSE(FileExists(sandbox.Path("wp.bmp")));
}

// Under a moving fake clock, past at least one tick of the timer: the loop keeps its
// rhythm on the real monotonic clock and still ends cleanly when closed from outside.
TEST_F(StartUp, ClosingTheFormFromOutsideEndsWithStatusZero) {
  const std::string clockFile = sandbox.Path("faketime");
  WriteTextFile(clockFile, "-86400\n");
  LaunchOptions options;
  options.fakeTime = FakeTime{"", clockFile};
  auto program = sandbox.Start(options);
  ASSERT_TRUE(program->StaysRunningFor(SettleTime() + Millis{5500})) << program->StandardError();
  ExpectCleanEnd(*program);
}

TEST_F(StartUp, ABadConfigurationEntryIsReportedWithStatusOne) {
  sandbox.WriteProgramFile("WP.ini", "[config]\r\nCELL_X=9000000000\r\nNOTES\r\n");
  auto program = sandbox.Start();
  ASSERT_TRUE(program->WaitForExit(ExitTimeout()));
  EXPECT_EQ(program->ExitStatus(), 1);
  EXPECT_NE(program->StandardError().find("Run-time error '9':"), std::string::npos) << program->StandardError();
}

}  // namespace
}  // namespace e2e
