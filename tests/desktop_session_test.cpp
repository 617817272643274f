// The session's own processes and children: what a tool leaves behind when it hangs or
// is ended, and whose processes count as this display's.
#ifndef _WIN32
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "common/files.h"
#include "platform/posix/desktop/desktop_session.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using platform::posix::CommandResult;
using platform::posix::Session;

// Gone, or a zombie that nothing will run again (no init reaps orphans in a container).
bool Ended(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return true;
  const std::size_t close = line.rfind(')');
  return close != std::string::npos && line.compare(close + 2, 1, "Z") == 0;
}

// A tool that hangs and a wallpaper client that is ended: the grandchild each started
// (shell pipelines, D-Bus activation) ends with them.
TEST(DesktopSession, AToolThatHangsOrIsEndedLeavesNoProcessOfItsGroup) {
  const testing_files::TempFolder folder;
  const std::string pidFile = (folder / "grandchild").string();
  const auto script = [&](const std::string& before, const std::string& after) {
    return before + "/bin/sleep 60 & echo $! >'" + pidFile + "'; " + after + "wait";
  };
  const auto grandchild = [&] {
    testing_files::WaitForFile(pidFile, 2s);
    int pid = 0;
    std::ifstream(pidFile) >> pid;
    fs::remove(pidFile);
    return pid;
  };
  const Session session({"PATH=/usr/bin:/bin"}, 500ms);
  EXPECT_EQ(session.Run({"/bin/sh", "-c", script("", "")}), CommandResult::kTimedOut);
  pid_t left = grandchild();
  ASSERT_GT(left, 0);
  EXPECT_TRUE(Ended(left)) << "left running after the timeout";
  if (!Ended(left)) kill(left, SIGKILL);

  // Ended as it is, one that ignores the end, or one that is stopped: killed, never awaited for ever.
  for (const auto& [before, after] : {std::pair<const char*, const char*>{"", ""}, {"trap '' TERM; ", ""}, {"", "kill -STOP $$; "}}) {
    const int started = session.Start({"/bin/sh", "-c", script(before, after)});
    ASSERT_GT(started, 0);
    left = grandchild();
    Session::End(started);
    EXPECT_TRUE(Ended(left) && Ended(started)) << "left running after the client was ended: " << before << after;
    if (!Ended(left)) kill(left, SIGKILL);
  }
}

// ":5" and ":5.0" are one display; another user's process on it is not this session's
// (checked where the test may give a process folder away: as root).
TEST(DesktopSession, OnlyThisUsersProcessesOnThisDisplayCount) {
  const testing_files::TempFolder proc;
  const auto process = [&](int pid, const std::string& environ, const std::string& cmdline) {
    fs::create_directories(proc / std::to_string(pid));
    std::ofstream(proc / std::to_string(pid) / "environ") << environ;
    std::ofstream(proc / std::to_string(pid) / "cmdline") << cmdline;
  };
  process(100, std::string("DISPLAY=:5\0", 11), std::string("/usr/bin/pcmanfm\0--desktop\0", 27));
  process(101, std::string("DISPLAY=:6.0\0", 13), std::string("xfdesktop\0", 10));
  process(102, std::string("DISPLAY=:5.0\0", 13), std::string("caja\0", 5));
  const bool root = geteuid() == 0;
  if (root) ASSERT_EQ(chown((proc / "102").c_str(), 65534, 65534), 0);
  const Session session({"DISPLAY=:5.0"}, 500ms, nullptr, proc.path.string());
  EXPECT_TRUE(session.Runs("pcmanfm", "--desktop"));
  EXPECT_FALSE(session.Runs("pcmanfm", "--daemon"));
  EXPECT_FALSE(session.Runs("xfdesktop", "")) << "another display's";
  if (root) EXPECT_FALSE(session.Runs("caja", "")) << "another user's";
}

}  // namespace
#endif
