// Module InstanceChecker: the program's only start-up path.
#include "app/instance_checker.h"

#include "app/form1.h"
#include "general/general.h"
#include "platform/process.h"

namespace zorvani {
namespace {

const char kAutoStartKey[] = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kAutoStartValue[] = "ZorvaniWallPaper";

}  // namespace

std::string BaseDirFromCommandLine(const std::string& commandLine, char separator) {
  std::string programPath = commandLine;
  // A path with spaces is stored quoted, often followed by arguments: only the text
  // inside the quotes names the program.
  if (!programPath.empty() && programPath.front() == '"') {
    const std::size_t closing = programPath.find('"', 1);
    programPath = programPath.substr(1, closing == std::string::npos ? std::string::npos : closing - 1);
  }
  const std::size_t last = programPath.rfind(separator);
  return last == std::string::npos ? std::string() : programPath.substr(0, last + 1);
}

namespace {

void ReadAutoStart() {
  std::string path = kAutoStartKey;  // RegistryReadValue overwrites its path argument
  const std::string commandLine = RegistryReadValue(path, kAutoStartValue);
  AutoStartCommandLine = commandLine;
  BaseDir = BaseDirFromCommandLine(commandLine, platform::PathSeparator());
}

}  // namespace

void Main(platform::HiddenForm& form) {
  if (platform::PreviousInstanceRunning()) platform::EndProgramNow(0);
  ReadAutoStart();
  LoadForm1(form);
}

int UninstallStep() {
  // Each copy checks for its removal every 5 s, and a closing form ends within a tick.
  constexpr unsigned kCloseDeadlineMs = 20000;
  try {
    ReadAutoStart();
    // A copy that did not end, or one where copies are not closed from outside (Linux),
    // gives the desktop back itself once it notices the removal; with none, this does.
    if (platform::CloseRunningCopies(kCloseDeadlineMs) || !platform::PreviousInstanceRunning()) GiveBackDesktop();
  } catch (...) {
    // Nothing here may fail the uninstall or put up a message in its way.
  }
  return 0;
}

}  // namespace zorvani
