#pragma once
// Runs the real program, natively or under Wine, in a sandbox of its own, optionally
// under libfaketime, and ends it from outside. Chosen by the environment:
//   ZORVANI_E2E_TARGET  "linux" (default) or "wine"
//   ZORVANI_E2E_EXE     build/linux/zorvani-wallpaper or build/windows/zorvani-wallpaper.exe
//   WINEPREFIX          (wine) a prefix of the tests' own whose server runs, started
//                       with the display (tests/run-suite --display --fresh-wine-prefix):
//                       runs in a shared prefix share the instance mutex, Run key and taskkill
//   DISPLAY             (wine) the display the prefix was made on
// Every wait is bounded. Output goes to files, never to pipes, which Wine's helpers outlive.
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/process.h"

namespace e2e {

using Millis = std::chrono::milliseconds;
using testing_files::Env;

bool UnderWine();
Millis ExitTimeout();  // for one start-up or one end of the program on this target
Millis SettleTime();   // for a fresh program to claim its instance and load its form

using testing_files::ReadFile;
using testing_files::WaitForFile;
using testing_files::WriteFile;

// The program or a command of the run, waited on for ExitTimeout() unless told otherwise.
class Program : public testing_files::Process {
 public:
  using Process::Process;
  int Wait(Millis timeout = ExitTimeout()) { return Process::Wait(timeout); }
  bool StaysRunningFor(Millis time) { return Wait(time) == -1; }
  // Ends it as the system does: SIGTERM natively, `wine taskkill /im NAME` (WM_CLOSE to its
  // windows, repeated until it has gone or ExitTimeout() has passed) under Wine.
  void Stop();
};

// Stop(), then an end within ExitTimeout() with status 0 and nothing on standard error.
void ExpectCleanEnd(Program& program);

// One test's world: a temporary folder with a copy of the program (whose folder holds its
// WP.ini) and, natively, the stand-in registry with the desktop key (written into, never
// made), the instance lock's runtime folder, HOME and the XDG folders. Under Wine each
// test sets the Run key of the suite's own prefix for itself.
class Sandbox {
 public:
  Sandbox();
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;

  const std::string& folder() const { return folder_; }
  std::string Path(const std::string& name) const { return folder_ + "/" + name; }
  const std::string& ProgramPath() const { return program_; }
  // A Linux path as the program sees it: unchanged natively, "Z:\..." under Wine.
  std::string SystemPath(const std::string& linuxPath) const;
  // HKLM\Software\Microsoft\Windows\CurrentVersion\Run "ZorvaniWallPaper"; nullopt removes the key.
  void SetAutoStart(const std::optional<std::string>& commandLine);
  // Natively: the variables of a GNOME session whose gsettings only logs to gsettings.log.
  Env StubGnome() const;

  // Starts the copy of the program; under libfaketime (the monotonic clock real) with
  // FAKETIME ("@2004-03-05 23:59:55") or FAKETIME_TIMESTAMP_FILE (re-read at every clock
  // read: write "-718057171" into it to move the clock) in env. A launcher gets the
  // program's command line after its own arguments.
  std::unique_ptr<Program> Start(Env env = {}, const std::vector<std::string>& launcher = {},
                                 const std::vector<std::string>& arguments = {}) const;
  // Runs a command to its end, output in command.out and command.err: its status, or -1
  // after the timeout (it is then ended).
  int Run(const std::vector<std::string>& argv, Millis timeout = Millis{60000}) const {
    return Program(argv, {}, Path("command")).Wait(timeout);
  }

 private:
  std::string folder_, program_;
};

}  // namespace e2e
