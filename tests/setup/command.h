#pragma once
// A command run as a user runs it, with no shell in between, for the tool suites.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/files.h"

extern char** environ;

using testing_files::ReadFile;

struct CommandRun {
  int status = -1;  // -1 when it did not end by itself within two minutes
  pid_t pid = 0;
  std::string said;  // standard output and error
  long peakKiB = 0;  // its largest resident memory
};

// In the given environment, the test's own when none. Forked rather than spawned: a
// spawned child shares the test's memory until it starts the command, and its peak
// would count the test's own.
inline CommandRun RunCommand(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
  const std::string out = (std::filesystem::temp_directory_path() / ("zorvani-command-said-" + std::to_string(getpid()))).string();
  std::vector<char*> argv, envp;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  for (const std::string& pair : env) envp.push_back(const_cast<char*>(pair.c_str()));
  argv.push_back(nullptr), envp.push_back(nullptr);
  CommandRun run;
  run.pid = fork();
  if (run.pid == 0) {
    const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0 && dup2(fd, 1) == 1 && dup2(fd, 2) == 2) execvpe(argv[0], argv.data(), env.empty() ? environ : envp.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  while (run.pid > 0 && wait4(run.pid, &status, WNOHANG, &usage) == 0) {
    if (std::chrono::steady_clock::now() > deadline) kill(run.pid, SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (run.pid > 0 && WIFEXITED(status)) run.status = WEXITSTATUS(status);
  run.peakKiB = usage.ru_maxrss;
  run.said = ReadFile(out);
  std::filesystem::remove(out);
  return run;
}
