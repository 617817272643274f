// The hidden form on Linux: an event loop with a periodic timerfd for the timer and a
// signalfd for the outside end (SIGTERM, SIGINT, SIGHUP) that stands for the system
// closing the window. The end of the graphical session the program was started in,
// seen as its display connection ending, closes it too, as a log-off closes a Windows
// program. Relative timers only: absolute monotonic sleeps break under libfaketime.
#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "platform/form.h"
#include "platform/posix/session_watch.h"
#include "runtime/runtime_error.h"

namespace platform {
namespace {

sigset_t EndSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  return set;
}

void IgnoreEnd(int) {}

// Once per process, never undone. An end signal that comes while it is not blocked
// (after the form's end, or to a helper thread of a library) runs a handler that does
// nothing instead of killing the process, whose loop ends it with status 0. SIGXFSZ is
// ignored so that a write beyond the file size limit fails and the save fails with it.
void InstallSignalActions() {
  static const bool installed = [] {
    struct sigaction action {};
    action.sa_handler = IgnoreEnd;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) sigaction(signal, &action, nullptr);
    action.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &action, nullptr);
    return true;
  }();
  (void)installed;
}

[[noreturn]] void RaiseSystemError(const char* what) {
  zorvani::Raise(zorvani::kErrInternal, std::string(what) + ": " + std::strerror(errno));
}

}  // namespace

bool EndPending() {
  sigset_t pending;
  sigemptyset(&pending);
  if (sigpending(&pending) != 0) return false;
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
    if (sigismember(&pending, signal) == 1) return true;
  }
  return false;
}

struct HiddenForm::State {
  FormHandlers handlers;
  sigset_t previousMask{};
  int timer = -1;
  int signals = -1;
  std::unique_ptr<posix::SessionWatch> session;
};

HiddenForm::HiddenForm() : state_(new State) {
  // Blocked from the start, so that an end requested during start-up waits in the
  // signalfd and is handled by the loop instead of killing the process.
  const sigset_t set = EndSignals();
  sigprocmask(SIG_BLOCK, &set, &state_->previousMask);
  InstallSignalActions();
}

HiddenForm::~HiddenForm() {
  if (state_->timer >= 0) close(state_->timer);
  if (state_->signals >= 0) close(state_->signals);
  // Consume end requests that came after the unload before unblocking them.
  const sigset_t set = EndSignals();
  const timespec noWait{};
  while (sigtimedwait(&set, nullptr, &noWait) > 0) {
  }
  sigprocmask(SIG_SETMASK, &state_->previousMask, nullptr);
  delete state_;
}

void HiddenForm::Load(const std::string&, unsigned intervalMs, FormHandlers handlers) {
  state_->handlers = std::move(handlers);

  const sigset_t set = EndSignals();
  state_->signals = signalfd(-1, &set, SFD_CLOEXEC);
  if (state_->signals < 0) RaiseSystemError("signalfd");

  state_->timer = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
  if (state_->timer < 0) RaiseSystemError("timerfd_create");
  itimerspec period{};
  period.it_interval.tv_sec = static_cast<time_t>(intervalMs / 1000);
  period.it_interval.tv_nsec = static_cast<long>(intervalMs % 1000) * 1000000L;
  period.it_value = period.it_interval;
  if (timerfd_settime(state_->timer, 0, &period, nullptr) != 0) RaiseSystemError("timerfd_settime");
  state_->session = std::make_unique<posix::SessionWatch>(state_->signals);
  posix::SessionWatch::Hold(state_->session.get());

  if (state_->handlers.load) state_->handlers.load();
}

int HiddenForm::RunMessageLoop() {
  if (state_->timer < 0) return 0;
  const auto unload = [this] {
    if (state_->handlers.unload) state_->handlers.unload();
    return 0;
  };
  // A negative descriptor is skipped by poll: no session to watch.
  pollfd fds[3] = {{state_->signals, POLLIN, 0}, {state_->timer, POLLIN, 0}, {state_->session->Descriptor(), POLLIN, 0}};
  for (;;) {
    if (poll(fds, 3, -1) < 0) {
      if (errno == EINTR) continue;
      RaiseSystemError("poll");
    }
    if (fds[0].revents & POLLIN) {
      signalfd_siginfo info{};
      if (read(state_->signals, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) return unload();
    }
    if (fds[2].revents & POLLNVAL) {
      fds[2].fd = -1;
    } else if (fds[2].revents != 0 && state_->session->Ended()) {
      return unload();
    }
    // The display told of its monitors: asked again only here, once per wake.
    if (fds[2].revents != 0 && state_->handlers.displayChange && state_->session->TakeLayoutChanged())
      state_->handlers.displayChange();
    if (fds[1].revents & POLLIN) {
      // The count of expirations since the last read: ticks missed during a long
      // handler merge into this one.
      std::uint64_t expirations = 0;
      if (read(state_->timer, &expirations, sizeof expirations) == static_cast<ssize_t>(sizeof expirations) &&
          state_->handlers.tick)
        state_->handlers.tick();
      // A reading of the monitors during the tick may have read a change's event off the
      // connection, where poll no longer shows it.
      state_->session->TakeQueued();
      if (state_->handlers.displayChange && state_->session->TakeLayoutChanged()) state_->handlers.displayChange();
    }
  }
}

bool CloseRunningCopies(unsigned /*deadlineMs*/) { return false; }

}  // namespace platform
