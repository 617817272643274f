#pragma once
// One started process, for every suite that runs a real command: standard input from
// /dev/null, output to LOG.out and LOG.err (files, never pipes, which Wine's helpers
// outlive), and a deadline on every wait. Forked rather than spawned: a spawned child
// shares the test's memory until it starts the command, and its peak would count the
// test's own.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/files.h"

extern char** environ;

namespace testing_files {

// Variables over the test's own (an empty value removes one); with `only`, all there is.
using Env = std::map<std::string, std::string>;

class Process {
 public:
  // With memoryLimit, the child gets that much address space (not under AddressSanitizer,
  // whose shadow memory alone is terabytes of it).
  Process(const std::vector<std::string>& argv, const Env& env, std::string log, const std::string& workDir = "",
          bool only = false, rlim_t memoryLimit = 0)
      : log_(std::move(log)) {
    std::vector<std::string> vars;
    for (char** entry = environ; !only && *entry != nullptr; ++entry) {
      const std::string var = *entry;
      if (env.count(var.substr(0, var.find('='))) == 0) vars.push_back(var);
    }
    for (const auto& [name, value] : env)
      if (!value.empty()) vars.push_back(name + "=" + value);
    std::vector<char*> args, envp;
    for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    for (auto& var : vars) envp.push_back(var.data());
    args.push_back(nullptr), envp.push_back(nullptr);
    const std::string out = log_ + ".out", err = log_ + ".err";
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ > 0) return;
    sigset_t none;
    sigemptyset(&none), sigprocmask(SIG_SETMASK, &none, nullptr);
    const int fds[] = {open("/dev/null", O_RDONLY), open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644),
                       open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644)};
    for (int fd = 0; fd < 3; ++fd)
      if (fds[fd] < 0 || dup2(fds[fd], fd) < 0) _exit(126);
    if (!workDir.empty() && chdir(workDir.c_str()) != 0) _exit(126);
#ifndef __SANITIZE_ADDRESS__
    const rlimit limit{memoryLimit, memoryLimit};
    if (memoryLimit != 0 && setrlimit(RLIMIT_AS, &limit) != 0) _exit(126);
#else
    (void)memoryLimit;
#endif
    execvpe(args[0], args.data(), envp.data());
    _exit(127);
  }
  // Ends it if it still runs: SIGTERM first, so that it can clean up, then SIGKILL.
  ~Process() {
    if (Wait(std::chrono::milliseconds(0)) == -1) kill(pid_, SIGTERM);
    if (Wait(std::chrono::milliseconds(5000)) == -1) kill(pid_, SIGKILL), Wait(std::chrono::milliseconds(5000));
  }
  Process(const Process&) = delete;

  // The exit status (128 + signal for a signal), or -1 while it still runs after the timeout.
  int Wait(std::chrono::milliseconds timeout) {
    for (const auto deadline = std::chrono::steady_clock::now() + timeout; status_ == -1;) {
      int raw = 0;
      rusage usage{};
      const pid_t done = wait4(pid_, &raw, WNOHANG, &usage);
      if (done == pid_) status_ = WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : WEXITSTATUS(raw), peakKiB_ = usage.ru_maxrss;
      else if (done < 0 || std::chrono::steady_clock::now() >= deadline) break;
      else std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return status_;
  }
  pid_t pid() const { return pid_; }
  const std::string& log() const { return log_; }
  long peakKiB() const { return peakKiB_; }  // its largest resident memory, once it has ended
  std::string StandardOutput() const { return ReadFile(log_ + ".out"); }
  std::string StandardError() const { return ReadFile(log_ + ".err"); }

 private:
  pid_t pid_;
  int status_ = -1;
  long peakKiB_ = 0;
  std::string log_;
};

}  // namespace testing_files
