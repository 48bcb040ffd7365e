#include "os/clock.h"

#include <chrono>
#include <ctime>

#include "os/system.h"

namespace ostrevane::os {
namespace {

class SystemClockImpl final : public Clock {
 public:
  // Asked for every recorded point: the local time is worked out once a
  // second and reused in between.
  text::DateTime TimeOfDay() override {
    const std::time_t now = std::time(nullptr);
    if (now != cachedSecond_) {
      cachedSecond_ = now;
      std::tm local{};
      ToLocalTime(now, local);
      cachedTime_ =
          text::DateTime::FromSeconds(local.tm_hour * text::kSecondsPerHour +
                                      local.tm_min * text::kSecondsPerMinute + local.tm_sec);
    }
    return cachedTime_;
  }

  std::int64_t MonotonicMs() override {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  }

 private:
  std::time_t cachedSecond_ = -1;
  text::DateTime cachedTime_;
};

}  // namespace

Clock& SystemClock() {
  static SystemClockImpl clock;
  return clock;
}

}  // namespace ostrevane::os
