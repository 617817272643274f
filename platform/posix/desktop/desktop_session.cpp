#include "platform/posix/desktop/desktop_session.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

#include "platform/form.h"

extern char** environ;

namespace platform {
namespace posix {
namespace {

constexpr std::chrono::milliseconds kPollInterval{5};

constexpr std::size_t kOutputLimit = 64 * 1024;
constexpr std::chrono::milliseconds kStartGrace{300};

class SpawnSetup {
 public:
  // outputPipe: the write end that becomes the program's output, or -1 for /dev/null.
  explicit SpawnSetup(int outputPipe = -1) {
    posix_spawn_file_actions_init(&actions_);
    posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0);
    if (outputPipe >= 0) {
      posix_spawn_file_actions_adddup2(&actions_, outputPipe, 1);
      posix_spawn_file_actions_addopen(&actions_, 2, "/dev/null", O_WRONLY, 0);
    } else {
      posix_spawn_file_actions_addopen(&actions_, 1, "/dev/null", O_WRONLY, 0);
      posix_spawn_file_actions_adddup2(&actions_, 1, 2);
    }
    // Nothing else of ours: whatever the program was handed by its own starter goes no further.
    posix_spawn_file_actions_addclosefrom_np(&actions_, 3);

    posix_spawnattr_init(&attributes_);
    // Its own process group, so that a timeout also ends whatever it started; and
    // none of the signal mask or handlers that the hidden form set up for itself.
    posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&attributes_, 0);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes_, &none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (const int signal : {SIGHUP, SIGINT, SIGTERM, SIGPIPE, SIGCHLD, SIGALRM, SIGUSR1, SIGUSR2}) {
      sigaddset(&defaults, signal);
    }
    posix_spawnattr_setsigdefault(&attributes_, &defaults);
  }
  ~SpawnSetup() {
    posix_spawnattr_destroy(&attributes_);
    posix_spawn_file_actions_destroy(&actions_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  const posix_spawn_file_actions_t* actions() const { return &actions_; }
  const posix_spawnattr_t* attributes() const { return &attributes_; }

 private:
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attributes_;
};

// The texts of a file under `folder` that holds NUL-separated ones (cmdline, environ),
// at most `limit` bytes of it; none when it cannot be read.
std::vector<std::string> NulSeparated(int folder, const char* name, std::size_t limit) {
  const int fd = openat(folder, name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  std::string content;
  char buffer[4096];
  ssize_t n;
  while (content.size() < limit && ((n = read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR))) {
    if (n > 0) content.append(buffer, static_cast<std::size_t>(n));
  }
  close(fd);
  std::vector<std::string> texts;
  for (std::size_t start = 0; start < content.size();) {
    std::size_t end = content.find('\0', start);
    if (end == std::string::npos) end = content.size();
    texts.push_back(content.substr(start, end - start));
    start = end + 1;
  }
  return texts;
}

// ":1.0" and ":1" are one display: the screen number does not tell sessions apart.
std::string DisplayOnly(const std::string& display) {
  const std::size_t colon = display.rfind(':');
  const std::size_t dot = colon == std::string::npos ? std::string::npos : display.find('.', colon);
  return dot == std::string::npos ? display : display.substr(0, dot);
}

std::string ValueIn(const std::vector<std::string>& environment, const std::string& name) {
  const std::string prefix = name + "=";
  for (const std::string& entry : environment) {
    if (entry.compare(0, prefix.size(), prefix) == 0) return entry.substr(prefix.size());
  }
  return {};
}

// The argument lists of this user's processes whose X display or Wayland display is
// the one given (an empty one matches nothing).
std::vector<std::vector<std::string>> ProcessesOn(const std::string& processFolder, const std::string& display,
                                                  const std::string& wayland) {
  std::vector<std::vector<std::string>> found;
  if (display.empty() && wayland.empty()) return found;
  DIR* folder = opendir(processFolder.c_str());
  if (folder == nullptr) return found;
  while (const dirent* entry = readdir(folder)) {
    const std::string name = entry->d_name;
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    const int process = openat(dirfd(folder), name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (process < 0) continue;
    struct stat info {};
    if (fstat(process, &info) == 0 && info.st_uid == geteuid()) {
      const std::vector<std::string> environment = NulSeparated(process, "environ", 256 * 1024);
      const bool ours = (!display.empty() && DisplayOnly(ValueIn(environment, "DISPLAY")) == display) ||
                        (!wayland.empty() && ValueIn(environment, "WAYLAND_DISPLAY") == wayland);
      if (ours) {
        std::vector<std::string> arguments = NulSeparated(process, "cmdline", 64 * 1024);
        if (!arguments.empty()) found.push_back(std::move(arguments));
      }
    }
    close(process);
  }
  closedir(folder);
  return found;
}

constexpr std::chrono::milliseconds kEndGrace{1000};

// Polled with nanosleep and counted in steps, which stays right under a faked clock.
// True once the child has been reaped within the time.
bool Reaped(pid_t child, std::chrono::milliseconds limit, int* status) {
  const timespec interval{0, static_cast<long>(std::chrono::nanoseconds(kPollInterval).count())};
  for (long step = 0; step <= static_cast<long>(limit / kPollInterval); ++step) {
    const pid_t done = waitpid(child, status, WNOHANG);
    if (done == child || (done < 0 && errno == ECHILD)) return true;
    nanosleep(&interval, nullptr);
  }
  return false;
}

std::vector<char*> PointersOf(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

Session::Session(std::vector<std::string> environment, std::chrono::milliseconds commandTimeout, Runner runner,
                 std::string processFolder)
    : environment_(std::move(environment)), commandTimeout_(commandTimeout), runner_(std::move(runner)),
      processFolder_(std::move(processFolder)) {}

Session Session::OfThisProcess(std::chrono::milliseconds commandTimeout) {
  std::vector<std::string> environment;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) environment.emplace_back(*entry);
  return Session(std::move(environment), commandTimeout);
}

std::string Session::Variable(const std::string& name) const { return ValueIn(environment_, name); }

bool Session::ProcessesVisible() const {
  if (!processes_) {
    const std::string display = Variable("DISPLAY");
    processes_ = ProcessesOn(processFolder_, display.empty() ? display : DisplayOnly(display), Variable("WAYLAND_DISPLAY"));
  }
  return !processes_->empty();
}

bool Session::Runs(const std::string& name, const std::string& argument) const {
  if (!ProcessesVisible()) return false;
  return std::any_of(processes_->begin(), processes_->end(), [&](const std::vector<std::string>& arguments) {
    const std::string& program = arguments.front();
    const std::size_t slash = program.rfind('/');
    return program.substr(slash == std::string::npos ? 0 : slash + 1) == name &&
           (argument.empty() || std::find(arguments.begin() + 1, arguments.end(), argument) != arguments.end());
  });
}

bool Session::BusNameOwned(const std::string& name) const {
  if (!busNames_) {
    busNames_.emplace();
    // Without an address, dbus-send would try to start a bus of its own.
    if (Variable("DBUS_SESSION_BUS_ADDRESS").empty()) return false;
    std::string output;
    if (const std::string send = FindProgram("dbus-send"); !send.empty()) {
      if (Run({send, "--session", "--print-reply", "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
               "org.freedesktop.DBus.ListNames"}, &output) == CommandResult::kSucceeded)
        busNames_ = output;
    } else if (const std::string gdbus = FindProgram("gdbus"); !gdbus.empty()) {
      if (Run({gdbus, "call", "--session", "--dest", "org.freedesktop.DBus", "--object-path", "/org/freedesktop/DBus",
               "--method", "org.freedesktop.DBus.ListNames"}, &output) == CommandResult::kSucceeded)
        busNames_ = output;
    }
  }
  // dbus-send quotes each name with ", gdbus with '.
  return busNames_->find('"' + name + '"') != std::string::npos || busNames_->find('\'' + name + '\'') != std::string::npos;
}

std::string Session::FindProgram(const std::string& name) const {
  // Only absolute folders: an empty element or "." would run a file from wherever the
  // program was started. Without any, the system's own folders.
  std::vector<std::string> folders;
  const std::string path = Variable("PATH");
  for (std::size_t start = 0, end; start <= path.size(); start = end + 1) {
    end = std::min(path.find(':', start), path.size());
    if (end > start && path[start] == '/') folders.push_back(path.substr(start, end - start));
  }
  if (folders.empty()) folders = {"/usr/local/bin", "/usr/bin", "/bin"};
  for (const std::string& folder : folders) {
    const std::string candidate = folder + "/" + name;
    struct stat info {};
    if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

CommandResult Session::Run(const std::vector<std::string>& argv) const { return Run(argv, nullptr); }

CommandResult Session::Run(const std::vector<std::string>& argv, std::string* output) const {
  if (argv.empty()) return CommandResult::kFailed;
  if (runner_) {
    if (output != nullptr) output->clear();
    return runner_(argv, output);
  }
  int pipeEnds[2] = {-1, -1};
  if (output != nullptr) {
    output->clear();
    // Only our end is non-blocking: the program's writes must wait for our reads.
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) return CommandResult::kFailed;
    fcntl(pipeEnds[0], F_SETFL, O_NONBLOCK);
  }
  const auto closePipe = [&] {
    for (int& end : pipeEnds) {
      if (end >= 0) close(end);
      end = -1;
    }
  };
  std::vector<std::string> arguments = argv;
  std::vector<std::string> environment = environment_;
  std::vector<char*> argumentPointers = PointersOf(arguments);
  std::vector<char*> environmentPointers = PointersOf(environment);

  pid_t child = 0;
  {
    const SpawnSetup setup(pipeEnds[1]);
    if (posix_spawn(&child, argumentPointers[0], setup.actions(), setup.attributes(), argumentPointers.data(),
                    environmentPointers.data()) != 0) {
      closePipe();
      return CommandResult::kFailed;
    }
  }
  if (pipeEnds[1] >= 0) {
    close(pipeEnds[1]);
    pipeEnds[1] = -1;
  }
  // Reads what is there without blocking; a full pipe would stall the program.
  const auto drain = [&] {
    char buffer[4096];
    ssize_t n;
    while (pipeEnds[0] >= 0 && (n = read(pipeEnds[0], buffer, sizeof buffer)) > 0) {
      const std::size_t room = kOutputLimit - std::min(kOutputLimit, output->size());
      output->append(buffer, std::min(static_cast<std::size_t>(n), room));
    }
  };

  // Polled with nanosleep and counted in steps, which stays right under a faked clock.
  const long steps = static_cast<long>(commandTimeout_ / kPollInterval) + 1;
  const timespec interval{0, static_cast<long>(std::chrono::nanoseconds(kPollInterval).count())};
  int status = 0;
  // An end asked of the program also ends the wait: a tool that hangs on a display that
  // does not answer would otherwise hold the end for the whole timeout.
  for (long step = 0; step < steps && !EndPending(); ++step) {
    if (output != nullptr) drain();
    const pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child) {
      if (output != nullptr) drain();
      closePipe();
      return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? CommandResult::kSucceeded : CommandResult::kFailed;
    }
    if (done < 0 && errno != EINTR) {
      closePipe();
      return CommandResult::kFailed;
    }
    nanosleep(&interval, nullptr);
  }
  closePipe();
  kill(-child, SIGKILL);
  // Even SIGKILL waits for a process stuck in the kernel (a dead network mount): left as a zombie then.
  Reaped(child, kEndGrace, &status);
  return CommandResult::kTimedOut;
}

int Session::Start(const std::vector<std::string>& argv) const {
  if (argv.empty()) return -1;
  if (runner_) {
    runner_(argv, nullptr);
    return -1;
  }
  std::vector<std::string> arguments = argv;
  std::vector<std::string> environment = environment_;
  std::vector<char*> argumentPointers = PointersOf(arguments);
  std::vector<char*> environmentPointers = PointersOf(environment);
  const SpawnSetup setup;
  pid_t child = 0;
  if (posix_spawn(&child, argumentPointers[0], setup.actions(), setup.attributes(), argumentPointers.data(),
                  environmentPointers.data()) != 0) {
    return -1;
  }
  // A client that cannot reach the compositor or read the file ends at once.
  const timespec interval{0, static_cast<long>(std::chrono::nanoseconds(kPollInterval).count())};
  int status = 0;
  for (long step = 0; step < static_cast<long>(kStartGrace / kPollInterval); ++step) {
    if (waitpid(child, &status, WNOHANG) == child) return -1;
    nanosleep(&interval, nullptr);
  }
  return child;
}

void Session::End(int started) {
  if (started <= 0) return;
  int status = 0;
  kill(-started, SIGTERM);
  kill(-started, SIGCONT);
  if (Reaped(started, kEndGrace, &status)) return;
  kill(-started, SIGKILL);
  Reaped(started, kEndGrace, &status);
}

}  // namespace posix
}  // namespace platform
