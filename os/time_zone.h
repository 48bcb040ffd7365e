#pragma once

#include <cstdint>

namespace ostrevane::os {

// The three biases that the decoder needs, in whole minutes, with the meaning
// UTC = local time + bias.
struct TimeZoneInformation {
  std::int32_t Bias = 0;
  std::int32_t StandardBias = 0;
  std::int32_t DaylightBias = 0;
};

// Which time a query says is in effect now.
enum class ZoneTime : std::uint8_t {
  Unknown,   // the zone has no daylight-saving rules
  Standard,  // standard time is in effect
  Daylight,  // daylight-saving time is in effect
  Invalid,   // the system could not say
};

// The local time zone, replaceable so that tests can fix it.
class TimeZoneSource {
 public:
  virtual ~TimeZoneSource() = default;
  // Fills `info` in place and says which time is in effect now.
  virtual ZoneTime Query(TimeZoneInformation& info) = 0;
};

// The zone of the computer: Windows' own time-zone query, the C library's
// local zone elsewhere.
TimeZoneSource& SystemTimeZone();

}  // namespace ostrevane::os
