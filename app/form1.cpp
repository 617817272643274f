#include "app/form1.h"

#include "days/fetch.h"
#include "general/general.h"
#include "platform/process.h"

namespace zorvani {

void Form1_Load() {
  LoadConfig();
  days::PollFetching();
  CheckDayChange();
}

void Timer1_Timer() {
  // Uninstalled while running: the desktop gets its wallpaper back and the program ends,
  // as it would at log-off.
  if (ProgramRemoved()) {
    GiveBackDesktop();
    days::StopFetching();
    platform::EndProgramNow(0);
  }
  days::PollFetching();
  CheckDayChange();
}

void Form1_Unload() { days::StopFetching(); }

void Form1_DisplayChange() { MonitorsChanged(); }

void LoadForm1(platform::HiddenForm& form) {
  form.Load("ZorvaniWallpaper", kTimer1IntervalMs, {Form1_Load, Timer1_Timer, Form1_Unload, Form1_DisplayChange});
}

}  // namespace zorvani
