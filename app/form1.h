#pragma once
// The hidden form Form1 and its timer Timer1.
#include "platform/form.h"

namespace zorvani {

constexpr unsigned kTimer1IntervalMs = 5000;

// Load handler: reads the configuration, then makes the first daily check.
void Form1_Load();
// Each tick of Timer1: the end of a removed program, otherwise the daily check.
void Timer1_Timer();
// Unload handler: nothing to save; the unload always goes ahead.
void Form1_Unload();
// Monitors attached, removed or changed: their pictures are made again.
void Form1_DisplayChange();

// Creates Form1 hidden with Timer1 running and runs its load handler to its end.
void LoadForm1(platform::HiddenForm& form);

}  // namespace zorvani
