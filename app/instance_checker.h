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

}  // namespace zorvani
