#pragma once

#include <cstdint>

#include "os/clock.h"
#include "os/time_zone.h"

namespace ostrevane::testing {

// A clock that reads noon and moves its monotonic time on by `stepMs` at
// every look.
class FakeClock final : public os::Clock {
 public:
  explicit FakeClock(std::int64_t stepMs = 0) : stepMs_(stepMs) {}
  text::DateTime TimeOfDay() override { return text::DateTime::FromSeconds(12 * 3600); }
  std::int64_t MonotonicMs() override { return now_ += stepMs_; }

 private:
  std::int64_t stepMs_;
  std::int64_t now_ = 0;
};

// A zone at UTC without daylight-saving rules.
class UtcZone final : public os::TimeZoneSource {
 public:
  os::ZoneTime Query(os::TimeZoneInformation&) override { return os::ZoneTime::Unknown; }
};

}  // namespace ostrevane::testing
