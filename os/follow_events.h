#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ostrevane::os {

// What a follower of growing logs waits for: a change to one of them, data
// in one that is a named pipe, or the user asking to stop. Waiting costs
// nothing while nothing happens: the system tells of changes (inotify on
// Linux, which watches what a log's name leads to: the folder that holds
// it, a symbolic link's target, or while a folder is missing the nearest
// one that exists). Where it can't (no notification left, a network or FUSE
// file system, Windows), a wait ends once per polling period, for one cheap
// look at each log.
//
// While it lives, Ctrl-C, SIGTERM and SIGHUP (on Windows Ctrl-C, Ctrl-Break
// and closing the console) ask to stop instead of ending the program, so that
// the follower can write its last file; a second request ends the program
// as before, its temporary files removed. Signals the program was told to
// ignore (nohup) stay ignored. One at a time.
class FollowEvents {
 public:
  // InputWaiting: a log that is a named pipe has data; read it now, so that
  // its writer never waits on a full pipe.
  enum class Event { Changed, InputWaiting, StopRequested, TimedOut };

  explicit FollowEvents(std::int64_t pollingMs);
  ~FollowEvents();
  FollowEvents(const FollowEvents&) = delete;
  FollowEvents& operator=(const FollowEvents&) = delete;

  // Watches the file named `path`: what is written to it, its truncation,
  // its removal or renaming, and a file of that name appearing.
  void Watch(const std::string& path);
  // The watched paths whose changes the system can't tell of, each given
  // once: they are looked at once per polling period from now on.
  std::vector<std::string> TakeNewlyPolled();
  // After InputWaiting, when no follower could read its pipe now (its log
  // closed after a failure): pipes are left alone for a polling period,
  // rather than waking the follower again at once.
  void InputUntaken();
  // Waits for an event, at most `timeoutMs` (negative: no limit). A stop
  // request, once made, is answered at once by every later wait.
  Event Wait(std::int64_t timeoutMs);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace ostrevane::os
