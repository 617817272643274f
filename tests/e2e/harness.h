#pragma once
// Process-level test harness: runs the real program, natively or under Wine, in a
// sandbox of its own, optionally under libfaketime, and ends it from outside.
//
// Chosen per run by the environment:
//   ZORVANI_E2E_TARGET  "linux" (default) or "wine"
//   ZORVANI_E2E_EXE     the program: build/linux/zorvani-wallpaper or
//                       build/windows/zorvani-wallpaper.exe
//   WINEPREFIX          (wine) the prefix to use. Give one of the tests' own: other runs
//                       in a shared prefix share the instance mutex, the Run key and
//                       taskkill's aim. A prefix other than ~/.wine has its wine server
//                       restarted once per test binary, under the harness's display.
//   DISPLAY             (wine) used when set; otherwise the harness starts one Xvfb for
//                       the whole test binary and stops it at exit
//
// Every wait is bounded. Output of wine commands goes to files, never to pipes: Wine's
// helper processes inherit it and outlive the command.
#include <sys/types.h>

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

using Millis = std::chrono::milliseconds;

enum class Target { kLinux, kWine };

Target CurrentTarget();
bool UnderWine();
// Generous bounds for one start-up or one end of the program on this target.
Millis ExitTimeout();
// How long a freshly started program is given to claim its instance and load its form.
Millis SettleTime();

// A folder under the temporary folder, removed with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void WriteTextFile(const std::string& path, const std::string& text);
std::string ReadTextFile(const std::string& path);  // empty when missing
bool FileExists(const std::string& path);
// True as soon as the file exists; false when it still does not after the timeout.
bool WaitForFile(const std::string& path, Millis timeout);

// libfaketime for the started program (both targets). Give one or both:
//   faketime       FAKETIME, e.g. "@2004-03-05 23:59:55" (frozen) or "-10d" (offset)
//   timestampFile  FAKETIME_TIMESTAMP_FILE, re-read at every clock read, so a test can
//                  move the clock while the program runs: write "-718057171" (seconds,
//                  keeps ticking) or "@2004-03-05 12:00:00" (frozen) into it.
// The monotonic clock stays real, so the form's timer keeps its five-second rhythm.
struct FakeTime {
  std::string faketime;
  std::string timestampFile;
};

struct LaunchOptions {
  std::map<std::string, std::string> environment;  // added to, or overriding, the sandbox's
  std::string workDir;                             // default: the sandbox folder
  std::optional<FakeTime> fakeTime;
};

// One started process (the program itself, or the wine process that is the program).
class Program {
 public:
  Program(pid_t pid, std::string stdoutPath, std::string stderrPath, std::string imageName);
  ~Program();  // kills it if it still runs
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  bool Running();
  // False when it still runs after the timeout.
  bool WaitForExit(Millis timeout);
  // True when it is still running after the whole time.
  bool StaysRunningFor(Millis time);
  // The exit status, 128 + signal for a signal, -1 while it runs.
  int ExitStatus() const { return status_; }
  // Ends it the way the system does: SIGTERM natively, `wine taskkill /im NAME` (WM_CLOSE
  // to its windows) under Wine, repeated until it has gone or ExitTimeout() has passed.
  void Stop();
  void Kill();
  std::string StandardOutput() const { return ReadTextFile(stdoutPath_); }
  std::string StandardError() const { return ReadTextFile(stderrPath_); }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_;
  int status_ = -1;
  std::string stdoutPath_, stderrPath_, imageName_;
};

// One test's world: a temporary folder that holds a copy of the program (its own folder,
// where it looks for WP.ini) and, natively, the stand-in registry, the runtime folder of
// the instance lock, HOME and the XDG folders. Under Wine the prefix is shared, so the
// Run key is saved before the first change and put back by the destructor.
class Sandbox {
 public:
  Sandbox();
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  const std::string& folder() const { return dir_.path(); }
  std::string Path(const std::string& name) const { return dir_ / name; }
  // The copy of the program and its folder, as Linux paths.
  const std::string& ProgramPath() const { return programPath_; }
  std::string ProgramFolder() const { return folder(); }
  // A Linux path as the program sees it: unchanged natively, "Z:\..." under Wine.
  std::string SystemPath(const std::string& linuxPath) const;
  // Writes a file beside the program (such as "WP.ini").
  void WriteProgramFile(const std::string& name, const std::string& text) const;

  // The auto-start command line, "ZorvaniWallPaper" under
  // HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Run.
  void SetAutoStart(const std::string& commandLine);
  // The Run key itself is missing.
  void RemoveAutoStartKey();

  std::unique_ptr<Program> Start(const LaunchOptions& options = {}) const;
  // Runs `wine ARGS...` (or any command natively) to its end; output goes to files in
  // the sandbox. Returns the exit status, or -1 after the timeout (it is then killed).
  int RunCommand(const std::vector<std::string>& argv, Millis timeout) const;

 private:
  void WriteStandInRegistry(const std::optional<std::string>& autoStart) const;
  void SaveRunKey();

  TempDir dir_;
  std::string programPath_;
  bool runKeySaved_ = false;
  bool runKeyExisted_ = false;
};

}  // namespace e2e
