#pragma once

#include <cstdint>

namespace ostrevane::text {

inline constexpr std::int64_t kSecondsPerMinute = 60;
inline constexpr std::int64_t kSecondsPerHour = 3600;
inline constexpr std::int64_t kSecondsPerDay = 86400;

// A date-time as the log and the track table keep it: a count of days from
// 30 December 1899 00:00 whose fraction is the time of day. Before that day the
// whole part counts days back while the fraction still gives the time of day,
// so 29 December 1899 18:00 is -1.75 (not -0.25).
struct DateTime {
  double value = 0.0;

  // The date-time that lies `seconds` after (or before, when negative)
  // 30 December 1899 00:00.
  static DateTime FromSeconds(std::int64_t seconds);
  // Inverse of FromSeconds, to the nearest whole second.
  std::int64_t ToSeconds() const;
  // Calendar arithmetic: carries across midnight in either direction.
  DateTime AddSeconds(std::int64_t seconds) const;

  friend bool operator==(DateTime, DateTime) = default;
};

// A date-time taken apart, for display and for tests.
struct CivilTime {
  int year = 1899;
  int month = 12;
  int day = 30;
  int hour = 0;
  int minute = 0;
  int second = 0;
  friend bool operator==(const CivilTime&, const CivilTime&) = default;
};

CivilTime ToCivil(DateTime dateTime);

}  // namespace ostrevane::text
