#include "os/time_zone.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>

namespace ostrevane::os {
namespace {

// Sets or clears TZ and has the C library read it again.
void SetZoneVariable(const char* zone) {
#ifdef _WIN32
  _putenv_s("TZ", zone ? zone : "");
  _tzset();
#else
  if (zone) {
    setenv("TZ", zone, 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
#endif
}

// Sets TZ for one test and puts the earlier value back afterwards.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    if (const char* earlier = std::getenv("TZ")) earlier_ = earlier;
    SetZoneVariable(zone);
  }
  ~ScopedTimeZone() { SetZoneVariable(earlier_ ? earlier_->c_str() : nullptr); }

 private:
  std::optional<std::string> earlier_;
};

struct ZoneCase {
  const char* tz;
  std::int32_t standardBias;  // minutes, UTC = local + bias
  bool hasDaylightRules;
};

// Windows reads the zone once, when the program starts: there the zones are
// tried one program run each (ReportsTheZoneItStartedIn).
#ifdef _WIN32
#define OSTREVANE_SKIP_ON_WINDOWS() GTEST_SKIP() << "the zone is fixed when the program starts"
#else
#define OSTREVANE_SKIP_ON_WINDOWS() static_cast<void>(0)
#endif

TEST(SystemTimeZone, ReportsTheBiasesOfTheLocalZone) {
  OSTREVANE_SKIP_ON_WINDOWS();
  const ZoneCase cases[] = {
      {"UTC", 0, false}, {"XYZ-3", -180, false}, {"EST5EDT,M3.2.0,M11.1.0", 300, true}};
  for (const auto& [tz, standardBias, hasDaylightRules] : cases) {
    ScopedTimeZone zone(tz);
    TimeZoneInformation info;
    const ZoneTime result = SystemTimeZone().Query(info);
    EXPECT_EQ(info.Bias, standardBias) << tz;
    EXPECT_EQ(info.StandardBias, 0) << tz;
    if (hasDaylightRules) {
      EXPECT_TRUE(result == ZoneTime::Standard || result == ZoneTime::Daylight) << tz;
    } else {
      EXPECT_EQ(result, ZoneTime::Unknown) << tz;
    }
    EXPECT_EQ(info.DaylightBias, result == ZoneTime::Daylight ? -60 : 0) << tz;
  }
}

TEST(SystemTimeZone, ReadsZoneInformationFiles) {
  OSTREVANE_SKIP_ON_WINDOWS();
  if (!std::filesystem::exists("/usr/share/zoneinfo/Europe/Paris")) {
    GTEST_SKIP() << "no zoneinfo for Europe/Paris on this machine";
  }
  ScopedTimeZone zone("Europe/Paris");
  TimeZoneInformation info;
  const ZoneTime result = SystemTimeZone().Query(info);
  ASSERT_TRUE(result == ZoneTime::Standard || result == ZoneTime::Daylight);
  EXPECT_EQ(info.Bias, -60);
  EXPECT_EQ(info.DaylightBias, result == ZoneTime::Daylight ? -60 : 0);
}

// The zone the program started in, as the C library of the machine that
// runs the test sees it at this moment: OSTREVANE_EXPECTED_ZONE holds the
// standard bias, the bias in effect (minutes, UTC = local + bias) and the
// state (0 no daylight-saving rules, 1 standard, 2 daylight, as ZoneTime
// numbers them). Run once per
// zone under Wine, which takes the zone from TZ.
TEST(SystemTimeZone, ReportsTheZoneItStartedIn) {
  const char* expected = std::getenv("OSTREVANE_EXPECTED_ZONE");
  if (expected == nullptr) GTEST_SKIP() << "OSTREVANE_EXPECTED_ZONE is not set";
  int standardBias = 0;
  int biasInEffect = 0;
  unsigned state = 0;
  ASSERT_EQ(std::sscanf(expected, "%d %d %u", &standardBias, &biasInEffect, &state), 3) << expected;
  TimeZoneInformation info;
  const ZoneTime result = SystemTimeZone().Query(info);
  EXPECT_EQ(static_cast<unsigned>(result), state) << expected;
  EXPECT_EQ(info.Bias, standardBias) << expected;
  EXPECT_EQ(info.Bias + (result == ZoneTime::Daylight ? info.DaylightBias : 0), biasInEffect)
      << expected;
}

}  // namespace
}  // namespace ostrevane::os
