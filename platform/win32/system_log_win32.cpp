#include <windows.h>

#include "platform/system_log.h"

namespace platform {
namespace {

class EventLog : public SystemLog {
 public:
  void Warning(const std::string& line) override {
    // An unregistered source still logs its text; Event Viewer only adds that it has no
    // message file for it.
    HANDLE source = RegisterEventSourceA(nullptr, "ZorvaniWallpaper");
    if (source == nullptr) return;
    const char* strings[] = {line.c_str()};
    ReportEventA(source, EVENTLOG_WARNING_TYPE, 0, 1, nullptr, 1, 0, strings, nullptr);
    DeregisterEventSource(source);
  }
};

}  // namespace

SystemLog& TheSystemLog() {
  static EventLog log;
  return log;
}

}  // namespace platform
