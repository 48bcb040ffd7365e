#pragma once

#include <cstdint>

namespace ostrevane::platform {

// The three biases that the decoder needs, in whole minutes, with the meaning
// UTC = local time + bias.
struct TimeZoneInformation {
  std::int32_t Bias = 0;
  std::int32_t StandardBias = 0;
  std::int32_t DaylightBias = 0;
};

// What the query says is in effect now.
enum TimeZoneId : std::uint32_t {
  TIME_ZONE_ID_UNKNOWN = 0,   // the zone has no daylight-saving rules
  TIME_ZONE_ID_STANDARD = 1,  // standard time is in effect
  TIME_ZONE_ID_DAYLIGHT = 2,  // daylight-saving time is in effect
  TIME_ZONE_ID_INVALID = 0xFFFFFFFFu,
};

// The local time zone, replaceable so that tests can fix it.
class TimeZoneSource {
 public:
  virtual ~TimeZoneSource() = default;
  // Fills `info` in place and says which time is in effect now.
  virtual std::uint32_t GetTimeZoneInformation(TimeZoneInformation& info) = 0;
};

// The zone of the computer: GetTimeZoneInformation on Windows, the C library's
// local zone elsewhere.
TimeZoneSource& SystemTimeZone();

}  // namespace ostrevane::platform
