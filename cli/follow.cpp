#include "cli/follow.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "cli/exit_status.h"
#include "io/file_error.h"
#include "messages/messages.h"
#include "os/clock.h"
#include "os/follow_events.h"
#include "run/conversion_run.h"
#include "run/log_follower.h"
#include "text/number_read.h"

namespace ostrevane::cli {
namespace {

constexpr double kShortestInterval = 0.1;
constexpr double kLongestInterval = 24 * 60 * 60;

void PrintLine(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
}

bool AllDigits(std::string_view text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// Refreshes every log at most once per interval, as soon as one changed; a
// write that failed is tried again at the next interval, and once the logs
// have been idle for two intervals their KML files catch up.
void FollowUntilStopped(std::vector<std::unique_ptr<run::LogFollower>>& followers,
                        os::FollowEvents& events, std::int64_t intervalMs) {
  os::Clock& clock = os::SystemClock();
  std::int64_t lastRefresh = clock.MonotonicMs();
  std::int64_t lastChange = lastRefresh;
  bool changed = false;
  bool caughtUp = true;
  const auto writePending = [&] {
    return std::any_of(followers.begin(), followers.end(),
                       [](const auto& follower) { return follower->WritePending(); });
  };
  for (;;) {
    const std::int64_t now = clock.MonotonicMs();
    std::int64_t wait = -1;
    if (changed || writePending()) {
      wait = std::max<std::int64_t>(0, lastRefresh + intervalMs - now);
    } else if (!caughtUp) {
      wait = std::max<std::int64_t>(0, lastChange + 2 * intervalMs - now);
    }
    const os::FollowEvents::Event event = events.Wait(wait);
    if (event == os::FollowEvents::Event::StopRequested) return;
    if (event == os::FollowEvents::Event::Changed) changed = true;
    const std::int64_t after = clock.MonotonicMs();
    if ((changed || writePending()) && after - lastRefresh >= intervalMs) {
      for (auto& follower : followers) follower->Refresh();
      lastRefresh = after;
      if (changed) lastChange = after;
      changed = false;
      caughtUp = false;
      continue;
    }
    if (!changed && !caughtUp && after - lastChange >= 2 * intervalMs) {
      for (auto& follower : followers) follower->CatchUp();
      caughtUp = true;
    }
  }
}

}  // namespace

bool ReadInterval(std::string_view text, double& seconds) {
  const auto point = text.find('.');
  const bool wellFormed = point == std::string_view::npos ? AllDigits(text)
                                                          : AllDigits(text.substr(0, point)) &&
                                                                AllDigits(text.substr(point + 1));
  double value = 0;
  if (!wellFormed || !text::ReadStrict(text, value)) return false;
  if (value < kShortestInterval || value > kLongestInterval) return false;
  seconds = value;
  return true;
}

int FollowLogs(const std::vector<std::string>& names, double intervalSeconds, run::Window& window) {
  const auto intervalMs = static_cast<std::int64_t>(intervalSeconds * 1000 + 0.5);
  // First, so that a signal from now on asks to stop rather than ends.
  os::FollowEvents events(intervalMs);
  bool allFine = true;
  std::vector<std::unique_ptr<run::LogFollower>> followers;
  for (const std::string& name : names) {
    if (!run::ConversionRun::IsAcceptedName(name)) {
      window.ReportError(messages::RefusedName(name));
      allFine = false;
      continue;
    }
    run::LogFollower::Services services;
    services.intervalSeconds = intervalSeconds;
    auto follower = std::make_unique<run::LogFollower>(window, name, services);
    events.Watch(name);
    // A log that can't be read yet may be later: only the end counts.
    follower->Refresh();
    try {
      const std::string companion = follower->WriteCompanion();
      PrintLine(follower->KmlFile());
      PrintLine(companion);
      PrintLine(messages::FollowOpenInViewer(companion));
    } catch (const io::FileError& error) {
      window.ReportError(error.what());
      allFine = false;
    }
    followers.push_back(std::move(follower));
  }
  std::fflush(stdout);
  if (followers.empty()) return kSomeFailed;
  FollowUntilStopped(followers, events, intervalMs);
  for (auto& follower : followers) allFine &= follower->Finish();
  return allFine ? kAllConverted : kSomeFailed;
}

}  // namespace ostrevane::cli
