// The process entry: start-up, then the hidden form's message loop. A run-time error
// that escapes either ends the program with its report and status 1.
#include "app/instance_checker.h"
#include "platform/form.h"
#include "platform/process.h"
#include "runtime/runtime_error.h"

int main() {
  try {
    platform::HiddenForm form;
    zorvani::Main(form);
    return form.RunMessageLoop();
  } catch (const zorvani::RuntimeError& error) {
    platform::ReportFatalError("ZorvaniWallpaper", zorvani::RunTimeErrorReport(error));
    return 1;
  }
}
