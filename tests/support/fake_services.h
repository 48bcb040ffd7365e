#pragma once

#include <cstdint>

#include "platform/clock.h"
#include "platform/time_zone.h"

namespace ostrevane::testing {

// A clock that reads noon and moves its monotonic time on by `stepMs` at
// every look.
class FakeClock final : public platform::Clock {
 public:
  explicit FakeClock(std::int64_t stepMs = 0) : stepMs_(stepMs) {}
  platform::DateTime TimeOfDay() override { return platform::DateTime::FromSeconds(12 * 3600); }
  std::int64_t MonotonicMs() override { return now_ += stepMs_; }

 private:
  std::int64_t stepMs_;
  std::int64_t now_ = 0;
};

// A zone at UTC without daylight-saving rules.
class UtcZone final : public platform::TimeZoneSource {
 public:
  std::uint32_t GetTimeZoneInformation(platform::TimeZoneInformation&) override {
    return platform::TIME_ZONE_ID_UNKNOWN;
  }
};

}  // namespace ostrevane::testing
