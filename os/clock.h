#pragma once

#include <cstdint>

#include "text/date_time.h"

namespace ostrevane::os {

// The wall clock, replaceable so that tests can fix it.
class Clock {
 public:
  virtual ~Clock() = default;
  // The current local time of day, to the whole second, as a date-time whose
  // day part is zero.
  virtual text::DateTime TimeOfDay() = 0;
  // A monotonic clock in milliseconds, for pacing the window's updates.
  virtual std::int64_t MonotonicMs() = 0;
};

Clock& SystemClock();

}  // namespace ostrevane::os
