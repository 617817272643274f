#pragma once
// What a desktop backend sees of the user's session: its environment, the programs
// on its PATH, the programs running in it, and a way to run one of them that can never
// hang the caller.
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace platform {
namespace posix {

enum class CommandResult { kSucceeded, kFailed, kTimedOut };

class Session {
 public:
  // Takes each command line instead of running it, for checks that watch what tools get
  // and make up what they print (output is null where nothing is read).
  using Runner = std::function<CommandResult(const std::vector<std::string>& argv, std::string* output)>;

  // environment: "NAME=value" texts, handed on unchanged to every command.
  // processFolder: where the running processes are listed (/proc).
  Session(std::vector<std::string> environment, std::chrono::milliseconds commandTimeout, Runner runner = nullptr,
          std::string processFolder = "/proc");
  // The environment of this process, with a timeout of a few seconds unless given.
  static Session OfThisProcess(std::chrono::milliseconds commandTimeout = std::chrono::seconds(3));

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
  // True when a process of this user runs on this session's display (its DISPLAY, or
  // its WAYLAND_DISPLAY, is this session's) whose program file is named `name` and,
  // unless `argument` is empty, that was given `argument`. Never true without a display.
  // The processes are read once per Session.
  bool Runs(const std::string& name, const std::string& argument = {}) const;
  // True when the process folder shows any process of this session: outside a sandbox
  // with a process folder of its own it shows at least this one.
  bool ProcessesVisible() const;
  // True when `name` has an owner on the session bus: the bus is asked once per Session,
  // with dbus-send or gdbus under the command time limit. False without a bus.
  bool BusNameOwned(const std::string& name) const;
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
  std::string processFolder_;
  // The argument lists of this session's processes, and the bus's names, once read.
  mutable std::optional<std::vector<std::vector<std::string>>> processes_;
  mutable std::optional<std::string> busNames_;
};

}  // namespace posix
}  // namespace platform
