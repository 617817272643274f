#pragma once
// The hidden form: a top-level window that is never shown, owns one periodic timer,
// and keeps the process alive. Win32 uses a real hidden window with SetTimer; the
// POSIX backend is an event loop on a timerfd that ends on SIGTERM, SIGINT or SIGHUP.
#include <exception>
#include <functional>
#include <string>

namespace platform {

struct FormHandlers {
  std::function<void()> load;    // runs to its end inside Load
  std::function<void()> tick;    // each timer tick, never overlapping another handler
  std::function<void()> unload;  // when the form is unloaded from outside
  // Monitors attached, removed or changed in size, never overlapping another handler.
  std::function<void()> displayChange;
};

class HiddenForm {
 public:
  HiddenForm();
  ~HiddenForm();
  HiddenForm(const HiddenForm&) = delete;
  HiddenForm& operator=(const HiddenForm&) = delete;

  // Creates the window hidden, starts the timer, then runs the load handler.
  // An exception from the load handler passes to the caller.
  void Load(const std::string& caption, unsigned intervalMs, FormHandlers handlers);

  // Delivers ticks until the form is unloaded; returns the exit status. An exception
  // from a tick handler ends the loop and is rethrown here.
  int RunMessageLoop();

  struct State;  // each backend's own

 private:
  State* state_;
};

// True while a request to unload the form waits to be handled (POSIX: an end signal
// is pending), so that a long handler can stop early and let the loop end the program.
bool EndPending();

// For the uninstaller, so that the program file can be removed: sends the close message
// to the form of every other running copy of this program file that a desktop of this
// window station shows, and waits until those copies have ended or deadlineMs has passed.
// True when every copy it reached has ended. A copy in another user's session is out of
// reach. False on POSIX, where set-up's --remove and package removal end the copies.
bool CloseRunningCopies(unsigned deadlineMs);

}  // namespace platform
