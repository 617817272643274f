#include "e2e/harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace e2e {
namespace fs = std::filesystem;
namespace {

const char kFakeTimeLibrary[] = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1";
const char kRunKey[] = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr Millis kPollStep{10};
constexpr Millis kWineCommandTimeout{60000};

std::string EnvOr(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}

[[noreturn]] void Fail(const std::string& what) { throw std::runtime_error("e2e harness: " + what); }

std::string ProgramUnderTest() {
  const std::string exe = EnvOr("ZORVANI_E2E_EXE", "");
  if (exe.empty()) Fail("set ZORVANI_E2E_EXE to the program to test");
  if (!fs::exists(exe)) Fail("no program at " + exe);
  return fs::absolute(exe).string();
}

using EnvMap = std::map<std::string, std::string>;

EnvMap CurrentEnvironment() {
  EnvMap env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const std::size_t eq = text.find('=');
    if (eq != std::string::npos) env[text.substr(0, eq)] = text.substr(eq + 1);
  }
  return env;
}

// Starts argv with the environment, stdin from /dev/null, stdout and stderr to files.
pid_t Spawn(const std::vector<std::string>& argv, const EnvMap& env, const std::string& workDir,
            const std::string& stdoutPath, const std::string& stderrPath) {
  std::vector<std::string> envText;
  for (const auto& [name, value] : env) envText.push_back(name + "=" + value);
  std::vector<char*> args, envp;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (auto& e : envText) envp.push_back(e.data());
  envp.push_back(nullptr);

  const pid_t pid = fork();
  if (pid < 0) Fail(std::string("fork: ") + std::strerror(errno));
  if (pid == 0) {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    const int in = open("/dev/null", O_RDONLY);
    const int out = open(stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(126);
    if (!workDir.empty() && chdir(workDir.c_str()) != 0) _exit(126);
    execvpe(args[0], args.data(), envp.data());
    _exit(127);
  }
  return pid;
}

int DecodeStatus(int raw) {
  if (WIFEXITED(raw)) return WEXITSTATUS(raw);
  if (WIFSIGNALED(raw)) return 128 + WTERMSIG(raw);
  return -1;
}

// Waits for pid within the timeout; the decoded status, or nullopt while it runs.
std::optional<int> WaitFor(pid_t pid, Millis timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int raw = 0;
    const pid_t done = waitpid(pid, &raw, WNOHANG);
    if (done == pid) return DecodeStatus(raw);
    if (done < 0) return -1;
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(kPollStep);
  }
}

int RunToEnd(const std::vector<std::string>& argv, const EnvMap& env, const std::string& logBase,
             Millis timeout) {
  const pid_t pid = Spawn(argv, env, "", logBase + ".out", logBase + ".err");
  if (auto status = WaitFor(pid, timeout)) return *status;
  kill(pid, SIGKILL);
  WaitFor(pid, Millis{5000});
  return -1;
}

// One X server for the whole test binary when Wine needs a display and none is set.
class VirtualDisplay {
 public:
  static void Ensure() { static VirtualDisplay display; }

 private:
  VirtualDisplay() {
    if (!EnvOr("DISPLAY", "").empty()) return;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) Fail("pipe for Xvfb");
    const std::string displayFd = std::to_string(fds[1]);
    pid_ = fork();
    if (pid_ == 0) {
      fcntl(fds[1], F_SETFD, 0);  // Xvfb writes its display number into it
      const int null = open("/dev/null", O_RDWR);
      dup2(null, 0);
      dup2(null, 1);
      dup2(null, 2);
      execlp("Xvfb", "Xvfb", "-displayfd", displayFd.c_str(), "-nolisten", "tcp", "-screen", "0",
             "1024x768x24", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    while (poll(&p, 1, 10000) > 0) {
      char c;
      if (read(fds[0], &c, 1) != 1 || c == '\n') break;
      number += c;
    }
    close(fds[0]);
    if (number.empty()) Fail("Xvfb did not start within 10 s");
    setenv("DISPLAY", (":" + number).c_str(), 1);
  }
  ~VirtualDisplay() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    if (!WaitFor(pid_, Millis{5000})) kill(pid_, SIGKILL);
  }
  pid_t pid_ = -1;
};

// A prefix of the tests' own (WINEPREFIX set, not ~/.wine) gets a fresh server.
bool OwnWinePrefix() {
  const std::string prefix = EnvOr("WINEPREFIX", "");
  return !prefix.empty() && fs::weakly_canonical(prefix) != fs::weakly_canonical(EnvOr("HOME", "/") + "/.wine");
}

// The wine server runs outside faketime and stays up, and the prefix's helper
// processes are started here, once, with their output in files. Helpers started
// without a display (by wineboot or a unit-test run) stay up with the server and then
// no process of the prefix can create a window, so a prefix of our own is restarted.
void EnsureWineReady(const std::string& logDir) {
  static bool ready = false;
  if (ready) return;
  VirtualDisplay::Ensure();
  const EnvMap env = CurrentEnvironment();
  if (OwnWinePrefix()) {
    RunToEnd({"wineserver", "-k"}, env, logDir + "/wineserver-kill", Millis{30000});
    RunToEnd({"wineserver", "-w"}, env, logDir + "/wineserver-wait", Millis{30000});
  }
  RunToEnd({"wineserver", "-p"}, env, logDir + "/wineserver", Millis{30000});
  if (RunToEnd({"wine", "cmd", "/c", "exit"}, env, logDir + "/wine-warm", Millis{120000}) != 0)
    Fail("wine does not run; see " + logDir + "/wine-warm.err");
  ready = true;
}

std::string RegQuoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

}  // namespace

Target CurrentTarget() {
  const std::string target = EnvOr("ZORVANI_E2E_TARGET", "linux");
  if (target == "wine") return Target::kWine;
  if (target != "linux") Fail("ZORVANI_E2E_TARGET must be linux or wine, not " + target);
  return Target::kLinux;
}

bool UnderWine() { return CurrentTarget() == Target::kWine; }
Millis ExitTimeout() { return UnderWine() ? Millis{30000} : Millis{5000}; }
Millis SettleTime() { return UnderWine() ? Millis{3000} : Millis{500}; }

TempDir::TempDir() {
  std::string pattern = EnvOr("TMPDIR", "/tmp") + "/zorvani-e2e-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) Fail("mkdtemp: " + std::string(std::strerror(errno)));
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

void WriteTextFile(const std::string& path, const std::string& text) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) Fail("cannot write " + path);
}

std::string ReadTextFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool FileExists(const std::string& path) { return fs::exists(path); }

bool WaitForFile(const std::string& path, Millis timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!FileExists(path)) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(kPollStep);
  }
  return true;
}

Program::Program(pid_t pid, std::string stdoutPath, std::string stderrPath, std::string imageName)
    : pid_(pid), stdoutPath_(std::move(stdoutPath)), stderrPath_(std::move(stderrPath)),
      imageName_(std::move(imageName)) {}

Program::~Program() {
  if (Running()) Kill();
}

bool Program::Running() { return !WaitForExit(Millis{0}); }

bool Program::WaitForExit(Millis timeout) {
  if (status_ != -1) return true;
  if (auto status = WaitFor(pid_, timeout)) {
    status_ = *status;
    return true;
  }
  return false;
}

bool Program::StaysRunningFor(Millis time) { return !WaitForExit(time); }

void Program::Stop() {
  if (!UnderWine()) {
    kill(pid_, SIGTERM);
    return;
  }
  // A program still creating its window misses a single close, as on a fresh prefix
  // where the first window takes seconds: repeat it until the program has gone.
  const std::string log = fs::path(stderrPath_).parent_path().string() + "/taskkill";
  const auto deadline = std::chrono::steady_clock::now() + ExitTimeout();
  do {
    RunToEnd({"wine", "taskkill", "/im", imageName_}, CurrentEnvironment(), log, kWineCommandTimeout);
  } while (!WaitForExit(Millis{3000}) && std::chrono::steady_clock::now() < deadline);
}

void Program::Kill() {
  kill(pid_, SIGKILL);
  WaitForExit(Millis{5000});
}

Sandbox::Sandbox() {
  const std::string exe = ProgramUnderTest();
  programPath_ = dir_ / fs::path(exe).filename().string();
  fs::copy_file(exe, programPath_);
  fs::permissions(programPath_, fs::perms::owner_all, fs::perm_options::add);
  if (UnderWine()) {
    EnsureWineReady(folder());
  } else {
    for (const char* sub : {"run", "home", "config", "config-dirs", "data", "cache"})
      fs::create_directories(dir_ / sub);
    fs::permissions(dir_ / "run", fs::perms::owner_all, fs::perm_options::replace);
  }
}

Sandbox::~Sandbox() {
  if (!runKeySaved_) return;
  RunCommand({"wine", "reg", "delete", kRunKey, "/f"}, kWineCommandTimeout);
  if (runKeyExisted_) RunCommand({"wine", "reg", "import", SystemPath(Path("run-key.reg"))}, kWineCommandTimeout);
}

std::string Sandbox::SystemPath(const std::string& linuxPath) const {
  if (!UnderWine()) return linuxPath;
  std::string path = "Z:" + fs::absolute(linuxPath).string();
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

void Sandbox::WriteProgramFile(const std::string& name, const std::string& text) const {
  WriteTextFile(ProgramFolder() + "/" + name, text);
}

void Sandbox::WriteStandInRegistry(const std::optional<std::string>& autoStart) const {
  const std::string file = dir_ / "config-dirs/zorvani-wallpaper/HKEY_LOCAL_MACHINE.reg";
  if (!autoStart) {
    fs::remove(file);
    return;
  }
  WriteTextFile(file,
                "Windows Registry Editor Version 5.00\n\n"
                "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run]\n"
                "\"ZorvaniWallPaper\"=" + RegQuoted(*autoStart) + "\n");
}

void Sandbox::SaveRunKey() {
  if (runKeySaved_) return;
  const std::string backup = SystemPath(Path("run-key.reg"));
  runKeyExisted_ = RunCommand({"wine", "reg", "export", kRunKey, backup, "/y"}, kWineCommandTimeout) == 0;
  runKeySaved_ = true;
}

void Sandbox::SetAutoStart(const std::string& commandLine) {
  if (!UnderWine()) return WriteStandInRegistry(commandLine);
  SaveRunKey();
  // Wine quotes each argument for the Windows command line, so the text arrives as is.
  if (RunCommand({"wine", "reg", "add", kRunKey, "/v", "ZorvaniWallPaper", "/t", "REG_SZ", "/d", commandLine, "/f"},
                 kWineCommandTimeout) != 0)
    Fail("wine reg add failed; see " + Path("command.err"));
}

void Sandbox::RemoveAutoStartKey() {
  if (!UnderWine()) return WriteStandInRegistry(std::nullopt);
  SaveRunKey();
  RunCommand({"wine", "reg", "delete", kRunKey, "/f"}, kWineCommandTimeout);
}

std::unique_ptr<Program> Sandbox::Start(const LaunchOptions& options) const {
  EnvMap env = CurrentEnvironment();
  std::vector<std::string> argv;
  if (UnderWine()) {
    if (env.find("WINEDEBUG") == env.end()) env["WINEDEBUG"] = "-all";  // keeps standard error for reports
    argv = {"wine", programPath_};
  } else {
    env["HOME"] = dir_ / "home";
    env["XDG_RUNTIME_DIR"] = dir_ / "run";
    env["XDG_CONFIG_HOME"] = dir_ / "config";
    env["XDG_CONFIG_DIRS"] = dir_ / "config-dirs";
    env["XDG_DATA_HOME"] = dir_ / "data";
    env["XDG_CACHE_HOME"] = dir_ / "cache";
    env.erase("DBUS_SESSION_BUS_ADDRESS");  // never touch the desktop of the person running the tests
    argv = {programPath_};
  }
  if (options.fakeTime) {
    const std::string preload = env["LD_PRELOAD"];
    env["LD_PRELOAD"] = preload.empty() ? kFakeTimeLibrary : std::string(kFakeTimeLibrary) + ":" + preload;
    if (!options.fakeTime->faketime.empty()) env["FAKETIME"] = options.fakeTime->faketime;
    if (!options.fakeTime->timestampFile.empty()) env["FAKETIME_TIMESTAMP_FILE"] = options.fakeTime->timestampFile;
    env["FAKETIME_NO_CACHE"] = "1";
    env["FAKETIME_DONT_FAKE_MONOTONIC"] = "1";
    env["NO_FAKE_STAT"] = "1";  // Wine would otherwise rebuild its prefix at every start
    env["ASAN_OPTIONS"] = env["ASAN_OPTIONS"].empty() ? "verify_asan_link_order=0"
                                                      : env["ASAN_OPTIONS"] + ":verify_asan_link_order=0";
  }
  for (const auto& [name, value] : options.environment) env[name] = value;

  static int runs = 0;
  const std::string base = Path("program-" + std::to_string(++runs));
  const pid_t pid = Spawn(argv, env, options.workDir.empty() ? folder() : options.workDir, base + ".out",
                          base + ".err");
  return std::make_unique<Program>(pid, base + ".out", base + ".err", fs::path(programPath_).filename().string());
}

int Sandbox::RunCommand(const std::vector<std::string>& argv, Millis timeout) const {
  return RunToEnd(argv, CurrentEnvironment(), Path("command"), timeout);
}

}  // namespace e2e
