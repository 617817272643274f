#pragma once
// The system's log (syslog on Linux, the Application event log on Windows): the one
// place where the program, which shows nothing, leaves what a user may want to find
// out later.
#include <string>

namespace platform {

class SystemLog {
 public:
  virtual ~SystemLog() = default;
  virtual void Warning(const std::string& line) = 0;
};

SystemLog& TheSystemLog();

}  // namespace platform
