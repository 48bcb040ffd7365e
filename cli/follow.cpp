#include "cli/follow.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <thread>

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
// write that failed is tried again at the next interval; once the logs have
// been idle for two intervals their KML files catch up, and their pieces
// settle when they are due to.
void FollowUntilStopped(std::vector<std::unique_ptr<run::LogFollower>>& followers,
                        os::FollowEvents& events, std::int64_t intervalMs) {
  os::Clock& clock = os::SystemClock();
  std::int64_t lastRefresh = clock.MonotonicMs();
  std::int64_t lastChange = lastRefresh;
  bool changed = false;
  bool caughtUp = true;
  for (;;) {
    const bool writePending =
        std::any_of(followers.begin(), followers.end(),
                    [](const auto& follower) { return follower->WritePending(); });
    std::int64_t deadline = -1;
    const auto until = [&](std::int64_t time) {
      if (time >= 0 && (deadline < 0 || time < deadline)) deadline = time;
    };
    if (changed || writePending) until(lastRefresh + intervalMs);
    if (!caughtUp) until(lastChange + 2 * intervalMs);
    for (const auto& follower : followers) until(follower->NextSettlingMs());
    const std::int64_t wait =
        deadline < 0 ? -1 : std::max<std::int64_t>(0, deadline - clock.MonotonicMs());
    const os::FollowEvents::Event event = events.Wait(wait);
    if (event == os::FollowEvents::Event::StopRequested) return;
    if (event == os::FollowEvents::Event::Changed) changed = true;
    const std::int64_t now = clock.MonotonicMs();
    if ((changed || writePending) && now - lastRefresh >= intervalMs) {
      for (auto& follower : followers) follower->Refresh();
      lastRefresh = now;
      if (changed) lastChange = now;
      changed = false;
      caughtUp = false;
      continue;
    }
    if (!changed && !caughtUp && now - lastChange >= 2 * intervalMs) {
      for (auto& follower : followers) follower->CatchUp();
      caughtUp = true;
    }
    for (auto& follower : followers) {
      const std::int64_t due = follower->NextSettlingMs();
      if (due >= 0 && due <= now) follower->Settle();
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
  // A viewer that read a list just before its last version fetches what it
  // named a moment later: the pieces go after that.
  std::this_thread::sleep_for(std::chrono::seconds(1));
  for (auto& follower : followers) follower->RemovePieces();
  return allFine ? kAllConverted : kSomeFailed;
}

}  // namespace ostrevane::cli
