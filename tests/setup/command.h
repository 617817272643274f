#pragma once
// A command run as a user runs it, with no shell in between, for the tool suites.
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "common/process.h"

using testing_files::ReadFile;

struct CommandRun {
  int status = -1;  // -1 when it did not end by itself within two minutes
  pid_t pid = 0;
  std::string said;  // standard output, then standard error
  long peakKiB = 0;  // its largest resident memory
};

// In exactly the given environment, the test's own when none; with memoryLimitMiB, in that much address space.
inline CommandRun RunCommand(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
                             rlim_t memoryLimitMiB = 0) {
  const std::string log = (std::filesystem::temp_directory_path() / ("zorvani-command-" + std::to_string(getpid()))).string();
  testing_files::Env variables;
  for (const std::string& pair : env) variables[pair.substr(0, pair.find('='))] = pair.substr(pair.find('=') + 1);
  testing_files::Process command(args, variables, log, "", !env.empty(), memoryLimitMiB << 20);
  CommandRun run;
  run.status = command.Wait(std::chrono::minutes(2));
  run.pid = command.pid(), run.peakKiB = command.peakKiB();
  run.said = command.StandardOutput() + command.StandardError();
  std::filesystem::remove(log + ".out"), std::filesystem::remove(log + ".err");
  return run;
}
