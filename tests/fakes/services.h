#pragma once
// A clock that answers a script of times, one per reading (the last one repeats), and a
// guard that puts fakes into platform::Current() for one test and restores the real services.
#include <cstddef>
#include <vector>

#include "platform/clock.h"
#include "platform/services.h"

namespace zorvani::testing {

inline platform::LocalTime At(int year, int month, int day, int hour = 12, int minute = 0, int second = 0) {
  return {year, month, day, hour, minute, second, 0};
}

class ScriptedClock : public platform::Clock {
 public:
  explicit ScriptedClock(std::vector<platform::LocalTime> script = {At(2004, 3, 5)}) : script_(std::move(script)) {}

  void Set(platform::LocalTime time) { script_ = {time}, next_ = 0; }
  platform::LocalTime Now() override {
    ++readings_;
    return script_[next_ + 1 < script_.size() ? next_++ : next_];
  }
  int readings() const { return readings_; }

 private:
  std::vector<platform::LocalTime> script_;
  std::size_t next_ = 0;
  int readings_ = 0;
};

struct ServicesGuard {
  const platform::Services saved = platform::Current();
  ~ServicesGuard() { platform::Current() = saved; }
};

}  // namespace zorvani::testing
