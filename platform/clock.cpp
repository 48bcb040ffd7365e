#include "platform/clock.h"

#include <chrono>
#include <ctime>

namespace ostrevane::platform {
namespace {

class SystemClockImpl final : public Clock {
 public:
  // Asked for every recorded point: the local time is worked out once a
  // second and reused in between.
  DateTime TimeOfDay() override {
    const std::time_t now = std::time(nullptr);
    if (now != cachedSecond_) {
      cachedSecond_ = now;
      std::tm local{};
#ifdef _WIN32
      localtime_s(&local, &now);
#else
      localtime_r(&now, &local);
#endif
      cachedTime_ = DateTime::FromSeconds(local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec);
    }
    return cachedTime_;
  }

  std::int64_t MonotonicMs() override {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  }

 private:
  std::time_t cachedSecond_ = -1;
  DateTime cachedTime_;
};

}  // namespace

Clock& SystemClock() {
  static SystemClockImpl clock;
  return clock;
}

}  // namespace ostrevane::platform
