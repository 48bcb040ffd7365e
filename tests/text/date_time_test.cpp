#include "text/date_time.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace ostrevane::text {
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

}  // namespace
}  // namespace ostrevane::text
