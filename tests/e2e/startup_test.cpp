// The real program from start to end: one instance, the silent end without an auto-start
// key, the end from outside, a run-time error's report, and --help and --version.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <utility>
#include <vector>

#include "e2e/harness.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

class StartUp : public ::testing::Test {
 protected:
  void SetUp() override { sandbox.SetAutoStart(sandbox.SystemPath(sandbox.ProgramPath())); }
  Sandbox sandbox;
};

// The first runs under a moving fake clock past a tick of its timer: its loop keeps its
// rhythm on the real monotonic clock and still ends cleanly when closed from outside.
TEST_F(StartUp, ASecondInstanceEndsAtOnceWhileTheFirstGoesOn) {
  WriteTextFile(sandbox.Path("faketime"), "-86400\n");
  auto first = sandbox.Start({{"FAKETIME_TIMESTAMP_FILE", sandbox.Path("faketime")}});
  ASSERT_TRUE(first->StaysRunningFor(SettleTime())) << first->StandardError();
  auto second = sandbox.Start();
  EXPECT_EQ(second->Wait(), 0);
  EXPECT_EQ(second->StandardError() + second->StandardOutput(), "");
  EXPECT_TRUE(first->StaysRunningFor(Millis{5500})) << "the first instance has ended";
  ExpectCleanEnd(*first);
}

// Natively, without a runtime folder, the lock lies in a folder of the program's own in
// TMPDIR, one lock per graphical session.
class PrivateLock : public StartUp {
 protected:
  void SetUp() override {
    if (UnderWine()) GTEST_SKIP() << "Windows keeps its named mutex";
    StartUp::SetUp();
    fs::create_directory(tmp);
    fs::permissions(tmp, fs::perms::all | fs::perms::sticky_bit);
  }
  Env Session(const std::string& display) const {
    return {{"XDG_RUNTIME_DIR", ""}, {"TMPDIR", tmp}, {"WAYLAND_DISPLAY", ""}, {"DISPLAY", display}, {"PATH", sandbox.Path("bin")}};
  }
  const std::string tmp = sandbox.Path("tmp"), folder = tmp + "/zorvani-wallpaper-" + std::to_string(geteuid());
  const std::string oldLock = folder + ".lock";  // where earlier versions locked
};

TEST_F(PrivateLock, OneCopyPerGraphicalSession) {
  auto first = sandbox.Start(Session(":57"));
  ASSERT_TRUE(first->StaysRunningFor(SettleTime())) << first->StandardError();
  EXPECT_EQ(sandbox.Start(Session(":57.0"))->Wait(), 0) << "a second copy in the same session";
  auto other = sandbox.Start(Session(":58"));
  EXPECT_TRUE(other->StaysRunningFor(SettleTime())) << "the copy of another session did not start";
  EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all);
  ExpectCleanEnd(*first);
  ExpectCleanEnd(*other);
}

// Another local user who made the lock's folder or file first and holds the lock, or
// links planted in their place: the program starts and never writes through a link.
TEST_F(PrivateLock, AnotherUsersFilesInTheTemporaryFolderNeitherStopTheProgramNorLeadItElsewhere) {
  const std::string elsewhere = sandbox.Path("elsewhere");
  std::vector<int> held;
  const auto hold = [&](const std::string& path) {
    held.push_back(open(path.c_str(), O_RDWR | O_CREAT, 0666));
    ASSERT_EQ(flock(held.back(), LOCK_EX | LOCK_NB), 0);
    ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
  };
  const std::pair<const char*, std::function<void()>> kPlanted[] = {
      {"held by another user", [&] {
         fs::create_directory(folder);
         fs::permissions(folder, fs::perms::all);
         hold(folder + "/instance-:57.lock"), hold(oldLock);
         ASSERT_EQ(chown(folder.c_str(), 65534, 65534), 0);
       }},
      {"links", [&] { fs::create_symlink(elsewhere, folder), fs::create_symlink(elsewhere + "/planted", oldLock); }}};
  for (const auto& [what, plant] : kPlanted) {
    SCOPED_TRACE(what);
    fs::remove_all(elsewhere);
    fs::create_directory(elsewhere);
    fs::permissions(elsewhere, fs::perms::owner_all);  // as private as ours: only the link shows
    for (const auto& entry : fs::directory_iterator(tmp)) fs::remove_all(entry);
    plant();
    auto program = sandbox.Start(Session(":57"));
    EXPECT_TRUE(program->StaysRunningFor(SettleTime())) << "stopped by another user's files";
    EXPECT_TRUE(fs::is_empty(elsewhere)) << "written through a link";
    ExpectCleanEnd(*program);
    for (const int fd : std::exchange(held, {})) close(fd);
  }
}

// Runs that end at once without doing the job: asked what it is (answered on standard
// output, under Windows too), without the auto-start value (silently), and with a bad
// WP.ini entry (the run-time error's report).
TEST_F(StartUp, RunsThatEndAtOnce) {
  const struct { std::vector<std::string> arguments; bool autoStart; const char* ini; int status; std::string out, err; } runs[] = {
      {{"--version"}, true, "", 0, "zorvani-wallpaper", ""},
      {{"--help"}, true, "", 0, "zorvani-wallpaper", ""},
      {{}, false, "", 2, "", ""},
      {{}, true, "[config]\r\nCELL_X=9000000000\r\nNOTES\r\n", 1, "", "Run-time error '9':"}};
  for (const auto& run : runs) {
    SCOPED_TRACE(testing::PrintToString(run.arguments) + " " + run.ini);
    sandbox.SetAutoStart(run.autoStart ? std::optional(sandbox.SystemPath(sandbox.ProgramPath())) : std::nullopt);
    if (*run.ini != '\0') WriteTextFile(sandbox.Path("WP.ini"), run.ini);
    auto program = sandbox.Start({}, {}, run.arguments);
    EXPECT_EQ(program->Wait(), run.status);
    EXPECT_NE(program->StandardOutput().find(run.out), std::string::npos) << program->StandardOutput();
    if (run.err.empty()) EXPECT_EQ(program->StandardError(), "");
    else EXPECT_NE(program->StandardError().find(run.err), std::string::npos) << program->StandardError();
  }
  EXPECT_FALSE(fs::exists(sandbox.Path("wp.bmp")));
}

}  // namespace
}  // namespace e2e
