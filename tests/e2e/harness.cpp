#include "e2e/harness.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <thread>

namespace e2e {
namespace fs = std::filesystem;
namespace {

const std::string kFakeTimeLibrary = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1";
const char kRunKey[] = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
using Clock = std::chrono::steady_clock;

std::string EnvOr(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}

[[noreturn]] void Fail(const std::string& what) { throw std::runtime_error("e2e harness: " + what); }

std::string ProgramUnderTest() {
  const std::string exe = EnvOr("ZORVANI_E2E_EXE", "");
  if (exe.empty() || !fs::exists(exe)) Fail("set ZORVANI_E2E_EXE to the program to test, not '" + exe + "'");
  return fs::absolute(exe).string();
}

}  // namespace

bool UnderWine() {
  const std::string target = EnvOr("ZORVANI_E2E_TARGET", "linux");
  if (target != "linux" && target != "wine") Fail("ZORVANI_E2E_TARGET must be linux or wine, not " + target);
  return target == "wine";
}

Millis ExitTimeout() { return UnderWine() ? Millis{30000} : Millis{5000}; }
Millis SettleTime() { return UnderWine() ? Millis{3000} : Millis{500}; }

void Program::Stop() {
  if (!UnderWine()) return void(kill(pid(), SIGTERM));
  // A program still making its window (seconds on a fresh prefix) misses a single close.
  const auto deadline = Clock::now() + ExitTimeout();
  do {
    Program({"wine", "taskkill", "/im", fs::path(ProgramUnderTest()).filename()}, {}, log() + "-taskkill")
        .Wait(Millis{60000});
  } while (Wait(Millis{3000}) == -1 && Clock::now() < deadline);
}

void ExpectCleanEnd(Program& program) {
  program.Stop();
  EXPECT_EQ(program.Wait(), 0) << "(-1: still running after being closed)";
  EXPECT_EQ(program.StandardError(), "");
}

Sandbox::Sandbox() {
  const std::string exe = ProgramUnderTest();
  folder_ = EnvOr("TMPDIR", "/tmp") + "/zorvani-e2e-XXXXXX";
  if (mkdtemp(folder_.data()) == nullptr) Fail("mkdtemp: " + std::string(std::strerror(errno)));
  program_ = Path(fs::path(exe).filename());
  fs::copy_file(exe, program_);
  fs::permissions(program_, fs::perms::owner_all, fs::perm_options::add);
  if (UnderWine() && EnvOr("DISPLAY", "").empty()) Fail("Wine makes no window without a display: see tests/run-suite --display");
  for (const char* sub : {"run", "home", "config", "config-dirs", "data", "cache"}) fs::create_directories(Path(sub));
  fs::permissions(Path("run"), fs::perms::owner_all, fs::perm_options::replace);
  if (!UnderWine())
    WriteFile(Path("config/zorvani-wallpaper/HKEY_CURRENT_USER.reg"),
              "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\r\n");
}

Env Sandbox::StubGnome() const {
  testing_files::WriteProgram(Path("bin/gsettings"), "echo \"$@\" >>\"" + Path("gsettings.log") + "\"\n");
  return {{"PATH", Path("bin") + ":" + EnvOr("PATH", "")}, {"XDG_CURRENT_DESKTOP", "GNOME"},
          {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + Path("no-bus")}};
}

Sandbox::~Sandbox() {
  std::error_code ignored;
  fs::remove_all(folder_, ignored);
}

std::string Sandbox::SystemPath(const std::string& linuxPath) const {
  if (!UnderWine()) return linuxPath;
  std::string path = "Z:" + fs::absolute(linuxPath).string();
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

void Sandbox::SetAutoStart(const std::optional<std::string>& commandLine) {
  if (!UnderWine()) {
    const std::string file = Path("config-dirs/zorvani-wallpaper/HKEY_LOCAL_MACHINE.reg");
    if (!commandLine) return void(fs::remove(file));
    // The sandbox's Linux paths hold no quote or backslash to escape.
    return WriteFile(file, "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows"
                           "\\CurrentVersion\\Run]\n\"ZorvaniWallPaper\"=\"" + *commandLine + "\"\n");
  }
  if (!commandLine) return void(Run({"wine", "reg", "delete", kRunKey, "/f"}));
  // Wine quotes each argument for the Windows command line, so the text arrives as is.
  // A client that starts while the last one's server is going away can fail at once: it
  // is tried again, and its own words end up in the report (the sandbox goes with it).
  for (int attempt = 1; Run({"wine", "reg", "add", kRunKey, "/v", "ZorvaniWallPaper", "/t", "REG_SZ", "/d", *commandLine, "/f"}) != 0; ++attempt) {
    if (attempt == 3) Fail("wine reg add failed three times: " + ReadFile(Path("command.err")));
    std::this_thread::sleep_for(Millis{1000});
  }
}

std::unique_ptr<Program> Sandbox::Start(Env env, const std::vector<std::string>& launcher,
                                        const std::vector<std::string>& arguments) const {
  std::vector<std::string> argv{program_};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  if (UnderWine()) {
    argv.insert(argv.begin(), "wine");
    env.emplace("WINEDEBUG", EnvOr("WINEDEBUG", "-all"));  // keeps standard error for reports
  } else {
    // DBUS_SESSION_BUS_ADDRESS removed: never touch the desktop of the person running the tests.
    env.insert({{"HOME", Path("home")}, {"XDG_RUNTIME_DIR", Path("run")}, {"XDG_CONFIG_HOME", Path("config")},
                {"XDG_CONFIG_DIRS", Path("config-dirs")}, {"XDG_DATA_HOME", Path("data")},
                {"XDG_CACHE_HOME", Path("cache")}, {"DBUS_SESSION_BUS_ADDRESS", ""}});
  }
  if (env.count("FAKETIME") + env.count("FAKETIME_TIMESTAMP_FILE") > 0) {
    const std::string preload = EnvOr("LD_PRELOAD", ""), asan = EnvOr("ASAN_OPTIONS", "");
    env.insert({{"LD_PRELOAD", preload.empty() ? kFakeTimeLibrary : kFakeTimeLibrary + ":" + preload},
                {"FAKETIME_NO_CACHE", "1"},
                {"FAKETIME_DONT_FAKE_MONOTONIC", "1"},
                {"NO_FAKE_STAT", "1"},  // Wine would otherwise rebuild its prefix at every start
                {"ASAN_OPTIONS", (asan.empty() ? "" : asan + ":") + "verify_asan_link_order=0"}});
  }
  argv.insert(argv.begin(), launcher.begin(), launcher.end());
  static int runs = 0;
  return std::make_unique<Program>(argv, env, Path("program-" + std::to_string(++runs)), folder_);
}

}  // namespace e2e
