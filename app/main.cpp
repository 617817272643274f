// The process entry: start-up, then the hidden form's message loop. A run-time error
// that escapes either ends the program with its report and status 1.
#include <new>

#include "app/instance_checker.h"
#include "platform/form.h"
#include "platform/process.h"
#include "runtime/runtime_error.h"

namespace {

int EndWithReport(const zorvani::RuntimeError& error) {
  platform::ReportFatalError("ZorvaniWallpaper", zorvani::RunTimeErrorReport(error));
  return 1;
}

}  // namespace

int main() {
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
