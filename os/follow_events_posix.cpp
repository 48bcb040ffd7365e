#include "os/follow_events.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/inotify.h>
#include <sys/vfs.h>
#endif

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "os/interrupt_registry.h"

namespace ostrevane::os {
namespace {

constexpr int kStoppingSignals[] = {SIGINT, SIGTERM, SIGHUP};
// As many symbolic links as the system itself follows.
constexpr int kMostLinks = 40;

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

// A path cut into its folder and its last name; trailing slashes dropped.
struct PathParts {
  std::string folder;
  std::string name;
};

PathParts Split(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return {".", path};
  if (slash == 0) return {"/", path.substr(1)};
  return {path.substr(0, slash), path.substr(slash + 1)};
}

#ifdef __linux__
constexpr std::uint32_t kWatched = IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB | IN_CREATE | IN_DELETE |
                                   IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF |
                                   IN_ONLYDIR;
// What may change where a name leads: the watches are set again.
constexpr std::uint32_t kNameMoved = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
constexpr std::uint32_t kFolderMoved = IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT | IN_IGNORED;

// Whether inotify misses changes on the file system of `folder`: those that
// other computers make on a network share, or that a FUSE driver makes
// without going through the kernel's files.
bool NotifiesPoorly(const std::string& folder) {
  struct statfs info;
  if (::statfs(folder.c_str(), &info) != 0) return false;
  switch (static_cast<unsigned long>(info.f_type)) {
    case 0x65735546:  // FUSE
    case 0x6969:      // NFS
    case 0xFF534D42:  // CIFS
    case 0xFE534D42:  // SMB2
    case 0x517B:      // SMB
    case 0x01021997:  // 9P
    case 0x00C36400:  // Ceph
      return true;
    default:
      return false;
  }
}
#endif

}  // namespace

struct FollowEvents::State {
  int wakeRead = -1;
  int wakeWrite = -1;
  int notify = -1;
  // Mounts and unmounts: a card mounted over a log's folder.
  int mounts = -1;
  std::int64_t pollingMs = 1000;
  std::vector<std::string> paths;
  // The folders watched, each with the names in it that matter: a log's,
  // a link's, or while a folder is missing the first one missing.
  std::map<int, std::set<std::string>> namesByWatch;
  // Logs that are named pipes, each opened to be polled for data (never
  // read: the follower reads it). Opened for writing too, so that a writer
  // leaving never makes them readable for ever.
  struct Pipe {
    int fd = -1;
    dev_t device = 0;
    ino_t file = 0;
  };
  std::map<std::string, Pipe> pipes;
  // Until when pipes are left alone: their reader could not take their data.
  std::int64_t pipesIdleUntil = 0;
  // Paths looked at once per polling period, and those not said yet.
  std::set<std::string> polled;
  std::vector<std::string> newlyPolled;
  std::int64_t nextPoll = 0;
  std::array<struct sigaction, 3> earlier{};
  std::array<bool, 3> installed{};

  void Poll(const std::string& path) {
    if (!polled.insert(path).second) return;
    newlyPolled.push_back(path);
    if (nextPoll == 0) nextPoll = NowMs() + pollingMs;
  }

  // Watches everything that the paths lead through, again: after a name was
  // created, removed or moved, a folder moved, or a file system mounted.
  void Rearm() {
    std::map<int, std::set<std::string>> wanted;
    for (const std::string& path : paths) WatchPath(path, path, wanted, 0);
#ifdef __linux__
    for (const auto& [watch, names] : namesByWatch)
      if (!wanted.count(watch)) ::inotify_rm_watch(notify, watch);
#endif
    namesByWatch = std::move(wanted);
    for (const std::string& path : paths) OpenPipe(path);
  }

  void WatchPath(const std::string& log, const std::string& path,
                 std::map<int, std::set<std::string>>& wanted, int links) {
    const PathParts parts = Split(path);
    if (!WatchName(log, parts.folder, parts.name, wanted)) {
      WatchNearestFolder(log, parts.folder, wanted);
      return;
    }
    WatchAncestors(parts.folder, wanted);
    // A symbolic link: what is written goes to its target.
    struct stat info;
    if (links >= kMostLinks || ::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return;
    char target[PATH_MAX];
    const auto length = ::readlink(path.c_str(), target, sizeof target);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof target) return;
    const std::string next(target, static_cast<std::size_t>(length));
    WatchPath(log, next.front() == '/' ? next : parts.folder + "/" + next, wanted, links + 1);
  }

  // A missing folder: the nearest one that exists is watched for the next
  // name on the way, until the whole way is there again.
  void WatchNearestFolder(const std::string& log, std::string folder,
                          std::map<int, std::set<std::string>>& wanted) {
    for (int depth = 0; depth < PATH_MAX; ++depth) {
      const PathParts parts = Split(folder);
      if (parts.name.empty() || parts.name == "." || parts.name == "/") break;
      if (WatchName(log, parts.folder, parts.name, wanted)) return;
      if (parts.folder == folder) break;
      folder = parts.folder;
    }
    Poll(log);
  }

  // Watches the folders above `folder` for their own renaming or removal
  // only, which moves the log's folder away without a word to its watch.
  void WatchAncestors(std::string folder, std::map<int, std::set<std::string>>& wanted) {
#ifdef __linux__
    for (int depth = 0; notify >= 0 && depth < PATH_MAX; ++depth) {
      const PathParts parts = Split(folder);
      if (parts.folder == folder || parts.name.empty() || parts.name == "." || parts.name == "..")
        return;
      folder = parts.folder;
      if (folder == ".") return;
      // Added to what the folder is watched for already, if anything.
      const int watch = ::inotify_add_watch(
          notify, folder.c_str(), IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_MASK_ADD);
      if (watch >= 0) wanted[watch];
    }
#else
    (void)folder;
    (void)wanted;
#endif
  }

  // Watches `folder` for `name`; false when the folder is missing.
  bool WatchName(const std::string& log, const std::string& folder, const std::string& name,
                 std::map<int, std::set<std::string>>& wanted) {
#ifdef __linux__
    if (notify < 0) {
      Poll(log);
      return true;
    }
    const int watch = ::inotify_add_watch(notify, folder.c_str(), kWatched);
    if (watch < 0) {
      if (errno == ENOENT || errno == ENOTDIR) return false;
      // No watch left (ENOSPC), or none allowed there.
      Poll(log);
      return true;
    }
    wanted[watch].insert(name);
    if (NotifiesPoorly(folder)) Poll(log);
    return true;
#else
    (void)folder;
    (void)name;
    (void)wanted;
    Poll(log);
    return true;
#endif
  }

  void OpenPipe(const std::string& path) {
    struct stat info;
    const bool fifo = ::stat(path.c_str(), &info) == 0 && S_ISFIFO(info.st_mode);
    const auto found = pipes.find(path);
    if (found != pipes.end()) {
      if (fifo && found->second.device == info.st_dev && found->second.file == info.st_ino) return;
      ::close(found->second.fd);
      pipes.erase(found);
    }
    if (!fifo) return;
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) pipes[path] = Pipe{fd, info.st_dev, info.st_ino};
  }

  // What the events waiting on the notification handle ask for.
  struct Changes {
    bool changed = false;
    bool moved = false;
  };
  Changes ReadChanges() {
    Changes changes;
#ifdef __linux__
    alignas(struct inotify_event) char buffer[16 * 1024];
    for (;;) {
      const auto got = ::read(notify, buffer, sizeof buffer);
      if (got <= 0) return changes;
      for (char* at = buffer; at < buffer + got;) {
        const auto* event = reinterpret_cast<const struct inotify_event*>(at);
        at += sizeof(struct inotify_event) + event->len;
        if (event->mask & IN_Q_OVERFLOW) {
          changes.changed = changes.moved = true;
          continue;
        }
        const auto names = namesByWatch.find(event->wd);
        // A watch given up since: its last event.
        if (names == namesByWatch.end()) continue;
        if (event->mask & kFolderMoved) {
          changes.changed = changes.moved = true;
          continue;
        }
        if (event->len == 0 || !names->second.count(event->name)) continue;
        changes.changed = true;
        if (event->mask & kNameMoved) changes.moved = true;
      }
    }
#else
    return changes;
#endif
  }

  // Whether the mount table changed since the last look.
  bool MountsChanged(const pollfd& polled) const {
    return mounts >= 0 && (polled.revents & (POLLPRI | POLLERR)) != 0;
  }
};

FollowEvents::FollowEvents(std::int64_t pollingMs) : state_(std::make_unique<State>()) {
  state_->pollingMs = std::max<std::int64_t>(1, pollingMs);
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
  // Tests set this to stand for a system without a notification left.
  if (::getenv("OSTREVANE_NO_INOTIFY") == nullptr)
    state_->notify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  // Readable as a priority event once the mount table changed.
  state_->mounts = ::open("/proc/self/mounts", O_RDONLY | O_CLOEXEC);
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
  for (const auto& [path, pipe] : state_->pipes) ::close(pipe.fd);
  for (int fd : {state_->wakeRead, state_->wakeWrite, state_->notify, state_->mounts})
    if (fd >= 0) ::close(fd);
}

void FollowEvents::Watch(const std::string& path) {
  state_->paths.push_back(path);
  state_->Rearm();
}

void FollowEvents::InputUntaken() { state_->pipesIdleUntil = NowMs() + state_->pollingMs; }

std::vector<std::string> FollowEvents::TakeNewlyPolled() {
  return std::exchange(state_->newlyPolled, {});
}

FollowEvents::Event FollowEvents::Wait(std::int64_t timeoutMs) {
  State& state = *state_;
  const std::int64_t deadline = timeoutMs < 0 ? -1 : NowMs() + timeoutMs;
  for (;;) {
    if (stopRequested) return Event::StopRequested;
    const std::int64_t now = NowMs();
    std::vector<pollfd> wanted = {
        {state.wakeRead, POLLIN, 0}, {state.notify, POLLIN, 0}, {state.mounts, POLLPRI, 0}};
    const bool pipesPolled = state.pipesIdleUntil <= now;
    if (pipesPolled)
      for (const auto& [path, pipe] : state.pipes) wanted.push_back({pipe.fd, POLLIN, 0});
    std::int64_t until = deadline;
    for (const std::int64_t next : {state.nextPoll, pipesPolled ? 0 : state.pipesIdleUntil})
      if (next > 0 && (until < 0 || next < until)) until = next;
    const std::int64_t left = until < 0 ? -1 : std::max<std::int64_t>(0, until - now);
    const int ready = ::poll(wanted.data(), wanted.size(), static_cast<int>(left));
    if (ready < 0 && errno != EINTR) return Event::TimedOut;
    if (wanted[0].revents & POLLIN) {
      char bytes[64];
      while (::read(state.wakeRead, bytes, sizeof bytes) > 0) {
      }
    }
    if (stopRequested) return Event::StopRequested;
    State::Changes changes;
    if (wanted[1].revents & POLLIN) changes = state.ReadChanges();
    if (state.MountsChanged(wanted[2])) changes.changed = changes.moved = true;
    if (changes.moved) state.Rearm();
    if (changes.changed) return Event::Changed;
    for (std::size_t i = 3; i < wanted.size(); ++i)
      if (wanted[i].revents & POLLIN) return Event::InputWaiting;
    if (state.nextPoll > 0 && NowMs() >= state.nextPoll) {
      state.nextPoll = NowMs() + state.pollingMs;
      return Event::Changed;
    }
    if (deadline >= 0 && NowMs() >= deadline) return Event::TimedOut;
  }
}

}  // namespace ostrevane::os
