#include "platform/time_zone.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <ctime>
#endif

namespace ostrevane::platform {
namespace {

#ifdef _WIN32

class WindowsTimeZone final : public TimeZoneSource {
 public:
  std::uint32_t GetTimeZoneInformation(TimeZoneInformation& info) override {
    TIME_ZONE_INFORMATION zone{};
    const DWORD result = ::GetTimeZoneInformation(&zone);
    info.Bias = zone.Bias;
    info.StandardBias = zone.StandardBias;
    info.DaylightBias = zone.DaylightBias;
    return result;
  }
};

using SystemZone = WindowsTimeZone;

#else

constexpr long kSecondsPerMinute = 60;

// What tzset() publishes about the zone. It changes only when the zone does
// (TZ set anew and tzset() called), so it tells a cached answer from a stale one.
struct PublishedZone {
  long standardSecondsWest = 0;
  int hasDaylightRules = 0;
  const char* standardName = nullptr;
  const char* daylightName = nullptr;
  friend bool operator==(const PublishedZone&, const PublishedZone&) = default;
};

PublishedZone CurrentPublishedZone() { return {timezone, daylight, tzname[0], tzname[1]}; }

// Works out the biases from the C library's local zone at `now`. Returns
// TIME_ZONE_ID_INVALID, leaving `info` alone, when the library cannot say.
std::uint32_t QueryLocalZone(std::time_t now, TimeZoneInformation& info) {
  tzset();
  std::tm local{};
  if (localtime_r(&now, &local) == nullptr) return TIME_ZONE_ID_INVALID;
  const auto bias = static_cast<std::int32_t>(-local.tm_gmtoff / kSecondsPerMinute);
  if (local.tm_isdst > 0) {
    info.Bias = static_cast<std::int32_t>(timezone / kSecondsPerMinute);
    info.DaylightBias = bias - info.Bias;
    return TIME_ZONE_ID_DAYLIGHT;
  }
  info.Bias = bias;
  return daylight != 0 ? TIME_ZONE_ID_STANDARD : TIME_ZONE_ID_UNKNOWN;
}

// The decoder asks once per RMC sentence, hundreds of thousands of times per
// log; the answer is kept for the rest of the wall-clock second, as long as
// the zone itself stays the same.
class PosixTimeZone final : public TimeZoneSource {
 public:
  std::uint32_t GetTimeZoneInformation(TimeZoneInformation& info) override {
    thread_local Answer cached;
    const std::time_t now = std::time(nullptr);
    if (!cached.valid || cached.second != now || cached.zone != CurrentPublishedZone()) {
      cached.info = TimeZoneInformation{};
      cached.result = QueryLocalZone(now, cached.info);
      cached.second = now;
      cached.zone = CurrentPublishedZone();
      cached.valid = true;
    }
    if (cached.result != TIME_ZONE_ID_INVALID) info = cached.info;
    return cached.result;
  }

 private:
  struct Answer {
    bool valid = false;
    std::time_t second = 0;
    PublishedZone zone;
    TimeZoneInformation info;
    std::uint32_t result = TIME_ZONE_ID_INVALID;
  };
};

using SystemZone = PosixTimeZone;

#endif

}  // namespace

TimeZoneSource& SystemTimeZone() {
  static SystemZone zone;
  return zone;
}

}  // namespace ostrevane::platform
