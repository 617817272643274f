#include <syslog.h>

#include "platform/system_log.h"

namespace platform {
namespace {

class Syslog : public SystemLog {
 public:
  void Warning(const std::string& line) override {
    // Without a log daemon (no /dev/log) syslog drops the line, which is all one can do.
    openlog("zorvani-wallpaper", LOG_PID, LOG_USER);
    syslog(LOG_WARNING, "%s", line.c_str());
    closelog();
  }
};

}  // namespace

SystemLog& TheSystemLog() {
  static Syslog log;
  return log;
}

}  // namespace platform
