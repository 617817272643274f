#pragma once
// Module InstanceChecker: the program's start-up.
#include <string>

#include "platform/form.h"

namespace zorvani {

// The folder part of the auto-start command line: up to and including the last
// separator; a command line that begins with a quote is cut inside the quotes.
std::string BaseDirFromCommandLine(const std::string& commandLine, char separator);

// Ends at once when another instance runs; otherwise sets BaseDir and loads the
// hidden form, whose load handler has run to its end when this returns.
void Main(platform::HiddenForm& form);

// "--uninstall": the Windows uninstaller and set-up's --remove run it as the user who
// removes the program, before the files go. It closes the copies that this user's
// desktops run (Windows), so that the program file can go too, then gives this user's
// wallpaper from before the calendar back, unless a copy still runs in this session and
// will do so itself. It always ends with status 0 and shows nothing.
int UninstallStep();
// The argument that runs it, for the tools that run the program's step.
constexpr char kUninstallArgument[] = "--uninstall";

}  // namespace zorvani
