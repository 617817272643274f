#pragma once
// The local date and time. Virtual so that tests can drive the daily check and the
// refresh through midnight, month ends and leap days.

namespace platform {

struct LocalTime {
  int year = 0;    // four digits
  int month = 0;   // 1..12
  int day = 0;     // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual LocalTime Now() = 0;
};

Clock& SystemClock();

}  // namespace platform
