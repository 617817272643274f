#include "app/form1.h"

#include "general/general.h"

namespace zorvani {

void Form1_Load() {
  LoadConfig();
  CheckDayChange();
}

void Timer1_Timer() { CheckDayChange(); }

void Form1_Unload() {}

void LoadForm1(platform::HiddenForm& form) {
  form.Load("ZorvaniWallpaper", kTimer1IntervalMs, {Form1_Load, Timer1_Timer, Form1_Unload});
}

}  // namespace zorvani
