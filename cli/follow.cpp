#include "cli/follow.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

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

  FollowedLog(run::Window& window, const std::string& name)
      : window_(window), follower_(std::make_unique<run::LogFollower>(window, name)) {}
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
  Start TryStart(double intervalSeconds) {
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
      follower_->WriteCompanion(intervalSeconds);
      companionWritten_ = true;
    } catch (const io::FileError& error) {
      window_.ReportError(error.what());
      fine_ = false;
    }
    return Start::Started;
  }

  // False when the KML file could not be written: the next interval tries again.
  bool Refresh() { return follower_->Refresh(); }
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
bool RefreshAll(FollowedLogs& logs, double intervalSeconds, bool& allFine) {
  bool allRefreshed = true;
  for (auto log = logs.begin(); log != logs.end();) {
    if ((*log)->TryStart(intervalSeconds) == FollowedLog::Start::Refused) {
      allFine = false;
      log = logs.erase(log);
      continue;
    }
    allRefreshed &= (*log)->Refresh();
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
// named pipe is read as its data comes.
// `failed`: a first refresh failed, to be tried again at the next interval.
void FollowUntilStopped(FollowedLogs& logs, os::FollowEvents& events, std::int64_t intervalMs,
                        double intervalSeconds, run::Window& window, bool failed, bool& allFine) {
  os::Clock& clock = os::SystemClock();
  std::int64_t lastRefresh = clock.MonotonicMs();
  bool changed = failed;
  while (!logs.empty()) {
    SayPolled(events, window);
    const std::int64_t wait =
        changed ? std::max<std::int64_t>(0, lastRefresh + intervalMs - clock.MonotonicMs()) : -1;
    const os::FollowEvents::Event event = events.Wait(wait);
    if (event == os::FollowEvents::Event::StopRequested) return;
    if (event == os::FollowEvents::Event::InputWaiting) ReadPipes(logs, events);
    if (event == os::FollowEvents::Event::Changed || event == os::FollowEvents::Event::InputWaiting)
      changed = true;
    if (!changed || clock.MonotonicMs() - lastRefresh < intervalMs) continue;
    changed = !RefreshAll(logs, intervalSeconds, allFine);
    lastRefresh = clock.MonotonicMs();
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
    auto log = std::make_unique<FollowedLog>(window, name);
    const FollowedLog::Start start = log->TryStart(intervalSeconds);
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
  FollowUntilStopped(logs, events, intervalMs, intervalSeconds, window, !allRefreshed, allFine);
  for (auto& log : logs) allFine &= log->Finish();
  return allFine ? kAllConverted : kSomeFailed;
}

}  // namespace ostrevane::cli
