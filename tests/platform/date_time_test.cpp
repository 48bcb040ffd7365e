#include "platform/date_time.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/time_zone.h"

namespace ostrevane::platform {
namespace {

constexpr std::int64_t kDay = 86400;

struct DateTimeCase {
  std::int64_t seconds;
  double value;
  CivilTime civil;
};

TEST(DateTime, CountsDaysWithTheTimeOfDayAsFraction) {
  const DateTimeCase cases[] = {
      {0, 0.0, {1899, 12, 30, 0, 0, 0}},
      {13 * 3600 + 35 * 60 + 19, (13 * 3600 + 35 * 60 + 19) / 86400.0, {1899, 12, 30, 13, 35, 19}},
      {-6 * 3600, -1.75, {1899, 12, 29, 18, 0, 0}},
      {-(3 * 3600 + 50 * 60), -1.0 - (20 + 10 / 60.0) / 24, {1899, 12, 29, 20, 10, 0}},
      {-kDay, -1.0, {1899, 12, 29, 0, 0, 0}},
      {-2 * kDay + 1, -(2.0 + 1.0 / 86400), {1899, 12, 28, 0, 0, 1}},
      {kDay + 3600, 1.0 + 1.0 / 24, {1899, 12, 31, 1, 0, 0}},
      {36526 * kDay + 43200, 36526.5, {2000, 1, 1, 12, 0, 0}},
      {-(365 + 1) * kDay, -366.0, {1898, 12, 29, 0, 0, 0}},
  };
  for (const auto& [seconds, value, civil] : cases) {
    const DateTime dateTime = DateTime::FromSeconds(seconds);
    EXPECT_DOUBLE_EQ(dateTime.value, value) << seconds;
    EXPECT_EQ(dateTime.ToSeconds(), seconds) << seconds;
    EXPECT_EQ(ToCivil(dateTime), civil) << seconds;
  }
}

TEST(DateTime, AddSecondsCarriesAcrossMidnightWithoutDrift) {
  EXPECT_EQ(ToCivil(DateTime{}.AddSeconds(-1)), (CivilTime{1899, 12, 29, 23, 59, 59}));
  EXPECT_EQ(ToCivil(DateTime{-1.75}.AddSeconds(6 * 3600)), CivilTime{});
  EXPECT_EQ(ToCivil(DateTime{}.AddSeconds(25 * 3600 + 61 * 60)),
            (CivilTime{1899, 12, 31, 2, 1, 0}));
  DateTime stepped;
  for (int i = 0; i < 100000; ++i) stepped = stepped.AddSeconds(-7);
  EXPECT_EQ(stepped.ToSeconds(), -700000);
}

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
    const std::uint32_t result = SystemTimeZone().GetTimeZoneInformation(info);
    EXPECT_EQ(info.Bias, standardBias) << tz;
    EXPECT_EQ(info.StandardBias, 0) << tz;
    if (hasDaylightRules) {
      EXPECT_TRUE(result == TIME_ZONE_ID_STANDARD || result == TIME_ZONE_ID_DAYLIGHT) << tz;
    } else {
      EXPECT_EQ(result, TIME_ZONE_ID_UNKNOWN) << tz;
    }
    EXPECT_EQ(info.DaylightBias, result == TIME_ZONE_ID_DAYLIGHT ? -60 : 0) << tz;
  }
}

TEST(SystemTimeZone, ReadsZoneInformationFiles) {
  OSTREVANE_SKIP_ON_WINDOWS();
  if (!std::filesystem::exists("/usr/share/zoneinfo/Europe/Paris")) {
    GTEST_SKIP() << "no zoneinfo for Europe/Paris on this machine";
  }
  ScopedTimeZone zone("Europe/Paris");
  TimeZoneInformation info;
  const std::uint32_t result = SystemTimeZone().GetTimeZoneInformation(info);
  ASSERT_TRUE(result == TIME_ZONE_ID_STANDARD || result == TIME_ZONE_ID_DAYLIGHT);
  EXPECT_EQ(info.Bias, -60);
  EXPECT_EQ(info.DaylightBias, result == TIME_ZONE_ID_DAYLIGHT ? -60 : 0);
}

// The zone the program started in, as the C library of the machine that
// runs the test sees it at this moment: OSTREVANE_EXPECTED_ZONE holds the
// standard bias, the bias in effect (minutes, UTC = local + bias) and the
// state (0 no daylight-saving rules, 1 standard, 2 daylight). Run once per
// zone under Wine, which takes the zone from TZ.
TEST(SystemTimeZone, ReportsTheZoneItStartedIn) {
  const char* expected = std::getenv("OSTREVANE_EXPECTED_ZONE");
  if (expected == nullptr) GTEST_SKIP() << "OSTREVANE_EXPECTED_ZONE is not set";
  int standardBias = 0;
  int biasInEffect = 0;
  unsigned state = 0;
  ASSERT_EQ(std::sscanf(expected, "%d %d %u", &standardBias, &biasInEffect, &state), 3) << expected;
  TimeZoneInformation info;
  const std::uint32_t result = SystemTimeZone().GetTimeZoneInformation(info);
  EXPECT_EQ(result, state) << expected;
  EXPECT_EQ(info.Bias, standardBias) << expected;
  EXPECT_EQ(info.Bias + (result == TIME_ZONE_ID_DAYLIGHT ? info.DaylightBias : 0), biasInEffect)
      << expected;
}

}  // namespace
}  // namespace ostrevane::platform
