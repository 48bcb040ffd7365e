#include "text/date_time.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace ostrevane::text {
namespace {

// Far beyond any date the program meets, and small enough that its seconds
// still fit in 64 bits.
constexpr double kLargestDayCount = 1e13;

constexpr std::chrono::sys_days kDayZero =
    std::chrono::year{1899} / std::chrono::December / std::chrono::day{30};

// Division that rounds towards minus infinity, so that a time before day zero
// falls on the day before it.
std::int64_t FloorDivide(std::int64_t dividend, std::int64_t divisor) {
  const std::int64_t quotient = dividend / divisor;
  return (dividend % divisor != 0 && (dividend < 0) != (divisor < 0)) ? quotient - 1 : quotient;
}

}  // namespace

DateTime DateTime::FromSeconds(std::int64_t seconds) {
  const std::int64_t days = FloorDivide(seconds, kSecondsPerDay);
  const double timeOfDay = static_cast<double>(seconds - days * kSecondsPerDay) / kSecondsPerDay;
  const double wholeDays = static_cast<double>(days);
  // Before day zero the fraction is still the time of day, so it moves the
  // value away from zero: 29 December 18:00 is -1.75.
  return DateTime{days >= 0 ? wholeDays + timeOfDay : wholeDays - timeOfDay};
}

std::int64_t DateTime::ToSeconds() const {
  if (!std::isfinite(value)) return 0;
  const double wholeDays = std::clamp(std::trunc(value), -kLargestDayCount, kLargestDayCount);
  const double timeOfDay = std::fabs(value - std::trunc(value));
  return static_cast<std::int64_t>(wholeDays) * kSecondsPerDay +
         std::llround(timeOfDay * kSecondsPerDay);
}

DateTime DateTime::AddSeconds(std::int64_t seconds) const {
  return FromSeconds(ToSeconds() + seconds);
}

CivilTime ToCivil(DateTime dateTime) {
  const std::int64_t seconds = dateTime.ToSeconds();
  const std::int64_t days = FloorDivide(seconds, kSecondsPerDay);
  const std::int64_t secondOfDay = seconds - days * kSecondsPerDay;
  const std::chrono::year_month_day date{kDayZero + std::chrono::days{days}};
  return CivilTime{
      .year = static_cast<int>(date.year()),
      .month = static_cast<int>(static_cast<unsigned>(date.month())),
      .day = static_cast<int>(static_cast<unsigned>(date.day())),
      .hour = static_cast<int>(secondOfDay / kSecondsPerHour),
      .minute = static_cast<int>(secondOfDay % kSecondsPerHour / kSecondsPerMinute),
      .second = static_cast<int>(secondOfDay % kSecondsPerMinute),
  };
}

}  // namespace ostrevane::text
