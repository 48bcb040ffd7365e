#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace ostrevane::os {

// What a follower of growing logs waits for: a change to one of them, or the
// user asking to stop. Waiting costs nothing while nothing happens: the
// system tells of changes (inotify on Linux); where it can't, a wait ends
// once per polling period, for one cheap look at each log.
//
// While it lives, Ctrl-C, SIGTERM and SIGHUP (on Windows Ctrl-C, Ctrl-Break
// and closing the console) ask to stop instead of ending the program, so that
// the follower can write its last file; a second request ends the program
// as before, its temporary files removed. Signals the program was told to
// ignore (nohup) stay ignored. One at a time.
class FollowEvents {
 public:
  enum class Event { Changed, StopRequested, TimedOut };

  explicit FollowEvents(std::int64_t pollingMs);
  ~FollowEvents();
  FollowEvents(const FollowEvents&) = delete;
  FollowEvents& operator=(const FollowEvents&) = delete;

  // Watches the file named `path`: what is written to it, its truncation,
  // its removal or renaming, and a file of that name appearing.
  void Watch(const std::string& path);
  // Waits for an event, at most `timeoutMs` (negative: no limit). A stop
  // request, once made, is answered at once by every later wait.
  Event Wait(std::int64_t timeoutMs);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace ostrevane::os
