#include "os/time_zone.h"

#include <ctime>

#include "text/date_time.h"

namespace ostrevane::os {
namespace {

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
// ZoneTime::Invalid, leaving `info` alone, when the library cannot say.
ZoneTime QueryLocalZone(std::time_t now, TimeZoneInformation& info) {
  tzset();
  std::tm local{};
  if (localtime_r(&now, &local) == nullptr) return ZoneTime::Invalid;
  const auto bias = static_cast<std::int32_t>(-local.tm_gmtoff / text::kSecondsPerMinute);
  if (local.tm_isdst > 0) {
    info.Bias = static_cast<std::int32_t>(timezone / text::kSecondsPerMinute);
    info.DaylightBias = bias - info.Bias;
    return ZoneTime::Daylight;
  }
  info.Bias = bias;
  return daylight != 0 ? ZoneTime::Standard : ZoneTime::Unknown;
}

// The decoder asks once per RMC sentence, hundreds of thousands of times per
// log; the answer is kept for the rest of the wall-clock second, as long as
// the zone itself stays the same.
class PosixTimeZone final : public TimeZoneSource {
 public:
  ZoneTime Query(TimeZoneInformation& info) override {
    thread_local Answer cached;
    const std::time_t now = std::time(nullptr);
    if (!cached.valid || cached.second != now || cached.zone != CurrentPublishedZone()) {
      cached.info = TimeZoneInformation{};
      cached.result = QueryLocalZone(now, cached.info);
      cached.second = now;
      cached.zone = CurrentPublishedZone();
      cached.valid = true;
    }
    if (cached.result != ZoneTime::Invalid) info = cached.info;
    return cached.result;
  }

 private:
  struct Answer {
    bool valid = false;
    std::time_t second = 0;
    PublishedZone zone;
    TimeZoneInformation info;
    ZoneTime result = ZoneTime::Invalid;
  };
};

}  // namespace

TimeZoneSource& SystemTimeZone() {
  static PosixTimeZone zone;
  return zone;
}

}  // namespace ostrevane::os
