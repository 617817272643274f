// The session's children: what a tool leaves behind when it hangs or is ended. (Whose
// processes count as this display's is the wallpaper table's.)
#ifndef _WIN32
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "common/files.h"
#include "platform/posix/desktop/desktop_session.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using platform::posix::CommandResult;
using platform::posix::Session;

// Gone, or a zombie that nothing will run again (no init reaps orphans in a container),
// within two seconds: a killed process dies only once it is next scheduled.
bool Ended(pid_t pid) {
  for (const auto deadline = std::chrono::steady_clock::now() + 2s;; std::this_thread::sleep_for(10ms)) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return true;
    const std::size_t close = line.rfind(')');
    if (close != std::string::npos && line.compare(close + 2, 1, "Z") == 0) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
  }
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
  // What a tool prints is kept only up to a bound, however much it prints.
  std::string out;
  EXPECT_EQ(session.Run({"/usr/bin/seq", "200000"}, &out), CommandResult::kSucceeded);
  EXPECT_EQ(out.size(), 64u * 1024);

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

}  // namespace
#endif
