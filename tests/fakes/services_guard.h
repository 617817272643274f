#pragma once
// Puts fakes into platform::Current() for one test and restores the real services.
#include "platform/services.h"

namespace zorvani::testing {

class ServicesGuard {
 public:
  ServicesGuard() : saved_(platform::Current()) {}
  ~ServicesGuard() { platform::Current() = saved_; }
  ServicesGuard(const ServicesGuard&) = delete;
  ServicesGuard& operator=(const ServicesGuard&) = delete;

 private:
  platform::Services saved_;
};

}  // namespace zorvani::testing
