// The process entry: start-up, then the hidden form's message loop. A run-time error
// that escapes either ends the program with its report and status 1. "--help" and
// "--version" print and end; "--uninstall" is the removal's step; "--fetch-calendar"
// is the program's own child that fetches the published calendars; any other
// command line is left alone, as it always was.
#include <cstring>
#include <new>

#include "app/instance_checker.h"
#include "days/fetch.h"
#include "platform/form.h"
#include "platform/process.h"
#include "runtime/runtime_error.h"

namespace {

const char kHelp[] =
    "usage: zorvani-wallpaper [--help | --version | --uninstall]\n"
    "Keeps the desktop wallpaper set to this month's picture of the calendar registered under\n"
    "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run, value ZorvaniWallPaper,\n"
    "with today's day framed, and checks every 5 seconds for a new day. It runs without a window\n"
    "until the session ends; a second copy ends at once.\n"
    "The uninstaller (and on Linux zorvani-wallpaper-setup --remove) runs it with --uninstall,\n"
    "which closes the running copies on Windows and gives the wallpaper from before the\n"
    "calendar back.\n";

int EndWithReport(const zorvani::RuntimeError& error) {
  platform::ReportFatalError("ZorvaniWallpaper", zorvani::RunTimeErrorReport(error));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    platform::PrintToStandardOutput(kHelp);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    platform::PrintToStandardOutput("zorvani-wallpaper " ZORVANI_VERSION "\n");
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--uninstall") == 0) return zorvani::UninstallStep();
  // The program's own child: one round of fetching the published calendars.
  if (argc == 2 && std::strcmp(argv[1], "--fetch-calendar") == 0) return zorvani::days::FetchCalendarsNow();
  try {
    platform::HiddenForm form;
    zorvani::Main(form);
    return form.RunMessageLoop();
  } catch (const zorvani::RuntimeError& error) {
    return EndWithReport(error);
  } catch (const std::bad_alloc&) {
    return EndWithReport(zorvani::RuntimeError(7, "ZorvaniWallpaper", "Out of memory"));
  }
}
