#pragma once
// A command run as a user runs it, with no shell in between, for the tool suites.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

inline std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

struct CommandRun {
  int status = -1;  // -1 when it did not end by itself within two minutes
  pid_t pid = 0;
  std::string said;  // standard output and error
  long peakKiB = 0;  // its largest resident memory
};

// In the given environment, the test's own when none.
inline CommandRun RunCommand(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
  const std::filesystem::path out =
      std::filesystem::temp_directory_path() / ("zorvani-command-said-" + std::to_string(getpid()));
  std::vector<char*> argv, envp;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  for (const std::string& pair : env) envp.push_back(const_cast<char*>(pair.c_str()));
  argv.push_back(nullptr);
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  CommandRun run;
  const int failed = posix_spawnp(&run.pid, argv[0], &actions, nullptr, argv.data(), env.empty() ? environ : envp.data());
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  rusage usage{};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  while (failed == 0 && wait4(run.pid, &status, WNOHANG, &usage) == 0) {
    if (std::chrono::steady_clock::now() > deadline) kill(run.pid, SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (failed == 0 && WIFEXITED(status)) run.status = WEXITSTATUS(status);
  run.peakKiB = usage.ru_maxrss;
  run.said = ReadText(out);
  std::filesystem::remove(out);
  return run;
}
