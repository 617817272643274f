#pragma once
// What a desktop backend sees of the user's session: its environment, the programs
// on its PATH, and a way to run one of them that can never hang the caller.
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace platform {
namespace posix {

enum class CommandResult { kSucceeded, kFailed, kTimedOut };

class Session {
 public:
  // Takes each command line instead of running it, for checks that watch what tools get.
  using Runner = std::function<CommandResult(const std::vector<std::string>& argv)>;

  // environment: "NAME=value" texts, handed on unchanged to every command.
  Session(std::vector<std::string> environment, std::chrono::milliseconds commandTimeout, Runner runner = nullptr);
  // The environment of this process, with a timeout of a few seconds.
  static Session OfThisProcess();

  // The value of a variable, empty when it is not set.
  std::string Variable(const std::string& name) const;
  // The full path of an executable program in PATH's absolute folders (/usr/local/bin,
  // /usr/bin and /bin when it has none), empty when there is none.
  std::string FindProgram(const std::string& name) const;
  // Runs the program at argv[0] (a full path) without a shell, input and output on
  // /dev/null, in its own process group, which is killed when the timeout passes.
  CommandResult Run(const std::vector<std::string>& argv) const;
  // The same, keeping the first 64 KiB of what the program writes to its output.
  CommandResult Run(const std::vector<std::string>& argv, std::string* output) const;
  // Starts a program that keeps running (a wallpaper client), in its own process
  // group; its process id, or -1. Succeeds only if it is still running after a moment.
  // With a Runner, the runner gets the command and the result is -1.
  int Start(const std::vector<std::string>& argv) const;
  // Ends a program that Start started, with its process group: SIGTERM (with SIGCONT, so
  // a stopped one sees it), then SIGKILL when it is still there after a second. Never
  // waits longer than about two seconds, whatever the program does.
  static void End(int started);

 private:
  std::vector<std::string> environment_;
  std::chrono::milliseconds commandTimeout_;
  Runner runner_;
};

}  // namespace posix
}  // namespace platform
