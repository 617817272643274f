#pragma once
// Process services: the previous-instance test, the program's own file, its
// immediate end, and the report of a run-time error that escaped.
#include <string>

namespace platform {

// The folder separator of this platform ("\" on Windows, "/" elsewhere).
char PathSeparator();

// True when another instance of this program already runs. The first instance
// holds its claim until the process ends.
bool PreviousInstanceRunning();

// Full path of the running executable; on Linux the path it was started by, links kept.
std::string ExecutablePath();

// True when the running program's own file has gone from where it was started (a
// package or an uninstall removed it); false when it is there or cannot be looked at.
bool ProgramFileGone();

// True while the system's installer changes installed software (Windows Installer's
// execution mutex): an upgrade takes the auto-start value away for a moment. Never on
// POSIX, where a package upgrade replaces the program file in one rename.
bool InstallationRunning();

// Ends the process at once with the given status; no handler of the program runs.
[[noreturn]] void EndProgramNow(int status);

// Writes text to standard output: on Windows, where the program has no console of its
// own, to the console of the command that started it, or nowhere when there is none.
void PrintToStandardOutput(const std::string& text);

// Shows the report of an error that ended the program: on standard error when the
// process has one, otherwise (Windows only) in a message box.
void ReportFatalError(const std::string& caption, const std::string& text);

}  // namespace platform
