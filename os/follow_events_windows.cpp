#include "os/follow_events.h"

#include <windows.h>

#include <atomic>

namespace ostrevane::os {
namespace {

// Read by the console's handler, which runs on a thread of its own.
std::atomic<HANDLE> stopEvent{nullptr};
std::atomic<HANDLE> finishedEvent{nullptr};
std::atomic<bool> stopRequested{false};

// Windows ends the program a few seconds after a console's closing handler
// returns, or when it takes longer: the follower gets that long to write its
// last file.
constexpr DWORD kClosingGraceMs = 4500;

BOOL WINAPI AskToStop(DWORD controlEvent) {
  if (stopRequested.exchange(true) && controlEvent != CTRL_CLOSE_EVENT) return FALSE;
  if (HANDLE event = stopEvent.load()) SetEvent(event);
  // The console goes away with the program once this returns.
  if (controlEvent == CTRL_CLOSE_EVENT || controlEvent == CTRL_LOGOFF_EVENT ||
      controlEvent == CTRL_SHUTDOWN_EVENT) {
    if (HANDLE finished = finishedEvent.load()) WaitForSingleObject(finished, kClosingGraceMs);
  }
  return TRUE;
}

}  // namespace

struct FollowEvents::State {
  HANDLE stop = nullptr;
  HANDLE finished = nullptr;
  std::int64_t pollingMs = 1000;
};

FollowEvents::FollowEvents(std::int64_t pollingMs) : state_(std::make_unique<State>()) {
  state_->pollingMs = pollingMs;
  state_->stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  state_->finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  stopRequested = false;
  stopEvent = state_->stop;
  finishedEvent = state_->finished;
  SetConsoleCtrlHandler(AskToStop, TRUE);
}

FollowEvents::~FollowEvents() {
  // The follower has written its last file: a closing console may go.
  if (state_->finished) SetEvent(state_->finished);
  SetConsoleCtrlHandler(AskToStop, FALSE);
  stopEvent = nullptr;
  finishedEvent = nullptr;
  if (state_->stop) CloseHandle(state_->stop);
  // Left open: the handler may still be waiting on it as the program ends.
}

// Windows is asked once per polling period instead: a change notification
// per folder would wake the follower for every file written beside the log,
// its own KML files included.
void FollowEvents::Watch(const std::string&) {}

// No log is a named pipe there.
void FollowEvents::InputUntaken() {}

// Every log is looked at once per polling period, as said in the README.
std::vector<std::string> FollowEvents::TakeNewlyPolled() { return {}; }

FollowEvents::Event FollowEvents::Wait(std::int64_t timeoutMs) {
  if (stopRequested) return Event::StopRequested;
  const bool polls = timeoutMs < 0 || timeoutMs >= state_->pollingMs;
  const std::int64_t waitMs = polls ? state_->pollingMs : timeoutMs;
  const DWORD woken = WaitForSingleObject(state_->stop, static_cast<DWORD>(waitMs));
  if (woken == WAIT_OBJECT_0 || stopRequested) return Event::StopRequested;
  return polls ? Event::Changed : Event::TimedOut;
}

}  // namespace ostrevane::os
