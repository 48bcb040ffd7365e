#include "os/follow_events.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/inotify.h>
#endif

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <map>
#include <set>
#include <string>

#include "os/interrupt_registry.h"
#include "os/system.h"

namespace ostrevane::os {
namespace {

constexpr int kStoppingSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Read in the signal handler: lock-free atomics only.
std::atomic<int> wakeFd{-1};
std::atomic<bool> stopRequested{false};

void Unlink(const char* path) { ::unlink(path); }

extern "C" void AskToStop(int signal) {
  if (stopRequested.exchange(true)) {
    // Asked twice: the user wants it over now.
    detail::RemoveRegistered(Unlink);
    ::signal(signal, SIG_DFL);
    ::raise(signal);
    return;
  }
  const int saved = errno;
  const char byte = 1;
  if (const int fd = wakeFd.load(); fd >= 0) (void)!::write(fd, &byte, 1);
  errno = saved;
}

std::int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

struct FollowEvents::State {
  int wakeRead = -1;
  int wakeWrite = -1;
  int notify = -1;
  // The folders watched, each with the names of the logs in it.
  std::map<int, std::set<std::string>> namesByWatch;
  std::array<struct sigaction, 3> earlier{};
  std::array<bool, 3> installed{};

  // Whether the events waiting on the notification handle concern a log.
  bool ReadChanges() {
#ifdef __linux__
    alignas(struct inotify_event) char buffer[16 * 1024];
    bool changed = false;
    for (;;) {
      const auto got = ::read(notify, buffer, sizeof buffer);
      if (got <= 0) return changed;
      for (char* at = buffer; at < buffer + got;) {
        const auto* event = reinterpret_cast<const struct inotify_event*>(at);
        at += sizeof(struct inotify_event) + event->len;
        if (event->mask & (IN_Q_OVERFLOW | IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) {
          changed = true;
          continue;
        }
        const auto names = namesByWatch.find(event->wd);
        if (names != namesByWatch.end() && event->len > 0 && names->second.count(event->name))
          changed = true;
      }
    }
#else
    return false;
#endif
  }
};

FollowEvents::FollowEvents(std::int64_t) : state_(std::make_unique<State>()) {
  int ends[2];
  if (::pipe(ends) == 0) {
    for (int fd : ends) {
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
      ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    state_->wakeRead = ends[0];
    state_->wakeWrite = ends[1];
  }
#ifdef __linux__
  state_->notify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
#endif
  stopRequested = false;
  wakeFd = state_->wakeWrite;
  for (std::size_t i = 0; i < state_->earlier.size(); ++i) {
    struct sigaction& earlier = state_->earlier[i];
    if (::sigaction(kStoppingSignals[i], nullptr, &earlier) != 0 || earlier.sa_handler == SIG_IGN)
      continue;
    struct sigaction wanted {};
    wanted.sa_handler = AskToStop;
    sigemptyset(&wanted.sa_mask);
    wanted.sa_flags = SA_RESTART;
    state_->installed[i] = ::sigaction(kStoppingSignals[i], &wanted, nullptr) == 0;
  }
}

FollowEvents::~FollowEvents() {
  for (std::size_t i = 0; i < state_->earlier.size(); ++i)
    if (state_->installed[i]) ::sigaction(kStoppingSignals[i], &state_->earlier[i], nullptr);
  wakeFd = -1;
  for (int fd : {state_->wakeRead, state_->wakeWrite, state_->notify})
    if (fd >= 0) ::close(fd);
}

void FollowEvents::Watch(const std::string& path) {
#ifdef __linux__
  if (state_->notify < 0) return;
  const auto slash = LastSeparator(path);
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const int watch =
      ::inotify_add_watch(state_->notify, folder.c_str(),
                          IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB | IN_CREATE | IN_DELETE |
                              IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF);
  if (watch >= 0) state_->namesByWatch[watch].insert(name);
#else
  (void)path;
#endif
}

FollowEvents::Event FollowEvents::Wait(std::int64_t timeoutMs) {
  const std::int64_t deadline = timeoutMs < 0 ? -1 : NowMs() + timeoutMs;
  for (;;) {
    if (stopRequested) return Event::StopRequested;
    pollfd wanted[2] = {{state_->wakeRead, POLLIN, 0}, {state_->notify, POLLIN, 0}};
    const std::int64_t left = deadline < 0 ? -1 : std::max<std::int64_t>(0, deadline - NowMs());
    const int ready = ::poll(wanted, 2, static_cast<int>(left));
    if (ready < 0 && errno != EINTR) return Event::TimedOut;
    if (wanted[0].revents & POLLIN) {
      char bytes[64];
      while (::read(state_->wakeRead, bytes, sizeof bytes) > 0) {
      }
    }
    if (stopRequested) return Event::StopRequested;
    if ((wanted[1].revents & POLLIN) && state_->ReadChanges()) return Event::Changed;
    if (deadline >= 0 && NowMs() >= deadline) return Event::TimedOut;
  }
}

}  // namespace ostrevane::os
