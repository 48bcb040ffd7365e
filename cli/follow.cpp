#include "cli/follow.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "cli/exit_status.h"
#include "io/file_error.h"
#include "io/output_file.h"
#include "kml/creat_kml.h"
#include "messages/messages.h"
#include "os/clock.h"
#include "os/file_system.h"
#include "os/follow_events.h"
#include "os/system.h"
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

// Whether a lock failed only because the file system keeps none (some FUSE
// and network mounts): following then goes on without one.
bool KeepsNoLocks(int error) {
  return error == ENOLCK || error == ENOSYS || error == EOPNOTSUPP || error == ENOTSUP;
}

// The folder part of `path`, without its last separator; "" for a bare name.
std::string FolderOf(const std::string& path) {
  const auto slash = os::LastSeparator(path);
  if (slash == std::string::npos) return {};
  return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

// One log followed, and the lock that keeps every other follower away from
// its KML file for the whole session. Its start (its follow folder, the
// lock, the companion) waits while the log's folder is missing.
class FollowedLog {
 public:
  enum class Start { Started, Waiting, Refused };

  FollowedLog(run::Window& window, const std::string& name, double intervalSeconds)
      : window_(window),
        follower_(std::make_unique<run::LogFollower>(window, name, Services(intervalSeconds))) {}
  ~FollowedLog() {
    // Released once the last KML file is in place.
    follower_.reset();
    if (lock_ >= 0) files_.Close(lock_);
  }
  FollowedLog(const FollowedLog&) = delete;
  FollowedLog& operator=(const FollowedLog&) = delete;

  const std::string& Name() const { return follower_->NmeaFile(); }
  const std::string& KmlFile() const { return follower_->KmlFile(); }
  bool CompanionWritten() const { return companionWritten_; }

  // Takes the log's lock and writes its companion, once its folder is there;
  // Refused, after saying why, when it can never be followed here.
  Start TryStart() {
    if (started_) return Start::Started;
    const std::string folder = FolderOf(Name());
    const int writable = files_.FolderAcceptsFiles(folder);
    if (writable == ENOENT || writable == ENOTDIR) return Start::Waiting;
    if (writable != 0) return RefuseInFolder(folder, writable);
    const std::string followFolder = kml::CreatKML::FollowFolderOf(Name());
    const int created = files_.CreateFolder(followFolder);
    if (created == ENOENT) return Start::Waiting;
    if (created == EACCES || created == EPERM || created == EROFS)
      return RefuseInFolder(folder, created);
    if (created != 0) return Refuse(FileFailure(FileAction::Create, followFolder, created));
    if (Start locked = Lock(followFolder + "/verrou"); locked != Start::Started) return locked;
    io::RemoveStaleTemporaries(files_, KmlFile());
    started_ = true;
    try {
      follower_->WriteCompanion();
      companionWritten_ = true;
    } catch (const io::FileError& error) {
      window_.ReportError(error.what());
      fine_ = false;
    }
    return Start::Started;
  }

  // False when the KML file could not be written: the next interval tries again.
  bool Refresh() { return follower_->Refresh(); }
  bool CatchUp() { return follower_->CatchUp(); }
  bool WritePending() const { return follower_->WritePending(); }
  bool FoundNews() const { return follower_->FoundNews(); }
  std::int64_t NextSettlingMs() const { return follower_->NextSettlingMs(); }
  bool Settle() { return follower_->Settle(); }
  void RemovePieces() { follower_->RemovePieces(); }
  bool ReadAvailable() { return follower_->ReadAvailable(); }
  // False when the last KML file could not be written, none ever was, or
  // the companion failed.
  bool Finish() {
    if (!follower_->Finish()) return false;
    if (follower_->KmlWrites() == 0) {
      window_.ReportError(messages::FollowNothingWritten(Name()));
      return false;
    }
    return fine_;
  }

 private:
  using FileAction = messages::FileAction;

  static run::LogFollower::Services Services(double intervalSeconds) {
    run::LogFollower::Services services;
    services.intervalSeconds = intervalSeconds;
    return services;
  }

  static std::string FileFailure(FileAction action, const std::string& path, int error) {
    return messages::FileFailure(action, path, messages::Cause(error));
  }

  Start Refuse(const std::string& message) {
    window_.ReportError(message);
    return Start::Refused;
  }

  // No file can be written there: neither the KML file nor its temporary.
  Start RefuseInFolder(const std::string& folder, int error) {
    return Refuse(messages::FileFailure(FileAction::Create, KmlFile(),
                                        messages::FolderRefusesFiles(folder, error)));
  }

  Start Lock(const std::string& lockPath) {
    const int error = files_.OpenLocked(lockPath, lock_);
    if (error == 0 || KeepsNoLocks(error)) return Start::Started;
    if (lock_ >= 0) files_.Close(lock_);
    lock_ = -1;
    if (error == EWOULDBLOCK) return Refuse(messages::FollowAlreadyFollowed(Name(), KmlFile()));
    return Refuse(FileFailure(FileAction::Create, lockPath, error));
  }

  run::Window& window_;
  os::FileSystem& files_ = os::SystemFileSystem();
  std::unique_ptr<run::LogFollower> follower_;
  os::FileSystem::Handle lock_ = -1;
  bool started_ = false;
  bool companionWritten_ = false;
  bool fine_ = true;
};

using FollowedLogs = std::vector<std::unique_ptr<FollowedLog>>;

void PrintPaths(const FollowedLog& log) {
  const std::string companion = kml::CreatKML::FollowLinkPathOf(log.Name());
  PrintLine(log.KmlFile());
  PrintLine(companion);
  PrintLine(messages::FollowOpenInViewer(companion));
}

// Says once of each log that it is looked at once per interval.
void SayPolled(os::FollowEvents& events, run::Window& window) {
  for (const std::string& name : events.TakeNewlyPolled())
    window.ReportNotice(messages::FollowPolling(name));
}

// Starts the logs still waiting for their folder, then refreshes each; a
// log refused is followed no more. False when one failed: it is tried
// again at the next interval, even if nothing changes.
bool RefreshAll(FollowedLogs& logs, bool& allFine, bool& news) {
  bool allRefreshed = true;
  for (auto log = logs.begin(); log != logs.end();) {
    if ((*log)->TryStart() == FollowedLog::Start::Refused) {
      allFine = false;
      log = logs.erase(log);
      continue;
    }
    // A write that failed is done again whole, even with no new line.
    const bool retry = (*log)->WritePending();
    allRefreshed &= (*log)->Refresh() && (!retry || (*log)->CatchUp());
    news |= (*log)->FoundNews();
    ++log;
  }
  return allRefreshed;
}

// Reads what waits in the logs that are named pipes.
void ReadPipes(FollowedLogs& logs, os::FollowEvents& events) {
  bool taken = false;
  for (auto& log : logs) taken |= log->ReadAvailable();
  if (!taken) events.InputUntaken();
}

// Refreshes every log at most once per interval, as soon as one changed; a
// named pipe is read as its data comes. A refresh that failed is tried again
// at the next interval; once the logs have been idle for two intervals
// their KML files catch up, and their pieces settle when they are due to.
// `failed`: a first refresh failed.
void FollowUntilStopped(FollowedLogs& logs, os::FollowEvents& events, std::int64_t intervalMs,
                        run::Window& window, bool failed, bool& allFine) {
  os::Clock& clock = os::SystemClock();
  std::int64_t lastRefresh = clock.MonotonicMs();
  std::int64_t lastChange = lastRefresh;
  bool changed = failed;
  bool caughtUp = true;
  while (!logs.empty()) {
    SayPolled(events, window);
    std::int64_t deadline = -1;
    const auto until = [&](std::int64_t time) {
      if (time >= 0 && (deadline < 0 || time < deadline)) deadline = time;
    };
    const bool writePending =
        std::any_of(logs.begin(), logs.end(), [](const auto& log) { return log->WritePending(); });
    if (changed || writePending) until(lastRefresh + intervalMs);
    if (!caughtUp) until(lastChange + 2 * intervalMs);
    for (const auto& log : logs) until(log->NextSettlingMs());
    const std::int64_t wait =
        deadline < 0 ? -1 : std::max<std::int64_t>(0, deadline - clock.MonotonicMs());
    const os::FollowEvents::Event event = events.Wait(wait);
    if (event == os::FollowEvents::Event::StopRequested) return;
    if (event == os::FollowEvents::Event::InputWaiting) ReadPipes(logs, events);
    if (event == os::FollowEvents::Event::Changed || event == os::FollowEvents::Event::InputWaiting)
      changed = true;
    const std::int64_t now = clock.MonotonicMs();
    if ((changed || writePending) && now - lastRefresh >= intervalMs) {
      bool news = false;
      changed = !RefreshAll(logs, allFine, news);
      lastRefresh = now;
      // Polled logs seem to change at every interval: only news counts.
      if (news) {
        lastChange = now;
        caughtUp = false;
      }
      continue;
    }
    if (!changed && !caughtUp && now - lastChange >= 2 * intervalMs) {
      for (auto& log : logs) log->CatchUp();
      caughtUp = true;
    }
    for (auto& log : logs) {
      const std::int64_t due = log->NextSettlingMs();
      if (due >= 0 && due <= now) log->Settle();
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
  bool allRefreshed = true;
  FollowedLogs logs;
  for (const std::string& name : names) {
    if (!run::ConversionRun::IsAcceptedName(name)) {
      window.ReportError(messages::RefusedName(name));
      allFine = false;
      continue;
    }
    auto log = std::make_unique<FollowedLog>(window, name, intervalSeconds);
    const FollowedLog::Start start = log->TryStart();
    if (start == FollowedLog::Start::Refused) {
      allFine = false;
      continue;
    }
    events.Watch(name);
    // A log that can't be read yet may be later: only the end counts.
    allRefreshed &= log->Refresh();
    if (start == FollowedLog::Start::Waiting || log->CompanionWritten()) PrintPaths(*log);
    logs.push_back(std::move(log));
  }
  std::fflush(stdout);
  if (logs.empty()) return kSomeFailed;
  FollowUntilStopped(logs, events, intervalMs, window, !allRefreshed, allFine);
  for (auto& log : logs) allFine &= log->Finish();
  // A viewer that read a list just before its last version fetches what it
  // named a moment later: the pieces go after that.
  std::this_thread::sleep_for(std::chrono::seconds(1));
  for (auto& log : logs) log->RemovePieces();
  return allFine ? kAllConverted : kSomeFailed;
}

}  // namespace ostrevane::cli
