#include "os/time_zone.h"

#include <windows.h>

namespace ostrevane::os {
namespace {

ZoneTime FromWindows(DWORD result) {
  switch (result) {
    case TIME_ZONE_ID_UNKNOWN:
      return ZoneTime::Unknown;
    case TIME_ZONE_ID_STANDARD:
      return ZoneTime::Standard;
    case TIME_ZONE_ID_DAYLIGHT:
      return ZoneTime::Daylight;
    default:
      return ZoneTime::Invalid;
  }
}

class WindowsTimeZone final : public TimeZoneSource {
 public:
  ZoneTime Query(TimeZoneInformation& info) override {
    TIME_ZONE_INFORMATION zone{};
    const DWORD result = ::GetTimeZoneInformation(&zone);
    info.Bias = zone.Bias;
    info.StandardBias = zone.StandardBias;
    info.DaylightBias = zone.DaylightBias;
    return FromWindows(result);
  }
};

}  // namespace

TimeZoneSource& SystemTimeZone() {
  static WindowsTimeZone zone;
  return zone;
}

}  // namespace ostrevane::os
